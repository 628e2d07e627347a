#include "control/text_convert.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "common/status.h"

namespace quillmark::control {
namespace {

Bytes H(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
  return b;
}

TEST(TextConvert, StatusesAndTheTerminatorRule) {
  Bytes data = H({9});
  EXPECT_EQ(TextToBytes(936, u"中文", &data), kOk);
  EXPECT_EQ(data, H({0xD6, 0xD0, 0xCE, 0xC4}));
  EXPECT_EQ(TextToBytes(936, std::u16string(u"ab\0cd", 5), &data), kOk);
  EXPECT_EQ(data, H({'a', 'b'}));
  EXPECT_EQ(TextToBytes(936, std::u16string(1, u'\0'), &data), kOk);
  EXPECT_TRUE(data.empty());  // passes an emptiness test, yields no data
  EXPECT_EQ(TextToBytes(65001, u"😀", &data), kOk);
  EXPECT_EQ(data, H({0xF0, 0x9F, 0x98, 0x80}));
  data = H({7});
  EXPECT_EQ(TextToBytes(4242, u"abc", &data), kErrTextToBytes);
  EXPECT_EQ(data, H({7}));

  std::u16string text = u"x";
  EXPECT_EQ(BytesToText(936, H({0xD6, 0xD0, 0x00, 0x41}), &text), kOk);
  EXPECT_EQ(text, std::u16string(u"中\0A", 3));
  EXPECT_EQ(BytesToText(936, ByteSpan(), &text), kErrBytesToText);
  EXPECT_EQ(BytesToText(4242, H({0x41}), &text), kErrBytesToText);
  EXPECT_EQ(text, std::u16string(u"中\0A", 3));
}

// The exact form refuses what the plain form cuts or defaults, in every
// code page, and converts everything else to the same bytes.
TEST(TextConvert, ExactTextRefusesWhatWouldBeLost) {
  struct Case {
    std::uint32_t code_page;
    std::u16string text;
    bool refused;
  } cases[] = {
      {936, u"中文 pay", false},
      {936, std::u16string(u"ab\0cd", 5), true},
      {936, std::u16string(1, u'\0'), true},
      {936, u"Bob 😀", true},
      {936, u"\xD800", true},
      {54936, u"Bob 😀", false},
      {54936, u"x\xDC00", true},
      {65001, u"Bob 😀", false},
      {65001, u"Bob \xD83D", true},
      {65001, u"\xDE00 Bob", true},
      {65001, std::u16string(u"a\0", 2), true},
      {1252, u"café€", false},
      {1252, u"ā", true},
      {20127, u"plain", false},
      {20127, u"é", true},
      {0, u"中", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_page);
    Bytes exact = H({7});
    Bytes plain;
    ASSERT_EQ(TextToBytes(c.code_page, c.text, &plain), kOk);
    EXPECT_EQ(ExactTextToBytes(c.code_page, c.text, &exact), c.refused ? kErrTextToBytes : kOk);
    EXPECT_EQ(exact, c.refused ? H({7}) : plain);
  }
  Bytes data = H({7});
  EXPECT_EQ(ExactTextToBytes(4242, u"abc", &data), kErrTextToBytes);
  EXPECT_EQ(data, H({7}));
}

// An empty text is zero bytes in a known code page and fails in an unknown
// one, as a terminated empty string does; megabytes of text come back unit
// for unit through every kind of converter (ASCII alone, iconv, UTF-8 and
// the single-byte pages).
TEST(TextConvert, EmptyAndLargeTextsInEveryKindOfCodePage) {
  std::u16string ascii, chinese, western;
  for (std::size_t i = 0; i < (1u << 20) + 3; ++i) {
    ascii.push_back(static_cast<char16_t>(u' ' + i % 95));
    chinese.push_back(i % 3 == 0 ? u'中' : static_cast<char16_t>(u'a' + i % 26));
    western.push_back(i % 5 == 0 ? u'€' : static_cast<char16_t>(u'A' + i % 26));
  }
  struct Case {
    std::uint32_t code_page;
    const std::u16string* text;
  } cases[] = {
      {936, &ascii}, {936, &chinese}, {65001, &chinese}, {1252, &western}, {20127, &ascii}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_page);
    Bytes data = H({7});
    EXPECT_EQ(TextToBytes(c.code_page, u"", &data), kOk);
    EXPECT_TRUE(data.empty());
    data = H({7});
    EXPECT_EQ(ExactTextToBytes(c.code_page, u"", &data), kOk);
    EXPECT_TRUE(data.empty());

    ASSERT_EQ(ExactTextToBytes(c.code_page, *c.text, &data), kOk);
    Bytes plain;
    ASSERT_EQ(TextToBytes(c.code_page, *c.text, &plain), kOk);
    EXPECT_TRUE(plain == data);
    std::u16string back;
    ASSERT_EQ(BytesToText(c.code_page, data, &back), kOk);
    EXPECT_TRUE(back == *c.text);
  }
  Bytes data = H({7});
  EXPECT_EQ(TextToBytes(4242, u"", &data), kErrTextToBytes);
  EXPECT_EQ(ExactTextToBytes(4242, u"", &data), kErrTextToBytes);
  EXPECT_EQ(data, H({7}));
}

}  // namespace
}  // namespace quillmark::control
