#include "common/unicode.h"

#include <cstdint>

namespace quillmark {

bool DecodeUtf8(std::string_view in, std::size_t* pos, char32_t* c) {
  auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(in[i]); };
  const std::uint8_t lead = byte(*pos);
  std::size_t need;
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
  std::size_t i = *pos + 1;
  for (std::size_t k = 0; k < need; ++k, ++i) {
    if (i >= in.size() || (byte(i) & 0xC0) != 0x80) {
      ++*pos;
      return false;
    }
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++*pos;
    return false;
  }
  *pos = i;
  *c = value;
  return true;
}

bool DecodeUtf16(std::u16string_view in, std::size_t* pos, char32_t* c) {
  const char16_t u = in[(*pos)++];
  if (!IsHighSurrogate(u) && !IsLowSurrogate(u)) {
    *c = u;
    return true;
  }
  if (IsHighSurrogate(u) && *pos < in.size() && IsLowSurrogate(in[*pos])) {
    *c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (in[*pos] - 0xDC00);
    ++*pos;
    return true;
  }
  return false;
}

bool Utf16ToUtf8(std::u16string_view in, std::string* out) {
  std::string result;
  result.reserve(in.size());
  for (std::size_t pos = 0; pos < in.size();) {
    char32_t c;
    if (!DecodeUtf16(in, &pos, &c)) return false;
    AppendUtf8(c, &result);
  }
  *out = std::move(result);
  return true;
}

bool Utf8ToUtf16(std::string_view in, std::u16string* out) {
  std::u16string result;
  result.reserve(in.size());
  for (std::size_t pos = 0; pos < in.size();) {
    char32_t c;
    if (!DecodeUtf8(in, &pos, &c)) return false;
    AppendUtf16(c, &result);
  }
  *out = std::move(result);
  return true;
}

std::string Utf16ToUtf8Lossy(std::u16string_view in) {
  std::string result;
  result.reserve(in.size());
  for (std::size_t pos = 0; pos < in.size();) {
    char32_t c;
    if (!DecodeUtf16(in, &pos, &c)) c = kReplacementCharacter;
    AppendUtf8(c, &result);
  }
  return result;
}

std::u16string Utf8ToUtf16Lossy(std::string_view in) {
  std::u16string result;
  result.reserve(in.size());
  for (std::size_t pos = 0; pos < in.size();) {
    char32_t c;
    if (!DecodeUtf8(in, &pos, &c)) c = kReplacementCharacter;
    AppendUtf16(c, &result);
  }
  return result;
}

}  // namespace quillmark
