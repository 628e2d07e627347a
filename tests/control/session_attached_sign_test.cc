// Attached signatures end to end: the round trip with the signer's
// information and the plain texts, the failures of verification, and the
// compression of large signatures.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/session_answers.h"
#include "support/sign_session.h"

namespace quillmark::control {
namespace {

using json::Value;
using testing::ChooserRows;
using testing::Decode;
using testing::Encode;
using testing::LiveSession;
using testing::Result;
using testing::SessionSignTest;
using testing::U16;

// A signature of "付款 100 元" by Li Si, made in |s|.
std::u16string SignPayment(LiveSession& s) {
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"付款 100 元"}), 0, 0);
  Value signed_answer = s.Call("QMAttachedSign", {u"CN=Li Si"});
  EXPECT_ANSWER(signed_answer, 0, 0);
  return Result(signed_answer);
}

TEST_F(SessionSignTest, AttachedRoundTripSetsSignerInformationAndPlainText) {
  LiveSession s = Session();
  EXPECT_EQ(SignerInfo(s), NoInfo());
  const std::u16string signature = SignPayment(s);
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Li Si"));
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {signature}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"付款 100 元");
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Li Si"));
}

// The stored text was consumed: a second signature fails and clears the information.
TEST_F(SessionSignTest, ASecondSignatureWithoutNewTextFailsAndClearsTheInformation) {
  LiveSession s = Session();
  SignPayment(s);
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=Li Si"}), 1, -10001, u"源数据为空");
  EXPECT_EQ(SignerInfo(s), NoInfo());
}

// The content bytes (GBK) altered inside the message: a bad signature. The
// previously received text stays; the information of the failed call goes.
TEST_F(SessionSignTest, AlteredContentIsABadSignatureAndKeepsTheReceivedText) {
  LiveSession s = Session();
  const std::u16string signature = SignPayment(s);
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {signature}), 0, 0);
  Bytes der = Decode(signature);
  const std::string digits = " 100 ";
  auto at = std::search(der.begin(), der.end(), digits.begin(), digits.end());
  ASSERT_NE(at, der.end());
  at[1] = '9';
  Value tampered = s.Call("QMAttachedVerify", {Encode(der)});
  EXPECT_ANSWER(tampered, 1, -10010, u"验证错误");
  EXPECT_EQ(tampered.Find(u"errorCode")->integer(), testing::kNteBadSignature);
  EXPECT_EQ(SignerInfo(s), NoInfo());
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"付款 100 元");
}

TEST_F(SessionSignTest, TextsThatAreNoSignatureAreRefused) {
  LiveSession s = Session();
  Value not_pkcs7 = s.Call("QMAttachedVerify", {u"YWJj"});
  EXPECT_ANSWER(not_pkcs7, 1, -10007, u"验证错误");
  EXPECT_EQ(not_pkcs7.Find(u"errorCode")->integer(), testing::kCryptEOssError);
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {u"YWJ"}), 1, -10002, u"验证错误");
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {u""}), 1, -10001, u"源数据为空");
}

TEST_F(SessionSignTest, AfterwardsVerifyAcceptsAGoodSignatureAfterAFailure) {
  LiveSession s = Session();
  const std::u16string signature = SignPayment(s);
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMAfterwardsVerify", {signature}), 0, 0);
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Li Si"));
}

// A DN written in the opposite order is found on the second lookup.
TEST_F(SessionSignTest, ADnInTheOppositeOrderIsFoundWithoutADialog) {
  LiveSession s = Session();
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"x"}), 0, 0);
  Value reversed = s.Call("QMAttachedSign", {u"C=CN, O=Demo Bank, OU=Corporate, CN=Li Si"});
  EXPECT_ANSWER(reversed, 0, 0);
  EXPECT_TRUE(reversed.Find(u"dialogs")->array().empty());
}

// A text of one NUL is refused when it is stored, so nothing is signed.
TEST_F(SessionSignTest, AStoredNulIsRefusedAndNothingIsSigned) {
  LiveSession s = Session();
  EXPECT_ANSWER(s.Call("QMSetPlainText", {std::u16string(1, u'\0')}), 1, -10034, u"编码转换失败");
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=Li Si"}), 1, -10001, u"源数据为空");
}

// A digest OID the platform does not know fails in the signing call.
TEST_F(SessionSignTest, AnUnknownDigestOidFailsInTheSigningCall) {
  LiveSession s = Session();
  EXPECT_ANSWER(s.Call("QMSetDigestArithmetic", {u"1.2.3.4"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"x"}), 0, 0);
  Value bad_alg = s.Call("QMAttachedSign", {u"CN=Li Si"});
  EXPECT_ANSWER(bad_alg, 1, -10033, u"签名失败");
  EXPECT_EQ(bad_alg.Find(u"errorCode")->integer(), testing::kNteBadAlgId);
}

// Compression: a signature at or above MaxCompSize bytes goes out in the
// gzip frame; below it, as DER.
class SessionCompressionTest : public SessionSignTest {
 protected:
  void SetUp() override {
    for (int i = 0; i < 300; ++i) text_ += u"line " + U16(std::to_string(i)) + u"\n";
    plain_ = Decode(Sign(1 << 30));
  }
  std::u16string Sign(std::int64_t threshold) {
    EXPECT_ANSWER(s_.Put("MaxCompSize", threshold), 0, 0);
    EXPECT_ANSWER(s_.Call("QMSetPlainText", {text_}), 0, 0);
    return Result(s_.Call("QMAttachedSign", {u"CN=Li Si"}));
  }
  std::int64_t length() const { return static_cast<std::int64_t>(plain_.size()); }

  LiveSession s_ = Session();
  std::u16string text_;
  Bytes plain_;
};

TEST_F(SessionCompressionTest, ASignatureAtTheThresholdIsFramed) {
  ASSERT_FALSE(plain_.empty());
  EXPECT_EQ(plain_[0], 0x30);
  const Bytes framed = Decode(Sign(length()));
  ASSERT_GE(framed.size(), 2u);
  EXPECT_EQ(framed[0], 0x1f);
  EXPECT_EQ(framed[1], 0x8b);
  EXPECT_LT(framed.size(), plain_.size());
  EXPECT_EQ(Decode(Sign(1))[0], 0x1f);
}

TEST_F(SessionCompressionTest, OneByteUnderTheThresholdStaysDer) {
  EXPECT_EQ(Decode(Sign(length() + 1)), plain_);
}

TEST_F(SessionCompressionTest, AFramedSignatureVerifies) {
  const std::u16string at = Sign(length());
  EXPECT_ANSWER(s_.Call("QMAttachedVerify", {at}), 0, 0);
  EXPECT_EQ(Result(s_.Call("QMGetPlainText")), text_);
  EXPECT_ANSWER(s_.Call("QMAfterwardsVerify", {at}), 0, 0);
}

TEST_F(SessionCompressionTest, DetachedSignaturesAreNeverCompressed) {
  EXPECT_ANSWER(s_.Put("MaxCompSize", 1), 0, 0);
  Value detached = s_.Call("QMDetachedSign", {text_, u"CN=Li Si"});
  EXPECT_EQ(Decode(Result(detached))[0], 0x30);
  EXPECT_ANSWER(s_.Call("QMDetachedVerify", {Result(detached), text_}), 0, 0);
}

}  // namespace
}  // namespace quillmark::control
