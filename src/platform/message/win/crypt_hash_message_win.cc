// Windows: CryptHashMessage, asked only for the computed hash.
#include "platform/message/win/message_win.h"

namespace quillmark::platform {

bool CryptHashMessage(const CryptHashMessagePara& para, ByteSpan content, Bytes* computed_hash) {
  // An unknown encoding leaves |computed_hash| as it was.
  if (!msg::IsMessageEncoding(para.msg_encoding_type)) {
    return msg::Succeeded(kErrorInvalidParameter);
  }
  return msg::MakeInto(computed_hash, [&](Bytes* digest) -> std::uint32_t {
    if (std::uint32_t e = msg::CheckDigestOid(para.hash_algorithm_oid)) return e;
    DWORD content_length = 0;
    if (std::uint32_t e = msg::SystemLength(content, &content_length)) return e;
    CRYPT_HASH_MESSAGE_PARA system_para = {};
    system_para.cbSize = sizeof(system_para);
    system_para.dwMsgEncodingType = para.msg_encoding_type;
    system_para.hCryptProv = 0;
    system_para.HashAlgorithm.pszObjId = const_cast<char*>(para.hash_algorithm_oid.c_str());
    const BYTE* parts[] = {msg::SystemPointer(content)};
    DWORD lengths[] = {content_length};
    // SHA-512 is the longest digest the system has. The hashed message's
    // size is asked for (and the message itself not): some implementations
    // compute nothing without that pointer.
    return msg::FillBytes(64, false, digest, [&](BYTE* out, DWORD* size) {
      DWORD message_size = 0;
      return ::CryptHashMessage(&system_para, TRUE, 1, parts, lengths, nullptr, &message_size, out,
                                size) != FALSE;
    });
  });
}

}  // namespace quillmark::platform
