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

}  // namespace
}  // namespace quillmark::control
