#include "common/visible_text.h"

#include <array>

#include "common/unicode.h"

namespace quillmark {

namespace {

constexpr char16_t kEscapeOpen = u'\u27E6';   // ⟦
constexpr char16_t kEscapeClose = u'\u27E7';  // ⟧

struct Range {
  char32_t first;
  char32_t last;
};

// Format characters (Cf), bidi controls, invisible fillers and separators.
constexpr std::array<Range, 30> kHiddenRanges{{
    {0x00AD, 0x00AD},  // soft hyphen
    {0x034F, 0x034F},  // combining grapheme joiner
    {0x061C, 0x061C},  // Arabic letter mark
    {0x0600, 0x0605},  // Arabic number signs
    {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},
    {0x115F, 0x1160},  // Hangul fillers
    {0x17B4, 0x17B5},  // invisible Khmer vowels
    {0x180B, 0x180F},  // Mongolian variation selectors and vowel separator
    {0x200B, 0x200F},  // zero-width space, joiners, LRM, RLM
    {0x2028, 0x202E},  // line and paragraph separators, embeddings, overrides
    {0x2060, 0x2064},  // word joiner, invisible operators
    {0x2066, 0x206F},  // isolates, deprecated format characters
    {0x3164, 0x3164},  // Hangul filler
    {0xFE00, 0xFE0F},  // variation selectors
    {0xFEFF, 0xFEFF},  // zero-width no-break space
    {0xFFA0, 0xFFA0},  // halfwidth Hangul filler
    {0xFFF9, 0xFFFB},  // interlinear annotation
    {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},  // tags and variation selectors supplement
    {0xD800, 0xDFFF},                        // surrogates, only ever seen unpaired
    {0x0000, 0x0008},                        // C0 controls but tab and line feed
    {0x000B, 0x001F},   {0x007F, 0x009F},    // DEL and C1
}};

void AppendEscape(char32_t c, std::u16string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out->push_back(kEscapeOpen);
  out->append(u"U+");
  int digits = c > 0xFFFFF ? 6 : c > 0xFFFF ? 5 : 4;
  for (int i = digits - 1; i >= 0; --i) out->push_back(kHex[(c >> (4 * i)) & 0xF]);
  out->push_back(kEscapeClose);
}

}  // namespace

bool IsHiddenCharacter(char32_t c) {
  for (const Range& r : kHiddenRanges) {
    if (c >= r.first && c <= r.last) return true;
  }
  return false;
}

VisibleText MakeVisible(std::u16string_view text) {
  VisibleText out;
  out.text.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = pos;
    char32_t c = 0;
    if (!DecodeUtf16(text, &pos, &c)) c = text[start];  // a lone surrogate
    if (c == u'\r' && pos < text.size() && text[pos] == u'\n') {
      out.text.append(u"\r\n");
      ++pos;
    } else if (c == kEscapeOpen) {
      AppendEscape(c, &out.text);
    } else if (IsHiddenCharacter(c)) {
      AppendEscape(c, &out.text);
      ++out.hidden_count;
    } else {
      out.text.append(text.substr(start, pos - start));
    }
  }
  return out;
}

}  // namespace quillmark
