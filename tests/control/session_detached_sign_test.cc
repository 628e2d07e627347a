// Detached signatures and the key-spec signing members end to end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/session_answers.h"
#include "support/sign_session.h"

namespace quillmark::control {
namespace {

using json::Value;
using testing::ChooserRows;
using testing::LiveSession;
using testing::Result;
using testing::SessionSignTest;

// A detached signature of "数据 data" by 张三, made in |s|.
std::u16string SignData(LiveSession& s) {
  Value detached = s.Call("QMDetachedSign", {u"数据 data", u"CN=张三"});
  EXPECT_ANSWER(detached, 0, 0);
  return Result(detached);
}

TEST_F(SessionSignTest, DetachedRoundTripSetsSignerInformation) {
  LiveSession s = Session();
  const std::u16string signature = SignData(s);
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {signature, u"数据 data"}), 0, 0);
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=张三"));
}

TEST_F(SessionSignTest, DetachedVerifyOfOtherDataIsABadSignature) {
  LiveSession s = Session();
  const std::u16string signature = SignData(s);
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {signature, u"数据 data"}), 0, 0);
  Value wrong = s.Call("QMDetachedVerify", {signature, u"数据 date"});
  EXPECT_ANSWER(wrong, 1, -10010, u"验证错误");
  EXPECT_EQ(wrong.Find(u"errorCode")->integer(), testing::kNteBadSignature);
  EXPECT_EQ(SignerInfo(s), NoInfo());
}

// The data is checked before the signature text.
TEST_F(SessionSignTest, DetachedVerifyChecksTheDataFirst) {
  LiveSession s = Session();
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {u"YWJ", u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {u"", u"x"}), 1, -10001, u"源数据为空");
}

// A detached signature holds no content to compare against.
TEST_F(SessionSignTest, ADetachedSignatureDoesNotVerifyAttached) {
  LiveSession s = Session();
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {SignData(s)}), 1, -10010, u"验证错误");
}

// QMDetachedSign leaves the stored text in place, and a detached
// verification does not touch the received text.
TEST_F(SessionSignTest, DetachedMembersLeaveTheStoredAndReceivedTexts) {
  LiveSession s = Session();
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"stored"}), 0, 0);
  const std::u16string signature = SignData(s);
  Value attached = s.Call("QMAttachedSign", {u"CN=Li Si"});
  EXPECT_ANSWER(attached, 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {Result(attached)}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"stored");
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {signature, u"数据 data"}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"stored");
}

TEST_F(SessionSignTest, KeySpecMembersSignWithASignatureKey) {
  LiveSession s = Session();
  Value key_spec = s.Call("QMUseKeySpecDetachedSign", {u"d", u"CN=Li Si"});
  EXPECT_ANSWER(key_spec, 0, 0);
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {Result(key_spec), u"d"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"stored"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMUseKeySpecAttachedSign", {u"CN=Li Si"}), 0, 0);
}

// Key-spec members take signature keys only: 张三's exchange key is never
// offered, so the forced second lookup shows an empty chooser (cancelled).
TEST_F(SessionSignTest, KeySpecMembersNeverOfferAnExchangeKey) {
  LiveSession s = Session();
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"stored"}), 0, 0);
  Value exchange = s.Call("QMUseKeySpecAttachedSign", {u"CN=张三"});
  EXPECT_ANSWER(exchange, 1, -10005, u"签名失败");
  EXPECT_EQ(ChooserRows(exchange), std::vector<std::vector<std::string>>{{}});
  EXPECT_ANSWER(s.Call("QMUseKeySpecAttachedSign", {u"CN=Li Si"}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMUseKeySpecDetachedSign", {u"d", u"CN=张三"}), 1, -10005, u"签名失败");
}

// DN checks come after the data and before any lookup.
TEST_F(SessionSignTest, DnChecksComeAfterTheDataAndBeforeAnyLookup) {
  LiveSession s = Session();
  EXPECT_ANSWER(s.Call("QMDetachedSign", {u"", u"CN=Li Si"}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMDetachedSign", {u"d", std::u16string(32769, u'x')}), 1, -10056,
                u"DN太长");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"stored"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"a|b|c|d|e|f"}), 1, -10025, u"DN分隔符超限");
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=Li Si"}), 1, -10001, u"源数据为空");
}

}  // namespace
}  // namespace quillmark::control
