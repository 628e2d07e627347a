// Text shown to a person who must read all of it: every character that is
// invisible or changes how the text around it is laid out becomes a visible
// marked escape, so what is on the screen is what the text holds.
//
//   VisibleText v = MakeVisible(u"Pay \u202E00.001 CNY");
//   // v.text == u"Pay ⟦U+202E⟧00.001 CNY", v.hidden_count == 1
//
// Escaped and counted: bidi embeddings, overrides, isolates and marks; the
// zero-width and other format characters (general category Cf) and the
// invisible fillers; C0 and C1 controls other than tab, line feed and a
// carriage return that ends a line (CR LF); U+2028 and U+2029; unpaired
// surrogates. The escape's own opening bracket "⟦" is escaped as well (not
// counted), so every "⟦" in the result starts an escape.
#ifndef QUILLMARK_COMMON_VISIBLE_TEXT_H_
#define QUILLMARK_COMMON_VISIBLE_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quillmark {

struct VisibleText {
  std::u16string text;
  std::uint64_t hidden_count = 0;  // escapes made for hidden characters
};

// Whether |c| is shown as an escape and counted (a lone surrogate is passed
// as its own value).
bool IsHiddenCharacter(char32_t c);

VisibleText MakeVisible(std::u16string_view text);

}  // namespace quillmark

#endif  // QUILLMARK_COMMON_VISIBLE_TEXT_H_
