// The text a page gives is the text that is signed, verified, enveloped or
// hashed, or the member fails with -10034: through a live `quillmark
// session`, texts holding a NUL unit, an unpaired surrogate or a character
// the code page cannot hold are refused by every member that takes such a
// text, so that no signature made over one text verifies another.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/json.h"
#include "support/demo_pki_session.h"
#include "support/live_session.h"
#include "support/session_answers.h"

namespace quillmark::control {
namespace {

using json::Value;
using testing::LiveSession;
using testing::Result;

constexpr char kConversion[] = "字符编码转换失败";
constexpr char kSetterConversion[] = "编码转换失败";

const std::u16string kPay = u"pay 100 to Bob";
// The same text with more after a NUL unit.
const std::u16string kPayMore = kPay + std::u16string(1, u'\0') + u" and 9,999,999 to Mallory";
// Not in GBK, the default code page; '?' is what it would have become.
const std::u16string kEmoji = u"Bob 😀";
const std::u16string kQuestion = u"Bob ?";
const std::u16string kLoneHigh = u"Bob \xD83D";
const std::u16string kLoneLow = u"Bob \xDE00";

using SessionExactTextTest = testing::DemoPkiSessionTest;

// The signing members: the argument of the detached forms and the stored
// plain text of the attached ones (refused by its setters).
TEST_F(SessionExactTextTest, SigningTakesOnlyTextsThatConvertWhole) {
  LiveSession s = Start();
  for (const std::u16string& bad : {kPayMore, kEmoji, kLoneHigh, kLoneLow}) {
    EXPECT_ANSWER(s.Call("QMDetachedSign", {bad, u"CN=Li Si"}), 1, -10034, kConversion);
    EXPECT_ANSWER(s.Call("QMAdvanceDetachedSign", {bad, u"CN=Li Si"}), 1, -10034, kConversion);
    EXPECT_ANSWER(s.Call("QMUseKeySpecDetachedSign", {bad, u"CN=Li Si"}), 1, -10034, kConversion);
    EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), u"");

    // A good stored text is dropped by a refused one, and nothing is signed.
    EXPECT_ANSWER(s.Call("QMSetPlainText", {kPay}), 0, 0);
    EXPECT_ANSWER(s.Call("QMSetPlainText", {bad}), 1, -10034, kSetterConversion);
    EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=Li Si"}), 1, -10001, u"源数据为空");
    EXPECT_ANSWER(s.Call("QMAddFormItem", {bad}), 1, -10034, kSetterConversion);
    for (const char* member : {"QMAdvanceAttachedSign", "QMRawSign", "QMEncryptedEnvelop"}) {
      Value answer = s.Call(member, {u"CN=Li Si"});
      EXPECT_EQ(answer.Find(u"errorNum")->integer(), -10001) << member;
    }
  }
  // A lone surrogate is refused in UTF-8 too, where the emoji is held.
  s.CallInt("QMSetCodePage", 65001);
  EXPECT_ANSWER(s.Call("QMDetachedSign", {kLoneHigh, u"CN=Li Si"}), 1, -10034, kConversion);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {kLoneLow}), 1, -10034, kSetterConversion);
  EXPECT_ANSWER(s.Call("QMDetachedSign", {kEmoji, u"CN=Li Si"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {kEmoji}), 0, 0);
  EXPECT_ANSWER(s.Call("QMRawSign", {u"CN=Li Si"}), 0, 0);
}

// The verifying members: a signature over one text never verifies a text
// that would have been cut or defaulted into it.
TEST_F(SessionExactTextTest, VerificationComparesTheWholeText) {
  LiveSession s = Start();
  const std::u16string detached = Result(s.Call("QMDetachedSign", {kPay, u"CN=Li Si"}));
  const std::u16string question = Result(s.Call("QMDetachedSign", {kQuestion, u"CN=Li Si"}));
  const std::u16string advance = Result(s.Call("QMAdvanceDetachedSign", {kPay, u"CN=Li Si"}));
  s.Call("QMSetPlainText", {kPay});
  const std::u16string raw = Result(s.Call("QMRawSign", {u"CN=Li Si"}));
  s.Call("QMSetPlainText", {kPay});
  const std::u16string attached = Result(s.Call("QMAttachedSign", {u"CN=Li Si"}));
  ASSERT_FALSE(detached.empty());
  ASSERT_FALSE(question.empty());
  ASSERT_FALSE(advance.empty());
  ASSERT_FALSE(raw.empty());
  ASSERT_FALSE(attached.empty());

  // The texts they were made over verify.
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {detached, kPay}), 0, 0);
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {question, kQuestion}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAdvanceDetachedVerify", {advance, kPay}), 0, 0);
  EXPECT_ANSWER(s.Call("QMRawVerify", {raw, u"CN=Li Si", kPay}), 0, 0);

  struct Case {
    const char* member;
    std::vector<std::u16string> args;
  };
  const Case cases[] = {
      {"QMDetachedVerify", {detached, kPayMore}},
      {"QMDetachedVerify", {question, kEmoji}},
      {"QMDetachedVerify", {question, kLoneHigh}},
      {"QMAdvanceDetachedVerify", {advance, kPayMore}},
      {"QMRawVerify", {raw, u"CN=Li Si", kPayMore}},
      // The signature texts themselves: nothing after a NUL is ignored.
      {"QMDetachedVerify", {detached + std::u16string(1, u'\0') + u"x", kPay}},
      {"QMAttachedVerify", {attached + std::u16string(1, u'\0') + u"x"}},
      {"QMAfterwardsVerify", {attached + std::u16string(1, u'\0')}},
      {"QMAdvanceAttachedVerify", {attached + u"\xD800"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.member);
    EXPECT_ANSWER(s.Call(c.member, c.args), 1, -10034, kConversion);
    EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), u"");
  }
  // A refused verification leaves the text opened before.
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {attached}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {attached + std::u16string(1, u'\0')}), 1, -10034,
                kConversion);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), kPay);
}

// Envelope texts and hashing take the same rule.
TEST_F(SessionExactTextTest, EnvelopesAndDigestsTakeTheWholeText) {
  LiveSession s = Start();
  s.Call("QMSetPlainText", {kPay});
  const std::u16string envelope = Result(s.Call("QMEncryptedEnvelop", {u"CN=张三"}));
  s.Call("QMSetPlainText", {kPay});
  const std::u16string sealed =
      Result(s.Call("QMSignedAndEncryptedEnvelop", {u"CN=Li Si", u"CN=张三"}));
  ASSERT_FALSE(envelope.empty());
  ASSERT_FALSE(sealed.empty());
  const std::u16string tail = std::u16string(1, u'\0') + u"junk";
  EXPECT_ANSWER(s.Call("QMDecryptEnvelop", {envelope + tail}), 1, -10034, kConversion);
  EXPECT_ANSWER(s.Call("QMDecryptedAndVerifiedEnvelop", {sealed + tail}), 1, -10034, kConversion);
  EXPECT_ANSWER(s.Call("QMDecryptEnvelop", {envelope}), 0, 0);
  EXPECT_ANSWER(s.Call("QMDecryptedAndVerifiedEnvelop", {sealed}), 0, 0);

  const std::u16string digest = Result(s.Call("QMHashAndBase64Encode", {kPay}));
  ASSERT_FALSE(digest.empty());
  for (const std::u16string& bad : {kPayMore, kEmoji, kLoneLow}) {
    Value hashed = s.Call("QMHashAndBase64Encode", {bad});
    EXPECT_ANSWER(hashed, 1, -10034, kConversion);
    EXPECT_EQ(Result(hashed), u"");
  }
  EXPECT_EQ(Result(s.Call("QMHashAndBase64Encode", {kPay})), digest);
}

}  // namespace
}  // namespace quillmark::control
