// CertGetIntendedKeyUsage: what a certificate's key-usage extension allows.
//
// The bits are the platform's (CERT_*_KEY_USAGE): the first byte of the
// extension's BIT STRING in the low byte, decipherOnly as 0x8000.
//
//   std::uint32_t usage = 0;
//   if (CertGetIntendedKeyUsage(*cert, &usage) &&
//       (usage & (kCertDigitalSignatureKeyUsage | kCertNonRepudiationKeyUsage)) == 0) {
//     ... the key may not make signatures ...
//   }
#ifndef QUILLMARK_PLATFORM_CHAIN_CERT_KEY_USAGE_H_
#define QUILLMARK_PLATFORM_CHAIN_CERT_KEY_USAGE_H_

#include <cstdint>

#include "platform/store/cert_context.h"

namespace quillmark::platform {

inline constexpr std::uint32_t kCertDigitalSignatureKeyUsage = 0x80;
inline constexpr std::uint32_t kCertNonRepudiationKeyUsage = 0x40;
inline constexpr std::uint32_t kCertKeyEnciphermentKeyUsage = 0x20;
inline constexpr std::uint32_t kCertDataEnciphermentKeyUsage = 0x10;
inline constexpr std::uint32_t kCertKeyAgreementKeyUsage = 0x08;
inline constexpr std::uint32_t kCertKeyCertSignKeyUsage = 0x04;
inline constexpr std::uint32_t kCertCrlSignKeyUsage = 0x02;
inline constexpr std::uint32_t kCertEncipherOnlyKeyUsage = 0x01;
inline constexpr std::uint32_t kCertDecipherOnlyKeyUsage = 0x8000;

// False when the certificate carries no key-usage extension (every use is
// allowed). True otherwise, with the allowed uses in *usage; an extension
// that cannot be decoded allows nothing (*usage is 0).
bool CertGetIntendedKeyUsage(const CertContext& cert, std::uint32_t* usage);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_CHAIN_CERT_KEY_USAGE_H_
