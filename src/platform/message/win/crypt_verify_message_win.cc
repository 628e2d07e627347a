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

namespace {

constexpr std::uint32_t kCryptEInvalidIndex = 0x80091008;  // CRYPT_E_INVALID_INDEX

// |error| of a failed verify call, made exact. Systems differ in what they
// say for a signer index past the last signer (an invalid index, an
// unexpected message type); a signed message with fewer signers says
// kCryptENoSigner here.
std::uint32_t VerifyFailure(std::uint32_t error, std::uint32_t encoding, ByteSpan blob,
                            std::uint32_t signer_index) {
  if (error != kCryptEUnexpectedMsgType && error != kCryptEInvalidIndex) return error;
  const LONG signers =
      ::CryptGetMessageSignerCount(encoding, blob.data(), static_cast<DWORD>(blob.size()));
  if (signers >= 0 && signer_index >= static_cast<std::uint32_t>(signers)) return kCryptENoSigner;
  return error;
}

}  // namespace

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
    // call verifies and copies it out. The content is asked for even when
    // the caller does not want it: some implementations fail without it.
    if (std::uint32_t e =
            msg::FillBytes(signed_blob.size(), false, &out, [&](BYTE* buffer, DWORD* size) {
              return ::CryptVerifyMessageSignature(&system_para, signer_index, signed_blob.data(),
                                                   static_cast<DWORD>(signed_blob.size()), buffer,
                                                   size, cert.out()) != FALSE;
            })) {
      return msg::VerifyFailure(e, para.msg_and_cert_encoding_type, signed_blob, signer_index);
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
      return msg::VerifyFailure(msg::SystemFailure(), para.msg_and_cert_encoding_type,
                                signature_blob, signer_index);
    }
    return msg::WrapInto(cert, std::string(), signer);
  });
}

}  // namespace quillmark::platform
