// Windows: whether a container's key is the key a certificate certifies,
// compared on the SubjectPublicKeyInfo the system decodes.
#include "platform/keys/key_match.h"

#include <algorithm>
#include <string_view>

#include "platform/keys/win/key_provider_win.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {

// Decoded SubjectPublicKeyInfo, freed with it.
struct DecodedKeyInfo {
  explicit DecodedKeyInfo(ByteSpan der) {
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(),
                               static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
                               &info, &size)) {
      info = nullptr;
    }
  }
  ~DecodedKeyInfo() {
    if (info != nullptr) ::LocalFree(info);
  }
  DecodedKeyInfo(const DecodedKeyInfo&) = delete;
  DecodedKeyInfo& operator=(const DecodedKeyInfo&) = delete;

  CERT_PUBLIC_KEY_INFO* info = nullptr;
};

}  // namespace

bool SamePublicKeyInfo(ByteSpan a, ByteSpan b) {
  if (std::equal(a.begin(), a.end(), b.begin(), b.end())) return true;
  // The same key written with and without the algorithm's NULL parameter:
  // the algorithm and the key bits decide.
  DecodedKeyInfo x(a), y(b);
  if (x.info == nullptr || y.info == nullptr || x.info->Algorithm.pszObjId == nullptr ||
      y.info->Algorithm.pszObjId == nullptr ||
      std::string_view(x.info->Algorithm.pszObjId) != y.info->Algorithm.pszObjId) {
    return false;
  }
  const CRYPT_BIT_BLOB& kx = x.info->PublicKey;
  const CRYPT_BIT_BLOB& ky = y.info->PublicKey;
  return kx.cUnusedBits == ky.cUnusedBits &&
         std::equal(kx.pbData, kx.pbData + kx.cbData, ky.pbData, ky.pbData + ky.cbData);
}

namespace {

// The handle now holds |cert|'s key: it names the certificate when the key
// is about to be used.
void SetKeyOwner(CryptProv& prov, const CertContext& cert) {
  if (prov.prov != nullptr) {
    prov.prov->key_owner = CertCreateCertificateContext(kX509AsnEncoding, cert.der());
  }
}

}  // namespace

bool CryptKeyMatchesCertificate(CryptProv& prov, std::uint32_t key_spec, const CertContext& cert) {
  const std::uint32_t saved = GetLastError();
  Bytes spki;
  if (!CryptExportPublicKeyInfo(prov, key_spec, kX509AsnEncoding, &spki)) {
    SetLastError(saved);  // signing reports the container's own error
    SetKeyOwner(prov, cert);
    return true;
  }
  if (SamePublicKeyInfo(spki, cert.public_key_info_der())) {
    SetKeyOwner(prov, cert);
    return true;
  }
  SetLastError(kNteBadPublicKey);
  return false;
}

}  // namespace quillmark::platform
