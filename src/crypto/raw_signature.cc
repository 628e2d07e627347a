#include "crypto/raw_signature.h"

#include <algorithm>
#include <new>
#include <utility>

#include "certs/verify_chain.h"
#include "common/status.h"
#include "crypto/field_texts.h"
#include "crypto/message_text.h"
#include "crypto/recipient_selection.h"
#include "crypto/signer_selection.h"
#include "encoding/base64.h"
#include "platform/cert_context.h"
#include "platform/hash.h"
#include "platform/key_provider.h"
#include "platform/last_error.h"
#include "platform/sign_verify.h"

namespace quillmark::crypto {

namespace {

// Returns |status| after writing the last error of the call that failed.
int FailWithLastError(int status, std::uint32_t* platform_error) {
  if (platform_error != nullptr) *platform_error = platform::GetLastError();
  return status;
}

// Opens the container that the key-provider property of |cert| names; the
// provider is always opened as kProvRsaFull. A certificate without the
// property leaves *prov empty and is not an error here.
int OpenSignerKey(const platform::CertContext& cert, platform::ProvHandle* prov,
                  std::uint32_t* key_spec) {
  for (std::uint32_t id = platform::CertEnumCertificateContextProperties(cert, 0); id != 0;
       id = platform::CertEnumCertificateContextProperties(cert, id)) {
    if (id != platform::kCertKeyProvInfoPropId) continue;
    platform::KeyProvInfo info;
    if (!platform::CertGetCertificateContextProperty(cert, id, &info)) return kErrNoProperty;
    if (!platform::CryptAcquireContextW(prov, info.container, info.provider, platform::kProvRsaFull,
                                        0)) {
      return kErrKeyDeviceNotFound;
    }
    *key_spec = info.key_spec;
    return kOk;
  }
  return kOk;
}

// A hash of |data| with the algorithm |digest_oid| names, in |prov|.
int HashData(platform::CryptProv* prov, ByteSpan data, std::string_view digest_oid,
             platform::HashHandle* hash, std::uint32_t* platform_error) {
  if (prov == nullptr) {
    platform::SetLastError(platform::kNteBadKeyset);
    return FailWithLastError(kErrHashCreate, platform_error);
  }
  if (!platform::CryptCreateHash(*prov, platform::CertOIDToAlgId(digest_oid), nullptr, 0, hash)) {
    return FailWithLastError(kErrHashCreate, platform_error);
  }
  if (!platform::CryptHashData(**hash, data, 0)) {
    return FailWithLastError(kErrHashData, platform_error);
  }
  return kOk;
}

// The verifying provider: its default container, created when it cannot be
// opened, and made afresh when creating finds one already there.
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

}  // namespace

int RawSign(ByteSpan content, bool server_mode, std::u16string_view dn,
            std::u16string_view separator, Bytes* text, certs::CertInfoSet* signer_info,
            std::string_view digest_oid, bool key_spec, const certs::ChooserTexts& texts,
            std::uint32_t* platform_error) {
  if (text == nullptr) return kErrEmptyInput;
  try {
    platform::CertStore my;
    if (int status = OpenUserStore(kMyStoreName, &my); status != kOk) return status;
    platform::CertContextPtr signer;
    if (int status = SelectSigner(my, server_mode, dn, separator, key_spec, texts, &signer);
        status != kOk) {
      return status;
    }

    platform::ProvHandle prov;
    std::uint32_t spec = platform::kAtKeyExchange;
    if (int status = OpenSignerKey(*signer, &prov, &spec); status != kOk) return status;
    platform::HashHandle hash;
    if (int status = HashData(prov.get(), content, digest_oid, &hash, platform_error);
        status != kOk) {
      return status;
    }
    Bytes signature;
    if (!platform::CryptSignHashW(*hash, spec, u"", 0, &signature)) {
      return FailWithLastError(kErrHashSign, platform_error);
    }
    platform::CryptDestroyHash(std::move(hash));
    std::reverse(signature.begin(), signature.end());

    Bytes encoded;
    if (int status = EncodeMessageText(std::move(signature), /*compress=*/false, 0, &encoded);
        status != kOk) {
      return status;
    }
    ReturnFieldTexts(signer, signer_info);
    *text = std::move(encoded);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

int RawVerify(ByteSpan signature_text, bool server_mode, ByteSpan plain, std::u16string_view dn,
              std::u16string_view separator, certs::CertInfoSet* signer_info,
              std::string_view digest_oid, const certs::ChooserTexts& texts,
              std::uint32_t* platform_error) {
  if (signature_text.empty() || plain.empty()) return kErrEmptyInput;
  try {
    Bytes signature;
    if (int status = DecodeMessageText(signature_text, /*expand=*/false, &signature);
        status != kOk) {
      return status;
    }
    std::reverse(signature.begin(), signature.end());

    RecipientStores stores;
    if (int status = OpenRecipientStores(&stores); status != kOk) return status;
    platform::CertContextPtr signer;
    if (int status = SelectRecipient(stores, server_mode, dn, separator, texts, &signer);
        status != kOk) {
      return status;
    }
    if (int status = certs::VerifyCertificateChain(signer, certs::kMaskAll); status != kOk) {
      return status;
    }

    platform::ProvHandle prov;
    if (int status = OpenVerifyingProvider(&prov); status != kOk) return status;
    platform::KeyHandle key;
    if (prov == nullptr ||
        !platform::CryptImportPublicKeyInfo(*prov, platform::kX509AsnEncoding,
                                            signer->public_key_info_der(), &key)) {
      return FailWithLastError(kErrPublicKeyImport, platform_error);
    }
    platform::HashHandle hash;
    if (int status = HashData(prov.get(), plain, digest_oid, &hash, platform_error);
        status != kOk) {
      return status;
    }
    if (!platform::CryptVerifySignatureW(*hash, signature, *key, u"", 0)) {
      return FailWithLastError(kErrSignatureCheck, platform_error);
    }
    platform::CryptDestroyHash(std::move(hash));
    ReturnFieldTexts(signer, signer_info);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

}  // namespace quillmark::crypto
