#include "platform/keys/key_match.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>

#include "platform/keys/key_provider_internal.h"
#include "platform/names/cert_name.h"
#include "platform/openssl/openssl_ptr.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

bool SamePublicKeyInfo(ByteSpan a, ByteSpan b) {
  if (std::equal(a.begin(), a.end(), b.begin(), b.end())) return true;
  const unsigned char* pa = a.data();
  const unsigned char* pb = b.data();
  ossl::PkeyPtr ka(d2i_PUBKEY(nullptr, &pa, static_cast<long>(a.size())));
  ossl::PkeyPtr kb(d2i_PUBKEY(nullptr, &pb, static_cast<long>(b.size())));
  const bool same = ka && kb && EVP_PKEY_eq(ka.get(), kb.get()) == 1;
  ERR_clear_error();
  return same;
}

bool CryptKeyMatchesCertificate(CryptProv& prov, std::uint32_t key_spec, const CertContext& cert) {
  Bytes spki;
  const std::uint32_t before = GetLastError();
  if (!CryptExportPublicKeyInfo(prov, key_spec, kX509AsnEncoding, &spki)) {
    SetLastError(before);
    if (prov.state != nullptr) SetKeyOwner(prov.state.get(), cert);
    return true;
  }
  if (SamePublicKeyInfo(spki, cert.public_key_info_der())) {
    if (prov.state != nullptr) SetKeyOwner(prov.state.get(), cert);
    return true;
  }
  SetLastError(kNteBadPublicKey);
  return false;
}

}  // namespace quillmark::platform
