// The method frame every member runs in: failure, success, and memory
// exhaustion turned into the member's message.
#include "control/method_frame.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

#include "common/status.h"
#include "common/unicode.h"

namespace quillmark::control {
namespace {

std::string U8(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }

TEST(MethodFrame, FailureRunsTheCleanUpEmptiesTheOutputAndStoresTheMessage) {
  ErrorState error;
  error.error_code = 77;
  std::u16string out = u"stale";
  int cleanups = 0;
  auto cleanup = [&] { ++cleanups; };
  {
    MethodFrame frame(&error, &out);
    frame.OnFailure(cleanup);
    EXPECT_EQ(frame.Fail(kErrDnCheck, Message::kDnCheckFailed), S_FALSE);
  }
  EXPECT_EQ(cleanups, 1);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(error.error_num, kErrDnCheck);
  EXPECT_EQ(U8(error.err_msg), "DN验证失败");
  EXPECT_EQ(error.error_code, 77);
}

TEST(MethodFrame, SuccessSkipsTheCleanUpAndClearsNumberAndMessage) {
  ErrorState error;
  error.error_code = 77;
  error.error_num = kErrDnCheck;
  error.err_msg = u"DN验证失败";
  std::u16string out = u"stale";
  int cleanups = 0;
  auto cleanup = [&] { ++cleanups; };
  {
    MethodFrame frame(&error, &out);
    frame.OnFailure(cleanup);
    EXPECT_EQ(frame.Succeed(u"result"), S_OK);
  }
  EXPECT_EQ(cleanups, 0);  // not on success
  EXPECT_EQ(out, u"result");
  EXPECT_EQ(error.error_num, 0);
  EXPECT_EQ(error.err_msg, u"");
  EXPECT_EQ(error.error_code, 77);  // survives successes
}

TEST(MethodFrame, FailWithStatusStoresTheCodeAndLaterFailuresKeepOrReplaceTexts) {
  ErrorState error;
  std::u16string out;
  MethodFrame frame(&error, &out);
  EXPECT_EQ(frame.FailWith(Status(kErrSignFailed, 0x8009200Bu), Message::kSignFailed), S_FALSE);
  EXPECT_EQ(error.error_code, static_cast<std::int32_t>(0x8009200Bu));
  EXPECT_EQ(frame.FailKeepingNumber(Message::kSourceEmpty), S_FALSE);
  EXPECT_EQ(error.error_num, kErrSignFailed);
  EXPECT_EQ(U8(error.err_msg), "源数据为空");
  EXPECT_EQ(frame.Fail(kErrEmptyInput, Message::kNone), S_FALSE);
  EXPECT_EQ(U8(error.err_msg), "源数据为空");
}

TEST(MethodFrame, RunTurnsExhaustedMemoryIntoTheMembersMessage) {
  ErrorState error;
  std::u16string out = u"partial";
  MethodFrame frame(&error, &out);
  frame.set_no_memory_message(Message::kNoMemoryShort);
  HRESULT hr = frame.Run([&]() -> HRESULT { throw std::bad_alloc(); });
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(error.error_num, kErrNoMemory);
  EXPECT_EQ(U8(error.err_msg), "无可用内存空间");
}

}  // namespace
}  // namespace quillmark::control
