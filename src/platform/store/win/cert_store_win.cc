// Windows certificate stores: the system stores of the current user
// (CertOpenStore(CERT_STORE_PROV_SYSTEM_W, ...)), kept by the system in the
// registry under HKEY_CURRENT_USER\Software\Microsoft\SystemCertificates,
// one key per store holding each certificate, CRL and its properties.
// There are no folders, files or index: the system writes each entry as one
// registry value, so a certificate added with its key-provider property is
// never seen without it. A search from the beginning reads the store afresh
// (CertStore::State). Enumeration is in the system's order, not sorted by
// thumbprint; store names compare case-insensitively, as registry keys do.
#include <new>
#include <string>
#include <utility>

#include "common/unicode.h"
#include "platform/os/last_error.h"
#include "platform/store/win/cert_context_impl_win.h"

namespace quillmark::platform {

CertStore::CertStore() = default;
CertStore::CertStore(std::shared_ptr<State> state) : state_(std::move(state)) {}
CertStore::~CertStore() = default;
CertStore::CertStore(CertStore&&) noexcept = default;
CertStore& CertStore::operator=(CertStore&&) noexcept = default;

const std::string& CertStore::name() const {
  static const std::string empty;
  return state_ ? state_->name : empty;
}

const std::string& CertStore::path() const {
  static const std::string empty;
  return state_ ? state_->path : empty;
}

HCERTSTORE CertStoreHandle(const CertStore& store) {
  return store.is_open() ? store.state()->Current().get() : nullptr;
}

namespace {

constexpr std::uint32_t kKnownOpenFlags =
    kCertSystemStoreCurrentUser | kCertStoreOpenExistingFlag | kCertStoreReadOnlyFlag;

// A registry key name: not empty, no '\\' or NUL, valid UTF-16.
bool ValidStoreName(std::u16string_view name, std::string* utf8) {
  if (name.empty() || name.find(u'\\') != std::u16string_view::npos ||
      name.find(u'\0') != std::u16string_view::npos) {
    return false;
  }
  return Utf16ToUtf8(name, utf8) && *utf8 != "." && *utf8 != "..";
}

bool CheckDisposition(std::uint32_t d) {
  return d >= kCertStoreAddNew && d <= kCertStoreAddReplaceExistingInheritProperties;
}

// The system's disposition for ours. A system store keeps one entry per
// certificate, so "always" replaces the one there, as it does on every
// backend.
DWORD SystemDisposition(std::uint32_t d) {
  return d == kCertStoreAddAlways ? CERT_STORE_ADD_REPLACE_EXISTING : d;
}

// Fails with the last error set unless |store| is open and writable.
bool Writable(const CertStore& store) {
  if (!store.is_open()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (store.state()->read_only) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  return true;
}

// The system context after which a walk of |store| resumes, as the system
// wants it (its own reference, freed by the next call): |previous| itself
// when it came from this handle, else the same certificate in this store.
// False with kCryptENotFound when the store does not hold it.
bool ResumePoint(HCERTSTORE store, const CertContextPtr& previous, PCCERT_CONTEXT* out) {
  *out = nullptr;
  if (!previous) return true;
  PCCERT_CONTEXT own = CertContextHandle(*previous);
  if (own->hCertStore == store) {
    *out = ::CertDuplicateCertificateContext(own);
    return true;
  }
  *out =
      ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, own, nullptr);
  if (*out == nullptr) SetLastError(kCryptENotFound);
  return *out != nullptr;
}

// Runs one system find from |previous| and wraps what it returns.
CertContextPtr FindFrom(const CertStore& store, DWORD find_type, const void* para,
                        const CertContextPtr& previous) {
  if (!store.is_open()) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  StoreHandlePtr held = previous ? store.state()->Current() : store.state()->Reopen();
  HCERTSTORE handle = held.get();
  PCCERT_CONTEXT start;
  if (!ResumePoint(handle, previous, &start)) return nullptr;
  PCCERT_CONTEXT found =
      ::CertFindCertificateInStore(handle, X509_ASN_ENCODING, 0, find_type, para, start);
  if (found == nullptr) {
    SetLastError(kCryptENotFound);
    return nullptr;
  }
  CertContextPtr wrapped = WrapCertContext(found, store.name());
  ::CertFreeCertificateContext(found);
  return wrapped;
}

}  // namespace

CertStore CertOpenStore(std::uint32_t provider, std::uint32_t /*encoding*/, std::uint32_t flags,
                        std::u16string_view name) {
  std::string utf8;
  if (provider != kCertStoreProvSystemW || (flags & kCertSystemStoreCurrentUser) == 0 ||
      (flags & ~kKnownOpenFlags) != 0 || !ValidStoreName(name, &utf8)) {
    SetLastError(kErrorInvalidParameter);
    return CertStore();
  }
  try {
    auto state = std::make_shared<CertStore::State>();
    state->wide_name.assign(name.begin(), name.end());
    state->open_flags = flags;
    state->handle = CertStore::State::Open(flags, state->wide_name);
    if (state->handle == nullptr) {
      TakeSystemLastError();
      return CertStore();
    }
    state->name = std::move(utf8);
    state->path = "HKEY_CURRENT_USER\\Software\\Microsoft\\SystemCertificates\\" + state->name;
    state->read_only = (flags & kCertStoreReadOnlyFlag) != 0;
    return CertStore(std::move(state));
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return CertStore();
  }
}

bool CertCloseStore(CertStore& store, std::uint32_t /*flags*/) {
  // The system keeps the store alive while contexts from it remain.
  store = CertStore();
  return true;
}

CertContextPtr CertEnumCertificatesInStore(const CertStore& store, const CertContextPtr& previous) {
  return FindFrom(store, CERT_FIND_ANY, nullptr, previous);
}

CertContextPtr CertFindCertificateInStore(const CertStore& store, std::uint32_t /*encoding*/,
                                          std::uint32_t /*find_flags*/, std::uint32_t find_type,
                                          ByteSpan para, const CertContextPtr& previous) {
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(para.size()), const_cast<BYTE*>(para.data())};
  switch (find_type) {
    case kCertFindAny:
      return FindFrom(store, CERT_FIND_ANY, nullptr, previous);
    case kCertFindSha1Hash:
      return FindFrom(store, CERT_FIND_SHA1_HASH, &blob, previous);
    case kCertFindIssuerName:
      return FindFrom(store, CERT_FIND_ISSUER_NAME, &blob, previous);
    case kCertFindSubjectName:
      return FindFrom(store, CERT_FIND_SUBJECT_NAME, &blob, previous);
    default:
      SetLastError(kErrorInvalidParameter);
      return nullptr;
  }
}

CertContextPtr CertFindCertificateInStore(const CertStore& store, std::uint32_t /*encoding*/,
                                          std::uint32_t /*find_flags*/, std::uint32_t find_type,
                                          std::u16string_view text,
                                          const CertContextPtr& previous) {
  if (find_type != kCertFindSubjectStrW && find_type != kCertFindIssuerStrW) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  try {
    std::wstring wide(text.begin(), text.end());
    return FindFrom(
        store, find_type == kCertFindSubjectStrW ? CERT_FIND_SUBJECT_STR_W : CERT_FIND_ISSUER_STR_W,
        wide.c_str(), previous);
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
}

namespace {

// Adds a system context per our disposition and wraps the store's copy.
bool AddContext(const CertStore& store, PCCERT_CONTEXT context, std::uint32_t disposition,
                CertContextPtr* added) {
  PCCERT_CONTEXT in_store = nullptr;
  StoreHandlePtr held = store.state()->Current();
  if (!::CertAddCertificateContextToStore(held.get(), context, SystemDisposition(disposition),
                                          &in_store)) {
    TakeSystemLastError();
    return false;
  }
  CommitStore(held.get());
  CertContextPtr wrapped = WrapCertContext(in_store, store.name());
  ::CertFreeCertificateContext(in_store);
  if (!wrapped) return false;
  if (added != nullptr) *added = std::move(wrapped);
  return true;
}

}  // namespace

bool CertAddEncodedCertificateToStore(const CertStore& store, std::uint32_t encoding, ByteSpan der,
                                      std::uint32_t disposition, CertContextPtr* added) {
  if (!Writable(store)) return false;
  if (!CheckDisposition(disposition)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  CertContextPtr cert = CertCreateCertificateContext(encoding, der);
  if (!cert) return false;
  return AddContext(store, CertContextHandle(*cert), disposition, added);
}

bool CertAddCertificateContextToStore(const CertStore& store, const CertContextPtr& cert,
                                      std::uint32_t disposition, CertContextPtr* added) {
  if (!Writable(store)) return false;
  if (!cert || !CheckDisposition(disposition)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  return AddContext(store, CertContextHandle(*cert), disposition, added);
}

bool CertAddEncodedCertificateWithKeyToStore(const CertStore& store, ByteSpan der,
                                             const KeyProvInfo& info, CertContextPtr* added) {
  if (!Writable(store)) return false;
  CertContextPtr cert = CertCreateCertificateContext(kX509AsnEncoding, der);
  if (!cert) return false;
  // The one the store holds takes the new property in place; a new one goes
  // in with it in a single write.
  CRYPT_DATA_BLOB hash{20, const_cast<BYTE*>(cert->sha1().data())};
  PCCERT_CONTEXT existing = ::CertFindCertificateInStore(
      store.state()->Current().get(), X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &hash, nullptr);
  if (existing != nullptr) {
    CertContextPtr in_store = WrapCertContext(existing, store.name());
    ::CertFreeCertificateContext(existing);
    if (!in_store ||
        !CertSetCertificateContextProperty(*in_store, kCertKeyProvInfoPropId, 0, &info)) {
      return false;
    }
    if (added != nullptr) *added = std::move(in_store);
    return true;
  }
  if (!CertSetCertificateContextProperty(*cert, kCertKeyProvInfoPropId, 0, &info)) return false;
  return AddContext(store, CertContextHandle(*cert), kCertStoreAddReplaceExistingInheritProperties,
                    added);
}

bool CertReloadKeyProvInfo(const CertContext& cert) {
  // Every read of the property asks the system, so there is nothing cached
  // to refresh; a context of no store has nothing to reload from.
  if (cert.store_name().empty()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  return true;
}

namespace {

// Deleting goes to the current user's registry store of the same name, the
// one the system store keeps what it adds in, and not through the system
// store's collection: there the system would delete the collection's entry
// behind our context (wine releases it once too often and corrupts its
// heap). The context deleted is found afresh in that store, since the call
// frees the context it is given. False with the last error set.
template <typename Find, typename Delete>
bool DeleteFromRegistryStore(const std::string& store_name, Find find, Delete remove) {
  std::u16string name;
  if (!Utf8ToUtf16(store_name, &name)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  std::wstring wide(name.begin(), name.end());
  HCERTSTORE store =
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG, wide.c_str());
  if (store == nullptr) {
    TakeSystemLastError();
    return false;
  }
  const void* victim = find(store);
  bool ok = victim != nullptr && remove(victim);
  if (victim == nullptr) {
    SetLastError(kCryptENotFound);
  } else if (!ok) {
    TakeSystemLastError();
  } else {
    CommitStore(store);
  }
  ::CertCloseStore(store, 0);
  return ok;
}

}  // namespace

bool CertDeleteCertificateFromStore(const CertContextPtr& cert) {
  if (!cert || cert->store_name().empty()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  PCCERT_CONTEXT own = CertContextHandle(*cert);
  return DeleteFromRegistryStore(
      cert->store_name(),
      [&](HCERTSTORE store) -> const void* {
        return ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, own,
                                            nullptr);
      },
      [](const void* victim) {
        return ::CertDeleteCertificateFromStore(static_cast<PCCERT_CONTEXT>(victim)) != FALSE;
      });
}

bool CertAddEncodedCRLToStore(const CertStore& store, std::uint32_t encoding, ByteSpan der,
                              std::uint32_t disposition, CrlContextPtr* added) {
  if (!Writable(store)) return false;
  if (!CheckDisposition(disposition)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  CrlContextPtr crl = CertCreateCRLContext(encoding, der);
  if (!crl) return false;
  PCCRL_CONTEXT in_store = nullptr;
  StoreHandlePtr held = store.state()->Current();
  if (!::CertAddCRLContextToStore(held.get(), CrlContextHandle(*crl),
                                  SystemDisposition(disposition), &in_store)) {
    TakeSystemLastError();
    return false;
  }
  CommitStore(held.get());
  CrlContextPtr wrapped = WrapCrlContext(in_store, store.name());
  ::CertFreeCRLContext(in_store);
  if (!wrapped) return false;
  if (added != nullptr) *added = std::move(wrapped);
  return true;
}

CrlContextPtr CertEnumCRLsInStore(const CertStore& store, const CrlContextPtr& previous) {
  if (!store.is_open()) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  StoreHandlePtr held = previous ? store.state()->Current() : store.state()->Reopen();
  HCERTSTORE handle = held.get();
  PCCRL_CONTEXT start = nullptr;
  if (previous) {
    PCCRL_CONTEXT own = CrlContextHandle(*previous);
    start = own->hCertStore == handle ? ::CertDuplicateCRLContext(own)
                                      : ::CertFindCRLInStore(handle, X509_ASN_ENCODING, 0,
                                                             CRL_FIND_EXISTING, own, nullptr);
    if (start == nullptr) {
      SetLastError(kCryptENotFound);
      return nullptr;
    }
  }
  PCCRL_CONTEXT next = ::CertEnumCRLsInStore(handle, start);
  if (next == nullptr) {
    SetLastError(kCryptENotFound);
    return nullptr;
  }
  CrlContextPtr wrapped = WrapCrlContext(next, store.name());
  ::CertFreeCRLContext(next);
  return wrapped;
}

bool CertDeleteCRLFromStore(const CrlContextPtr& crl) {
  if (!crl || crl->store_name().empty()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  PCCRL_CONTEXT own = CrlContextHandle(*crl);
  return DeleteFromRegistryStore(
      crl->store_name(),
      [&](HCERTSTORE store) -> const void* {
        return ::CertFindCRLInStore(store, X509_ASN_ENCODING, 0, CRL_FIND_EXISTING, own, nullptr);
      },
      [](const void* victim) {
        return ::CertDeleteCRLFromStore(static_cast<PCCRL_CONTEXT>(victim)) != FALSE;
      });
}

}  // namespace quillmark::platform
