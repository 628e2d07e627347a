// Certificate contexts, their key-provider property and name rendering.
//
// A certificate context is an immutable parsed certificate shared by
// reference: `CertContextPtr` is a std::shared_ptr, so duplicating a context
// (CertDuplicateCertificateContext) is copying the pointer and freeing it
// (CertFreeCertificateContext) is resetting it. A context stays valid after
// the store it came from is closed. The only mutable part is the key-provider
// property, which is shared by every copy of the pointer and, for a context
// that came from a store, kept in the store's `<THUMB>.keyprov` file.
//
// Field accessors give the certificate as it is encoded: the name blobs are
// the exact DER of the Name, the serial number is every content octet of the
// encoded INTEGER (a leading zero octet included) in least-significant-first
// order, like the platform's integer blobs. Times are UTC.
//
// Failing calls return false / an empty pointer / 0 and set the thread's
// last error (last_error.h).
#ifndef QUILLMARK_PLATFORM_STORE_CERT_CONTEXT_H_
#define QUILLMARK_PLATFORM_STORE_CERT_CONTEXT_H_

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "platform/names/cert_name.h"
#include "platform/names/cert_text.h"

namespace quillmark::platform {

// CertGetNameStringW types and flags.
inline constexpr std::uint32_t kCertNameSimpleDisplayType = 4;
inline constexpr std::uint32_t kCertNameIssuerFlag = 0x1;

// Properties.
inline constexpr std::uint32_t kCertKeyProvInfoPropId = 2;

// Key specifications and the provider type of the key-provider property.
inline constexpr std::uint32_t kAtKeyExchange = 1;
inline constexpr std::uint32_t kAtSignature = 2;
inline constexpr std::uint32_t kProvRsaFull = 1;

// One extension as encoded: its dotted OID, the critical flag and the
// contents of the extnValue OCTET STRING (the extension's own DER).
struct CertExtension {
  std::string oid;
  bool critical = false;
  Bytes value;
};

// CRYPT_KEY_PROV_INFO: where the certificate's private key lives.
struct KeyProvInfo {
  std::u16string container;
  std::u16string provider;
  std::uint32_t provider_type = kProvRsaFull;
  std::uint32_t flags = 0;
  std::uint32_t key_spec = kAtKeyExchange;

  bool operator==(const KeyProvInfo&) const = default;
};

class CertContext;
using CertContextPtr = std::shared_ptr<const CertContext>;

class CertContext {
 public:
  struct Impl;  // defined inside the platform layer
  explicit CertContext(std::unique_ptr<Impl> impl);
  ~CertContext();
  CertContext(const CertContext&) = delete;
  CertContext& operator=(const CertContext&) = delete;

  // The whole certificate, DER.
  ByteSpan der() const;
  // SHA-1 of der(), and its upper-case hex text (the file name in a store).
  const std::array<std::uint8_t, 20>& sha1() const;
  const std::string& thumbprint() const;
  // Name of the store the context was read from or added to, as the store
  // spells it; empty for a context made from bytes.
  const std::string& store_name() const;

  int version() const;  // 1, 2 or 3
  // Serial number content octets, least significant first (see above).
  ByteSpan serial() const;
  // Exact DER of the issuer and subject Name.
  ByteSpan issuer_der() const;
  ByteSpan subject_der() const;
  const CertTime& not_before() const;
  const CertTime& not_after() const;
  // Dotted OID of the certificate's outer signature algorithm.
  const std::string& signature_algorithm_oid() const;
  // SubjectPublicKeyInfo DER and its algorithm's dotted OID.
  ByteSpan public_key_info_der() const;
  const std::string& public_key_algorithm_oid() const;
  // Extensions in encoded order (empty for v1/v2 certificates).
  const std::vector<CertExtension>& extensions() const;

  // The key-provider property, if set.
  std::optional<KeyProvInfo> key_prov_info() const;

  const Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// Parses a DER certificate into a context that belongs to no store. Bytes
// that are not one whole certificate fail with kCryptEOssError.
CertContextPtr CertCreateCertificateContext(std::uint32_t encoding, ByteSpan der);

// Property walk as the platform does it: pass 0 to get the first property id
// the context carries, then the previous id; 0 means no more.
std::uint32_t CertEnumCertificateContextProperties(const CertContext& cert,
                                                   std::uint32_t previous_prop_id);

// Reads the key-provider property. Fails with kCryptENotFound when absent and
// kErrorInvalidParameter for another property id.
bool CertGetCertificateContextProperty(const CertContext& cert, std::uint32_t prop_id,
                                       KeyProvInfo* out);

// Sets the key-provider property (nullptr removes it). For a context from a
// store the property is written to the store atomically; other contexts keep
// it in memory. Fails with kErrorInvalidParameter for another property id,
// kErrorAccessDenied when the store cannot be written.
bool CertSetCertificateContextProperty(const CertContext& cert, std::uint32_t prop_id,
                                       std::uint32_t flags, const KeyProvInfo* info);

// Finds an extension by dotted OID; nullptr when there is none.
const CertExtension* CertFindExtension(std::string_view oid,
                                       std::span<const CertExtension> extensions);

// kCertNameSimpleDisplayType: the first CN, else the first OU, else the first
// O, else the first E (emailAddress) of the subject (of the issuer with
// kCertNameIssuerFlag), unquoted; empty when there is none.
std::u16string CertGetNameStringW(const CertContext& cert, std::uint32_t type, std::uint32_t flags);

// Compares two integer blobs (least significant byte first) by value: leading
// zero bytes of a positive number and leading 0xFF bytes of a negative one do
// not count.
bool CertCompareIntegerBlob(ByteSpan a, ByteSpan b);

// Upper-case hex of bytes, no separators ("0A1B").
std::string HexUpper(ByteSpan bytes);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_STORE_CERT_CONTEXT_H_
