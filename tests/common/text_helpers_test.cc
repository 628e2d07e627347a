#include <gtest/gtest.h>

#include <string>

#include "common/ascii.h"
#include "common/hex.h"
#include "common/trim.h"

namespace quillmark {
namespace {

TEST(Hex, DigitValuesOfEitherCaseAndOfWideCharacters) {
  const std::string digits = "0123456789abcdefABCDEF";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    int expected = i < 16 ? static_cast<int>(i) : static_cast<int>(i) - 6;
    EXPECT_EQ(HexDigitValue(digits[i]), expected) << digits[i];
    EXPECT_EQ(HexDigitValue(static_cast<char16_t>(digits[i])), expected);
  }
  for (char32_t c : {U'g', U'G', U'/', U':', U'@', U'`', U' ', U'\0', U'\uFF10', U'\uFF21'}) {
    EXPECT_EQ(HexDigitValue(c), -1) << static_cast<unsigned>(c);
  }
  // A negative char is not a digit (it must not wrap to one).
  EXPECT_EQ(HexDigitValue(static_cast<unsigned char>('\xB0')), -1);
}

TEST(Hex, AppendsTwoDigitsPerByteInTheAskedCase) {
  const Bytes bytes = {0x00, 0x0F, 0xA5, 0xFF, 0x10};
  std::string upper = "x=";
  AppendHexUpper(bytes, &upper);
  EXPECT_EQ(upper, "x=000FA5FF10");
  std::u16string lower;
  AppendHexLower(bytes, &lower);
  EXPECT_EQ(lower, u"000fa5ff10");
  std::string none;
  AppendHexUpper(ByteSpan(), &none);
  EXPECT_TRUE(none.empty());
}

TEST(Trim, RemovesSpacesTabsAndCarriageReturnsAtBothEndsOnly) {
  EXPECT_EQ(Trim(std::string_view(" \t choose 3 \r")), "choose 3");
  EXPECT_EQ(Trim(std::string_view("a \t b")), "a \t b");
  EXPECT_EQ(Trim(std::string_view(" \r\t ")), "");
  EXPECT_EQ(Trim(std::string_view("")), "");
  // A line feed, a form feed and a vertical tab are kept: only line blanks go.
  EXPECT_EQ(Trim(std::string_view("\nx\v\f")), "\nx\v\f");
  EXPECT_EQ(Trim(std::u16string_view(u"\t\u4E2D \r")), u"\u4E2D");
  EXPECT_EQ(Trim(std::u16string_view(u"\u3000x\u3000")), u"\u3000x\u3000");
  const std::string line = "  value  ";
  std::string_view trimmed = Trim(line);
  EXPECT_EQ(trimmed.data(), line.data() + 2);  // a view into the same text
}

TEST(Ascii, FoldsOnlyTheLatinCapitals) {
  EXPECT_TRUE(EqualsIgnoringAsciiCase(std::string_view("AddressBOOK"), "addressbook"));
  EXPECT_TRUE(EqualsIgnoringAsciiCase(std::u16string_view(u"OPEN"), u"open"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase(std::string_view("open"), "opens"));
  // '@' and '[' sit beside 'A' and 'Z'; '`' and '{' beside 'a' and 'z'.
  EXPECT_FALSE(EqualsIgnoringAsciiCase(std::string_view("@["), "`{"));
  // Letters beyond ASCII are compared as they are.
  EXPECT_FALSE(EqualsIgnoringAsciiCase(std::u16string_view(u"\u00C9"), u"\u00E9"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase(std::u16string_view(u"\uFF21"), u"\uFF41"));
  EXPECT_TRUE(StartsWithLowerIgnoringAsciiCase("HEX(2):41", "hex("));
  EXPECT_FALSE(StartsWithLowerIgnoringAsciiCase("he", "hex"));
}

}  // namespace
}  // namespace quillmark
