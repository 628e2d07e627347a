#include "platform/os/utf16.h"

#include <cstdint>

#include "common/unicode.h"

namespace quillmark::platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at |*pos|; false (and one byte consumed) when the
// sequence is malformed.
bool NextUtf8(std::string_view in, size_t* pos, char32_t* c) {
  auto b = [&](size_t i) { return static_cast<std::uint8_t>(in[i]); };
  std::uint8_t lead = b(*pos);
  size_t need;
  char32_t value, min;
  if (lead < 0x80) {
    *c = lead;
    ++*pos;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    need = 1, value = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    need = 2, value = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    need = 3, value = lead & 0x07, min = 0x10000;
  } else {
    ++*pos;
    return false;
  }
  size_t i = *pos + 1;
  for (size_t k = 0; k < need; ++k, ++i) {
    if (i >= in.size() || (b(i) & 0xC0) != 0x80) {
      ++*pos;
      return false;
    }
    value = (value << 6) | (b(i) & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++*pos;
    return false;
  }
  *pos = i;
  *c = value;
  return true;
}

// Decodes one code point of UTF-16; false (one unit consumed) for a lone
// surrogate.
bool NextUtf16(std::u16string_view in, size_t* pos, char32_t* c) {
  char16_t u = in[(*pos)++];
  if (u < 0xD800 || u > 0xDFFF) {
    *c = u;
    return true;
  }
  if (u <= 0xDBFF && *pos < in.size() && in[*pos] >= 0xDC00 && in[*pos] <= 0xDFFF) {
    *c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (in[*pos] - 0xDC00);
    ++*pos;
    return true;
  }
  return false;
}

}  // namespace

bool Utf16ToUtf8(std::u16string_view in, std::string* out) {
  std::string result;
  result.reserve(in.size());
  for (size_t pos = 0; pos < in.size();) {
    char32_t c;
    if (!NextUtf16(in, &pos, &c)) return false;
    AppendUtf8(c, &result);
  }
  *out = std::move(result);
  return true;
}

bool Utf8ToUtf16(std::string_view in, std::u16string* out) {
  std::u16string result;
  result.reserve(in.size());
  for (size_t pos = 0; pos < in.size();) {
    char32_t c;
    if (!NextUtf8(in, &pos, &c)) return false;
    AppendUtf16(c, &result);
  }
  *out = std::move(result);
  return true;
}

std::string Utf16ToUtf8Lossy(std::u16string_view in) {
  std::string result;
  result.reserve(in.size());
  for (size_t pos = 0; pos < in.size();) {
    char32_t c;
    if (!NextUtf16(in, &pos, &c)) c = kReplacement;
    AppendUtf8(c, &result);
  }
  return result;
}

std::u16string Utf8ToUtf16Lossy(std::string_view in) {
  std::u16string result;
  result.reserve(in.size());
  for (size_t pos = 0; pos < in.size();) {
    char32_t c;
    if (!NextUtf8(in, &pos, &c)) c = kReplacement;
    AppendUtf16(c, &result);
  }
  return result;
}

}  // namespace quillmark::platform
