// The private key behind a certificate, found through its key-provider
// property (container, provider name, provider type, key spec).
#ifndef QUILLMARK_PLATFORM_KEYS_CERT_PRIVATE_KEY_H_
#define QUILLMARK_PLATFORM_KEYS_CERT_PRIVATE_KEY_H_

#include <cstdint>

#include "platform/keys/key_provider.h"
#include "platform/store/cert_context.h"

namespace quillmark::platform {

// CryptAcquireCertificatePrivateKey flags.
inline constexpr std::uint32_t kCryptAcquireCacheFlag = 0x1;
inline constexpr std::uint32_t kCryptAcquireUseProvInfoFlag = 0x2;
inline constexpr std::uint32_t kCryptAcquireCompareKeyFlag = 0x4;
inline constexpr std::uint32_t kCryptAcquireSilentFlag = 0x40;

// Opens the container that the certificate's key-provider property names and
// gives the key spec the property records. Fails with
// kCryptENoKeyProperty when the certificate has no property, with the
// provider's error when the container cannot be opened (kNteBadKeyset,
// kNteKeysetNotDef, ...), with kNteNoKey when the container holds no key of
// that spec, and, with kCryptAcquireCompareKeyFlag, with kNteBadPublicKey when
// that key is not the certificate's. The other flags change nothing here.
bool CryptAcquireCertificatePrivateKey(const CertContext& cert, std::uint32_t flags,
                                       ProvHandle* prov, std::uint32_t* key_spec);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_CERT_PRIVATE_KEY_H_
