// A control instance driven directly through its members, for the unit
// tests of the control's state, setters and simple members.
#ifndef QUILLMARK_TESTS_SUPPORT_CONTROL_FIXTURE_H_
#define QUILLMARK_TESTS_SUPPORT_CONTROL_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/status.h"
#include "common/unicode.h"
#include "control/quillmark_control.h"

namespace quillmark::testing {

using control::CCorvaneQuillmark;
using control::S_FALSE;
using control::S_OK;

inline std::string U8(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }

// A fresh control with readers of its error state.
class ControlTest : public ::testing::Test {
 protected:
  std::int32_t Num() {
    std::int32_t n = 12345;
    EXPECT_EQ(qm_.get_errorNum(&n), S_OK);
    return n;
  }
  std::string Msg() {
    std::u16string m = u"unset";
    EXPECT_EQ(qm_.get_errMsg(&m), S_OK);
    return U8(m);
  }
  // Leaves a known failure behind: errorNum -10036, errMsg "字符编码转换失败".
  void FailSomething() {
    std::u16string out;
    ASSERT_EQ(qm_.QMBase64Decode(u"=AAA", &out), S_FALSE);
    ASSERT_EQ(Num(), kErrBytesToText);
  }

  CCorvaneQuillmark qm_;
};

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_SUPPORT_CONTROL_FIXTURE_H_
