#include "crypto/provider_steps.h"

#include "common/status.h"
#include "platform/keys/sign_verify.h"
#include "platform/os/last_error.h"

namespace quillmark::crypto {

Status WithLastError(int number) { return Status(number, platform::GetLastError()); }

int ReadKeyProvInfo(const platform::CertContext& cert, platform::KeyProvInfo* info) {
  for (std::uint32_t id = platform::CertEnumCertificateContextProperties(cert, 0); id != 0;
       id = platform::CertEnumCertificateContextProperties(cert, id)) {
    if (id != platform::kCertKeyProvInfoPropId) continue;
    return platform::CertGetCertificateContextProperty(cert, id, info) ? kOk : kErrNoProperty;
  }
  return kErrNoPrivateKeyProperty;
}

int OpenKeyContainer(const platform::KeyProvInfo& info, platform::ProvHandle* prov) {
  return platform::CryptAcquireContextW(prov, info.container, info.provider, platform::kProvRsaFull,
                                        0)
             ? kOk
             : kErrKeyDeviceNotFound;
}

Status HashData(platform::CryptProv* prov, std::uint32_t algid, ByteSpan data,
                platform::HashHandle* hash) {
  if (prov == nullptr) {
    platform::SetLastError(platform::kNteBadKeyset);
    return WithLastError(kErrHashCreate);
  }
  if (!platform::CryptCreateHash(*prov, algid, nullptr, 0, hash)) {
    return WithLastError(kErrHashCreate);
  }
  if (!platform::CryptHashData(**hash, data, 0)) return WithLastError(kErrHashData);
  return kOk;
}

Status SignHash(platform::CryptHash& hash, std::uint32_t key_spec, Bytes* signature) {
  if (!platform::CryptSignHashW(hash, key_spec, u"", 0, signature)) {
    return WithLastError(kErrHashSign);
  }
  return kOk;
}

int SignFailureStatus(std::uint32_t platform_error) {
  switch (platform_error) {
    case platform::kScardWCancelledByUser:
      return kErrKeyDeviceCancelled;
    case platform::kScardETimeout:
      return kErrKeyDeviceTimeout;
    default:
      return kErrHashSign;
  }
}

int OpenVerifyingProvider(platform::ProvHandle* prov) {
  constexpr std::u16string_view kName = platform::kMsEnhancedProviderName;
  if (platform::CryptAcquireContextW(prov, u"", kName, platform::kProvRsaFull, 0)) return kOk;
  if (platform::CryptAcquireContextW(prov, u"", kName, platform::kProvRsaFull,
                                     platform::kCryptNewKeyset)) {
    return kOk;
  }
  if (platform::GetLastError() != platform::kNteExists) return kOk;  // no provider: import fails
  platform::ProvHandle deleted;
  platform::CryptAcquireContextW(&deleted, u"", kName, platform::kProvRsaFull,
                                 platform::kCryptDeleteKeyset);
  if (!platform::CryptAcquireContextW(prov, u"", kName, platform::kProvRsaFull,
                                      platform::kCryptNewKeyset)) {
    return kErrKeyDeviceNotFound;
  }
  return kOk;
}

}  // namespace quillmark::crypto
