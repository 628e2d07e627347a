#include "crypto/signed_envelope.h"

#include <new>
#include <span>
#include <string>
#include <utility>

#include "certs/verify_chain.h"
#include "common/status.h"
#include "crypto/field_texts.h"
#include "crypto/message_errors.h"
#include "crypto/message_text.h"
#include "crypto/recipient_selection.h"
#include "crypto/signer_selection.h"
#include "platform/message/message.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_store.h"

namespace quillmark::crypto {

int SignAndEncryptEnvelope(ByteSpan content, bool server_mode, std::u16string_view signer_dn,
                           std::u16string_view recipient_dn, std::u16string_view separator,
                           Bytes* text, certs::CertInfoSet* signer_info,
                           certs::CertInfoSet* recipient_info, std::string_view digest_oid,
                           std::string_view symmetric_oid, bool key_spec,
                           const certs::ChooserTexts& texts, std::uint32_t* platform_error) {
  if (text == nullptr) return kErrEmptyInput;
  try {
    RecipientStores others;
    if (int status = OpenRecipientStores(&others); status != kOk) return status;
    platform::CertStore my;
    if (int status = OpenUserStore(kMyStoreName, &my); status != kOk) return status;

    platform::CertContextPtr signer, recipient;
    if (int status = SelectSigner(my, server_mode, signer_dn, separator, key_spec, texts, &signer);
        status != kOk) {
      return status;
    }
    if (int status =
            SelectRecipient(others, server_mode, recipient_dn, separator, texts, &recipient);
        status != kOk) {
      return status;
    }

    platform::CryptSignMessagePara sign_para;
    sign_para.signing_cert = signer;
    sign_para.hash_algorithm_oid = std::string(digest_oid);
    sign_para.msg_certs = {signer};
    platform::CryptEncryptMessagePara encrypt_para;
    encrypt_para.content_encryption_oid = std::string(symmetric_oid);
    Bytes blob;
    if (!platform::CryptSignAndEncryptMessage(
            sign_para, encrypt_para, std::span<const platform::CertContextPtr>(&recipient, 1),
            content, &blob)) {
      std::uint32_t error = platform::GetLastError();
      if (platform_error != nullptr) *platform_error = error;
      return MapMessageError(error, MessageCall::kEncrypt);
    }
    Bytes encoded;
    if (int status = EncodeMessageText(std::move(blob), /*compress=*/false, 0, &encoded);
        status != kOk) {
      return status;
    }
    ReturnFieldTexts(signer, signer_info);
    ReturnFieldTexts(recipient, recipient_info);
    *text = std::move(encoded);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

int DecryptAndVerifyEnvelope(ByteSpan text, Bytes* content, certs::CertInfoSet* signer_info,
                             certs::CertInfoSet* recipient_info, std::uint32_t* platform_error) {
  if (content == nullptr) return kErrEmptyInput;
  try {
    Bytes blob;
    if (int status = DecodeMessageText(text, /*expand=*/false, &blob); status != kOk) {
      return status;
    }
    platform::CertStore my;
    if (int status = OpenUserStore(kMyStoreName, &my); status != kOk) return status;

    platform::CryptDecryptMessagePara decrypt_para;
    decrypt_para.cert_stores = std::span<const platform::CertStore>(&my, 1);
    platform::CryptVerifyMessagePara verify_para;
    Bytes opened;
    platform::CertContextPtr recipient, signer;
    if (!platform::CryptDecryptAndVerifyMessageSignature(decrypt_para, verify_para,
                                                         /*signer_index=*/0, blob, &opened,
                                                         &recipient, &signer)) {
      std::uint32_t error = platform::GetLastError();
      if (platform_error != nullptr) *platform_error = error;
      return MapMessageError(error, MessageCall::kDecrypt);
    }
    if (signer == nullptr) return kErrSignerNoSubject;
    if (int status = certs::VerifyCertificateChain(signer, certs::kMaskAll); status != kOk) {
      return status;
    }
    ReturnFieldTexts(signer, signer_info);
    ReturnFieldTexts(recipient, recipient_info);
    *content = std::move(opened);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

}  // namespace quillmark::crypto
