// Base64 text as it crosses the control's interface.
//
// Encoding uses the standard alphabet (A-Z a-z 0-9 + /, '=' for padding) and
// lays the text out in lines of 64 characters: a line feed follows every 64th
// character and the last line, so the text always ends in exactly one line
// feed (an empty input encodes to "\n"). There are no carriage returns.
//
// Decoding is lenient about layout and strict about the end of the text:
//   - every byte outside the 65 characters above is skipped wherever it stands
//     (line feeds, carriage returns, spaces, NUL, bytes above 0x7F, ...);
//   - the remaining characters are taken four at a time; a group padded as
//     "xx==" or "xxx=" adds its one or two bytes and ends decoding, and
//     everything after it is ignored;
//   - a group with '=' first or second, or "xx=y", is not an error: decoding
//     stops and the result is empty (the caller fails later on empty data);
//   - one to three characters left over at the end give kErrBase64Decode.
#ifndef QUILLMARK_ENCODING_BASE64_H_
#define QUILLMARK_ENCODING_BASE64_H_

#include <cstddef>

#include "common/bytes.h"

namespace quillmark::encoding {

// Exact length of the text Base64Encode produces for n input bytes, line
// feeds included. Returns SIZE_MAX when that length does not fit a size_t.
std::size_t Base64EncodedSize(std::size_t n);

// Replaces *out with the line-broken Base64 text of `in`. Returns 0, or
// kErrNoMemory with *out left untouched.
int Base64Encode(ByteSpan in, Bytes* out);

// Replaces *out with the bytes that `text` decodes to. Returns 0 (possibly
// with an empty result, see above), kErrBase64Decode for a trailing
// incomplete group, or kErrNoMemory; *out is empty after a failure.
int Base64Decode(ByteSpan text, Bytes* out);

}  // namespace quillmark::encoding

#endif  // QUILLMARK_ENCODING_BASE64_H_
