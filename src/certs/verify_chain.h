// VerifyCertificateChain: may the signer of a verified message be trusted?
//
// The certificate's issuer is looked up in the current user's "CA" store and
// then in "ROOT" (a store that cannot be opened counts as empty): the
// candidates are the certificates whose subject contains the issuer's display
// name, and the issuer is a candidate whose whole subject, as CertNameToStrW
// writes it, equals the certificate's issuer text (case-sensitive). When
// several candidates carry that exact name (a CA renewed with a new key, or
// a look-alike), the first one whose key verifies the certificate's
// signature is taken, else the first of them.
//
// Then the checks selected by |mask| run in this fixed order; the first one
// that fails decides the status:
//
//   kCheckIssuerSignature (2)  the issuer's key verifies the certificate  kErrCertSignatureFaulty
//   kCheckTimeValidity    (4)  now lies within the validity period        kErrCertExpired
//   kCheckRevocation      (1)  no CRL of the issuer in the issuer's store kErrCertRevoked
//                              lists it (no CRL at all: not revoked)
//   kCheckChain           (8)  the chain builds from ROOT and CA and the  kErrChainFailed
//                              base policy accepts it; expired and badly
//                              nested validity periods are accepted, and
//                              so is revocation that cannot be checked
//
// In the chain check the CAs above the certificate (the root included) face
// the time and revocation checks the mask selects for the certificate: a CA
// revoked by a CRL in CA or ROOT fails with kErrCertRevoked, one outside its
// validity period with kErrCertExpired. Without kCheckTimeValidity (as in
// kMaskAfterwards) an expired CA is accepted like an expired certificate;
// without kCheckRevocation a revoked CA fails the chain check itself
// (kErrChainFailed, CRYPT_E_REVOKED).
//
// Before any check: kErrCertFieldUndecodable when the issuer has no display
// name (no CN, OU, O or E), kErrIssuerNotFound when no issuer is installed.
// kErrEmptyInput for a null certificate, kErrNoMemory when memory runs out.
// 0 when every selected check passed.
//
// Only kErrChainFailed carries a platform code: what the chain engine
// reported, the policy error (CERT_E_UNTRUSTEDROOT, CRYPT_E_REVOKED, ...) or
// the last error of a chain call that failed.
//
// Verifying a message signer (VerifyMessage uses kMaskAll; a signature
// checked after the fact, VerifyAfterwards, uses kMaskAfterwards so that a
// certificate that has expired since it signed still passes):
//
//   Status status = certs::VerifyCertificateChain(signer, certs::kMaskAll);
//   if (!status.ok()) return status.number();   // the member picks the message
#ifndef QUILLMARK_CERTS_VERIFY_CHAIN_H_
#define QUILLMARK_CERTS_VERIFY_CHAIN_H_

#include <cstdint>

#include "common/status.h"
#include "platform/store/cert_context.h"

namespace quillmark::certs {

inline constexpr std::uint32_t kCheckRevocation = 1;
inline constexpr std::uint32_t kCheckIssuerSignature = 2;
inline constexpr std::uint32_t kCheckTimeValidity = 4;
inline constexpr std::uint32_t kCheckChain = 8;

inline constexpr std::uint32_t kMaskAll =
    kCheckRevocation | kCheckIssuerSignature | kCheckTimeValidity | kCheckChain;       // 15
inline constexpr std::uint32_t kMaskAfterwards = kCheckIssuerSignature | kCheckChain;  // 10

// The flags the chain step passes to the base policy: revocation that cannot
// be checked is not an error (0x0F00), plus the test-root flag (0x4000).
inline constexpr std::uint32_t kChainPolicyFlags = 0x4F00;

// The certificate's issuer as installed in "CA" or "ROOT" (chosen as above),
// or null; *status says why not (kErrCertFieldUndecodable,
// kErrIssuerNotFound, kErrNoMemory).
platform::CertContextPtr FindInstalledIssuer(const platform::CertContextPtr& cert, int* status);

// The checks above. |cert| stays the caller's; nothing is kept.
Status VerifyCertificateChain(const platform::CertContextPtr& cert, std::uint32_t mask);

// May |cert| have made a signature? A certificate whose key-usage extension
// allows neither digitalSignature nor nonRepudiation may not: kErrChainFailed
// with CERT_E_WRONG_USAGE, as the chain check reports a certificate that is
// not valid for the usage asked. Without the extension every use is allowed.
// Every verifier runs this on the signer beside VerifyCertificateChain.
Status CheckSignerKeyUsage(const platform::CertContext& cert);

}  // namespace quillmark::certs

#endif  // QUILLMARK_CERTS_VERIFY_CHAIN_H_
