// CryptHashMessage: the digest of the content; no message is made.
#include <new>

#include "platform/message/message_internal.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

bool CryptHashMessage(const CryptHashMessagePara& para, ByteSpan content, Bytes* computed_hash) {
  // An unknown encoding leaves |computed_hash| as it was.
  if (!msg::IsMessageEncoding(para.msg_encoding_type)) {
    return msg::Succeeded(kErrorInvalidParameter);
  }
  return msg::MakeInto(computed_hash, [&](Bytes* digest) {
    return msg::DigestData(para.hash_algorithm_oid, content, digest);
  });
}

}  // namespace quillmark::platform
