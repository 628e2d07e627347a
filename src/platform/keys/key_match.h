// Whether an open container's key is the key a certificate certifies: the
// check a signer makes before it signs, so that a key-provider property that
// names the wrong container (a renewed certificate over the old container, a
// container replaced under the same name) makes no signature the certificate
// would be blamed for.
//
//   if (!CryptKeyMatchesCertificate(*prov, key_spec, *cert)) {
//     ... GetLastError() is kNteBadPublicKey ...
//   }
#ifndef QUILLMARK_PLATFORM_KEYS_KEY_MATCH_H_
#define QUILLMARK_PLATFORM_KEYS_KEY_MATCH_H_

#include <cstdint>

#include "common/bytes.h"
#include "platform/keys/key_provider.h"
#include "platform/store/cert_context.h"

namespace quillmark::platform {

// True when the two SubjectPublicKeyInfo encodings hold the same key: the
// same bytes, or keys OpenSSL finds equal (an RSA key written with and
// without a NULL parameter, for one).
bool SamePublicKeyInfo(ByteSpan a, ByteSpan b);

// False, with last error kNteBadPublicKey, when the container's key of
// |key_spec| is not the certificate's. A container whose public half cannot
// be read counts as matching: signing with it fails on its own, with the
// provider's error (kNteNoKey, ...).
bool CryptKeyMatchesCertificate(CryptProv& prov, std::uint32_t key_spec, const CertContext& cert);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_KEY_MATCH_H_
