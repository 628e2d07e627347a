// CertGetCertificateChain: path building over the engine's stores, OpenSSL's
// checks of the built path, and the time, nesting, usage and revocation
// checks of each element.
#include "platform/chain/cert_chain.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <new>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "common/no_destructor.h"
#include "platform/chain/cert_revocation.h"
#include "platform/chain/cert_verify.h"
#include "platform/openssl/der_walk.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context_internal.h"

namespace quillmark::platform {

namespace {

constexpr std::size_t kMaxChainLength = 32;
constexpr std::string_view kEkuOid = "2.5.29.37";
constexpr std::string_view kAnyEkuOid = "2.5.29.37.0";

// Everything a chain may be built from.
struct Pool {
  std::vector<CertContextPtr> certs;      // issuer candidates, in store order
  std::unordered_set<std::string> roots;  // thumbprints of the trust anchors
  std::vector<CrlContextPtr> crls;
};

void AddStore(const CertStore& store, bool trusted, Pool* pool) {
  for (CertContextPtr c = CertEnumCertificatesInStore(store, nullptr); c;
       c = CertEnumCertificatesInStore(store, c)) {
    if (trusted) pool->roots.insert(c->thumbprint());
    pool->certs.push_back(c);
  }
  for (CrlContextPtr crl = CertEnumCRLsInStore(store, nullptr); crl;
       crl = CertEnumCRLsInStore(store, crl)) {
    pool->crls.push_back(crl);
  }
}

void AddNamedStore(std::u16string_view name, bool trusted, Pool* pool) {
  CertStore store = CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding,
                                  kCertSystemStoreCurrentUser | kCertStoreOpenExistingFlag, name);
  if (store) AddStore(store, trusted, pool);
}

bool IsSelfIssued(const CertContext& cert) {
  X509* x = CertContextX509(cert);
  return X509_check_issued(x, x) == X509_V_OK;
}

bool KeyIdsMatch(const CertContext& subject, const CertContext& issuer) {
  const ASN1_OCTET_STRING* akid = X509_get0_authority_key_id(CertContextX509(subject));
  const ASN1_OCTET_STRING* skid = X509_get0_subject_key_id(CertContextX509(issuer));
  return akid != nullptr && skid != nullptr && ASN1_OCTET_STRING_cmp(akid, skid) == 0;
}

struct Path {
  std::vector<CertContextPtr> certs;
  std::vector<std::uint32_t> info;
  bool complete = false;  // ends in a self-issued certificate
  bool cyclic = false;
};

// Walks up from |leaf|, picking at each step the best candidate that
// OpenSSL accepts as the issuer.
Path BuildPath(const CertContextPtr& leaf, const Pool& pool, std::int64_t time) {
  Path path;
  std::unordered_set<std::string> used;
  path.certs.push_back(leaf);
  path.info.push_back(0);
  used.insert(leaf->thumbprint());
  while (true) {
    const CertContextPtr cur = path.certs.back();
    if (IsSelfIssued(*cur)) {
      path.info.back() |= kCertTrustIsSelfSigned | kCertTrustHasNameMatchIssuer;
      if (KeyIdsMatch(*cur, *cur)) path.info.back() |= kCertTrustHasKeyMatchIssuer;
      path.complete = true;
      break;
    }
    if (path.certs.size() >= kMaxChainLength) break;
    X509* cur_x = CertContextX509(*cur);
    CertContextPtr best;
    int best_score = -1;
    bool seen_used = false;
    for (const CertContextPtr& cand : pool.certs) {
      X509* cand_x = CertContextX509(*cand);
      if (X509_check_issued(cand_x, cur_x) != X509_V_OK) continue;
      if (used.contains(cand->thumbprint())) {
        seen_used = true;
        continue;
      }
      int score = (CertSignatureVerifies(*cur, *cand) ? 8 : 0) +
                  (X509_check_ca(cand_x) != 0 ? 4 : 0) + (CertTimeValidAt(*cand, time) ? 2 : 0) +
                  (pool.roots.contains(cand->thumbprint()) ? 1 : 0);
      if (score > best_score) {
        best = cand;
        best_score = score;
      }
    }
    if (best == nullptr) {
      path.cyclic = seen_used;
      break;
    }
    path.info.back() |= kCertTrustHasNameMatchIssuer;
    if (KeyIdsMatch(*cur, *best)) path.info.back() |= kCertTrustHasKeyMatchIssuer;
    used.insert(best->thumbprint());
    path.certs.push_back(best);
    path.info.push_back(0);
  }
  ERR_clear_error();
  return path;
}

// What an OpenSSL verification error means for the element it names. The
// shape of the chain, trust, time and revocation are judged here, so those
// errors map to nothing; any fault not named below counts as an invalid
// extension.
std::uint32_t StatusOfOpenSslError(int error) {
  switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_CHAIN_TOO_LONG:
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return 0;
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
      return kCertTrustIsNotSignatureValid;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
    case X509_V_ERR_INVALID_NON_CA:
      return kCertTrustInvalidBasicConstraints;
    case X509_V_ERR_PERMITTED_VIOLATION:
    case X509_V_ERR_EXCLUDED_VIOLATION:
    case X509_V_ERR_SUBTREE_MINMAX:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_SYNTAX:
    case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX:
      return kCertTrustInvalidNameConstraints;
    default:
      return kCertTrustInvalidExtension;
  }
}

struct VerifyErrors {
  std::vector<std::pair<int, int>> list;  // (depth, error)
  bool lost = false;
  const Path* path = nullptr;
  const std::vector<ossl::X509Ptr>* xs = nullptr;  // path.certs as handed to OpenSSL
  X509_STORE_CTX_verify_fn checks = nullptr;       // OpenSSL's own signature pass
};

// OpenSSL's refusal of |issuer| as the signer of |subject| by its key usage.
bool KeyUsageForbidsSigning(X509* issuer, X509* subject) {
  if ((X509_get_extension_flags(issuer) & EXFLAG_KUSAGE) == 0) return false;
  const std::uint32_t needed = (X509_get_extension_flags(subject) & EXFLAG_PROXY) != 0
                                   ? KU_DIGITAL_SIGNATURE
                                   : KU_KEY_CERT_SIGN;
  return (X509_get_key_usage(issuer) & needed) == 0;
}

// True when every signature OpenSSL's signature pass would check over the
// chain it built is already known to verify (through the per-process record
// of checks that passed) and no issuer's key usage forbids it: then that pass
// can find nothing, and running it would only repeat public-key operations.
// The chain must be exactly the path handed to OpenSSL.
bool ChainSignaturesKnownGood(X509_STORE_CTX* ctx, const VerifyErrors& found) {
  STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx);
  const int num = sk_X509_num(chain);
  if (num <= 0 || static_cast<std::size_t>(num) != found.xs->size()) return false;
  for (int i = 0; i < num; ++i) {
    if (sk_X509_value(chain, i) != (*found.xs)[static_cast<std::size_t>(i)].get()) return false;
  }
  const std::vector<CertContextPtr>& certs = found.path->certs;
  for (int i = 0; i + 1 < num; ++i) {
    X509* subject = sk_X509_value(chain, i);
    X509* issuer = sk_X509_value(chain, i + 1);
    if (KeyUsageForbidsSigning(issuer, subject) ||
        !CertSignatureVerifies(*certs[static_cast<std::size_t>(i)],
                               *certs[static_cast<std::size_t>(i) + 1])) {
      return false;
    }
  }
  X509* top = sk_X509_value(chain, num - 1);
  if (X509_check_issued(top, top) != X509_V_OK) return num > 1;  // a lone leaf is an error
  const CertContext& top_cert = *certs.back();
  if ((X509_get_extension_flags(top) & EXFLAG_CA) != 0 && KeyUsageForbidsSigning(top, top)) {
    return false;
  }
  return CertSignatureVerifies(top_cert, top_cert);
}

// OpenSSL's signature pass, skipped when it can find nothing; otherwise run
// in full, with the self-signed top certificate's own signature checked too.
int CheckSignatures(X509_STORE_CTX* ctx) {
  auto* found = static_cast<VerifyErrors*>(X509_STORE_CTX_get_app_data(ctx));
  if (ChainSignaturesKnownGood(ctx, *found)) return 1;
  X509_VERIFY_PARAM_set_flags(X509_STORE_CTX_get0_param(ctx), X509_V_FLAG_CHECK_SS_SIGNATURE);
  return found->checks(ctx);
}

int RecordError(int ok, X509_STORE_CTX* ctx) {
  if (ok == 1) return 1;
  auto* errors = static_cast<VerifyErrors*>(X509_STORE_CTX_get_app_data(ctx));
  try {
    errors->list.emplace_back(X509_STORE_CTX_get_error_depth(ctx), X509_STORE_CTX_get_error(ctx));
  } catch (const std::bad_alloc&) {
    errors->lost = true;
  }
  return 1;  // go on: every fault of the chain is wanted
}

// Runs OpenSSL's checks over exactly |path| and ORs what they find into
// |errors| (one entry per element). False when OpenSSL cannot run them.
bool OpenSslChecks(const Path& path, bool anchored, std::vector<std::uint32_t>* errors) {
  std::vector<ossl::X509Ptr> xs;
  for (const CertContextPtr& c : path.certs) {
    xs.push_back(X509ForVerify(*c));
    if (xs.back() == nullptr) return false;
  }
  ossl::X509StorePtr store(X509_STORE_new());
  ossl::X509RefStackPtr untrusted(sk_X509_new_null());
  ossl::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (store == nullptr || untrusted == nullptr || ctx == nullptr) return false;
  const std::size_t n = xs.size();
  if (anchored && X509_STORE_add_cert(store.get(), xs[n - 1].get()) != 1) return false;
  for (std::size_t i = 1; i < (anchored ? n - 1 : n); ++i) {
    if (sk_X509_push(untrusted.get(), xs[i].get()) <= 0) return false;
  }
  VerifyErrors found;
  if (X509_STORE_CTX_init(ctx.get(), store.get(), xs[0].get(), untrusted.get()) != 1) {
    return false;
  }
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
  X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_NO_CHECK_TIME);
  found.path = &path;
  found.xs = &xs;
  found.checks = X509_STORE_CTX_get_verify(ctx.get());
  if (found.checks != nullptr) {
    X509_STORE_CTX_set_verify(ctx.get(), CheckSignatures);
  } else {
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_CHECK_SS_SIGNATURE);
  }
  // Key sizes and digests are not judged, as the platform does not.
  X509_VERIFY_PARAM_set_auth_level(param, 0);
  X509_STORE_CTX_set_verify_cb(ctx.get(), RecordError);
  X509_STORE_CTX_set_app_data(ctx.get(), &found);
  int rc = X509_verify_cert(ctx.get());
  ERR_clear_error();
  if (found.lost) throw std::bad_alloc();
  if (rc <= 0 && found.list.empty()) return false;
  for (const auto& [depth, error] : found.list) {
    if (depth >= 0 && static_cast<std::size_t>(depth) < n) {
      (*errors)[static_cast<std::size_t>(depth)] |= StatusOfOpenSslError(error);
    }
  }
  return true;
}

// The extended-key-usage OIDs of a certificate; false when it has no such
// extension. A malformed one gives true with |*malformed| set.
bool ExtendedKeyUsages(const CertContext& cert, std::vector<std::string>* oids, bool* malformed) {
  const CertExtension* ext = CertFindExtension(kEkuOid, cert.extensions());
  if (ext == nullptr) return false;
  *malformed = true;
  ByteSpan in = ext->value;
  der::Tlv seq, oid;
  if (!der::Expect(&in, der::kSequence, &seq) || !in.empty()) return true;
  ByteSpan body = seq.content;
  while (!body.empty()) {
    std::string text;
    if (!der::Expect(&body, der::kOid, &oid) || !der::OidToText(oid.content, &text)) return true;
    oids->push_back(std::move(text));
  }
  *malformed = false;
  return true;
}

bool ValidForUsage(const CertContext& cert, const CertUsageMatch& match) {
  std::vector<std::string> oids;
  bool malformed = false;
  if (!ExtendedKeyUsages(cert, &oids, &malformed)) return true;
  if (malformed) return false;
  auto allows = [&](const std::string& usage) {
    for (const std::string& o : oids) {
      if (o == usage || o == kAnyEkuOid) return true;
    }
    return false;
  };
  bool any = false, all = true;
  for (const std::string& usage : match.usages) {
    bool ok = allows(usage);
    any = any || ok;
    all = all && ok;
  }
  return match.type == kUsageMatchTypeOr ? any : all;
}

bool NotNested(const CertContext& child, const CertContext& parent) {
  return child.not_before().unix_seconds < parent.not_before().unix_seconds ||
         child.not_after().unix_seconds > parent.not_after().unix_seconds;
}

// Revocation status bits of element |i|.
std::uint32_t RevocationStatus(const Path& path, std::size_t i, const Pool& pool,
                               std::int64_t time) {
  const std::size_t n = path.certs.size();
  const CertContext* issuer = nullptr;
  if (i + 1 < n) {
    issuer = path.certs[i + 1].get();
  } else if (path.complete) {
    issuer = path.certs[i].get();
  }
  if (issuer == nullptr) return kCertTrustRevocationStatusUnknown;
  RevocationResult r = CheckRevocation(*path.certs[i], *issuer, pool.crls, time);
  if (r.revoked) return kCertTrustIsRevoked;
  if (!r.found_crl) return kCertTrustRevocationStatusUnknown;
  if (!r.current) return kCertTrustRevocationStatusUnknown | kCertTrustIsOfflineRevocation;
  return 0;
}

bool RevocationWanted(std::uint32_t flags, std::size_t i, const Path& path) {
  if (flags & kCertChainRevocationCheckChain) return true;
  if (flags & kCertChainRevocationCheckChainExcludeRoot) {
    return !(path.complete && i + 1 == path.certs.size()) || i == 0;
  }
  return (flags & kCertChainRevocationCheckEndCert) && i == 0;
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
  if (cert == nullptr || chain == nullptr ||
      (additional_store != nullptr && !additional_store->is_open())) {
    SetLastError(kEInvalidArg);
    return false;
  }
  const std::int64_t at = time.has_value() ? *time : UnixNow();
  return RunKeepingLastError([&]() -> std::uint32_t {
    static const NoDestructor<CertChainEngineConfig> kDefaultConfig;
    const CertChainEngineConfig& config = engine != nullptr ? engine->config() : *kDefaultConfig;
    Pool pool;
    if (additional_store != nullptr) AddStore(*additional_store, false, &pool);
    for (const std::u16string& name : config.intermediate_stores) {
      AddNamedStore(name, false, &pool);
    }
    AddNamedStore(config.root_store, true, &pool);

    Path path = BuildPath(cert, pool, at);
    const std::size_t n = path.certs.size();
    const bool anchored = path.complete && pool.roots.contains(path.certs.back()->thumbprint());
    std::vector<std::uint32_t> errors(n, 0);
    if (!OpenSslChecks(path, anchored, &errors)) return kCryptEOssError;
    for (std::size_t i = 0; i < n; ++i) {
      const CertContext& c = *path.certs[i];
      if (!CertTimeValidAt(c, at)) errors[i] |= kCertTrustIsNotTimeValid;
      if (i + 1 < n && NotNested(c, *path.certs[i + 1])) errors[i] |= kCertTrustIsNotTimeNested;
      if (!para.requested_usage.usages.empty() && !ValidForUsage(c, para.requested_usage)) {
        errors[i] |= kCertTrustIsNotValidForUsage;
      }
      if (RevocationWanted(flags, i, path)) errors[i] |= RevocationStatus(path, i, pool, at);
    }
    if (path.complete && !anchored) errors[n - 1] |= kCertTrustIsUntrustedRoot;
    if (path.cyclic) errors[n - 1] |= kCertTrustIsCyclic;

    auto out = std::make_shared<CertChainContext>();
    out->elements.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      out->elements.push_back({path.certs[i], {errors[i], path.info[i]}});
      out->trust_status.error_status |= errors[i];
      out->trust_status.info_status |= path.info[i];
    }
    if (!path.complete) out->trust_status.error_status |= kCertTrustIsPartialChain;
    *chain = std::move(out);
    return kErrorSuccess;
  });
}

}  // namespace quillmark::platform
