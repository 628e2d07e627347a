// Messages as they travel to and from the page: DER (or its compression
// frame) inside line-wrapped Base64 text.
//
// EncodeMessageText is the last step of every operation that makes a
// message: an attached signature at or above the compression threshold
// becomes a compression frame first (declining or failing to compress is not
// an error: the plain DER goes on), then the bytes are Base64-encoded with a
// line feed after every 64 characters. DecodeMessageText is the first step of
// every operation that opens one: Base64 decoding, then, for signatures, the
// expansion of a compression frame (bytes that are not a complete, correct
// frame pass unchanged).
//
//   Bytes text;
//   int status = EncodeMessageText(std::move(der), /*compress=*/!detached, max_comp_size, &text);
//   ...
//   Bytes message;
//   status = DecodeMessageText(base64_text, /*expand=*/true, &message);
#ifndef QUILLMARK_CRYPTO_MESSAGE_TEXT_H_
#define QUILLMARK_CRYPTO_MESSAGE_TEXT_H_

#include "common/bytes.h"

namespace quillmark::crypto {

// Replaces *text with the Base64 text of |message|, compressed first when
// |compress| is set and |message| holds at least |threshold| bytes. Returns 0,
// kErrBase64Encode or kErrNoMemory; *text is untouched by a failure.
int EncodeMessageText(Bytes message, bool compress, int threshold, Bytes* text);

// Replaces *message with the bytes |text| decodes to, expanded when |expand|
// is set and they form a compression frame. Returns 0, kErrBase64Decode or
// kErrNoMemory; *message is empty after a failure.
int DecodeMessageText(ByteSpan text, bool expand, Bytes* message);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_MESSAGE_TEXT_H_
