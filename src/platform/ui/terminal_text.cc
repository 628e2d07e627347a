#include "platform/ui/terminal_text.h"

#include "common/unicode.h"

namespace quillmark::platform::ui {

namespace {

constexpr char kHex[] = "0123456789abcdef";

bool IsFormatControl(char32_t c) {
  return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
}

void AppendHex(std::string* out, char32_t c, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    out->push_back(kHex[(c >> shift) & 0xF]);
  }
}

}  // namespace

std::string TerminalVisibleText(std::u16string_view text, bool lines) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c;
    if (!DecodeUtf16(text, &i, &c)) c = kReplacementCharacter;
    if (lines && (c == u'\n' || (c == u'\r' && i < text.size() && text[i] == u'\n'))) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20 || c == 0x7F) {
      out.push_back('^');
      out.push_back(c == 0x7F ? '?' : static_cast<char>(c + 0x40));
    } else if (c >= 0x80 && c <= 0x9F) {
      out += "\\x";
      AppendHex(&out, c, 2);
    } else if (IsFormatControl(c)) {
      out += "\\u";
      AppendHex(&out, c, 4);
    } else {
      AppendUtf8(c, &out);
    }
  }
  return out;
}

}  // namespace quillmark::platform::ui
