#include "platform/keys/cert_private_key.h"

#include <openssl/x509.h>

#include <algorithm>
#include <optional>

#include "platform/keys/key_provider_internal.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_store.h"

namespace quillmark::platform {

namespace {

bool Fail(std::uint32_t error) {
  SetLastError(error);
  return false;
}

// Whether two SubjectPublicKeyInfo encodings hold the same key.
bool SamePublicKey(ByteSpan a, ByteSpan b) {
  // The same bytes are the same key; other encodings are compared as keys.
  if (std::equal(a.begin(), a.end(), b.begin(), b.end())) return true;
  const unsigned char* pa = a.data();
  const unsigned char* pb = b.data();
  ossl::PkeyPtr ka(d2i_PUBKEY(nullptr, &pa, static_cast<long>(a.size())));
  ossl::PkeyPtr kb(d2i_PUBKEY(nullptr, &pb, static_cast<long>(b.size())));
  return ka && kb && EVP_PKEY_eq(ka.get(), kb.get()) == 1;
}

// How often the property is read again when the key it names has moved.
constexpr int kMaxReloads = 3;

// One try with the property as the context holds it now.
bool AcquireOnce(const CertContext& cert, std::uint32_t flags, ProvHandle* prov,
                 std::uint32_t* key_spec) {
  KeyProvInfo info;
  if (!CertGetCertificateContextProperty(cert, kCertKeyProvInfoPropId, &info)) {
    return Fail(kCryptENoKeyProperty);
  }
  ProvHandle opened;
  if (!CryptAcquireContextW(&opened, info.container, info.provider, info.provider_type, 0)) {
    return false;  // the provider's error stays the last error
  }
  Bytes spki;
  if (!CryptExportPublicKeyInfo(*opened, info.key_spec, kX509AsnEncoding, &spki)) {
    return false;
  }
  if ((flags & kCryptAcquireCompareKeyFlag) != 0 &&
      !SamePublicKey(spki, cert.public_key_info_der())) {
    return Fail(kNteBadPublicKey);
  }
  if (opened->state != nullptr) SetKeyOwner(opened->state.get(), cert);
  *prov = std::move(opened);
  *key_spec = info.key_spec;
  return true;
}

}  // namespace

bool CryptAcquireCertificatePrivateKey(const CertContext& cert, std::uint32_t flags,
                                       ProvHandle* prov, std::uint32_t* key_spec) {
  prov->reset();
  // A re-import in another process may move the key (to the other spec)
  // after this context read its property: while the property read again
  // differs, try again with it.
  std::optional<KeyProvInfo> tried = cert.key_prov_info();
  for (int attempt = 0;; ++attempt) {
    if (AcquireOnce(cert, flags, prov, key_spec)) return true;
    std::uint32_t error = GetLastError();
    if ((error != kNteNoKey && error != kNteBadKeyset) || attempt == kMaxReloads ||
        !CertReloadKeyProvInfo(cert) || cert.key_prov_info() == tried) {
      SetLastError(error);
      return false;
    }
    tried = cert.key_prov_info();
  }
}

}  // namespace quillmark::platform
