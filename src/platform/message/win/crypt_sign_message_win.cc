// Windows: CryptSignMessage. The system signs with the key its
// CERT_KEY_PROV_INFO_PROP_ID names and writes no authenticated attributes
// unless asked to, so the message is what the Linux backend makes.
#include "platform/message/win/message_win.h"
#include "platform/os/effect_audit.h"
#include "platform/store/win/cert_context_win.h"

namespace quillmark::platform {

namespace msg {
namespace {

// Room for the signer info and the embedded certificates beyond their DER.
constexpr std::size_t kSignedDataOverhead = 8192;

// Signs |content| into |der| (attached or detached).
std::uint32_t SignToDer(const CryptSignMessagePara& para, bool detached, ByteSpan content,
                        Bytes* der) {
  if (!IsMessageEncoding(para.msg_encoding_type) || para.signing_cert == nullptr) {
    return kErrorInvalidParameter;
  }
  PCCERT_CONTEXT signer = CertContextHandle(*para.signing_cert);
  if (signer == nullptr) return kErrorInvalidParameter;
  std::vector<PCCERT_CONTEXT> certs;
  if (std::uint32_t e = SystemContexts(para.msg_certs, &certs)) return e;
  if (std::uint32_t e = CheckDigestOid(para.hash_algorithm_oid)) return e;
  DWORD content_length = 0;
  if (std::uint32_t e = SystemLength(content, &content_length)) return e;

  CRYPT_SIGN_MESSAGE_PARA system_para = {};
  system_para.cbSize = sizeof(system_para);
  system_para.dwMsgEncodingType = para.msg_encoding_type;
  system_para.pSigningCert = signer;
  system_para.HashAlgorithm.pszObjId = const_cast<char*>(para.hash_algorithm_oid.c_str());
  system_para.cMsgCert = static_cast<DWORD>(certs.size());
  system_para.rgpMsgCert = certs.empty() ? nullptr : certs.data();

  if (std::uint32_t e = ConfirmSigning(para.signing_cert, content)) return e;

  std::size_t guess = kSignedDataOverhead + (detached ? 0 : content.size());
  for (PCCERT_CONTEXT cert : certs) guess += cert->cbCertEncoded;
  const BYTE* parts[] = {SystemPointer(content)};
  DWORD lengths[] = {content_length};
  // One signature per call: a guess large enough for the message spares the
  // size call, which would sign (and ask a token for its PIN) once more.
  NoteEffect(Effect::kKeyUse);
  return FillBytes(guess, /*signing=*/true, der, [&](BYTE* out, DWORD* size) {
    return ::CryptSignMessage(&system_para, detached ? TRUE : FALSE, 1, parts, lengths, out,
                              size) != FALSE;
  });
}

}  // namespace
}  // namespace msg

bool CryptSignMessage(const CryptSignMessagePara& para, bool detached, ByteSpan content,
                      Bytes* signed_blob) {
  return msg::MakeInto(signed_blob,
                       [&](Bytes* der) { return msg::SignToDer(para, detached, content, der); });
}

}  // namespace quillmark::platform
