#include "common/unicode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmark {
namespace {

// Every code point class round-trips through both encodings.
TEST(Unicode, EncodesAndDecodesEveryLengthClass) {
  const std::u32string points = {0x0,    0x41,   0x7F,   0x80,   0x7FF,   0x800,
                                 0xD7FF, 0xE000, 0xFFFD, 0xFFFF, 0x10000, 0x10FFFF};
  for (char32_t c : points) {
    std::string utf8;
    AppendUtf8(c, &utf8);
    std::u16string utf16;
    AppendUtf16(c, &utf16);
    EXPECT_EQ(utf8.size(), c < 0x80 ? 1u : c < 0x800 ? 2u : c < 0x10000 ? 3u : 4u);
    EXPECT_EQ(utf16.size(), c < 0x10000 ? 1u : 2u);

    std::size_t pos = 0;
    char32_t back = 0;
    ASSERT_TRUE(DecodeUtf8(utf8, &pos, &back)) << std::hex << static_cast<unsigned>(c);
    EXPECT_EQ(back, c);
    EXPECT_EQ(pos, utf8.size());
    pos = 0;
    ASSERT_TRUE(DecodeUtf16(utf16, &pos, &back)) << std::hex << static_cast<unsigned>(c);
    EXPECT_EQ(back, c);
    EXPECT_EQ(pos, utf16.size());
  }
  std::vector<std::uint8_t> bytes;
  AppendUtf8(0x20AC, &bytes);
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0xE2, 0x82, 0xAC}));
}

// Each malformed form is refused and only its first byte is consumed, so the
// lossy conversion gives one U+FFFD per byte that does not start a sequence.
TEST(Unicode, RefusesMalformedUtf8OneByteAtATime) {
  const std::vector<std::string> bad = {
      "\x80",              // a continuation byte alone
      "\xC0\x80",          // overlong NUL
      "\xC1\xBF",          // overlong two-byte form
      "\xE0\x9F\xBF",      // overlong three-byte form
      "\xF0\x8F\xBF\xBF",  // overlong four-byte form
      "\xED\xA0\x80",      // an encoded high surrogate
      "\xED\xBF\xBF",      // an encoded low surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xF5\x80\x80\x80",  // lead byte beyond the range
      "\xF8\x88\x80\x80\x80",
      "\xFF",
      "\xE2\x82",  // cut off
      "\xC3",
  };
  for (const std::string& s : bad) {
    std::size_t pos = 0;
    char32_t c = 0;
    EXPECT_FALSE(DecodeUtf8(s, &pos, &c)) << testing::PrintToString(s);
    EXPECT_EQ(pos, 1u);
    std::u16string strict = u"unchanged";
    EXPECT_FALSE(Utf8ToUtf16(s, &strict));
    EXPECT_EQ(strict, u"unchanged");
  }
  EXPECT_EQ(Utf8ToUtf16Lossy("a\xE2\x82z"), u"a\uFFFD\uFFFDz");
  EXPECT_EQ(Utf8ToUtf16Lossy("\xED\xA0\x80!"), u"\uFFFD\uFFFD\uFFFD!");
  EXPECT_EQ(Utf8ToUtf16Lossy("\xF0\x9F\x98\x80\xC3\xA9"), u"\U0001F600\u00E9");
}

TEST(Unicode, LoneSurrogatesAreRefusedOrReplaced) {
  const std::u16string high_alone = {u'a', 0xD83D, u'b'};
  const std::u16string low_alone = {0xDE00, u'b'};
  const std::u16string reversed = {0xDE00, 0xD83D};
  const std::u16string high_at_end = {u'a', 0xD83D};
  for (const std::u16string& s : {high_alone, low_alone, reversed, high_at_end}) {
    std::string strict = "unchanged";
    EXPECT_FALSE(Utf16ToUtf8(s, &strict));
    EXPECT_EQ(strict, "unchanged");
  }
  EXPECT_EQ(Utf16ToUtf8Lossy(high_alone),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Utf16ToUtf8Lossy(reversed), "\xEF\xBF\xBD\xEF\xBF\xBD");

  std::size_t pos = 1;
  char32_t c = 0;
  EXPECT_FALSE(DecodeUtf16(high_alone, &pos, &c));
  EXPECT_EQ(pos, 2u);  // the lone unit only; 'b' is read next
  EXPECT_TRUE(DecodeUtf16(high_alone, &pos, &c));
  EXPECT_EQ(c, U'b');
}

TEST(Unicode, StrictConversionsRoundTripValidText) {
  const std::u16string text = u"Zh\u4E2D\u6587 \U0001F600 caf\u00E9";
  std::string utf8;
  ASSERT_TRUE(Utf16ToUtf8(text, &utf8));
  EXPECT_EQ(utf8, "Zh\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 caf\xC3\xA9");
  std::u16string back;
  ASSERT_TRUE(Utf8ToUtf16(utf8, &back));
  EXPECT_EQ(back, text);
  EXPECT_EQ(Utf16ToUtf8Lossy(text), utf8);
  EXPECT_EQ(Utf8ToUtf16Lossy(utf8), text);
  ASSERT_TRUE(Utf8ToUtf16(std::string_view("a\0b", 3), &back));
  EXPECT_EQ(back, std::u16string(u"a\0b", 3));
}

}  // namespace
}  // namespace quillmark
