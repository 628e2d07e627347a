#include "crypto/raw_signature.h"

#include <algorithm>
#include <new>
#include <utility>

#include "certs/verify_chain.h"
#include "common/status.h"
#include "crypto/field_texts.h"
#include "crypto/message_text.h"
#include "crypto/provider_steps.h"
#include "crypto/recipient_selection.h"
#include "crypto/signer_selection.h"
#include "encoding/base64.h"
#include "platform/keys/hash.h"
#include "platform/keys/key_provider.h"
#include "platform/keys/sign_verify.h"
#include "platform/store/cert_context.h"

namespace quillmark::crypto {

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

    // A certificate without a key-provider property opens no container, and
    // the hash step fails for want of a provider.
    platform::KeyProvInfo info;
    platform::ProvHandle prov;
    const int property = ReadKeyProvInfo(*signer, &info);
    if (property == kErrNoProperty) return property;
    if (property == kOk) {
      if (int status = OpenKeyContainer(info, &prov); status != kOk) return status;
    }
    platform::HashHandle hash;
    if (int status = HashData(prov.get(), platform::CertOIDToAlgId(digest_oid), content, &hash,
                              platform_error);
        status != kOk) {
      return status;
    }
    Bytes signature;
    if (int status = SignHash(*hash, info.key_spec, &signature, platform_error); status != kOk) {
      return status;
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
    if (int status = HashData(prov.get(), platform::CertOIDToAlgId(digest_oid), plain, &hash,
                              platform_error);
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
