// SM2 helpers of the key providers (GB/T 32918): the user-identity hash Z,
// the e = SM3(Z || M) digest, key generation, and the two forms of a
// signature: DER SEQUENCE { r, s } and the provider's 64 bytes, r then s,
// each 32 bytes least significant byte first.
#ifndef QUILLMARK_PLATFORM_KEYS_SM2_H_
#define QUILLMARK_PLATFORM_KEYS_SM2_H_

#include <openssl/evp.h>

#include <string_view>

#include "common/bytes.h"
#include "platform/openssl/openssl_ptr.h"

namespace quillmark::platform {

// The user ID every SM2 signature here uses.
inline constexpr std::string_view kSm2DefaultUserId = "1234567812345678";

bool IsSm2Key(const EVP_PKEY* key);

// A fresh SM2 key pair (an EVP_PKEY of type SM2), or null.
ossl::PkeyPtr GenerateSm2Key();

// The public point of an SM2 key, uncompressed (04 || x || y, 65 bytes).
bool Sm2PublicPoint(const EVP_PKEY* key, Bytes* point);

// Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA) for the key's public
// point and |user_id|.
bool Sm2UserHash(const EVP_PKEY* key, std::string_view user_id, Bytes* z);

// DER SEQUENCE { INTEGER r, INTEGER s } -> 64 bytes, r then s, each little-endian.
bool Sm2SignatureFromDer(ByteSpan der, Bytes* raw);
// The reverse; false unless |raw| is 64 bytes.
bool Sm2SignatureToDer(ByteSpan raw, Bytes* der);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_SM2_H_
