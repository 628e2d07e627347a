#include "crypto/message_text.h"

#include <cstdint>
#include <new>
#include <utility>

#include "common/status.h"
#include "encoding/base64.h"
#include "encoding/compress_frame.h"

namespace quillmark::crypto {

int EncodeMessageText(Bytes message, bool compress, int threshold, Bytes* text) {
  if (text == nullptr) return kErrEmptyInput;
  if (compress) encoding::CompressFrame(&message, threshold);
  if (encoding::Base64EncodedSize(message.size()) == SIZE_MAX) return kErrBase64Encode;
  return encoding::Base64Encode(message, text);
}

int DecodeMessageText(ByteSpan text, bool expand, Bytes* message) {
  if (message == nullptr) return kErrEmptyInput;
  if (int status = encoding::Base64Decode(text, message); status != kOk) {
    message->clear();
    return status;
  }
  if (expand) encoding::ExpandFrame(message, encoding::kMaxExpandedMessage);
  return kOk;
}

}  // namespace quillmark::crypto
