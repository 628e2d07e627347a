#include "crypto/digest.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "common/status.h"
#include "encoding/base64.h"
#include "platform/message/message.h"

namespace quillmark::crypto {

namespace {

// The capacity answered for |n| content bytes.
std::size_t CapacityFor(std::size_t n) {
  constexpr std::size_t kSlack = 80;
  std::size_t answer = n > SIZE_MAX - kSlack ? SIZE_MAX : n + kSlack;
  return std::max(answer, encoding::Base64EncodedSize(kMaxDigestSize));
}

}  // namespace

Status DigestAndEncode(ByteSpan content, std::uint8_t* output, std::size_t* output_length,
                       std::string_view digest_oid) {
  if (output_length == nullptr) return kErrEmptyInput;
  if (output == nullptr) {
    *output_length = CapacityFor(content.size());
    return kOk;
  }
  try {
    platform::CryptHashMessagePara para;
    para.hash_algorithm_oid = std::string(digest_oid);
    Bytes digest;
    if (!platform::CryptHashMessage(para, content, &digest)) return kErrDecryptFailed;
    Bytes text;
    if (int status = encoding::Base64Encode(digest, &text); status != kOk) return status;
    if (text.size() > *output_length) return kErrBase64Encode;
    std::memcpy(output, text.data(), text.size());
    *output_length = text.size();
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

}  // namespace quillmark::crypto
