// Windows: CryptVerifyMessageSignature and CryptVerifyDetachedMessageSignature
// with the system's default signer lookup (the certificate the message
// carries) and the default provider.
#include "platform/message/win/message_win.h"
#include "platform/store/win/cert_context_win.h"

namespace quillmark::platform {

namespace msg {

// Declared in message_win.h.
CRYPT_VERIFY_MESSAGE_PARA SystemVerifyPara(const CryptVerifyMessagePara& para) {
  CRYPT_VERIFY_MESSAGE_PARA system_para = {};
  system_para.cbSize = sizeof(system_para);
  system_para.dwMsgAndCertEncodingType = para.msg_and_cert_encoding_type;
  system_para.hCryptProv = 0;
  system_para.pfnGetSignerCertificate = nullptr;  // the certificate in the message
  return system_para;
}

}  // namespace msg

bool CryptVerifyMessageSignature(const CryptVerifyMessagePara& para, std::uint32_t signer_index,
                                 ByteSpan signed_blob, Bytes* content, CertContextPtr* signer) {
  if (content != nullptr) content->clear();
  if (signer != nullptr) signer->reset();
  return msg::CheckAndOpen(para.msg_and_cert_encoding_type, signed_blob, [&]() -> std::uint32_t {
    CRYPT_VERIFY_MESSAGE_PARA system_para = msg::SystemVerifyPara(para);
    msg::SystemCert cert;
    Bytes out;
    // The content is never longer than the message that holds it, so one
    // call verifies and copies it out.
    const std::size_t room = content != nullptr ? signed_blob.size() : 0;
    if (std::uint32_t e = msg::FillBytes(room, false, &out, [&](BYTE* buffer, DWORD* size) {
          return ::CryptVerifyMessageSignature(
                     &system_para, signer_index, signed_blob.data(),
                     static_cast<DWORD>(signed_blob.size()), content != nullptr ? buffer : nullptr,
                     content != nullptr ? size : nullptr, cert.out()) != FALSE;
        })) {
      return e;
    }
    CertContextPtr wrapped;
    if (std::uint32_t e = msg::WrapInto(cert, std::string(), &wrapped)) return e;
    if (content != nullptr) *content = std::move(out);
    if (signer != nullptr) *signer = std::move(wrapped);
    return 0;
  });
}

bool CryptVerifyDetachedMessageSignature(const CryptVerifyMessagePara& para,
                                         std::uint32_t signer_index, ByteSpan signature_blob,
                                         ByteSpan content, CertContextPtr* signer) {
  if (signer != nullptr) signer->reset();
  return msg::CheckAndOpen(para.msg_and_cert_encoding_type, signature_blob, [&]() -> std::uint32_t {
    DWORD content_length = 0;
    if (std::uint32_t e = msg::SystemLength(content, &content_length)) return e;
    CRYPT_VERIFY_MESSAGE_PARA system_para = msg::SystemVerifyPara(para);
    const BYTE* parts[] = {msg::SystemPointer(content)};
    DWORD lengths[] = {content_length};
    msg::SystemCert cert;
    if (!::CryptVerifyDetachedMessageSignature(&system_para, signer_index, signature_blob.data(),
                                               static_cast<DWORD>(signature_blob.size()), 1, parts,
                                               lengths, cert.out())) {
      return msg::SystemFailure();
    }
    return msg::WrapInto(cert, std::string(), signer);
  });
}

}  // namespace quillmark::platform
