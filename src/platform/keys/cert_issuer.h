// Issuing X.509 certificates and CRLs, for the demonstration PKI and for
// tools that need a small CA. Keys are IssuingKey handles, certificates and
// CRLs go in and out as DER, so callers need no OpenSSL types.
//
// RSA issuers sign with sha256WithRSAEncryption, SM2 issuers with
// SM2-with-SM3 (1.2.156.10197.1.501) and the user ID "1234567812345678", as
// SM2 certificates are issued. OpenSSL 3.0 checks such signatures only when
// that ID is set on the certificate (X509_set0_distinguishing_id), and it
// offers no way to give the ID when checking a CRL.
#ifndef QUILLMARK_PLATFORM_KEYS_CERT_ISSUER_H_
#define QUILLMARK_PLATFORM_KEYS_CERT_ISSUER_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/bytes.h"

namespace quillmark::platform {

// An owned key pair: made fresh, used to certify and sign, exported once as
// PKCS#8 to be stored in a key container. Move-only; empty when generation
// failed.
class IssuingKey {
 public:
  static IssuingKey GenerateRsa(int bits);
  static IssuingKey GenerateSm2();

  IssuingKey();
  ~IssuingKey();
  IssuingKey(IssuingKey&&) noexcept;
  IssuingKey& operator=(IssuingKey&&) noexcept;

  explicit operator bool() const { return impl_ != nullptr; }

  // The PrivateKeyInfo DER of the pair (a secret: wipe it after use).
  bool PrivateKeyInfo(Bytes* der) const;

  // The OpenSSL key inside; opaque outside the issuer's own code.
  struct Impl;
  const Impl* impl() const { return impl_.get(); }

 private:
  explicit IssuingKey(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

struct IssueRequest {
  // Subject attributes in encoded order as (short name, UTF-8 value), e.g.
  // {"CN", "张三"}, {"OU", "Personal"}, {"O", "Demo Bank"}, {"C", "CN"}.
  std::vector<std::pair<std::string, std::string>> subject;
  const IssuingKey* subject_key = nullptr;  // its public half is certified
  ByteSpan issuer_cert;                     // DER; empty: self-signed with subject_key
  const IssuingKey* issuer_key = nullptr;
  int days_valid = 365;  // from one day before now
  bool ca = false;
  int path_length = -1;            // CAs: -1 for no limit
  std::string key_usage;           // OpenSSL form, e.g. "digitalSignature,keyEncipherment"
  std::string extended_key_usage;  // e.g. "clientAuth,emailProtection"; empty: none
  std::string email;               // subjectAltName email; empty: none
  std::string crl_url;             // CRL distribution point; empty: none
};

// The DER of the new certificate; false when OpenSSL refuses the request.
bool IssueCertificate(const IssueRequest& request, Bytes* der);

struct CrlRequest {
  ByteSpan issuer_cert;  // DER
  const IssuingKey* issuer_key = nullptr;
  std::vector<ByteSpan> revoked;  // DER of the certificates revoked
  int days_valid = 30;
};

// The DER of a CRL of the issuer revoking the certificates given; false when
// OpenSSL refuses it.
bool IssueCrl(const CrlRequest& request, Bytes* der);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_CERT_ISSUER_H_
