// The signing members that find their signer by serial number (and issuer)
// end to end.
#include <gtest/gtest.h>

#include <string>

#include "support/session_answers.h"
#include "support/sign_session.h"

namespace quillmark::control {
namespace {

using json::Value;
using testing::kCustomerCa;
using testing::LiveSession;
using testing::Result;
using testing::SessionSignTest;

class SessionSignBySerialTest : public SessionSignTest {
 protected:
  void SetUp() override { ASSERT_EQ(fixed_, u"0A1B2C"); }

  const std::u16string li_ = SignerOf("CN=Li Si").serial;
  const std::u16string fixed_ = SignerOf("CN=Fixed Issuer User").serial;
  const std::u16string too_long_ = std::u16string(32769, u'x');
  LiveSession s_ = Session();
};

TEST_F(SessionSignBySerialTest, IssuerAndSerialFindTheSignerInEitherDnOrder) {
  EXPECT_ANSWER(s_.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s_.Call("QMAttachedSignByIssuerSN", {li_, kCustomerCa}), 0, 0);
  EXPECT_EQ(SignerInfo(s_), InfoOf("CN=Li Si"));
  EXPECT_ANSWER(s_.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(
      s_.Call("QMAttachedSignByIssuerSN",
              {li_, u"C=CN, O=Demo Bank, OU=Certification Services, CN=Demo Bank Customer CA"}),
      0, 0);
}

// An empty issuer is the fixed one, under which Li Si was not issued.
TEST_F(SessionSignBySerialTest, AnEmptyIssuerIsTheFixedOne) {
  EXPECT_ANSWER(s_.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s_.Call("QMAttachedSignByIssuerSN", {li_, u""}), 1, -10005, u"签名失败");
  EXPECT_ANSWER(s_.Call("QMSetPlainText", {u"p"}), 0, 0);
  Value by_sn = s_.Call("QMAttachedSignBySN", {fixed_});
  EXPECT_ANSWER(by_sn, 0, 0);
  EXPECT_EQ(SignerInfo(s_), InfoOf("CN=Fixed Issuer User"));
}

// The issuer's commas are counted even without a serial number.
TEST_F(SessionSignBySerialTest, IssuerCommasAreCountedWithoutASerial) {
  std::u16string commas256 = u"CN=a" + std::u16string(256, u',');
  EXPECT_ANSWER(s_.Call("QMSetPlainText", {u"p"}), 0, 0);
  Value commas = s_.Call("QMAttachedSignByIssuerSN", {u"", commas256});
  EXPECT_ANSWER(commas, 1, -10057, u"DN验证失败");
  EXPECT_TRUE(commas.Find(u"dialogs")->array().empty());
  EXPECT_ANSWER(s_.Call("QMAttachedSignBySN", {fixed_}), 1, -10001, u"源数据为空");
}

// An issuer too long is "IssuerDN太长" in one member only.
TEST_F(SessionSignBySerialTest, AnIssuerTooLongIsReportedByEachMember) {
  EXPECT_ANSWER(s_.Call("QMDetachedSignByIssuerSN", {u"d", li_, too_long_}), 1, -10056,
                u"IssuerDN太长");
  EXPECT_ANSWER(s_.Call("QMUseKeySpecDetachedSignByIssuerSN", {u"d", li_, too_long_}), 1, -10056,
                u"DN太长");
  EXPECT_ANSWER(s_.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s_.Call("QMAttachedSignByIssuerSN", {li_, too_long_}), 1, -10056, u"DN太长");
}

TEST_F(SessionSignBySerialTest, DetachedByIssuerAndSerialVerifies) {
  Value detached = s_.Call("QMDetachedSignByIssuerSN", {u"d", li_, kCustomerCa});
  EXPECT_ANSWER(detached, 0, 0);
  EXPECT_ANSWER(s_.Call("QMDetachedVerify", {Result(detached), u"d"}), 0, 0);
}

// QMDetachedSignBySN signs its argument yet drops the stored text.
TEST_F(SessionSignBySerialTest, DetachedBySerialDropsTheStoredText) {
  EXPECT_ANSWER(s_.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s_.Call("QMDetachedSignBySN", {u"d", fixed_}), 0, 0);
  EXPECT_ANSWER(s_.Call("QMAttachedSign", {u"CN=Li Si"}), 1, -10001, u"源数据为空");
}

// Key-spec variants: the fixed issuer's user has an exchange key.
TEST_F(SessionSignBySerialTest, KeySpecVariantsRefuseTheExchangeKeyUser) {
  EXPECT_ANSWER(s_.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s_.Call("QMUseKeySpecAttachedSignBySN", {fixed_}), 1, -10005, u"签名失败");
  EXPECT_ANSWER(s_.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s_.Call("QMUseKeySpecAttachedSignByIssuerSN", {li_, kCustomerCa}), 0, 0);
  EXPECT_ANSWER(s_.Call("QMUseKeySpecDetachedSignBySN", {u"d", fixed_}), 1, -10005, u"签名失败");
  EXPECT_ANSWER(s_.Call("QMUseKeySpecDetachedSignByIssuerSN", {u"d", li_, kCustomerCa}), 0, 0);
  EXPECT_ANSWER(s_.Call("QMDetachedSignBySN", {u"d", fixed_}), 0, 0);
}

}  // namespace
}  // namespace quillmark::control
