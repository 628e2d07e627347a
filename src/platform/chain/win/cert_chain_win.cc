// Windows: CertCreateCertificateChainEngine and CertGetCertificateChain over
// the system's chain engine. The default engine is the current user's
// (HCCE_CURRENT_USER); an engine of our own is made for each call from the
// stores its configuration names: the root store as the exclusive trust
// anchors, the intermediate stores as additional stores. Nothing is fetched
// from the network: URL retrieval uses the cache only, and revocation is
// read from the CRLs of those stores and the caller's.
#include <span>
#include <vector>

#include "common/unicode.h"
#include "platform/chain/cert_chain.h"
#include "platform/chain/cert_verify.h"
#include "platform/chain/win/chain_win.h"
#include "platform/os/last_error.h"
#include "platform/store/win/cert_context_win.h"

namespace quillmark::platform {

namespace {

using chainwin::SystemStore;

constexpr std::uint32_t kRevocationFlags = kCertChainRevocationCheckEndCert |
                                           kCertChainRevocationCheckChain |
                                           kCertChainRevocationCheckChainExcludeRoot;

// Frees a chain the system built.
struct SystemChain {
  SystemChain() = default;
  ~SystemChain() {
    if (chain != nullptr) ::CertFreeCertificateChain(chain);
  }
  SystemChain(const SystemChain&) = delete;
  SystemChain& operator=(const SystemChain&) = delete;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
};

// Frees an engine made for one call.
struct SystemEngine {
  SystemEngine() = default;
  ~SystemEngine() {
    if (engine != nullptr) ::CertFreeCertificateChainEngine(engine);
  }
  SystemEngine(const SystemEngine&) = delete;
  SystemEngine& operator=(const SystemEngine&) = delete;
  HCERTCHAINENGINE engine = nullptr;
};

// The system's finer statuses, folded into the ones the policy reads: an
// unsupported critical extension is an invalid extension, every name
// constraint fault an invalid name constraint, and a certificate the user
// distrusts explicitly counts as revoked (no ignore flag lets it through).
std::uint32_t FoldErrorStatus(DWORD status) {
  std::uint32_t folded = status;
  if (status & CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT) folded |= kCertTrustInvalidExtension;
  if (status &
      (CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT | CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT |
       CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT | CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT)) {
    folded |= kCertTrustInvalidNameConstraints;
  }
  if (status & CERT_TRUST_IS_EXPLICIT_DISTRUST) folded |= kCertTrustIsRevoked;
  return folded;
}

CertTrustStatus TrustStatusOf(const CERT_TRUST_STATUS& status) {
  CertTrustStatus out;
  out.error_status = FoldErrorStatus(status.dwErrorStatus);
  out.info_status = status.dwInfoStatus;
  return out;
}

// The stores one call reads, open for its whole length.
struct CallStores {
  SystemStore root;
  std::vector<SystemStore> intermediates;
  std::vector<HCERTSTORE> intermediate_handles;
  std::string root_name;
  std::vector<std::string> intermediate_names;
};

std::uint32_t OpenCallStores(const CertChainEngineConfig& config, CallStores* stores) {
  stores->root = chainwin::OpenNamedStoreReadOnly(config.root_store);
  if (stores->root.get() == nullptr) return chainwin::SystemFailure();
  stores->root_name = Utf16ToUtf8Lossy(config.root_store);
  for (const std::u16string& name : config.intermediate_stores) {
    SystemStore store = chainwin::OpenNamedStoreReadOnly(name);
    if (store.get() == nullptr) return chainwin::SystemFailure();
    stores->intermediate_handles.push_back(store.get());
    stores->intermediates.push_back(std::move(store));
    stores->intermediate_names.push_back(Utf16ToUtf8Lossy(name));
  }
  return 0;
}

// The store an element was found in, by the order the engine prefers them:
// the root store, the intermediate stores, then the caller's store.
std::string ElementStoreName(const CallStores& stores, const CertStore* additional_store,
                             PCCERT_CONTEXT cert) {
  if (chainwin::StoreHolds(stores.root.get(), cert)) return stores.root_name;
  for (std::size_t i = 0; i < stores.intermediates.size(); ++i) {
    if (chainwin::StoreHolds(stores.intermediates[i].get(), cert)) {
      return stores.intermediate_names[i];
    }
  }
  if (additional_store != nullptr &&
      chainwin::StoreHolds(CertStoreHandle(*additional_store), cert)) {
    return additional_store->name();
  }
  return std::string();
}

std::uint32_t MakeEngine(CallStores* stores, SystemEngine* engine) {
  CERT_CHAIN_ENGINE_CONFIG config = {};
  config.cbSize = sizeof(config);
  config.hExclusiveRoot = stores->root.get();
  config.cAdditionalStore = static_cast<DWORD>(stores->intermediate_handles.size());
  config.rghAdditionalStore =
      stores->intermediate_handles.empty() ? nullptr : stores->intermediate_handles.data();
  if (!::CertCreateCertificateChainEngine(&config, &engine->engine)) {
    return chainwin::SystemFailure();
  }
  return 0;
}

// The revocation status of the elements the flags name, from the CRLs of
// the call's stores (the engine's and the caller's), the way every backend
// reads them: the system's own revocation check would look in its URL cache
// instead and find nothing there.
void ApplyRevocation(const CERT_SIMPLE_CHAIN& simple, std::uint32_t flags,
                     std::span<const HCERTSTORE> crl_stores, const FILETIME& at,
                     CertChainContext* chain) {
  if ((flags & kRevocationFlags) == 0) return;
  const bool whole_chain =
      (flags & (kCertChainRevocationCheckChain | kCertChainRevocationCheckChainExcludeRoot)) != 0;
  const bool exclude_root = (flags & kRevocationFlags) == kCertChainRevocationCheckChainExcludeRoot;
  const DWORD n = simple.cElement;
  for (DWORD i = 0; i < n && i < chain->elements.size(); ++i) {
    if (i > 0 && !whole_chain) break;
    const bool self_signed =
        (chain->elements[i].trust_status.info_status & kCertTrustIsSelfSigned) != 0;
    if (exclude_root && i + 1 == n && self_signed) break;
    PCCERT_CONTEXT subject = simple.rgpElement[i]->pCertContext;
    PCCERT_CONTEXT issuer =
        i + 1 < n ? simple.rgpElement[i + 1]->pCertContext : (self_signed ? subject : nullptr);
    std::uint32_t status = kCertTrustRevocationStatusUnknown;
    if (issuer != nullptr) {
      const chainwin::Revocation revocation =
          chainwin::CheckRevocation(subject, issuer, crl_stores, at);
      if (revocation.revoked) {
        status = kCertTrustIsRevoked;
      } else if (revocation.current) {
        status = 0;
      } else if (revocation.found_crl) {
        status |= kCertTrustIsOfflineRevocation;
      }
    }
    chain->elements[i].trust_status.error_status |= status;
    chain->trust_status.error_status |= status;
  }
}

std::uint32_t ConvertChain(PCCERT_CHAIN_CONTEXT system_chain, const CertContextPtr& cert,
                           const CallStores& stores, const CertStore* additional_store,
                           std::shared_ptr<CertChainContext>* out) {
  auto chain = std::make_shared<CertChainContext>();
  chain->trust_status = TrustStatusOf(system_chain->TrustStatus);
  if (system_chain->cChain == 0) return kCryptEOssError;
  const CERT_SIMPLE_CHAIN* simple = system_chain->rgpChain[0];
  for (DWORD i = 0; i < simple->cElement; ++i) {
    const CERT_CHAIN_ELEMENT* element = simple->rgpElement[i];
    CertChainElement converted;
    converted.trust_status = TrustStatusOf(element->TrustStatus);
    if (i == 0) {
      converted.cert = cert;  // the caller's own context
    } else {
      converted.cert = WrapCertContext(
          element->pCertContext, ElementStoreName(stores, additional_store, element->pCertContext));
      if (converted.cert == nullptr) return GetLastError() != 0 ? GetLastError() : kCryptEOssError;
    }
    chain->elements.push_back(std::move(converted));
  }
  *out = std::move(chain);
  return 0;
}

std::uint32_t BuildChain(const CertChainEngine* engine, const CertContextPtr& cert,
                         std::optional<std::int64_t> time, const CertStore* additional_store,
                         const CertChainPara& para, std::uint32_t flags, CertChainContextPtr* out) {
  PCCERT_CONTEXT subject = CertContextHandle(*cert);
  if (subject == nullptr) return kEInvalidArg;
  const CertChainEngineConfig default_config;
  CallStores stores;
  if (std::uint32_t e =
          OpenCallStores(engine != nullptr ? engine->config() : default_config, &stores)) {
    return e;
  }
  SystemEngine own_engine;
  if (engine != nullptr) {
    if (std::uint32_t e = MakeEngine(&stores, &own_engine)) return e;
  }

  std::vector<LPSTR> usages;
  for (const std::string& oid : para.requested_usage.usages) {
    usages.push_back(const_cast<LPSTR>(oid.c_str()));
  }
  CERT_CHAIN_PARA system_para = {};
  system_para.cbSize = sizeof(system_para);
  system_para.RequestedUsage.dwType = para.requested_usage.type;
  system_para.RequestedUsage.Usage.cUsageIdentifier = static_cast<DWORD>(usages.size());
  system_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages.empty() ? nullptr : usages.data();

  FILETIME at;
  if (time.has_value()) {
    at = chainwin::FileTimeFromUnix(*time);
  } else {
    ::GetSystemTimeAsFileTime(&at);
  }
  // Revocation is checked below, not by the system.
  const DWORD system_flags = CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL;
  SystemChain built;
  if (!::CertGetCertificateChain(
          own_engine.engine, subject, &at,
          additional_store != nullptr ? CertStoreHandle(*additional_store) : nullptr, &system_para,
          system_flags, nullptr, &built.chain)) {
    return chainwin::SystemFailure();
  }
  std::shared_ptr<CertChainContext> converted;
  if (std::uint32_t e = ConvertChain(built.chain, cert, stores, additional_store, &converted)) {
    return e;
  }
  std::vector<HCERTSTORE> crl_stores = {stores.root.get()};
  crl_stores.insert(crl_stores.end(), stores.intermediate_handles.begin(),
                    stores.intermediate_handles.end());
  if (additional_store != nullptr) crl_stores.push_back(CertStoreHandle(*additional_store));
  ApplyRevocation(*built.chain->rgpChain[0], flags, crl_stores, at, converted.get());
  *out = std::move(converted);
  return 0;
}

}  // namespace

std::unique_ptr<CertChainEngine> CertCreateCertificateChainEngine(
    const CertChainEngineConfig& config) {
  if (config.root_store.empty()) {
    SetLastError(kEInvalidArg);
    return nullptr;
  }
  try {
    return std::make_unique<CertChainEngine>(config);
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
}

bool CertGetCertificateChain(const CertChainEngine* engine, const CertContextPtr& cert,
                             std::optional<std::int64_t> time, const CertStore* additional_store,
                             const CertChainPara& para, std::uint32_t flags,
                             CertChainContextPtr* chain) {
  if (chain != nullptr) chain->reset();
  if (cert == nullptr || chain == nullptr ||
      (additional_store != nullptr && CertStoreHandle(*additional_store) == nullptr)) {
    SetLastError(kEInvalidArg);
    return false;
  }
  return RunKeepingLastError([&]() -> std::uint32_t {
    CertChainContextPtr built;
    if (std::uint32_t e = BuildChain(engine, cert, time, additional_store, para, flags, &built)) {
      return e;
    }
    *chain = std::move(built);
    return 0;
  });
}

}  // namespace quillmark::platform
