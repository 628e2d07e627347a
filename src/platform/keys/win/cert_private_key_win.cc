// Windows: the private key behind a certificate, through the system's own
// key-provider property and the provider names of key_provider_win.h.
#include "platform/keys/cert_private_key.h"

#include "platform/keys/key_match.h"
#include "platform/keys/win/key_provider_win.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

bool CryptAcquireCertificatePrivateKey(const CertContext& cert, std::uint32_t flags,
                                       ProvHandle* prov, std::uint32_t* key_spec) {
  prov->reset();
  std::optional<KeyProvInfo> info = cert.key_prov_info();
  if (!info) {
    SetLastError(kCryptENoKeyProperty);
    return false;
  }
  ProvHandle opened;
  if (!CryptAcquireContextW(&opened, info->container, info->provider, kProvRsaFull,
                            info->flags & kCryptMachineKeyset)) {
    return false;
  }
  if (!HasContainerKey(*opened, info->key_spec)) {
    SetLastError(kNteNoKey);
    return false;
  }
  if ((flags & kCryptAcquireCompareKeyFlag) != 0 &&
      !CryptKeyMatchesCertificate(*opened, info->key_spec, cert)) {
    return false;
  }
  // A copy of the certificate, so the handle can say whose key it holds
  // when the key is used (the caller's context may go first).
  opened->prov->key_owner = CertCreateCertificateContext(kX509AsnEncoding, cert.der());
  *prov = std::move(opened);
  *key_spec = info->key_spec;
  return true;
}

}  // namespace quillmark::platform
