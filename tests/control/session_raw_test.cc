// The raw signature members and the signed-file member end to end: one live
// `quillmark session` per test over a home holding the demonstration PKI,
// with the openssl command as the peer for the raw signature's byte order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/json.h"
#include "common/unicode.h"
#include "demo/demo_pki.h"
#include "encoding/base64.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "support/cert_factory.h"
#include "support/demo_pki_session.h"
#include "support/live_session.h"
#include "support/session_answers.h"
#include "support/test_dirs.h"

namespace quillmark::control {
namespace {

using json::Value;
using testing::LiveSession;

std::string U8(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }
std::u16string U16(std::string_view s) { return Utf8ToUtf16Lossy(s); }

const std::u16string kZhang = u"CN=张三, OU=Personal, O=Demo Bank, C=CN";
const std::u16string kLi = u"CN=Li Si, OU=Corporate, O=Demo Bank, C=CN";

using testing::Result;

class SessionRawTest : public testing::DemoPkiSessionTest {
 protected:
  static std::u16string RawSign(LiveSession& s, const std::u16string& text,
                                const std::u16string& dn, const char* member = "QMRawSign") {
    s.Call("QMSetPlainText", {text});
    return Result(s.Call(member, {dn}));
  }
};

TEST_F(SessionRawTest, SignAndVerifyRoundTripAndFailures) {
  LiveSession s = Start();
  std::u16string signature = RawSign(s, u"pay 100 元", u"CN=张三");
  ASSERT_FALSE(signature.empty());
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kZhang);
  // The outgoing plain text went with the signature.
  EXPECT_ANSWER(s.Call("QMRawSign", {u"CN=张三"}), 1, -10001, "源数据为空");
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), u"");

  EXPECT_ANSWER(s.Call("QMRawVerify", {signature, u"CN=张三", u"pay 100 元"}), 0, 0);
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kZhang);
  Value changed = s.Call("QMRawVerify", {signature, u"CN=张三", u"pay 900 元"});
  EXPECT_ANSWER(changed, 1, -10032, "验证错误");
  EXPECT_EQ(changed.Find(u"errorCode")->integer(), -2146893818);  // 0x80090006
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), u"");
  // Another certificate's key does not verify it either.
  EXPECT_ANSWER(s.Call("QMRawVerify", {signature, u"CN=Li Si", u"pay 100 元"}), 1, -10032,
                "验证错误");

  // Only signature keys with the key-spec member: Li Si has one, 张三 not.
  std::u16string by_spec = RawSign(s, u"spec", u"CN=Li Si", "QMUseKeySpecRawSign");
  EXPECT_ANSWER(s.Call("QMRawVerify", {by_spec, u"CN=Li Si", u"spec"}), 0, 0);
  s.Call("QMSetPlainText", {u"spec"});
  EXPECT_ANSWER(s.Call("QMUseKeySpecRawSign", {u"CN=张三"}), 1, -10005, "签名失败");

  // 王五's certificate is only in "MY": signing works, verifying finds no
  // certificate among the other people's (the reversed DN's chooser is
  // cancelled).
  std::u16string only_mine = RawSign(s, u"mine", u"CN=王五");
  ASSERT_FALSE(only_mine.empty());
  EXPECT_ANSWER(s.Call("QMRawVerify", {only_mine, u"CN=王五", u"mine"}), 1, -10005, "验证错误");

  // A digest OID with no hash algorithm fails at the hash in both directions.
  s.Call("QMSetDigestArithmetic", {u"1.2.3.4"});
  s.Call("QMSetPlainText", {u"x"});
  Value no_hash = s.Call("QMRawSign", {u"CN=张三"});
  EXPECT_ANSWER(no_hash, 1, -10029, "签名失败");
  EXPECT_EQ(no_hash.Find(u"errorCode")->integer(), -2146893816);  // 0x80090008
  EXPECT_ANSWER(s.Call("QMRawVerify", {signature, u"CN=张三", u"pay 100 元"}), 1, -10029,
                "验证错误");
  s.Call("QMSetDigestArithmetic", {u"2.16.840.1.101.3.4.2.1"});
  std::u16string sha256 = RawSign(s, u"sha-256", u"CN=Li Si");
  EXPECT_ANSWER(s.Call("QMRawVerify", {sha256, u"CN=Li Si", u"sha-256"}), 0, 0);
}

TEST_F(SessionRawTest, ArgumentChecksInOrder) {
  LiveSession s = Start();
  // The data first, then the signature, then the DN.
  EXPECT_ANSWER(s.Call("QMRawVerify", {u"", std::u16string(40000, u'a'), u""}), 1, -10001,
                "源数据为空");
  EXPECT_ANSWER(s.Call("QMRawVerify", {u"", std::u16string(40000, u'a'), u"x"}), 1, -10001,
                "源数据为空");
  EXPECT_ANSWER(s.Call("QMRawVerify", {u"AAAA", std::u16string(40000, u'a'), u"x"}), 1, -10056,
                "DN太长");
  EXPECT_ANSWER(s.Call("QMRawVerify", {u"AAAA", u"a|b|c|d|e|f", u"x"}), 1, -10025, "DN分隔符超限");
  EXPECT_ANSWER(s.Call("QMRawVerify", {u"A", u"CN=张三", u"x"}), 1, -10002, "验证错误");
  s.Put("QMServerMode", 1);
  EXPECT_ANSWER(s.Call("QMRawVerify", {u"AAAA", u"", u"x"}), 1, -10001, "必须设置默认证书DN");
  s.Call("QMSetPlainText", {u"x"});
  EXPECT_ANSWER(s.Call("QMRawSign", {u""}), 1, -10001, "必须设置默认证书DN");
  EXPECT_ANSWER(s.Call("QMRawSign", {u"CN=张三"}), 1, -10001, "源数据为空");
  // Server mode resolves the DN without a dialog.
  std::u16string signature = RawSign(s, u"server", u"CN=张三");
  Value verified = s.Call("QMRawVerify", {signature, u"CN=张三", u"server"});
  EXPECT_ANSWER(verified, 0, 0);
  EXPECT_TRUE(verified.Find(u"dialogs")->array().empty());
}

TEST_F(SessionRawTest, OpensslChecksWhatIsSignedHereAndTheReverse) {
  LiveSession s = Start();
  const std::string dir = work_.path() + "/";
  const std::string key =
      home_->path() + "/keys/" + U8(Item("MY", kZhang).container) + "/exchange.pem";
  const Bytes cert = FileBytes(home_->path() + "/stores/AddressBook/" +
                               Item("AddressBook", kZhang).thumbprint + ".cer");
  ASSERT_TRUE(
      testing::WriteBytes(dir + "cert.pem", AsBytes(testing::DerToPem(cert, "CERTIFICATE"))));
  ASSERT_EQ(testing::RunShell("openssl x509 -pubkey -noout -in '" + dir + "cert.pem' > '" + dir +
                              "pub.pem'"),
            0);
  // "元" is two bytes in code page 936: openssl gets the same bytes.
  ASSERT_TRUE(testing::WriteBytes(dir + "data.txt", AsBytes("pay 100 \xD4\xAA")));

  Bytes raw;
  ASSERT_EQ(encoding::Base64Decode(AsBytes(U8(RawSign(s, u"pay 100 元", u"CN=张三"))), &raw), 0);
  ASSERT_EQ(raw.size(), 256u);
  ASSERT_TRUE(testing::WriteBytes(dir + "sig.bin", raw));
  std::string out;
  EXPECT_EQ(
      testing::RunShellCapture("openssl dgst -sha1 -verify '" + dir + "pub.pem' -signature '" +
                                   dir + "sig.bin' '" + dir + "data.txt' 2>&1",
                               &out),
      0);
  EXPECT_EQ(out, "Verified OK\n");

  ASSERT_EQ(testing::RunShell("openssl dgst -sha1 -sign '" + key + "' -out '" + dir + "o.bin' '" +
                              dir + "data.txt'"),
            0);
  // PKCS#1 v1.5 is deterministic: the same bytes in the same order.
  EXPECT_EQ(FileBytes(dir + "o.bin"), raw);
  Bytes text;
  ASSERT_EQ(encoding::Base64Encode(FileBytes(dir + "o.bin"), &text), 0);
  EXPECT_ANSWER(s.Call("QMRawVerify", {U16(AsChars(text)), u"CN=张三", u"pay 100 元"}), 0, 0);
}

TEST_F(SessionRawTest, VerifySignedFileSavesTheContent) {
  const std::string signed_file = work_.File("report.pdf.sign"), p7 = work_.File("report.p7"),
                    saved = work_.File("out.pdf");
  LiveSession s = Start("save " + saved + "\nopen " + p7 + "\nsave\nopen " + signed_file +
                        "\ncancel\ncancel\n");
  s.Call("QMSetPlainText", {u"report body"});
  std::u16string signature = Result(s.Call("QMAttachedSign", {u"CN=Li Si"}));
  ASSERT_TRUE(testing::WriteBytes(signed_file, AsBytes(U8(signature))));
  ASSERT_TRUE(testing::WriteBytes(p7, AsBytes(U8(signature))));

  Value verified = s.Call("QMAttachedVerifySignedFile", {U16(signed_file)});
  EXPECT_ANSWER(verified, 0, 0);
  ASSERT_EQ(verified.Find(u"dialogs")->array().size(), 1u);
  const Value& save = verified.Find(u"dialogs")->array()[0];
  EXPECT_EQ(save.Find(u"title")->string(), u"Save");
  EXPECT_EQ(save.Find(u"defaultName")->string(), u"report.pdf");
  EXPECT_EQ(AsChars(FileBytes(saved)), "report body");
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kLi);

  // Picked in the Open dialog; a name without ".sign" offers none, and a Save
  // answer without a name is a failure to save after a good verification.
  Value unnamed = s.Call("QMAttachedVerifySignedFile", {u""});
  EXPECT_ANSWER(unnamed, 1, -1, "保存文件失败");
  EXPECT_EQ(unnamed.Find(u"dialogs")->array().at(1).Find(u"defaultName")->string(), u"");
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kLi);

  EXPECT_ANSWER(s.Call("QMAttachedVerifySignedFile", {u""}), 1, -1, "保存文件失败");
  EXPECT_ANSWER(s.Call("QMAttachedVerifySignedFile", {u""}), 1, -10004, "用户取消");
  EXPECT_ANSWER(s.Call("QMAttachedVerifySignedFile", {std::u16string(257, u'a')}), 1, -10056,
                "文件名超长");
  ASSERT_TRUE(testing::WriteBytes(p7, AsBytes("not a signature")));
  EXPECT_ANSWER(s.Call("QMAttachedVerifySignedFile", {U16(p7)}), 1, -10002, "验证错误");
  EXPECT_ANSWER(s.Call("QMAttachedVerifySignedFile", {U16(work_.File("missing"))}), 1, -1,
                "读取文件失败");
  s.Put("QMServerMode", 1);
  EXPECT_ANSWER(s.Call("QMAttachedVerifySignedFile", {u""}), 1, -10001, "源数据为空");
}

}  // namespace
}  // namespace quillmark::control
