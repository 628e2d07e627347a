// The checks of the signer's certificate when a signature is verified:
// expiry, a missing issuer, revocation, and an SM2 chain.
#include <gtest/gtest.h>

#include <string>

#include "support/session_answers.h"
#include "support/sign_session.h"

namespace quillmark::control {
namespace {

using json::Value;
using testing::LiveSession;
using testing::Result;
using testing::SessionSignTest;

class SessionSignerChecksTest : public SessionSignTest {
 protected:
  // An attached signature of |content| by the signer named |dn|.
  std::u16string Sign(std::u16string_view dn, std::u16string_view content) {
    EXPECT_ANSWER(s_.Call("QMSetPlainText", {std::u16string(content)}), 0, 0);
    Value a = s_.Call("QMAttachedSign", {std::u16string(dn)});
    EXPECT_ANSWER(a, 0, 0);
    return Result(a);
  }

  LiveSession s_ = Session();
};

// Expired since it signed: refused by the full check, accepted afterwards.
TEST_F(SessionSignerChecksTest, AnExpiredSignerIsRefusedNowButAcceptedAfterwards) {
  const std::u16string expired = Sign(u"CN=Expired Signer", u"old");
  EXPECT_ANSWER(s_.Call("QMAttachedVerify", {expired}), 1, -10011, u"验证错误");
  EXPECT_EQ(SignerInfo(s_), NoInfo());
  EXPECT_ANSWER(s_.Call("QMAfterwardsVerify", {expired}), 0, 0);
  EXPECT_EQ(Result(s_.Call("QMGetPlainText")), u"old");
  EXPECT_EQ(SignerInfo(s_), InfoOf("CN=Expired Signer"));
  Value detached = s_.Call("QMDetachedSign", {u"d", u"CN=Expired Signer"});
  EXPECT_ANSWER(s_.Call("QMDetachedVerify", {Result(detached), u"d"}), 1, -10011, u"验证错误");
}

// No issuer installed: refused by both, and the received text stays.
TEST_F(SessionSignerChecksTest, ASignerWithoutAnInstalledIssuerIsRefusedByBoth) {
  EXPECT_ANSWER(s_.Call("QMAfterwardsVerify", {Sign(u"CN=Expired Signer", u"old")}), 0, 0);
  const std::u16string orphan = Sign(u"CN=Orphan Signer", u"orphan");
  EXPECT_ANSWER(s_.Call("QMAttachedVerify", {orphan}), 1, -10014, u"验证错误");
  EXPECT_ANSWER(s_.Call("QMAfterwardsVerify", {orphan}), 1, -10014, u"验证错误");
  EXPECT_EQ(Result(s_.Call("QMGetPlainText")), u"old");
}

// Revoked by the CA's CRL. The later check leaves out the revocation step,
// but the chain step still finds the CRL.
TEST_F(SessionSignerChecksTest, ARevokedSignerIsRefusedByBoth) {
  const std::u16string revoked = Sign(u"CN=王五", u"revoked");
  EXPECT_ANSWER(s_.Call("QMAttachedVerify", {revoked}), 1, -10012, u"验证错误");
  EXPECT_ANSWER(s_.Call("QMAfterwardsVerify", {revoked}), 1, -10013, u"验证错误");
}

// SM2 with the SM3 digest, under the SM2 CA.
TEST_F(SessionSignerChecksTest, AnSm2SignerVerifiesUnderTheSm2Ca) {
  EXPECT_ANSWER(s_.Call("QMSetDigestArithmetic", {u"1.2.156.10197.1.401"}), 0, 0);
  const std::u16string sm2 = Sign(u"CN=赵六", u"国密");
  EXPECT_ANSWER(s_.Call("QMAttachedVerify", {sm2}), 0, 0);
  EXPECT_EQ(Result(s_.Call("QMGetPlainText")), u"国密");
  EXPECT_EQ(SignerInfo(s_), InfoOf("CN=赵六"));
}

}  // namespace
}  // namespace quillmark::control
