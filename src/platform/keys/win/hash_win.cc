// Windows hash objects: the system's (CryptCreateHash and friends). The
// system has no SM3, so kCalgSm3 fails with kNteBadAlgId, as it would on a
// Windows without a vendor's provider.
#include <algorithm>
#include <new>

#include "platform/keys/hash.h"
#include "platform/keys/win/key_provider_win.h"
#include "platform/os/last_error.h"
#include "platform/store/win/cert_context_win.h"

namespace quillmark::platform {

namespace {

struct AlgorithmRow {
  std::string_view oid;
  std::uint32_t algid;
};

// The digest algorithms callers may name, the same table on every system.
constexpr AlgorithmRow kAlgorithms[] = {
    {"1.3.14.3.2.26", kCalgSha1},
    {"1.2.840.113549.2.5", kCalgMd5},
    {"2.16.840.1.101.3.4.2.1", kCalgSha256},
    {"2.16.840.1.101.3.4.2.2", kCalgSha384},
    {"2.16.840.1.101.3.4.2.3", kCalgSha512},
    {"1.2.156.10197.1.401", kCalgSm3},
};

bool Fail(std::uint32_t error) {
  SetLastError(error);
  return false;
}

}  // namespace

void CryptHashFree::operator()(CryptHash* h) const noexcept { delete h; }

HCRYPTHASH SystemHashHandle(const CryptHash& hash) { return hash.handle; }

std::uint32_t CertOIDToAlgId(std::string_view oid) {
  for (const AlgorithmRow& row : kAlgorithms) {
    if (row.oid == oid) return row.algid;
  }
  return 0;
}

bool CryptCreateHash(CryptProv& prov, std::uint32_t algid, const CryptKey* key, std::uint32_t flags,
                     HashHandle* hash) {
  hash->reset();
  if (!prov.prov || prov.prov->handle == 0) return Fail(kErrorInvalidParameter);
  if (key != nullptr) return Fail(kNteBadKey);
  if (flags != 0) return Fail(kNteBadFlags);
  if (algid == kCalgSm3) return Fail(kNteBadAlgId);
  bool known = false;
  for (const AlgorithmRow& row : kAlgorithms) known |= row.algid == algid;
  if (!known) return Fail(kNteBadAlgId);
  HCRYPTHASH handle = 0;
  if (!::CryptCreateHash(prov.prov->handle, algid, 0, 0, &handle)) {
    TakeSystemLastError();
    return false;
  }
  try {
    hash->reset(new CryptHash);
  } catch (const std::bad_alloc&) {
    ::CryptDestroyHash(handle);
    return Fail(kNteNoMemory);
  }
  (*hash)->prov = prov.prov;
  (*hash)->handle = handle;
  return true;
}

bool CryptHashData(CryptHash& hash, ByteSpan data, std::uint32_t flags) {
  if (flags != 0) return Fail(kNteBadFlags);
  // The system takes at most 4 GiB at once.
  while (true) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 0x40000000));
    if (!::CryptHashData(hash.handle, data.data(), chunk, 0)) {
      TakeSystemLastError();
      return false;
    }
    data = data.subspan(chunk);
    if (data.empty()) return true;
  }
}

bool CryptGetHashParam(CryptHash& hash, std::uint32_t param, Bytes* value) {
  if (param != kHpAlgId && param != kHpHashVal && param != kHpHashSize) {
    return Fail(kNteBadType);
  }
  DWORD size = 0;
  if (!::CryptGetHashParam(hash.handle, param, nullptr, &size, 0)) {
    TakeSystemLastError();
    return false;
  }
  value->resize(size);
  if (!::CryptGetHashParam(hash.handle, param, value->data(), &size, 0)) {
    TakeSystemLastError();
    return false;
  }
  value->resize(size);
  return true;
}

void CryptDestroyHash(HashHandle hash) { hash.reset(); }

}  // namespace quillmark::platform
