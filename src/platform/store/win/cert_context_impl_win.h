// Windows: the insides of certificate and CRL contexts and of open stores.
// Each holds its own reference to the system object (a duplicated
// PCCERT_CONTEXT / PCCRL_CONTEXT, an HCERTSTORE) and releases it when it
// goes; the fields the accessors return are read from the DER once, with the
// walk every backend shares. Only the files of store/win include this.
#ifndef QUILLMARK_PLATFORM_STORE_WIN_CERT_CONTEXT_IMPL_WIN_H_
#define QUILLMARK_PLATFORM_STORE_WIN_CERT_CONTEXT_IMPL_WIN_H_

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/store/cert_fields.h"
#include "platform/store/win/cert_context_win.h"

namespace quillmark::platform {

struct CertContext::Impl : CertFields {
  Impl() = default;
  ~Impl() {
    if (context != nullptr) ::CertFreeCertificateContext(context);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  ByteSpan der() const { return ByteSpan(context->pbCertEncoded, context->cbCertEncoded); }
  ByteSpan Span(DerRange r) const { return SpanOf(der(), r); }

  PCCERT_CONTEXT context = nullptr;  // our own reference
  std::array<std::uint8_t, 20> sha1{};
  std::string thumbprint;
  std::string store_name;  // empty for a context of no store
  std::string sig_oid, spki_oid;
  std::vector<CertExtension> exts;
};

struct CrlContext::Impl : CrlFields {
  Impl() = default;
  ~Impl() {
    if (context != nullptr) ::CertFreeCRLContext(context);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  ByteSpan der() const { return ByteSpan(context->pbCrlEncoded, context->cbCrlEncoded); }

  PCCRL_CONTEXT context = nullptr;
  std::string thumbprint;
  std::string store_name;
};

// An open system store handle, closed when the last holder lets it go.
using StoreHandlePtr = std::shared_ptr<void>;

struct CertStore::State {
  // A system handle holds what the store held when it was opened. A search
  // from the beginning takes a fresh one, so it sees every write that
  // finished before it began, in this process or another; calls under way
  // on other threads keep the one they hold, and contexts keep their store.
  StoreHandlePtr Current() const {
    std::lock_guard<std::mutex> lock(mu);
    return handle;
  }
  StoreHandlePtr Reopen() {
    StoreHandlePtr fresh = Open(open_flags, wide_name);
    std::lock_guard<std::mutex> lock(mu);
    if (fresh) handle = std::move(fresh);
    return handle;
  }
  static StoreHandlePtr Open(DWORD flags, const std::wstring& name) {
    HCERTSTORE h = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, flags, name.c_str());
    if (h == nullptr) return nullptr;
    return StoreHandlePtr(h, [](void* p) { ::CertCloseStore(p, 0); });
  }

  mutable std::mutex mu;
  StoreHandlePtr handle;  // guarded by mu
  std::wstring wide_name;
  DWORD open_flags = 0;
  std::string name;  // as the caller spelled it
  std::string path;  // the registry key that holds it
  bool read_only = false;
};

// Writes what the system store behind |store| holds in memory through to
// where it keeps it. Windows writes each change at once and takes this as a
// no-op; wine defers the registry writes until the store is closed, which
// would hide a change from a handle opened meanwhile.
void CommitStore(HCERTSTORE store);

// Wraps a system CRL context (the wrapper takes its own duplicate).
CrlContextPtr WrapCrlContext(PCCRL_CONTEXT context, const std::string& store_name);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_STORE_WIN_CERT_CONTEXT_IMPL_WIN_H_
