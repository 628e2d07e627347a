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
  *prov = std::move(opened);
  *key_spec = info.key_spec;
  return true;
}

}  // namespace

bool CryptAcquireCertificatePrivateKey(const CertContext& cert, std::uint32_t flags,
                                       ProvHandle* prov, std::uint32_t* key_spec) {
  prov->reset();
  if (AcquireOnce(cert, flags, prov, key_spec)) return true;
  // A re-import in another process may have moved the key (to the other spec)
  // after this context read its property: read the property again and retry.
  std::uint32_t first_error = GetLastError();
  if (first_error != kNteNoKey && first_error != kNteBadKeyset) return false;
  std::optional<KeyProvInfo> before = cert.key_prov_info();
  if (!CertReloadKeyProvInfo(cert) || cert.key_prov_info() == before) {
    SetLastError(first_error);
    return false;
  }
  return AcquireOnce(cert, flags, prov, key_spec);
}

}  // namespace quillmark::platform
