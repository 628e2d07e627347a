// The two Base64 members: text through the code page, the line layout, and
// the failures with their messages.
#include <gtest/gtest.h>

#include <string>

#include "common/status.h"
#include "support/control_fixture.h"

namespace quillmark::control {
namespace {

using testing::ControlTest;
using testing::U8;

TEST_F(ControlTest, Base64RoundTripsThroughTheCodePage) {
  struct Case {
    std::uint32_t code_page;
    std::u16string text;
    std::u16string base64;
  };
  const Case cases[] = {
      {936, u"abc", u"YWJj\n"},        {65001, u"abc", u"YWJj\n"},
      {936, u"中文", u"1tDOxA==\n"},    // GBK D6 D0 CE C4
      {65001, u"中文", u"5Lit5paH\n"},  // UTF-8
      {65001, u"a😀", u"YfCfmIA=\n"},    // F0 9F 98 80
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.text) + " in " + std::to_string(c.code_page));
    qm_.QMSetCodePage(c.code_page);
    std::u16string out;
    EXPECT_EQ(qm_.QMBase64Encode(c.text, &out), S_OK);
    EXPECT_EQ(U8(out), U8(c.base64));
    std::u16string back;
    EXPECT_EQ(qm_.QMBase64Decode(out, &back), S_OK);
    EXPECT_EQ(U8(back), U8(c.text));
    EXPECT_EQ(Num(), 0);
  }
}

TEST_F(ControlTest, Base64OfTextGbkCannotHoldUsesTheDefaultCharacter) {
  std::u16string out;
  ASSERT_EQ(qm_.QMBase64Encode(u"a😀한", &out), S_OK);
  EXPECT_EQ(U8(out), "YT8/\n");  // "a??": one '?' per character, a pair included
  std::u16string back;
  ASSERT_EQ(qm_.QMBase64Decode(out, &back), S_OK);
  EXPECT_EQ(back, u"a??");
  // Decoded bytes that are not UTF-8 come back as U+FFFD, not as a failure.
  qm_.QMSetCodePage(65001);
  ASSERT_EQ(qm_.QMBase64Decode(u"/w==", &back), S_OK);  // one 0xFF byte
  EXPECT_EQ(back, u"\uFFFD");
}

TEST_F(ControlTest, Base64LaysOutSixtyFourCharacterLines) {
  std::u16string out;
  ASSERT_EQ(qm_.QMBase64Encode(std::u16string(100, u'A'), &out), S_OK);
  ASSERT_EQ(out.size(), 136u + 3u);  // 136 characters, 3 line feeds
  EXPECT_EQ(out[64], u'\n');
  EXPECT_EQ(out[129], u'\n');
  EXPECT_EQ(out.back(), u'\n');
  std::u16string back;
  ASSERT_EQ(qm_.QMBase64Decode(out, &back), S_OK);
  EXPECT_EQ(back, std::u16string(100, u'A'));
}

// Empty input: the number changes, errMsg keeps the previous failure's text.
TEST_F(ControlTest, Base64OfEmptyInputKeepsThePreviousMessage) {
  FailSomething();
  std::u16string out = u"x";
  EXPECT_EQ(qm_.QMBase64Encode(u"", &out), S_FALSE);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "字符编码转换失败");
  EXPECT_EQ(qm_.QMBase64Decode(u"", &out), S_FALSE);
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "字符编码转换失败");
}

// A string of one NUL passes the emptiness test and encodes zero bytes.
TEST_F(ControlTest, Base64OfOneNulEncodesZeroBytes) {
  FailSomething();
  std::u16string out = u"x";
  EXPECT_EQ(qm_.QMBase64Encode(std::u16string(1, u'\0'), &out), S_OK);
  EXPECT_EQ(out, u"\n");
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "");
}

// '=' first decodes to nothing, which cannot be converted.
TEST_F(ControlTest, Base64DecodingToNothingCannotBeConverted) {
  std::u16string out = u"x";
  EXPECT_EQ(qm_.QMBase64Decode(u"=YWJj", &out), S_FALSE);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(Num(), kErrBytesToText);
  EXPECT_EQ(Msg(), "字符编码转换失败");
}

// A trailing incomplete group is the codec's failure.
TEST_F(ControlTest, Base64TrailingIncompleteGroupIsTheCodecsFailure) {
  std::u16string out;
  EXPECT_EQ(qm_.QMBase64Decode(u"YWJjZ", &out), S_FALSE);
  EXPECT_EQ(Num(), kErrBase64Decode);
  EXPECT_EQ(Msg(), "Base64解码失败");
}

}  // namespace
}  // namespace quillmark::control
