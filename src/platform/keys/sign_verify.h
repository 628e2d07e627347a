// Signing a finished hash with a container's key, and checking a signature
// with an imported public key.
//
// Signatures travel in the providers' byte order:
//   RSA: PKCS#1 v1.5 over the DigestInfo of the hash's algorithm, the whole
//        value least significant byte first (the reverse of PKCS#1's order).
//   SM2: 64 bytes, r then s, each 32 bytes least significant byte first, of
//        an SM2 signature of e = SM3(Z || M) (only kCalgSm3 hashes).
//   EC:  (ECDSA keys on tokens, signing only) the DER ECDSA-Sig-Value over
//        the plain digest, the whole value least significant byte first.
// CryptSignHashW fails with kNteNoKey when the container has no key of the
// spec (or the context has no container), kNteBadAlgId for an algorithm the
// key cannot sign with, and passes on a provider's own error unchanged (a
// token reports a user cancel as kScardWCancelledByUser and a time-out as
// kScardETimeout). CryptVerifySignatureW fails with kNteBadSignature when the
// signature does not belong to the hash and key.
#ifndef QUILLMARK_PLATFORM_KEYS_SIGN_VERIFY_H_
#define QUILLMARK_PLATFORM_KEYS_SIGN_VERIFY_H_

#include <cstdint>
#include <string_view>

#include "common/bytes.h"
#include "platform/keys/hash.h"
#include "platform/keys/key_provider.h"

namespace quillmark::platform {

// |description| is ignored; |flags| must be 0.
bool CryptSignHashW(CryptHash& hash, std::uint32_t key_spec, std::u16string_view description,
                    std::uint32_t flags, Bytes* signature);

bool CryptVerifySignatureW(CryptHash& hash, ByteSpan signature, const CryptKey& key,
                           std::u16string_view description, std::uint32_t flags);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_SIGN_VERIFY_H_
