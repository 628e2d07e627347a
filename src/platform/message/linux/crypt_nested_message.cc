// CryptSignAndEncryptMessage and CryptDecryptAndVerifyMessageSignature: a
// SignedData enveloped whole, and the reverse.
#include <new>

#include "platform/message/message_internal.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

bool CryptSignAndEncryptMessage(const CryptSignMessagePara& sign_para,
                                const CryptEncryptMessagePara& encrypt_para,
                                std::span<const CertContextPtr> recipients, ByteSpan content,
                                Bytes* blob) {
  return msg::MakeInto(blob, [&](Bytes* der) -> std::uint32_t {
    CryptEncryptMessagePara inner = encrypt_para;
    inner.inner_content_type = kCmsgSigned;
    Bytes signed_der;
    if (std::uint32_t e = msg::SignToDer(sign_para, false, content, &signed_der)) return e;
    return msg::EnvelopeToDer(inner, recipients, signed_der, der);
  });
}

bool CryptDecryptAndVerifyMessageSignature(const CryptDecryptMessagePara& decrypt_para,
                                           const CryptVerifyMessagePara& verify_para,
                                           std::uint32_t signer_index, ByteSpan blob,
                                           Bytes* content, CertContextPtr* recipient_cert,
                                           CertContextPtr* signer) {
  if (content != nullptr) content->clear();
  if (recipient_cert != nullptr) recipient_cert->reset();
  if (signer != nullptr) signer->reset();
  if (!msg::IsMessageEncoding(decrypt_para.msg_and_cert_encoding_type) ||
      !msg::IsMessageEncoding(verify_para.msg_and_cert_encoding_type)) {
    return msg::Succeeded(kErrorInvalidParameter);
  }
  try {
    ossl::Pkcs7Ptr envelope, inner;
    Bytes signed_der, out;
    CertContextPtr recipient, signer_cert;
    if (!msg::Succeeded(msg::DecodeMessage(blob, &envelope)) ||
        !msg::Succeeded(msg::OpenDecoded(decrypt_para, envelope.get(), &signed_der, &recipient)) ||
        !msg::Succeeded(msg::DecodeMessage(signed_der, &inner)) ||
        !msg::Succeeded(msg::VerifyDecoded(inner.get(), signer_index, nullptr,
                                           content != nullptr ? &out : nullptr, &signer_cert))) {
      return false;
    }
    if (content != nullptr) *content = std::move(out);
    if (recipient_cert != nullptr) *recipient_cert = std::move(recipient);
    if (signer != nullptr) *signer = std::move(signer_cert);
    return true;
  } catch (const std::bad_alloc&) {
    return msg::Succeeded(kErrorNotEnoughMemory);
  }
}

}  // namespace quillmark::platform
