// Hexadecimal digits: reading one and writing bytes as two each.
#ifndef QUILLMARK_COMMON_HEX_H_
#define QUILLMARK_COMMON_HEX_H_

#include <cstdint>

#include "common/bytes.h"

namespace quillmark {

inline constexpr char kHexDigitsUpper[] = "0123456789ABCDEF";
inline constexpr char kHexDigitsLower[] = "0123456789abcdef";

// The value of one hexadecimal digit of either case (of any character type),
// or -1 when |c| is not one.
constexpr int HexDigitValue(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

// Appends two digits per byte, no separators, to any string type.
template <typename String>
void AppendHex(ByteSpan bytes, const char (&digits)[17], String* out) {
  using Char = typename String::value_type;
  for (std::uint8_t b : bytes) {
    out->push_back(static_cast<Char>(digits[b >> 4]));
    out->push_back(static_cast<Char>(digits[b & 0x0F]));
  }
}

template <typename String>
void AppendHexUpper(ByteSpan bytes, String* out) {
  AppendHex(bytes, kHexDigitsUpper, out);
}

template <typename String>
void AppendHexLower(ByteSpan bytes, String* out) {
  AppendHex(bytes, kHexDigitsLower, out);
}

}  // namespace quillmark

#endif  // QUILLMARK_COMMON_HEX_H_
