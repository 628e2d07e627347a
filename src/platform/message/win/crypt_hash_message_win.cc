// Windows: CryptHashMessage, asked only for the computed hash.
#include "platform/message/win/message_win.h"

namespace quillmark::platform {

namespace msg {

// Declared in message_win.h.
std::uint32_t DigestContent(const std::string& oid, ByteSpan content, Bytes* digest) {
  if (std::uint32_t e = CheckDigestOid(oid)) return e;
  DWORD content_length = 0;
  if (std::uint32_t e = SystemLength(content, &content_length)) return e;
  CRYPT_HASH_MESSAGE_PARA system_para = {};
  system_para.cbSize = sizeof(system_para);
  system_para.dwMsgEncodingType = kDefaultEncoding;
  system_para.hCryptProv = 0;
  system_para.HashAlgorithm.pszObjId = const_cast<char*>(oid.c_str());
  const BYTE* parts[] = {SystemPointer(content)};
  DWORD lengths[] = {content_length};
  // SHA-512 is the longest digest the system has. The hashed message's size
  // is asked for (and the message itself not): some implementations compute
  // nothing without that pointer.
  return FillBytes(64, false, digest, [&](BYTE* out, DWORD* size) {
    DWORD message_size = 0;
    return ::CryptHashMessage(&system_para, TRUE, 1, parts, lengths, nullptr, &message_size, out,
                              size) != FALSE;
  });
}

}  // namespace msg

bool CryptHashMessage(const CryptHashMessagePara& para, ByteSpan content, Bytes* computed_hash) {
  // An unknown encoding leaves |computed_hash| as it was.
  if (!msg::IsMessageEncoding(para.msg_encoding_type)) {
    return msg::Succeeded(kErrorInvalidParameter);
  }
  return msg::MakeInto(computed_hash, [&](Bytes* digest) {
    return msg::DigestContent(para.hash_algorithm_oid, content, digest);
  });
}

}  // namespace quillmark::platform
