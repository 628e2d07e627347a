// RunKeepingLastError: the frame of calls that leave the last error as they
// found it when they succeed.
#include "platform/os/last_error.h"

#include <gtest/gtest.h>

#include <new>

namespace quillmark::platform {
namespace {

TEST(RunKeepingLastError, SuccessUndoesTheErrorsTheStepLeft) {
  SetLastError(kCryptENotFound);
  bool ran = false;
  EXPECT_TRUE(RunKeepingLastError([&]() -> std::uint32_t {
    ran = true;
    SetLastError(kErrorFileNotFound);  // a failed look-up inside the step
    return kErrorSuccess;
  }));
  EXPECT_TRUE(ran);
  EXPECT_EQ(GetLastError(), kCryptENotFound);
}

TEST(RunKeepingLastError, FailureLeavesTheStepsError) {
  SetLastError(kCryptENotFound);
  EXPECT_FALSE(RunKeepingLastError([]() -> std::uint32_t {
    SetLastError(kErrorFileNotFound);
    return kCryptEOssError;
  }));
  EXPECT_EQ(GetLastError(), kCryptEOssError);
}

TEST(RunKeepingLastError, RunningOutOfMemoryFailsWithItsOwnError) {
  SetLastError(0);
  EXPECT_FALSE(RunKeepingLastError([]() -> std::uint32_t { throw std::bad_alloc(); }));
  EXPECT_EQ(GetLastError(), kErrorNotEnoughMemory);
}

}  // namespace
}  // namespace quillmark::platform
