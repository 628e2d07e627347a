// Signature, time and CRL checks shared by the subject check
// (CertVerifySubjectCertificateContext) and the chain engine. Platform
// internal: it hands out OpenSSL objects.
//
// SM2-with-SM3 signatures are checked with the default user ID
// "1234567812345678"; OpenSSL checks them only when the certificate carries
// that ID, so X509ForVerify gives such certificates a private copy that does.
#ifndef QUILLMARK_PLATFORM_CHAIN_CERT_REVOCATION_H_
#define QUILLMARK_PLATFORM_CHAIN_CERT_REVOCATION_H_

#include <cstdint>
#include <span>

#include "platform/openssl/openssl_ptr.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::platform {

// Seconds since 1970-01-01T00:00:00Z, now.
std::int64_t UnixNow();

// True when not_before <= |time| <= not_after.
bool CertTimeValidAt(const CertContext& cert, std::int64_t time);

// The certificate ready for OpenSSL's signature checks: the context's own
// object (one more reference) or, when it is signed with SM2-with-SM3, a
// private parse carrying the default user ID. Null when out of memory.
ossl::X509Ptr X509ForVerify(const CertContext& cert);

// True when |issuer|'s public key verifies |subject|'s signature.
bool CertSignatureVerifies(const CertContext& subject, const CertContext& issuer);

// True when |issuer|'s public key verifies the CRL's signature.
bool CrlSignatureVerifies(const CrlContext& crl, const CertContext& issuer);

// What the CRLs of an issuer say about one certificate. Only CRLs whose
// issuer name is the issuer's subject name and whose signature the issuer's
// key verifies count; a CRL that lists the serial number revokes, whatever
// its dates. |current| tells whether one of the CRLs that count was current
// (thisUpdate <= time <= nextUpdate) at |time|.
struct RevocationResult {
  bool found_crl = false;
  bool revoked = false;
  bool current = false;
};
RevocationResult CheckRevocation(const CertContext& subject, const CertContext& issuer,
                                 std::span<const CrlContextPtr> crls, std::int64_t time);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_CHAIN_CERT_REVOCATION_H_
