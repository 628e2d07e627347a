// The review the control makes of the bytes it is about to sign: decoded
// with its code page, hidden characters escaped, a form's entries listed
// only for a form the control packed itself.
#include "control/key_use_stage.h"

#include <gtest/gtest.h>

#include <string>

#include "encoding/formatted_plaintext.h"

namespace quillmark::control {
namespace {

Bytes Packed() {
  encoding::FormattedPlaintext form;
  EXPECT_EQ(form.AddFormItem(AsBytes("amount=10")), 0);
  EXPECT_EQ(form.AddFormItem(AsBytes("to=Alice")), 0);
  EXPECT_EQ(form.AddFile(AsBytes("con\xE2\x80\x8Btract.pdf"), AsBytes("%PDF-1.4")), 0);
  Bytes out;
  EXPECT_EQ(form.Encode(&out), 0);
  return out;
}

TEST(ReviewOfContentTest, TextIsDecodedWithTheCodePage) {
  struct Case {
    const char* name;
    std::uint32_t code_page;
    Bytes bytes;
    std::u16string text;
    bool not_text;
  };
  const Case cases[] = {
      {"GBK", 936, {0xB8, 0xB6, 0xBF, 0xEE, '1', '0'}, u"付款10", false},
      {"UTF-8", 65001, {0xE4, 0xBB, 0x98, 0xE6, 0xAC, 0xBE}, u"付款", false},
      {"bytes that are not UTF-8", 65001, {'a', 0xFF, 'b'}, u"a\uFFFDb", true},
      {"nothing", 65001, {}, u"", false},
  };
  for (const Case& c : cases) {
    platform::ui::KeyUseReview r = ReviewOfContent(c.code_page, c.bytes, false);
    EXPECT_EQ(r.action, platform::ui::KeyUseAction::kSign) << c.name;
    EXPECT_EQ(r.text, c.text) << c.name;
    EXPECT_EQ(r.text_units, c.text.size()) << c.name;
    EXPECT_EQ(r.byte_count, c.bytes.size()) << c.name;
    EXPECT_EQ(r.not_text, c.not_text) << c.name;
    EXPECT_TRUE(r.files.empty()) << c.name;
  }
}

TEST(ReviewOfContentTest, HiddenCharactersAreEscapedAndCounted) {
  const Bytes bytes = {'P', 'a', 'y', ' ', 0xE2, 0x80, 0xAE, '1', 0x00, '2'};
  platform::ui::KeyUseReview r = ReviewOfContent(65001, bytes, false);
  EXPECT_EQ(r.text, u"Pay \u27E6U+202E\u27E71\u27E6U+0000\u27E72");
  EXPECT_EQ(r.hidden_count, 2u);
  EXPECT_EQ(r.text_units, 8u) << "the length before escaping";
}

TEST(ReviewOfContentTest, AFormThePackedFlagVouchesForListsItsEntries) {
  const Bytes packed = Packed();
  platform::ui::KeyUseReview r = ReviewOfContent(65001, packed, true);
  EXPECT_EQ(r.text, u"amount=10\nto=Alice");
  ASSERT_EQ(r.files.size(), 1u);
  EXPECT_EQ(r.files[0].name, u"con\u27E6U+200B\u27E7tract.pdf");
  EXPECT_EQ(r.files[0].size, 8u);
  EXPECT_EQ(r.hidden_count, 1u) << "a hidden character in a file name counts too";
  EXPECT_EQ(r.byte_count, packed.size());
}

TEST(ReviewOfContentTest, TheSameBytesWithoutTheFlagAreShownAsText) {
  const Bytes packed = Packed();
  platform::ui::KeyUseReview r = ReviewOfContent(65001, packed, false);
  EXPECT_TRUE(r.files.empty());
  EXPECT_EQ(r.text_units, packed.size() - 2) << "every byte shown, the ZWSP as one unit";
  EXPECT_NE(r.text.find(u"amount=10"), std::u16string::npos);
  EXPECT_NE(r.text.find(u"con\u27E6U+200B\u27E7tract.pdf"), std::u16string::npos);
}

TEST(ReviewOfContentTest, TheFlagOnBytesThatAreNoFormShowsTheText) {
  platform::ui::KeyUseReview r = ReviewOfContent(65001, AsBytes("plain words"), true);
  EXPECT_EQ(r.text, u"plain words");
  EXPECT_TRUE(r.files.empty());
}

}  // namespace
}  // namespace quillmark::control
