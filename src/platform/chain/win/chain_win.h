// Windows: the system handles the chain calls share. Not for use outside
// the chain family.
#ifndef QUILLMARK_PLATFORM_CHAIN_WIN_CHAIN_WIN_H_
#define QUILLMARK_PLATFORM_CHAIN_WIN_CHAIN_WIN_H_

// windows.h first: wincrypt.h needs its types.
#include <windows.h>

#include <wincrypt.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace quillmark::platform::chainwin {

// An open HCERTSTORE, closed when it goes.
class SystemStore {
 public:
  SystemStore() = default;
  explicit SystemStore(HCERTSTORE store) : store_(store) {}
  ~SystemStore() {
    if (store_ != nullptr) ::CertCloseStore(store_, 0);
  }
  SystemStore(SystemStore&& other) noexcept : store_(other.store_) { other.store_ = nullptr; }
  SystemStore& operator=(SystemStore&& other) noexcept {
    std::swap(store_, other.store_);
    return *this;
  }
  SystemStore(const SystemStore&) = delete;
  SystemStore& operator=(const SystemStore&) = delete;

  HCERTSTORE get() const { return store_; }

 private:
  HCERTSTORE store_ = nullptr;
};

// The current user's system store |name|, read only; a store that does not
// exist is an empty memory store (nothing is created). Null only when the
// system cannot open even that.
SystemStore OpenNamedStoreReadOnly(std::u16string_view name);

// The system's error after a failed call, never 0 (NTE_FAIL stands in);
// E_OUTOFMEMORY becomes ERROR_NOT_ENOUGH_MEMORY.
std::uint32_t SystemFailure();

// Seconds since 1970-01-01T00:00:00Z as a FILETIME.
FILETIME FileTimeFromUnix(std::int64_t time);

// What the CRLs of |stores| say about |subject|. Only CRLs whose issuer
// name is |issuer|'s subject and whose signature |issuer|'s key verifies
// count; one that lists the subject's serial number revokes it, whatever its
// dates. |current|: one of the CRLs that count was current at |at|
// (thisUpdate <= at, and at <= nextUpdate when it has one).
struct Revocation {
  bool found_crl = false;
  bool revoked = false;
  bool current = false;
};
Revocation CheckRevocation(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer,
                           std::span<const HCERTSTORE> stores, const FILETIME& at);

// Whether |store| holds the certificate of |cert|.
bool StoreHolds(HCERTSTORE store, PCCERT_CONTEXT cert);

}  // namespace quillmark::platform::chainwin

#endif  // QUILLMARK_PLATFORM_CHAIN_WIN_CHAIN_WIN_H_
