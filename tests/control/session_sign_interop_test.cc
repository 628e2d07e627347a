// Signatures made here checked by the openssl command and the reverse,
// formatted plain text through a signature, received files saved in server
// mode, and the digest member, end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/unicode.h"
#include "encoding/compress_frame.h"
#include "platform/os/files.h"
#include "support/cert_factory.h"
#include "support/session_answers.h"
#include "support/sign_session.h"

namespace quillmark::control {
namespace {

using json::Value;
using testing::Decode;
using testing::Encode;
using testing::LiveSession;
using testing::Result;
using testing::SessionSignTest;
using testing::U16;

TEST_F(SessionSignTest, FormattedPlaintextSignedVerifiedAndTakenApart) {
  const Bytes file_bytes = {'%', 'P', 'D', 'F', 0, 1, 2, 0xFF, '\n'};
  ASSERT_TRUE(testing::WriteBytes(work_.File("invoice.pdf"), file_bytes));
  const std::string saved = work_.File("saved.pdf");
  LiveSession s = Session("save " + saved + "\n");
  EXPECT_ANSWER(s.Call("QMAddFormItem", {u"金额=100.00"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAddFormItem", {u"账号=6222 0000"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAddFile", {U16(work_.File("invoice.pdf"))}), 0, 0);
  Value signed_answer = s.Call("QMAttachedSign", {u"CN=Li Si"});
  EXPECT_ANSWER(signed_answer, 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {Result(signed_answer)}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetFormItem")), u"金额=100.00");
  EXPECT_EQ(Result(s.Call("QMGetFormItem")), u"账号=6222 0000");
  Value file = s.Call("QMGetFile");
  EXPECT_ANSWER(file, 0, 0);
  EXPECT_EQ(Result(file), u"invoice.pdf");
  Bytes written;
  ASSERT_TRUE(platform::ReadWholeFile(saved, &written));
  EXPECT_EQ(written, file_bytes);
}

// Megabytes of file and of text (past the compression threshold, the size up
// to which certificates come from the cache, and many read and Base64
// blocks) signed and verified through the members: openssl reads the file
// back out of the signature, and the received file, the saved content of a
// signed file and the received text are the bytes that went in.
TEST_F(SessionSignTest, MegabytesOfFileAndTextSurviveSigningAndVerification) {
  Bytes file_bytes((3 << 20) + 11);
  for (std::size_t i = 0; i < file_bytes.size(); ++i) {
    file_bytes[i] = static_cast<std::uint8_t>((i * 2246822519u) >> 11);
  }
  ASSERT_TRUE(testing::WriteBytes(work_.File("scan.tif"), file_bytes));
  const std::string saved = work_.File("saved.tif"), signed_file = work_.File("whole.sign"),
                    content = work_.File("whole");
  LiveSession s = Session("save " + saved + "\nsave " + content + "\n");
  EXPECT_ANSWER(s.Call("QMAddFile", {U16(work_.File("scan.tif"))}), 0, 0);
  Value signed_answer = s.Call("QMAttachedSign", {u"CN=Li Si"});
  EXPECT_ANSWER(signed_answer, 0, 0);
  const std::u16string signature = Result(signed_answer);

  Bytes der = Decode(signature);
  ASSERT_TRUE(encoding::ExpandFrame(&der, encoding::kMaxExpandedMessage));
  ASSERT_TRUE(testing::WriteBytes(work_.File("p7.der"), der));
  ASSERT_EQ(
      testing::RunShell("openssl smime -verify -inform DER -noverify -binary -in " +
                        work_.File("p7.der") + " -out " + work_.File("out.bin") + " 2>/dev/null"),
      0);
  Bytes formatted;
  ASSERT_TRUE(platform::ReadWholeFile(work_.File("out.bin"), &formatted));
  auto at = std::search(formatted.begin(), formatted.end(), file_bytes.begin(), file_bytes.end());
  EXPECT_TRUE(at != formatted.end() && formatted.end() - at == std::ssize(file_bytes));

  EXPECT_ANSWER(s.Call("QMAttachedVerify", {signature}), 0, 0);
  Value file = s.Call("QMGetFile");
  EXPECT_ANSWER(file, 0, 0);
  EXPECT_EQ(Result(file), u"scan.tif");
  Bytes written;
  ASSERT_TRUE(platform::ReadWholeFile(saved, &written));
  EXPECT_TRUE(written == file_bytes);

  ASSERT_TRUE(testing::WriteBytes(signed_file, AsBytes(Utf16ToUtf8Lossy(signature))));
  EXPECT_ANSWER(s.Call("QMAttachedVerifySignedFile", {U16(signed_file)}), 0, 0);
  ASSERT_TRUE(platform::ReadWholeFile(content, &written));
  EXPECT_TRUE(written == formatted);

  std::u16string text;
  for (std::size_t i = 0; i < (3u << 19) + 7; ++i) {
    text.push_back(i % 7 == 0 ? u"付款元"[i % 3] : static_cast<char16_t>(u'a' + i % 26));
  }
  EXPECT_ANSWER(s.Call("QMSetPlainText", {text}), 0, 0);
  signed_answer = s.Call("QMAttachedSign", {u"CN=Li Si"});
  EXPECT_ANSWER(signed_answer, 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {Result(signed_answer)}), 0, 0);
  EXPECT_TRUE(Result(s.Call("QMGetPlainText")) == text);
}

// In server mode a received file goes, without a dialog, into the folder that
// registration wrote as stubPath; the sender's name cannot leave that folder.
TEST_F(SessionSignTest, ReceivedFileSavedIntoStubPathInServerMode) {
  ASSERT_TRUE(testing::WriteBytes(work_.File("report.txt"), AsBytes("quarterly report")));
  const std::string env = "HOME='" + work_.path() + "' ";
  const std::string cli = std::string(QM_CLI_PATH) + " ";
  ASSERT_EQ(testing::RunShell(env + cli + "register --home '" + home_->path() + "' >/dev/null"), 0);
  LiveSession s = Session("open " + work_.File("report.txt") + "\n");
  EXPECT_ANSWER(s.Call("QMAddFile", {U16(work_.File("report.txt"))}), 0, 0);
  Value signed_answer = s.Call("QMAttachedSign", {u"CN=Li Si"});
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {Result(signed_answer)}), 0, 0);
  EXPECT_ANSWER(s.Put("QMServerMode", 1), 0, 0);
  Value file = s.Call("QMGetFile");
  EXPECT_ANSWER(file, 0, 0);
  EXPECT_EQ(Result(file), u"report.txt");
  EXPECT_TRUE(file.Find(u"dialogs")->array().empty());
  Bytes written;
  ASSERT_TRUE(platform::ReadWholeFile(work_.File("quillmarkStub/report.txt"), &written));
  EXPECT_EQ(AsChars(written), "quarterly report");
  ASSERT_EQ(testing::RunShell(env + cli + "unregister --home '" + home_->path() + "' >/dev/null"),
            0);
}

TEST_F(SessionSignTest, DigestOfTheGbkBytesWithTheChosenAlgorithm) {
  LiveSession s = Session();
  Value abc = s.Call("QMHashAndBase64Encode", {u"abc"});
  EXPECT_ANSWER(abc, 0, 0);
  EXPECT_EQ(Result(abc), u"qZk+NkcGgWq6PiVxeFDCbJzQ2J0=\n");
  // GBK bytes of the text, with SHA-256.
  EXPECT_ANSWER(s.Call("QMSetDigestArithmetic", {u"2.16.840.1.101.3.4.2.1"}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMHashAndBase64Encode", {u"中"})),
            u"cDsMYfjRmSIZQE6nS3nvPtxmOL3s90mflMkzNPAIb+Y=\n");
  // A one-byte text whose SHA-512 text is longer than the text length + 80.
  EXPECT_ANSWER(s.Call("QMSetDigestArithmetic", {u"2.16.840.1.101.3.4.2.3"}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMHashAndBase64Encode", {u"a"})),
            u"H0D8ktokFpR1CXnubPWC8tXX0o4YM13gWrxU0FYOD1MChgxlK/CNVgJSql50IQVG\n"
            u"82n7u86MEs/HlXsmUv6adQ==\n");
}

TEST_F(SessionSignTest, DigestFailures) {
  LiveSession s = Session();
  EXPECT_ANSWER(s.Call("QMHashAndBase64Encode", {u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMSetDigestArithmetic", {u"1.2.3.4"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMHashAndBase64Encode", {u"abc"}), 1, -10023, u"摘要失败");
}

class SessionSignInteropTest : public SessionSignTest {
 protected:
  void SetUp() override {
    // The intermediate CA travels in the trusted file: the messages carry only the signer.
    ASSERT_EQ(testing::RunShell("cat '" + home_->File("root.pem") + "' '" + home_->File("ca.pem") +
                                "' > '" + dir + "/chain.pem'"),
              0);
  }
  void write_der(const std::string& name, std::u16string_view text) {
    ASSERT_TRUE(testing::WriteBytes(dir + "/" + name, Decode(text)));
  }

  const std::string dir = work_.path();
  const std::string verify =
      "openssl smime -verify -binary -inform DER -CAfile '" + dir + "/chain.pem' -purpose any";
  const std::string gbk = "interop \xB2\xE2\xCA\xD4";
  LiveSession s = Session();
};

// Made here, checked by openssl: attached (plain and compressed) and detached.
TEST_F(SessionSignInteropTest, OpensslVerifiesAnAttachedSignature) {
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"interop 测试"}), 0, 0);
  write_der("attached.der", Result(s.Call("QMAttachedSign", {u"CN=Li Si"})));
  std::string out;
  EXPECT_EQ(testing::RunShellCapture(verify + " -in '" + dir + "/attached.der' 2>/dev/null", &out),
            0);
  EXPECT_EQ(out, gbk);
}

TEST_F(SessionSignInteropTest, OpensslVerifiesACompressedSignatureOnceUnzipped) {
  EXPECT_ANSWER(s.Put("MaxCompSize", 1), 0, 0);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"interop 测试"}), 0, 0);
  write_der("compressed.gz", Result(s.Call("QMAttachedSign", {u"CN=张三"})));
  std::string out;
  EXPECT_EQ(testing::RunShellCapture("gzip -dc < '" + dir + "/compressed.gz' > '" + dir +
                                         "/compressed.der' && " + verify + " -in '" + dir +
                                         "/compressed.der' 2>/dev/null",
                                     &out),
            0);
  EXPECT_EQ(out, gbk);
}

TEST_F(SessionSignInteropTest, OpensslVerifiesADetachedSignatureOfItsDataOnly) {
  EXPECT_ANSWER(s.Put("MaxCompSize", 1), 0, 0);
  write_der("detached.der", Result(s.Call("QMDetachedSign", {u"detached 数据", u"CN=Li Si"})));
  ASSERT_TRUE(testing::WriteBytes(dir + "/data.txt", AsBytes("detached \xCA\xFD\xBE\xDD")));
  EXPECT_EQ(testing::RunShell(verify + " -in '" + dir + "/detached.der' -content '" + dir +
                              "/data.txt' >/dev/null 2>&1"),
            0);
  ASSERT_TRUE(testing::WriteBytes(dir + "/other.txt", AsBytes("detached!")));
  EXPECT_NE(testing::RunShell(verify + " -in '" + dir + "/detached.der' -content '" + dir +
                              "/other.txt' >/dev/null 2>&1"),
            0);
}

// Made by openssl without attributes, checked here.
TEST_F(SessionSignInteropTest, OpensslSignaturesVerifyHere) {
  ASSERT_TRUE(testing::WriteBytes(dir + "/in.txt", AsBytes("from openssl \xD6\xD0")));
  const std::string sign = "openssl smime -sign -noattr -binary -in '" + dir +
                           "/in.txt' -signer '" + li_cert_ + "' -inkey '" + li_key_ +
                           "' -outform DER";
  ASSERT_EQ(testing::RunShell(sign + " -nodetach -out '" + dir + "/o-attached.der'"), 0);
  ASSERT_EQ(testing::RunShell(sign + " -out '" + dir + "/o-detached.der'"), 0);
  Bytes der;
  ASSERT_TRUE(platform::ReadWholeFile(dir + "/o-attached.der", &der));
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {Encode(der)}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"from openssl 中");
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Li Si"));
  ASSERT_TRUE(platform::ReadWholeFile(dir + "/o-detached.der", &der));
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {Encode(der), u"from openssl 中"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {Encode(der), u"from openssl 申"}), 1, -10010,
                u"验证错误");
}

}  // namespace
}  // namespace quillmark::control
