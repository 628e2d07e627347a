// Hash objects of the key providers and the OID-to-algorithm table.
//
// A hash object belongs to a provider context and hashes the data given to
// CryptHashData; CryptSignHashW and CryptVerifySignatureW (sign_verify.h)
// finish it. Once finished (by either of those or by reading kHpHashVal),
// more data is refused with kNteBadHashState.
//
// kCalgSm3 on an SM2 key means e = SM3(Z || M), where Z is the identity hash
// of that key's public point with the user ID "1234567812345678". The hash
// object keeps one such digest for every SM2 key its provider knows when the
// hash is created (the container's keys and the public keys imported so far),
// so that signing or verifying later uses the Z of the key actually used.
// Its kHpHashVal is e for the first of those keys (signature key, exchange
// key, imported keys, in that order), or plain SM3(M) when there is none.
#ifndef QUILLMARK_PLATFORM_KEYS_HASH_H_
#define QUILLMARK_PLATFORM_KEYS_HASH_H_

#include <cstdint>
#include <memory>
#include <string_view>

#include "common/bytes.h"
#include "platform/keys/key_provider.h"

namespace quillmark::platform {

inline constexpr std::uint32_t kCalgMd5 = 0x8003;
inline constexpr std::uint32_t kCalgSha1 = 0x8004;
inline constexpr std::uint32_t kCalgSha256 = 0x800C;
inline constexpr std::uint32_t kCalgSha384 = 0x800D;
inline constexpr std::uint32_t kCalgSha512 = 0x800E;
inline constexpr std::uint32_t kCalgSm3 = 0x800F;

// CryptGetHashParam parameters.
inline constexpr std::uint32_t kHpAlgId = 1;
inline constexpr std::uint32_t kHpHashVal = 2;
inline constexpr std::uint32_t kHpHashSize = 4;

class CryptHash;
struct CryptHashFree {
  void operator()(CryptHash* h) const noexcept;
};
using HashHandle = std::unique_ptr<CryptHash, CryptHashFree>;

// The algorithm identifier of a digest OID in dotted form, or 0 when the OID
// names no digest algorithm known here.
std::uint32_t CertOIDToAlgId(std::string_view oid);

// |key| must be null (no keyed hashes) and |flags| 0. Unknown |algid|:
// kNteBadAlgId.
bool CryptCreateHash(CryptProv& prov, std::uint32_t algid, const CryptKey* key, std::uint32_t flags,
                     HashHandle* hash);
bool CryptHashData(CryptHash& hash, ByteSpan data, std::uint32_t flags);

// kHpAlgId: the identifier, 4 bytes little-endian; kHpHashSize: the digest
// length, 4 bytes little-endian; kHpHashVal: the digest (finishes the hash).
bool CryptGetHashParam(CryptHash& hash, std::uint32_t param, Bytes* value);

void CryptDestroyHash(HashHandle hash);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_HASH_H_
