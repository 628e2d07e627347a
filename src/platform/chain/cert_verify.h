// CertVerifySubjectCertificateContext: checks one certificate against the
// certificate that issued it.
//
// |*flags| selects the checks; each flag whose check passes is cleared and
// each failing check leaves its flag set:
//
//   kCertStoreSignatureFlag     the issuer's public key verifies the subject's
//                               signature (RSA, ECDSA, SM2-with-SM3 with the
//                               default user ID "1234567812345678").
//   kCertStoreTimeValidityFlag  not_before <= time <= not_after, time being
//                               now unless the caller gives one.
//   kCertStoreRevocationFlag    the CRLs of the issuer kept in the issuer's
//                               own store (the one its context came from) do
//                               not list the subject's serial number. Only
//                               CRLs whose issuer name is the issuer's
//                               subject and whose signature the issuer's key
//                               verifies count. When there is no such CRL
//                               the flag stays set and kCertStoreNoCrlFlag is
//                               added: "set without kCertStoreNoCrlFlag"
//                               means revoked.
//
// The result tells whether the arguments were usable, not whether the checks
// passed. It is false, with last error kEInvalidArg and |*flags| unchanged,
// when |subject| or |flags| is null, |*flags| holds any other bit, or the
// signature or revocation check is asked for without an issuer (the time
// check alone needs none).
#ifndef QUILLMARK_PLATFORM_CHAIN_CERT_VERIFY_H_
#define QUILLMARK_PLATFORM_CHAIN_CERT_VERIFY_H_

#include <cstdint>
#include <optional>

#include "platform/store/cert_context.h"

namespace quillmark::platform {

inline constexpr std::uint32_t kCertStoreSignatureFlag = 0x1;
inline constexpr std::uint32_t kCertStoreTimeValidityFlag = 0x2;
inline constexpr std::uint32_t kCertStoreRevocationFlag = 0x4;
inline constexpr std::uint32_t kCertStoreNoCrlFlag = 0x10000;

// E_INVALIDARG, the platform's error for arguments of the chain calls it
// cannot use.
inline constexpr std::uint32_t kEInvalidArg = 0x80070057;

// |time|: seconds since 1970-01-01T00:00:00Z for the time check; now when
// absent.
bool CertVerifySubjectCertificateContext(const CertContextPtr& subject,
                                         const CertContextPtr& issuer, std::uint32_t* flags,
                                         std::optional<std::int64_t> time = std::nullopt);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_CHAIN_CERT_VERIFY_H_
