// Appending one Unicode code point as UTF-8 or as UTF-16.
//
// The callers decide what counts as a valid code point (surrogates,
// replacement characters); these only encode what they are given, which must
// be at most U+10FFFF.
#ifndef QUILLMARK_COMMON_UNICODE_H_
#define QUILLMARK_COMMON_UNICODE_H_

#include <string>

namespace quillmark {

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

}  // namespace quillmark

#endif  // QUILLMARK_COMMON_UNICODE_H_
