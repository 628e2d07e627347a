// Windows: CryptSignAndEncryptMessage and CryptDecryptAndVerifyMessageSignature,
// the system's nested message (an envelope of the DER SignedData).
#include "platform/message/win/message_win.h"
#include "platform/os/effect_audit.h"
#include "platform/store/win/cert_context_win.h"

namespace quillmark::platform {

namespace {

// Room for the signer info and embedded certificates, and the envelope's
// recipient infos and padding, beyond the content.
constexpr std::size_t kNestedOverhead = 16384;

}  // namespace

bool CryptSignAndEncryptMessage(const CryptSignMessagePara& sign_para,
                                const CryptEncryptMessagePara& encrypt_para,
                                std::span<const CertContextPtr> recipients, ByteSpan content,
                                Bytes* blob) {
  return msg::MakeInto(blob, [&](Bytes* der) -> std::uint32_t {
    if (!msg::IsMessageEncoding(sign_para.msg_encoding_type) || sign_para.signing_cert == nullptr) {
      return kErrorInvalidParameter;
    }
    PCCERT_CONTEXT signer = CertContextHandle(*sign_para.signing_cert);
    if (signer == nullptr) return kErrorInvalidParameter;
    std::vector<PCCERT_CONTEXT> certs;
    if (std::uint32_t e = msg::SystemContexts(sign_para.msg_certs, &certs)) return e;
    CryptEncryptMessagePara inner = encrypt_para;
    inner.inner_content_type = kCmsgSigned;
    msg::SystemEncryptPara encrypt;
    if (std::uint32_t e = msg::MakeSystemEncryptPara(inner, recipients, &encrypt)) return e;
    if (std::uint32_t e = msg::CheckDigestOid(sign_para.hash_algorithm_oid)) return e;
    DWORD content_length = 0;
    if (std::uint32_t e = msg::SystemLength(content, &content_length)) return e;

    CRYPT_SIGN_MESSAGE_PARA sign = {};
    sign.cbSize = sizeof(sign);
    sign.dwMsgEncodingType = sign_para.msg_encoding_type;
    sign.pSigningCert = signer;
    sign.HashAlgorithm.pszObjId = const_cast<char*>(sign_para.hash_algorithm_oid.c_str());
    sign.cMsgCert = static_cast<DWORD>(certs.size());
    sign.rgpMsgCert = certs.empty() ? nullptr : certs.data();

    if (std::uint32_t e = msg::ConfirmSigning(sign_para.signing_cert, content)) return e;

    std::size_t guess = kNestedOverhead + content.size();
    for (PCCERT_CONTEXT cert : certs) guess += cert->cbCertEncoded;
    // As for a signature alone: one call, so the key signs once.
    NoteEffect(Effect::kKeyUse);
    return msg::FillBytes(guess, /*signing=*/true, der, [&](BYTE* out, DWORD* size) {
      return ::CryptSignAndEncryptMessage(&sign, &encrypt.para,
                                          static_cast<DWORD>(encrypt.recipients.size()),
                                          encrypt.recipients.data(), msg::SystemPointer(content),
                                          content_length, out, size) != FALSE;
    });
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
  if (!msg::IsMessageEncoding(verify_para.msg_and_cert_encoding_type)) {
    return msg::Succeeded(kErrorInvalidParameter);
  }
  return msg::CheckAndOpen(decrypt_para.msg_and_cert_encoding_type, blob, [&]() -> std::uint32_t {
    msg::SystemDecryptPara decrypt;
    if (std::uint32_t e = msg::MakeSystemDecryptPara(decrypt_para, &decrypt)) return e;
    if (std::uint32_t e = msg::ConfirmOpening(decrypt, blob)) return e;
    CRYPT_VERIFY_MESSAGE_PARA verify = msg::SystemVerifyPara(verify_para);
    msg::SystemCert exchange_cert, signer_cert;
    Bytes out;
    NoteEffect(Effect::kKeyUse);
    if (std::uint32_t e = msg::FillBytes(blob.size(), false, &out, [&](BYTE* buffer, DWORD* size) {
          return ::CryptDecryptAndVerifyMessageSignature(
                     &decrypt.para, &verify, signer_index, blob.data(),
                     static_cast<DWORD>(blob.size()), buffer, size, exchange_cert.out(),
                     signer_cert.out()) != FALSE;
        })) {
      return e;
    }
    CertContextPtr recipient, signed_by;
    if (std::uint32_t e =
            msg::WrapInto(exchange_cert, msg::RecipientStoreName(decrypt_para, exchange_cert.get()),
                          &recipient)) {
      return e;
    }
    if (std::uint32_t e = msg::WrapInto(signer_cert, std::string(), &signed_by)) return e;
    if (content != nullptr) *content = std::move(out);
    if (recipient_cert != nullptr) *recipient_cert = std::move(recipient);
    if (signer != nullptr) *signer = std::move(signed_by);
    return 0;
  });
}

}  // namespace quillmark::platform
