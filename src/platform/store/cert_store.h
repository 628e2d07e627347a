// Certificate stores of the current user, kept as folders under the home
// folder: stores/<NAME>/<THUMB>.cer (DER), <THUMB>.keyprov (key-provider
// property, key=value lines) and <THUMB>.crl (DER CRL).
//
// Store names compare case-insensitively (ASCII letters); opening a store
// that does not exist creates it empty. A name that cannot be a folder name
// (empty, ".", "..", holding '/' or NUL, or not valid UTF-16) fails.
// Enumeration is in ascending thumbprint order and takes the previous
// context. Files that are not a certificate or CRL are skipped. Writes go to
// a temporary file in the store folder that is renamed into place.
//
// Parsed certificates are cached per process, and every store folder has an
// index (store_index.h) from which a fresh process takes the files that have
// not changed since it was written, so opening a large store parses only the
// certificates that are used. A read never shows a certificate removed (or
// misses one added) by a write that finished before the read began, in this
// process or another one.
#ifndef QUILLMARK_PLATFORM_STORE_CERT_STORE_H_
#define QUILLMARK_PLATFORM_STORE_CERT_STORE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "platform/store/cert_context.h"

namespace quillmark::platform {

// CertOpenStore provider and flags.
inline constexpr std::uint32_t kCertStoreProvSystemW = 10;
inline constexpr std::uint32_t kCertSystemStoreCurrentUser = 0x00010000;
inline constexpr std::uint32_t kCertStoreOpenExistingFlag = 0x00004000;
inline constexpr std::uint32_t kCertStoreReadOnlyFlag = 0x00008000;

// CertCloseStore flags.
inline constexpr std::uint32_t kCertCloseStoreForceFlag = 1;
inline constexpr std::uint32_t kCertCloseStoreCheckFlag = 2;

// CertFindCertificateInStore find types.
inline constexpr std::uint32_t kCertFindAny = 0;
inline constexpr std::uint32_t kCertFindSha1Hash = 0x00010000;     // para: 20 bytes
inline constexpr std::uint32_t kCertFindIssuerName = 0x00020004;   // para: Name DER
inline constexpr std::uint32_t kCertFindSubjectName = 0x00020007;  // para: Name DER
inline constexpr std::uint32_t kCertFindIssuerStrW = 0x00080004;   // para: text
inline constexpr std::uint32_t kCertFindSubjectStrW = 0x00080007;  // para: text

// Add dispositions.
inline constexpr std::uint32_t kCertStoreAddNew = 1;
inline constexpr std::uint32_t kCertStoreAddUseExisting = 2;
inline constexpr std::uint32_t kCertStoreAddReplaceExisting = 3;
inline constexpr std::uint32_t kCertStoreAddAlways = 4;
inline constexpr std::uint32_t kCertStoreAddReplaceExistingInheritProperties = 5;

inline constexpr std::uint32_t kCryptEExists = 0x80092005;  // CRYPT_E_EXISTS

// A CRL kept in a store.
class CrlContext;
using CrlContextPtr = std::shared_ptr<const CrlContext>;

class CrlContext {
 public:
  struct Impl;
  explicit CrlContext(std::unique_ptr<Impl> impl);
  ~CrlContext();
  CrlContext(const CrlContext&) = delete;
  CrlContext& operator=(const CrlContext&) = delete;

  ByteSpan der() const;
  const std::string& thumbprint() const;  // upper-case hex SHA-1 of der()
  const std::string& store_name() const;
  ByteSpan issuer_der() const;  // exact DER of the issuer Name
  const CertTime& this_update() const;
  // nextUpdate, when the CRL has one.
  const std::optional<CertTime>& next_update() const;

  const Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// Parses a DER CRL that belongs to no store; kCryptEOssError when it is not one.
CrlContextPtr CertCreateCRLContext(std::uint32_t encoding, ByteSpan der);

// An open store. Movable; closes when it goes. Contexts taken from it stay
// valid after it is closed.
class CertStore {
 public:
  struct State;
  CertStore();
  explicit CertStore(std::shared_ptr<State> state);
  ~CertStore();
  CertStore(CertStore&&) noexcept;
  CertStore& operator=(CertStore&&) noexcept;
  CertStore(const CertStore&) = delete;
  CertStore& operator=(const CertStore&) = delete;

  bool is_open() const { return state_ != nullptr; }
  explicit operator bool() const { return is_open(); }
  // The store's name as its folder spells it ("MY", "AddressBook", ...).
  const std::string& name() const;
  // The store's folder.
  const std::string& path() const;

  State* state() const { return state_.get(); }

 private:
  std::shared_ptr<State> state_;
};

// Opens a system store of the current user by name. |provider| must be
// kCertStoreProvSystemW and |flags| must hold kCertSystemStoreCurrentUser
// (kErrorInvalidParameter otherwise); with kCertStoreOpenExistingFlag a store
// that does not exist fails with kErrorFileNotFound instead of being created.
// A bad name fails with kErrorInvalidParameter; a home folder that cannot be
// made fails with kErrorAccessDenied.
CertStore CertOpenStore(std::uint32_t provider, std::uint32_t encoding, std::uint32_t flags,
                        std::u16string_view name);

// Closes the handle (contexts stay valid). Always succeeds on an open store.
bool CertCloseStore(CertStore& store, std::uint32_t flags);

// The next certificate after |previous| (the first for nullptr), or nullptr at
// the end (last error kCryptENotFound).
CertContextPtr CertEnumCertificatesInStore(const CertStore& store, const CertContextPtr& previous);

// Byte-parameter find types: kCertFindAny (para ignored), kCertFindSha1Hash,
// kCertFindIssuerName and kCertFindSubjectName (exact DER compare). Starts
// after |previous|; nullptr when nothing more matches (kCryptENotFound).
CertContextPtr CertFindCertificateInStore(const CertStore& store, std::uint32_t encoding,
                                          std::uint32_t find_flags, std::uint32_t find_type,
                                          ByteSpan para, const CertContextPtr& previous);

// Text find types kCertFindSubjectStrW and kCertFindIssuerStrW: the name is
// rendered with kCertSimpleNameStr (values only, ", " between them) and
// |text| must occur in it as a case-insensitive substring.
CertContextPtr CertFindCertificateInStore(const CertStore& store, std::uint32_t encoding,
                                          std::uint32_t find_flags, std::uint32_t find_type,
                                          std::u16string_view text, const CertContextPtr& previous);

// Adds a DER certificate. With |added| the store's context is returned.
// kCertStoreAddNew fails with kCryptEExists when the certificate is there;
// kCertStoreAddUseExisting keeps the one there; kCertStoreAddReplaceExisting
// and kCertStoreAddAlways rewrite it and drop its properties;
// kCertStoreAddReplaceExistingInheritProperties rewrites it and keeps them.
bool CertAddEncodedCertificateToStore(const CertStore& store, std::uint32_t encoding, ByteSpan der,
                                      std::uint32_t disposition, CertContextPtr* added);

// Adds a context's certificate together with its key-provider property.
bool CertAddCertificateContextToStore(const CertStore& store, const CertContextPtr& cert,
                                      std::uint32_t disposition, CertContextPtr* added);

// Adds a certificate with its key-provider property so that no reader, in
// this process or another, sees it without one: the property file is
// replaced first (by rename, never removed), then the certificate is written
// unless the store holds these bytes already. A process killed in between
// leaves either no certificate or a certificate with the old or the new
// property. With |added| the store's context is returned.
bool CertAddEncodedCertificateWithKeyToStore(const CertStore& store, ByteSpan der,
                                             const KeyProvInfo& info, CertContextPtr* added);

// Re-reads the key-provider property of a context that came from a store
// from the store's file now, for a caller whose key was moved by a writer
// that finished after the context was read. True when the slot was read.
bool CertReloadKeyProvInfo(const CertContext& cert);

// Removes the certificate (and its property) from the store it came from.
// A context that belongs to no store fails with kErrorInvalidParameter. The
// context itself stays usable by whoever still holds it.
bool CertDeleteCertificateFromStore(const CertContextPtr& cert);

// CRLs: add (same dispositions), walk in thumbprint order, remove.
bool CertAddEncodedCRLToStore(const CertStore& store, std::uint32_t encoding, ByteSpan der,
                              std::uint32_t disposition, CrlContextPtr* added);
CrlContextPtr CertEnumCRLsInStore(const CertStore& store, const CrlContextPtr& previous);
bool CertDeleteCRLFromStore(const CrlContextPtr& crl);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_STORE_CERT_STORE_H_
