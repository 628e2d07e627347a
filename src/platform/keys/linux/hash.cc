#include "platform/keys/hash.h"

#include <new>
#include <string>

#include "platform/keys/key_provider_internal.h"
#include "platform/keys/sm2.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {

struct AlgorithmRow {
  std::string_view oid;
  std::uint32_t algid;
  const EVP_MD* (*md)();
};

// The one table of digest algorithms: OID, identifier, OpenSSL digest.
constexpr AlgorithmRow kAlgorithms[] = {
    {"1.3.14.3.2.26", kCalgSha1, EVP_sha1},
    {"1.2.840.113549.2.5", kCalgMd5, EVP_md5},
    {"2.16.840.1.101.3.4.2.1", kCalgSha256, EVP_sha256},
    {"2.16.840.1.101.3.4.2.2", kCalgSha384, EVP_sha384},
    {"2.16.840.1.101.3.4.2.3", kCalgSha512, EVP_sha512},
    {"1.2.156.10197.1.401", kCalgSm3, EVP_sm3},
};

const EVP_MD* DigestOf(std::uint32_t algid) {
  for (const AlgorithmRow& row : kAlgorithms) {
    if (row.algid == algid) return row.md();
  }
  return nullptr;
}

bool Fail(std::uint32_t error) {
  SetLastError(error);
  return false;
}

Bytes LittleEndian32(std::uint32_t v) {
  return Bytes{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
               static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

// Finishes a copy of |ctx|, so the same hash can be finished more than once.
std::uint32_t FinishCopy(const EVP_MD_CTX* ctx, Bytes* digest) {
  ossl::MdCtxPtr copy(EVP_MD_CTX_new());
  std::uint8_t buf[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (copy == nullptr || EVP_MD_CTX_copy_ex(copy.get(), ctx) != 1 ||
      EVP_DigestFinal_ex(copy.get(), buf, &len) != 1) {
    return kNteFail;
  }
  digest->assign(buf, buf + len);
  return 0;
}

// Starts e = SM3(Z || ...) for |key| unless the hash already has one for it.
bool AddSm2Digest(CryptHash& hash, const EVP_PKEY* key) {
  Bytes point, z;
  if (!Sm2PublicPoint(key, &point)) return true;  // not an SM2 key: nothing to add
  for (const CryptHash::Sm2Digest& d : hash.sm2) {
    if (d.point == point) return true;
  }
  if (!Sm2UserHash(key, kSm2DefaultUserId, &z)) return false;
  ossl::MdCtxPtr ctx(EVP_MD_CTX_new());
  if (ctx == nullptr || EVP_DigestInit_ex(ctx.get(), EVP_sm3(), nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), z.data(), z.size()) != 1) {
    return false;
  }
  hash.sm2.push_back(CryptHash::Sm2Digest{std::move(point), std::move(ctx)});
  return true;
}

}  // namespace

std::uint32_t CryptHash::DigestFor(const EVP_PKEY* key, Bytes* digest) {
  finished = true;
  if (!IsSm2Key(key)) return FinishCopy(plain.get(), digest);
  if (algid != kCalgSm3) return kNteBadAlgId;
  Bytes point;
  if (!Sm2PublicPoint(key, &point)) return kNteBadKey;
  for (const Sm2Digest& d : sm2) {
    if (d.point == point) return FinishCopy(d.ctx.get(), digest);
  }
  return kNteBadKey;
}

std::uint32_t CryptHash::Value(Bytes* digest) {
  finished = true;
  return FinishCopy(sm2.empty() ? plain.get() : sm2.front().ctx.get(), digest);
}

void CryptHashFree::operator()(CryptHash* h) const noexcept { delete h; }

std::uint32_t CertOIDToAlgId(std::string_view oid) {
  for (const AlgorithmRow& row : kAlgorithms) {
    if (row.oid == oid) return row.algid;
  }
  return 0;
}

bool CryptCreateHash(CryptProv& prov, std::uint32_t algid, const CryptKey* key, std::uint32_t flags,
                     HashHandle* hash) {
  hash->reset();
  if (!prov.state) return Fail(kErrorInvalidParameter);
  if (key != nullptr) return Fail(kNteBadKey);
  if (flags != 0) return Fail(kNteBadFlags);
  const EVP_MD* md = DigestOf(algid);
  if (md == nullptr) return Fail(kNteBadAlgId);
  try {
    auto h = HashHandle(new CryptHash);
    h->prov = prov.state;
    h->algid = algid;
    h->md = md;
    h->plain.reset(EVP_MD_CTX_new());
    if (h->plain == nullptr || EVP_DigestInit_ex(h->plain.get(), md, nullptr) != 1) {
      return Fail(kNteFail);
    }
    if (algid == kCalgSm3) {
      if (KeyContainer* container = prov.state->container.get()) {
        for (std::uint32_t spec : {kAtSignature, kAtKeyExchange}) {
          ossl::PkeyPtr pub;
          if (container->GetPublicKey(spec, &pub) == 0 && !AddSm2Digest(*h, pub.get())) {
            return Fail(kNteFail);
          }
        }
      }
      for (const std::shared_ptr<EVP_PKEY>& pub : prov.state->imported) {
        if (!AddSm2Digest(*h, pub.get())) return Fail(kNteFail);
      }
    }
    *hash = std::move(h);
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(kNteNoMemory);
  }
}

bool CryptHashData(CryptHash& hash, ByteSpan data, std::uint32_t flags) {
  if (flags != 0) return Fail(kNteBadFlags);
  if (hash.finished) return Fail(kNteBadHashState);
  if (EVP_DigestUpdate(hash.plain.get(), data.data(), data.size()) != 1) return Fail(kNteFail);
  for (CryptHash::Sm2Digest& d : hash.sm2) {
    if (EVP_DigestUpdate(d.ctx.get(), data.data(), data.size()) != 1) return Fail(kNteFail);
  }
  return true;
}

bool CryptGetHashParam(CryptHash& hash, std::uint32_t param, Bytes* value) {
  try {
    switch (param) {
      case kHpAlgId:
        *value = LittleEndian32(hash.algid);
        return true;
      case kHpHashSize:
        *value = LittleEndian32(static_cast<std::uint32_t>(EVP_MD_get_size(hash.md)));
        return true;
      case kHpHashVal:
        if (std::uint32_t err = hash.Value(value)) return Fail(err);
        return true;
      default:
        return Fail(kNteBadType);
    }
  } catch (const std::bad_alloc&) {
    return Fail(kNteNoMemory);
  }
}

void CryptDestroyHash(HashHandle hash) { hash.reset(); }

}  // namespace quillmark::platform
