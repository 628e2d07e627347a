// Unicode code points in and out of UTF-8 and UTF-16.
//
// The decoders take one code point at a time and leave the policy for bad
// input to the caller (fail, U+FFFD, '?', an escape); the whole-string
// converters below are the two policies most callers want. The encoders only
// encode what they are given, which must be at most U+10FFFF.
#ifndef QUILLMARK_COMMON_UNICODE_H_
#define QUILLMARK_COMMON_UNICODE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quillmark {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

inline constexpr bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline constexpr bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Decodes the well-formed UTF-8 sequence at |*pos| (no overlong forms, no
// encoded surrogates, nothing above U+10FFFF) and moves past it. On a
// malformed or cut-off sequence returns false and moves past one byte.
bool DecodeUtf8(std::string_view in, std::size_t* pos, char32_t* c);

// Decodes one code unit or surrogate pair at |*pos| and moves past it. On a
// lone surrogate returns false and moves past that one unit.
bool DecodeUtf16(std::u16string_view in, std::size_t* pos, char32_t* c);

// Appends |c| as 1 to 4 UTF-8 bytes to any container of char or uint8_t.
template <typename ByteContainer>
void AppendUtf8(char32_t c, ByteContainer* out) {
  using Byte = typename ByteContainer::value_type;
  if (c < 0x80) {
    out->push_back(static_cast<Byte>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<Byte>(0xC0 | (c >> 6)));
    out->push_back(static_cast<Byte>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<Byte>(0xE0 | (c >> 12)));
    out->push_back(static_cast<Byte>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<Byte>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<Byte>(0xF0 | (c >> 18)));
    out->push_back(static_cast<Byte>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<Byte>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<Byte>(0x80 | (c & 0x3F)));
  }
}

// Appends |c| as one UTF-16 unit, or as a surrogate pair above U+FFFF.
inline void AppendUtf16(char32_t c, std::u16string* out) {
  if (c < 0x10000) {
    out->push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

// Strict: false on a lone surrogate (|out| is left unchanged).
bool Utf16ToUtf8(std::u16string_view in, std::string* out);
// Strict: false on malformed UTF-8, overlong forms or encoded surrogates.
bool Utf8ToUtf16(std::string_view in, std::u16string* out);

// Lossy: each malformed byte or lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8Lossy(std::u16string_view in);
std::u16string Utf8ToUtf16Lossy(std::string_view in);

}  // namespace quillmark

#endif  // QUILLMARK_COMMON_UNICODE_H_
