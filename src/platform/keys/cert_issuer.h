// Issuing X.509 certificates and CRLs with OpenSSL, for the demonstration PKI
// and for tools that need a small CA. RSA issuers sign with
// sha256WithRSAEncryption, SM2 issuers with SM2-with-SM3
// (1.2.156.10197.1.501) and the user ID "1234567812345678", as SM2
// certificates are issued. OpenSSL 3.0 checks such signatures only when that
// ID is set on the certificate (X509_set0_distinguishing_id), and it offers
// no way to give the ID when checking a CRL.
#ifndef QUILLMARK_PLATFORM_KEYS_CERT_ISSUER_H_
#define QUILLMARK_PLATFORM_KEYS_CERT_ISSUER_H_

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "platform/openssl/openssl_ptr.h"

namespace quillmark::platform {

struct IssueRequest {
  // Subject attributes in encoded order as (short name, UTF-8 value), e.g.
  // {"CN", "张三"}, {"OU", "Personal"}, {"O", "Demo Bank"}, {"C", "CN"}.
  std::vector<std::pair<std::string, std::string>> subject;
  EVP_PKEY* subject_key = nullptr;  // its public half is certified
  X509* issuer = nullptr;           // null: self-signed with subject_key
  EVP_PKEY* issuer_key = nullptr;
  int days_valid = 365;  // from one day before now
  bool ca = false;
  int path_length = -1;            // CAs: -1 for no limit
  std::string key_usage;           // OpenSSL form, e.g. "digitalSignature,keyEncipherment"
  std::string extended_key_usage;  // e.g. "clientAuth,emailProtection"; empty: none
  std::string email;               // subjectAltName email; empty: none
  std::string crl_url;             // CRL distribution point; empty: none
};

// Null when OpenSSL refuses the request.
ossl::X509Ptr IssueCertificate(const IssueRequest& request);

// A CRL of |issuer| revoking the certificates given, valid for |days|.
ossl::X509CrlPtr IssueCrl(X509* issuer, EVP_PKEY* issuer_key, const std::vector<X509*>& revoked,
                          int days);

bool CertificateDer(X509* cert, Bytes* der);
bool CrlDer(X509_CRL* crl, Bytes* der);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_CERT_ISSUER_H_
