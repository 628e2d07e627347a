#include "common/visible_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmark {
namespace {

struct Case {
  const char* name;
  std::u16string in;
  std::u16string shown;
  std::uint64_t hidden;
};

TEST(MakeVisible, EscapesHiddenCharactersAndKeepsTheRest) {
  const Case cases[] = {
      {"right-to-left override", u"Pay \u202E00.001 CNY", u"Pay \u27E6U+202E\u27E700.001 CNY", 1},
      {"isolate", u"a\u2066b\u2069c", u"a\u27E6U+2066\u27E7b\u27E6U+2069\u27E7c", 2},
      {"zero-width space", u"Ali\u200Bce", u"Ali\u27E6U+200B\u27E7ce", 1},
      {"NUL", std::u16string(u"a\0b", 3), u"a\u27E6U+0000\u27E7b", 1},
      {"C1 control", u"x\u0085y", u"x\u27E6U+0085\u27E7y", 1},
      {"byte order mark", u"\uFEFFhi", u"\u27E6U+FEFF\u27E7hi", 1},
      {"soft hyphen", u"ten\u00ADder", u"ten\u27E6U+00AD\u27E7der", 1},
      {"arabic letter mark", u"\u061C1", u"\u27E6U+061C\u27E71", 1},
      {"line separator", u"a\u2028b", u"a\u27E6U+2028\u27E7b", 1},
      {"lone high surrogate", std::u16string{u'a', char16_t(0xD800), u'b'}, u"a\u27E6U+D800\u27E7b",
       1},
      {"lone low surrogate at the end", std::u16string{u'a', char16_t(0xDC05)},
       u"a\u27E6U+DC05\u27E7", 1},
      {"tag character", u"a\U000E0041", u"a\u27E6U+E0041\u27E7", 1},
      {"lone carriage return", u"PAY 10\rPAY 99", u"PAY 10\u27E6U+000D\u27E7PAY 99", 1},
      {"the escape bracket itself is not hidden", u"\u27E6U+202E\u27E7",
       u"\u27E6U+27E6\u27E7U+202E\u27E7", 0},
      {"tab, line feed, CR LF", u"a\tb\nc\r\nd", u"a\tb\nc\r\nd", 0},
      {"CJK and a pair", u"签名：张三 \U0001F600", u"签名：张三 \U0001F600", 0},
      {"empty", u"", u"", 0},
  };
  for (const Case& c : cases) {
    VisibleText v = MakeVisible(c.in);
    EXPECT_EQ(v.text, c.shown) << c.name;
    EXPECT_EQ(v.hidden_count, c.hidden) << c.name;
  }
}

TEST(MakeVisible, ASurrogatePairIsOneCharacterNotTwoLoneHalves) {
  std::u16string pair{char16_t(0xD83D), char16_t(0xDE00)};
  VisibleText v = MakeVisible(pair);
  EXPECT_EQ(v.text, pair);
  EXPECT_EQ(v.hidden_count, 0u);
  // Reversed halves are two lone surrogates.
  v = MakeVisible(std::u16string{char16_t(0xDE00), char16_t(0xD83D)});
  EXPECT_EQ(v.text, u"\u27E6U+DE00\u27E7\u27E6U+D83D\u27E7");
  EXPECT_EQ(v.hidden_count, 2u);
}

TEST(IsHiddenCharacter, PrintableLettersAndPunctuationAreNot) {
  for (char32_t c : {U'A', U' ', U'~', U'\u00A0', U'\u4E2D', U'\uFF01', U'\U0001F600'}) {
    EXPECT_FALSE(IsHiddenCharacter(c)) << std::hex << static_cast<unsigned>(c);
  }
}

}  // namespace
}  // namespace quillmark
