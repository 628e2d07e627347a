// Test certificates, keys and CRLs made with OpenSSL, with full control over
// the encoded names (multi-valued RDNs, any string type, raw values, unknown
// attribute types) so tests can exercise name rendering and store code on
// certificates no ordinary tool would make.
#ifndef QUILLMARK_TESTS_SUPPORT_CERT_FACTORY_H_
#define QUILLMARK_TESTS_SUPPORT_CERT_FACTORY_H_

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/bytes.h"

namespace quillmark::testing {

struct EvpPkeyDeleter {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyDeleter>;

// ASN.1 tags for name values.
inline constexpr int kUtf8String = 0x0C;
inline constexpr int kPrintableString = 0x13;
inline constexpr int kT61String = 0x14;
inline constexpr int kIa5String = 0x16;
inline constexpr int kUniversalString = 0x1C;
inline constexpr int kBmpString = 0x1E;
inline constexpr int kOctetString = 0x04;

// Builds the DER of an X.501 Name attribute by attribute, in order.
// Attribute types are short names OpenSSL knows ("CN", "emailAddress") or
// dotted OIDs ("1.2.3.4"). Values are the raw content octets of the given
// tag (for BMPString: UCS-2 big-endian bytes, and so on).
class NameBuilder {
 public:
  // Starts a new RDN with one attribute.
  NameBuilder& Add(std::string_view type, std::string_view value, int tag = kUtf8String);
  // Adds an attribute to the last RDN (a multi-valued RDN).
  NameBuilder& Also(std::string_view type, std::string_view value, int tag = kUtf8String);
  // Starts a new RDN whose value is the given complete TLV.
  NameBuilder& AddRaw(std::string_view type, const Bytes& value_tlv);
  Bytes Der() const;

 private:
  std::vector<std::vector<Bytes>> rdns_;  // each attribute as its SEQUENCE TLV
};

// Text as BMPString (UCS-2 BE) or UniversalString (UCS-4 BE) content bytes.
std::string Ucs2Be(std::u16string_view text);
std::string Ucs4Be(std::u32string_view text);

// Encodes one TLV with a definite length.
Bytes Tlv(int tag, ByteSpan content);

EvpPkeyPtr MakeEcKey();  // P-256
EvpPkeyPtr MakeRsaKey(int bits = 2048);

struct CertSpec {
  Bytes subject;  // Name DER
  Bytes issuer;   // Name DER; empty: the subject (self-signed)
  EVP_PKEY* subject_key = nullptr;
  EVP_PKEY* issuer_key = nullptr;        // signing key; nullptr: subject_key
  Bytes serial = {0x01};                 // INTEGER content octets, most significant first
  std::int64_t not_before = 1577836800;  // 2020-01-01T00:00:00Z
  std::int64_t not_after = 1893456000;   // 2030-01-01T00:00:00Z
  int version = 3;
  // Extensions in OpenSSL configuration form, e.g. {"keyUsage", "critical,digitalSignature"}.
  std::vector<std::pair<std::string, std::string>> extensions;
  const EVP_MD* digest = nullptr;  // nullptr: SHA-256
};

// A DER certificate; aborts the test program when OpenSSL refuses.
Bytes MakeCertificate(const CertSpec& spec);

struct CrlSpec {
  Bytes issuer;  // Name DER
  EVP_PKEY* issuer_key = nullptr;
  std::vector<Bytes> revoked_serials;  // content octets, most significant first
  std::int64_t this_update = 1577836800;
  std::int64_t next_update = 1893456000;
};

Bytes MakeCrl(const CrlSpec& spec);

// PEM text of DER bytes under a label ("CERTIFICATE", "X509 CRL").
std::string DerToPem(ByteSpan der, const char* label);
// PKCS#8 PEM of a private key.
std::string PrivateKeyPem(EVP_PKEY* key);

// Writes bytes to a file (non-atomically); false on failure.
bool WriteBytes(const std::string& path, ByteSpan data);

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_SUPPORT_CERT_FACTORY_H_
