// The message table: every message has its text.
#include "control/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "common/unicode.h"

namespace quillmark::control {
namespace {

std::string U8(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }

TEST(Messages, EveryMessageHasTextAndNoneHasNone) {
  EXPECT_EQ(MessageText(Message::kNone), u"");
  for (int m = 1; m < static_cast<int>(Message::kCount); ++m) {
    EXPECT_FALSE(MessageText(static_cast<Message>(m)).empty()) << m;
  }
  EXPECT_EQ(U8(MessageText(Message::kNoStubPathValue)),
            "在相应注册表记录项中找不到“stubPath”值域!");
}

}  // namespace
}  // namespace quillmark::control
