// CryptHashMessage: the digest of the content; no message is made.
#include <new>

#include "platform/message/message_internal.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

bool CryptHashMessage(const CryptHashMessagePara& para, ByteSpan content, Bytes* computed_hash) {
  if (computed_hash == nullptr || !msg::IsMessageEncoding(para.msg_encoding_type)) {
    return msg::Succeeded(kErrorInvalidParameter);
  }
  computed_hash->clear();
  try {
    Bytes digest;
    if (!msg::Succeeded(msg::DigestData(para.hash_algorithm_oid, content, &digest))) return false;
    *computed_hash = std::move(digest);
    return true;
  } catch (const std::bad_alloc&) {
    return msg::Succeeded(kErrorNotEnoughMemory);
  }
}

}  // namespace quillmark::platform
