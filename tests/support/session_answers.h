// Checks on the answers of `quillmark session` for end-to-end tests.
//
//   EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=A"}), 1, -10001, u"源数据为空");
//   std::u16string signature = Result(s.Call("QMAttachedSign", {u"CN=Li Si"}));
#ifndef QUILLMARK_TESTS_SUPPORT_SESSION_ANSWERS_H_
#define QUILLMARK_TESTS_SUPPORT_SESSION_ANSWERS_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/json.h"
#include "common/unicode.h"

namespace quillmark::testing {

// The answer's hr, errorNum and errMsg (UTF-8 or UTF-16 expectation).
inline void ExpectAnswer(const json::Value& a, std::int64_t hr, std::int64_t num,
                         std::string_view msg = "") {
  ASSERT_TRUE(a.is_object());
  EXPECT_EQ(a.Find(u"hr")->integer(), hr);
  EXPECT_EQ(a.Find(u"errorNum")->integer(), num);
  EXPECT_EQ(Utf16ToUtf8Lossy(a.Find(u"errMsg")->string()), msg);
}
inline void ExpectAnswer(const json::Value& a, std::int64_t hr, std::int64_t num,
                         std::u16string_view msg) {
  ExpectAnswer(a, hr, num, Utf16ToUtf8Lossy(msg));
}

// The answer's result string; empty when it has none.
inline std::u16string Result(const json::Value& a) {
  const json::Value* r = a.Find(u"result");
  return r != nullptr && r->is_string() ? r->string() : u"";
}

}  // namespace quillmark::testing

// Names the failing request in the test output.
#define EXPECT_ANSWER(a, ...)                           \
  do {                                                  \
    SCOPED_TRACE(#a);                                   \
    ::quillmark::testing::ExpectAnswer(a, __VA_ARGS__); \
  } while (0)

#endif  // QUILLMARK_TESTS_SUPPORT_SESSION_ANSWERS_H_
