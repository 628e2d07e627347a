// The Advance members end to end: one live `quillmark session` per test over
// a home holding the demonstration PKI (RSA signers in "MY", the SM2 signer
// in "MY" and in the store "SM2").
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/json.h"
#include "common/unicode.h"
#include "encoding/base64.h"
#include "support/demo_pki_session.h"
#include "support/live_session.h"
#include "support/session_answers.h"

namespace quillmark::control {
namespace {

using json::Value;
using testing::LiveSession;
using testing::Result;

const std::u16string kLi = u"CN=Li Si, OU=Corporate, O=Demo Bank, C=CN";
const std::u16string kZhao = u"CN=赵六, OU=Personal, O=Demo Bank, C=CN";

// The DER (or compression frame) inside a Base64 answer.
Bytes Decoded(const std::u16string& text) {
  Bytes out;
  EXPECT_EQ(encoding::Base64Decode(AsBytes(Utf16ToUtf8Lossy(text)), &out), 0);
  return out;
}

class SessionAdvanceTest : public testing::DemoPkiSessionTest {
 protected:
  static std::u16string AttachedSign(LiveSession& s, const std::u16string& text,
                                     const std::u16string& dn,
                                     const char* member = "QMAdvanceAttachedSign") {
    s.Call("QMSetPlainText", {text});
    return Result(s.Call(member, {dn}));
  }
};

TEST_F(SessionAdvanceTest, RsaRoundTripsByDnAndInServerMode) {
  LiveSession s = Start();
  std::u16string attached = AttachedSign(s, u"pay 100 元", u"CN=Li Si");
  ASSERT_FALSE(attached.empty());
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kLi);
  // The outgoing plain text went with the signature.
  EXPECT_ANSWER(s.Call("QMAdvanceAttachedSign", {u"CN=Li Si"}), 1, -10001, "源数据为空");
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), u"");

  EXPECT_ANSWER(s.Call("QMAdvanceAttachedVerify", {attached}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"pay 100 元");
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kLi);

  // The detached member signs its argument and still drops a stored text.
  s.Call("QMSetPlainText", {u"stored"});
  std::u16string detached = Result(s.Call("QMAdvanceDetachedSign", {u"pay 200 元", u"CN=Li Si"}));
  ASSERT_FALSE(detached.empty());
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=Li Si"}), 1, -10001, "源数据为空");
  EXPECT_ANSWER(s.Call("QMAdvanceDetachedVerify", {detached, u"pay 200 元"}), 0, 0);
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kLi);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"pay 100 元") << "detached leaves it";

  Value changed = s.Call("QMAdvanceDetachedVerify", {detached, u"pay 900 元"});
  EXPECT_ANSWER(changed, 1, -10032, "验证错误");
  EXPECT_EQ(changed.Find(u"errorCode")->integer(), -10032);
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), u"");
  EXPECT_ANSWER(s.Call("QMAdvanceDetachedVerify", {attached, u"pay 100 元"}), 1, -10010,
                "验证错误");

  // A failed attached verification keeps the earlier content readable.
  EXPECT_ANSWER(s.Call("QMAdvanceAttachedVerify", {u"YWJj"}), 1, -10037, "验证错误");
  EXPECT_ANSWER(s.Call("QMAdvanceAttachedVerify", {u"=AAA"}), 1, -10037, "验证错误");
  EXPECT_ANSWER(s.Call("QMAdvanceAttachedVerify", {u"YWJ"}), 1, -10002, "验证错误");
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"pay 100 元");

  // Server mode: the DN is required and resolved without a dialog.
  s.Put("QMServerMode", 1);
  s.Call("QMSetPlainText", {u"x"});
  EXPECT_ANSWER(s.Call("QMAdvanceAttachedSign", {u""}), 1, -10001, "必须设置默认证书DN");
  EXPECT_ANSWER(s.Call("QMAdvanceAttachedSign", {u"CN=Li Si"}), 1, -10001, "源数据为空");
  EXPECT_ANSWER(s.Call("QMUseSpecAdvanceDetachedSign", {u"x", u""}), 1, -10001,
                "必须设置默认证书DN");
  Value server = s.Call("QMAdvanceDetachedSign", {u"server", u"CN=张三"});
  EXPECT_ANSWER(server, 0, 0);
  EXPECT_TRUE(server.Find(u"dialogs")->array().empty());
  EXPECT_ANSWER(s.Call("QMAdvanceDetachedVerify", {Result(server), u"server"}), 0, 0);
}

TEST_F(SessionAdvanceTest, KeySpecDigestAndCompression) {
  LiveSession s = Start();
  // Only signature keys: Li Si has one, 张三 an exchange key.
  std::u16string by_spec = AttachedSign(s, u"spec", u"CN=Li Si", "QMUseSpecAdvanceAttachedSign");
  EXPECT_ANSWER(s.Call("QMAdvanceAttachedVerify", {by_spec}), 0, 0);
  std::u16string spec_detached =
      Result(s.Call("QMUseSpecAdvanceDetachedSign", {u"spec", u"CN=Li Si"}));
  EXPECT_ANSWER(s.Call("QMAdvanceDetachedVerify", {spec_detached, u"spec"}), 0, 0);
  s.Call("QMSetPlainText", {u"spec"});
  EXPECT_ANSWER(s.Call("QMUseSpecAdvanceAttachedSign", {u"CN=张三"}), 1, -10005, "签名失败");

  // MD5 names 1.2.840.113549.2.5 (06 08 2A 86 48 86 F7 0D 02 05) in both
  // digest fields.
  s.Call("QMSetDigestArithmetic", {u"1.2.840.113549.2.5"});
  std::u16string md5 = AttachedSign(s, u"md5", u"CN=张三");
  const Bytes der = Decoded(md5);
  const Bytes oid = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05};
  int count = 0;
  for (auto it = der.begin();
       (it = std::search(it, der.end(), oid.begin(), oid.end())) != der.end(); ++it) {
    ++count;
  }
  EXPECT_EQ(count, 2);
  EXPECT_ANSWER(s.Call("QMAdvanceAttachedVerify", {md5}), 0, 0);
  s.Call("QMSetDigestArithmetic", {u"2.16.840.1.101.3.4.2.1"});
  s.Call("QMSetPlainText", {u"sha-256"});
  EXPECT_ANSWER(s.Call("QMAdvanceAttachedSign", {u"CN=张三"}), 1, -10033, "签名失败");
  s.Call("QMSetDigestArithmetic", {u"1.3.14.3.2.26"});

  // Packages at or above MaxCompSize travel as a compression frame.
  s.Put("MaxCompSize", 600);
  std::u16string big = AttachedSign(s, std::u16string(3000, u'z'), u"CN=Li Si");
  EXPECT_EQ(Decoded(big)[0], 0x1F);
  EXPECT_ANSWER(s.Call("QMAdvanceAttachedVerify", {big}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), std::u16string(3000, u'z'));
  std::u16string framed = Result(s.Call("QMAdvanceDetachedSign", {u"short", u"CN=Li Si"}));
  EXPECT_EQ(Decoded(framed)[0], 0x1F);
  EXPECT_ANSWER(s.Call("QMAdvanceDetachedVerify", {framed, u"short"}), 0, 0);
}

TEST_F(SessionAdvanceTest, Sm2SigningBySignMode) {
  LiveSession s = Start("choose 1\nchoose 0\n");
  // Sign mode 2 without an SM2 store name fails before any certificate is
  // looked at: no chooser, although no DN was given.
  s.Put("QMSignMode", 2);
  s.Call("QMSetPlainText", {u"sm2"});
  Value no_store = s.Call("QMAdvanceAttachedSign", {u""});
  EXPECT_ANSWER(no_store, 1, -10062, "签名失败");
  EXPECT_TRUE(no_store.Find(u"dialogs")->array().empty());
  EXPECT_ANSWER(s.Call("QMAdvanceAttachedSign", {u"CN=赵六"}), 1, -10001, "源数据为空");

  // 赵六 is in "MY" and in "SM2": the chooser offers both copies.
  s.Call("QMSetSM2CertStoreName", {u"SM2"});
  std::u16string sm2 = AttachedSign(s, u"sm2", u"CN=赵六");
  ASSERT_FALSE(sm2.empty());
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kZhao);
  // SM3 (1.2.156.10197.1.401) in the package, and it is refused by both
  // verifications.
  const Bytes der = Decoded(sm2);
  const Bytes sm3 = {0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x11};
  EXPECT_NE(std::search(der.begin(), der.end(), sm3.begin(), sm3.end()), der.end());
  EXPECT_ANSWER(s.Call("QMAdvanceAttachedVerify", {sm2}), 1, -10038, "验证错误");
  s.Put("QMServerMode", 1);
  std::u16string sm2_detached = Result(s.Call("QMAdvanceDetachedSign", {u"sm2", u"CN=赵六"}));
  ASSERT_FALSE(sm2_detached.empty());
  EXPECT_ANSWER(s.Call("QMAdvanceDetachedVerify", {sm2_detached, u"sm2"}), 1, -10038, "验证错误");

  // Sign mode 4 prefers SM2 among both kinds; mode 1 never takes SM2.
  s.Put("QMServerMode", 0);
  s.Put("QMSignMode", 4);
  AttachedSign(s, u"either", u"CN=赵六|CN=Li Si");
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kZhao);
  s.Put("QMSignMode", 1);
  std::u16string rsa = AttachedSign(s, u"either", u"CN=赵六|CN=Li Si");
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kLi);
  EXPECT_ANSWER(s.Call("QMAdvanceAttachedVerify", {rsa}), 0, 0);
}

TEST_F(SessionAdvanceTest, VerifyChecksTheSignatureTextFirst) {
  LiveSession s = Start();
  // With a code page that converts nothing, the first text converted fails
  // with -10034; an empty text before it fails with -10001.
  s.CallInt("QMSetCodePage", 12345);
  EXPECT_ANSWER(s.Call("QMAdvanceDetachedVerify", {u"", u"x"}), 1, -10001, "源数据为空");
  EXPECT_ANSWER(s.Call("QMAdvanceDetachedVerify", {u"x", u""}), 1, -10034, "字符编码转换失败");
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {u"", u"x"}), 1, -10034, "字符编码转换失败");
  EXPECT_ANSWER(s.Call("QMAdvanceDetachedSign", {u"x", u"CN=Li Si"}), 1, -10034,
                "字符编码转换失败");
}

}  // namespace
}  // namespace quillmark::control
