// The envelope members end to end: one live `quillmark session` per test
// over a home that holds the demonstration PKI, and interop with the openssl
// command in both directions.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/json.h"
#include "common/unicode.h"
#include "demo/demo_pki.h"
#include "encoding/base64.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/store/cert_store.h"
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
constexpr char kOpenSignedFailed[] = "解密带签名的数字信封错误";

using testing::Result;

class SessionEnvelopeTest : public testing::DemoPkiSessionTest {
 protected:
  static Bytes CertDer(const char* store, std::u16string_view name) {
    return FileBytes(home_->path() + "/stores/" + store + "/" + Item(store, name).thumbprint +
                     ".cer");
  }
  static std::string KeyFile(std::u16string_view name, const char* spec) {
    return home_->path() + "/keys/" + U8(Item("MY", name).container) + "/" + spec + ".pem";
  }
  static std::u16string Base64Of(ByteSpan der) {
    Bytes text;
    EXPECT_EQ(encoding::Base64Encode(der, &text), 0);
    return U16(AsChars(text));
  }

  static std::u16string Seal(LiveSession& s, const std::u16string& recipient) {
    s.Call("QMSetPlainText", {u"你好, envelope"});
    return Result(s.Call("QMEncryptedEnvelop", {recipient}));
  }

  // The chooser row of |name| among the recipient stores: stores in order,
  // each in thumbprint order.
  static int RecipientRow(std::u16string_view name) {
    std::vector<std::pair<std::string, std::u16string>> rows;
    for (const char* store : {"CA", "ROOT", "AddressBook"}) {
      std::size_t first = rows.size();
      for (const ::quillmark::demo::DemoItem& item : items_) {
        if (item.store == store && item.role != "CRL")
          rows.emplace_back(item.thumbprint, item.name);
      }
      std::sort(rows.begin() + static_cast<std::ptrdiff_t>(first), rows.end());
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].second == name) return static_cast<int>(i);
    }
    return -1;
  }
};

TEST_F(SessionEnvelopeTest, PlainTextAndCertificateTextsAfterSuccessAndFailure) {
  const std::u16string qian = u"CN=钱七, OU=Personal, O=Demo Bank, C=CN";
  LiveSession s = Start("cancel\nchoose " + std::to_string(RecipientRow(qian)) + "\ncancel\n");
  // Made: the recipient's texts; the outgoing plain text is consumed.
  std::u16string envelope = Seal(s, u"CN=张三");
  ASSERT_FALSE(envelope.empty());
  EXPECT_EQ(Result(s.CallInt("QMGetReciptCertInfo", 1)), kZhang);
  const std::u16string serial = Result(s.CallInt("QMGetReciptCertInfo", 5));
  EXPECT_ANSWER(s.Call("QMEncryptedEnvelop", {u"CN=张三"}), 1, -10001, "源数据为空");
  EXPECT_EQ(Result(s.CallInt("QMGetReciptCertInfo", 1)), u"");
  // A recipient that only "MY" holds is not one (the reversed DN's empty
  // chooser is cancelled); the text is gone all the same.
  s.Call("QMSetPlainText", {u"x"});
  EXPECT_ANSWER(s.Call("QMEncryptedEnvelop", {u"CN=王五"}), 1, -10005, "加密失败");
  EXPECT_ANSWER(s.Call("QMEncryptedEnvelop", {u"CN=张三"}), 1, -10001, "源数据为空");

  // No DN: the chooser over CA, ROOT and AddressBook; cancelling it fails.
  s.Call("QMSetPlainText", {u"chosen"});
  Value chosen = s.Call("QMEncryptedEnvelop", {u""});
  EXPECT_ANSWER(chosen, 0, 0);
  ASSERT_EQ(chosen.Find(u"dialogs")->array().size(), 1u);
  const auto& rows = chosen.Find(u"dialogs")->array()[0].Find(u"rows")->array();
  EXPECT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[RecipientRow(qian)].Find(u"subject")->string(), u"钱七");
  EXPECT_EQ(Result(s.CallInt("QMGetReciptCertInfo", 1)), qian);
  s.Call("QMSetPlainText", {u"x"});
  EXPECT_ANSWER(s.Call("QMEncryptedEnvelop", {u""}), 1, -10005, "加密失败");

  // Signed: both parties' texts; a later plain opening keeps the signer's.
  s.Call("QMSetPlainText", {u"signed"});
  std::u16string signed_envelope =
      Result(s.Call("QMSignedAndEncryptedEnvelop", {u"CN=Li Si", u"CN=张三"}));
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kLi);
  EXPECT_EQ(Result(s.CallInt("QMGetReciptCertInfo", 1)), kZhang);
  EXPECT_ANSWER(s.Call("QMDecryptedAndVerifiedEnvelop", {signed_envelope}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"signed");
  EXPECT_ANSWER(s.Call("QMDecryptEnvelop", {envelope}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"你好, envelope");
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kLi);
  EXPECT_EQ(Result(s.CallInt("QMGetReciptCertInfo", 5)), serial);

  // Failed openings keep the received text and clear what they would fill.
  Value no_key = s.Call("QMDecryptEnvelop", {Seal(s, u"CN=钱七")});
  EXPECT_ANSWER(no_key, 1, -10015, kOpenSignedFailed);
  EXPECT_EQ(no_key.Find(u"errorCode")->integer(), -2146885620);  // 0x8009200C
  EXPECT_EQ(Result(s.CallInt("QMGetReciptCertInfo", 1)), u"");
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kLi);
  EXPECT_ANSWER(s.Call("QMDecryptedAndVerifiedEnvelop", {envelope}), 1, -10007, kOpenSignedFailed);
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), u"");
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"你好, envelope");
  EXPECT_ANSWER(s.Call("QMDecryptEnvelop", {u""}), 1, -10001, "源数据为空");

  // A revoked signer makes an envelope that does not open.
  s.Call("QMSetPlainText", {u"revoked"});
  std::u16string revoked = Result(s.Call("QMSignedAndEncryptedEnvelop", {u"CN=王五", u"CN=张三"}));
  EXPECT_ANSWER(s.Call("QMDecryptedAndVerifiedEnvelop", {revoked}), 1, -10012, kOpenSignedFailed);
}

TEST_F(SessionEnvelopeTest, SignedEnvelopeChecksInOrder) {
  LiveSession s = Start();
  const std::u16string too_long(32769, u'a'), commas = u"CN=a" + std::u16string(256, u','),
                                              five_separators = u"a|b|c|d|e|f";
  struct Row {
    const char* member;
    std::u16string signer, recipient;
    std::int64_t server_mode, num;
    const char* msg;
  };
  const Row rows[] = {
      {"QMSignedAndEncryptedEnvelop", commas, too_long, 0, -10056, "DN太长"},
      {"QMSignedAndEncryptedEnvelop", std::u16string(40000, u'a'), u"CN=张三", 0, -10056, "DN太长"},
      {"QMSignedAndEncryptedEnvelop", commas, five_separators, 0, -10057, "DN验证失败"},
      {"QMSignedAndEncryptedEnvelop", five_separators, commas, 0, -10025, "DN分隔符超限"},
      {"QMSignedAndEncryptedEnvelop", u"CN=Li Si", commas, 0, -10057, "DN验证失败"},
      {"QMSignedAndEncryptedEnvelop", u"CN=Li Si", u"", 1, -10001, "源数据为空"},
      {"QMSignedAndEncryptedEnvelop", u"", u"CN=张三", 1, -10001, "源数据为空"},
      {"QMUseKeySpecSignedAndEncryptedEnvelop", u"CN=张三", u"CN=钱七", 0, -10005, "加密失败"},
      {"QMSignedAndEncryptedEnvelop", u"CN=nobody", u"CN=钱七", 0, -10005,
       "制作带签名的数字信封失败"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(U8(r.signer.substr(0, 20)) + " / " + U8(r.recipient.substr(0, 20)));
    s.Put("QMServerMode", r.server_mode);
    s.Call("QMSetPlainText", {u"data"});
    EXPECT_ANSWER(s.Call("QMUseKeySpecSignedAndEncryptedEnvelop", {u"CN=Li Si", u"CN=钱七"}), 0, 0);
    s.Call("QMSetPlainText", {u"data"});
    EXPECT_ANSWER(s.Call(r.member, {r.signer, r.recipient}), 1, r.num, r.msg);
    EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), u"");
    EXPECT_EQ(Result(s.CallInt("QMGetReciptCertInfo", 1)), u"");
    // The plain text went with the failure, before any DN was looked at.
    EXPECT_ANSWER(s.Call(r.member, {too_long, too_long}), 1, -10001, "源数据为空");
  }
}

TEST_F(SessionEnvelopeTest, EncryptFileAndSave) {
  const std::string saved = work_.File("out.cry"), input = work_.File("in.bin");
  ASSERT_TRUE(testing::WriteBytes(input, AsBytes("file body\n")));
  LiveSession s = Start("save " + saved + "\ncancel\n");
  const std::u16string certificate = Base64Of(CertDer("AddressBook", kZhang));

  s.Call("QMAddFileForEncrypt", {U16(input)});
  Value made = s.Call("QMEncryptFileAndSave", {certificate});
  EXPECT_ANSWER(made, 0, 0);
  const Value& dialog = made.Find(u"dialogs")->array().at(0);
  EXPECT_EQ(dialog.Find(u"filter")->string(), u"*.cry");
  EXPECT_EQ(dialog.Find(u"defaultExt")->string(), u"cry");
  EXPECT_ANSWER(s.Call("QMDecryptEnvelop", {U16(AsChars(FileBytes(saved)))}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"file body\n");
  EXPECT_EQ(Result(s.CallInt("QMGetReciptCertInfo", 1)), kZhang);
  // Consumed, and a failure clears the recipient's texts.
  EXPECT_ANSWER(s.Call("QMEncryptFileAndSave", {certificate}), 1, -10001, "源数据为空");
  EXPECT_EQ(Result(s.CallInt("QMGetReciptCertInfo", 1)), u"");

  s.Call("QMAddFileForEncrypt", {U16(input)});
  EXPECT_ANSWER(s.Call("QMEncryptFileAndSave", {certificate}), 1, -10004, "用户取消");
  s.Call("QMAddFileForEncrypt", {U16(input)});
  EXPECT_ANSWER(s.Call("QMEncryptFileAndSave", {u"AAAA"}), 1, -10035, "加密失败");
  s.Put("QMServerMode", 1);
  s.Call("QMAddFileForEncrypt", {U16(input)});
  EXPECT_ANSWER(s.Call("QMEncryptFileAndSave", {certificate}), 1, -10001, "源数据为空");
}

TEST_F(SessionEnvelopeTest, OpensslOpensWhatIsMadeHereAndTheReverse) {
  LiveSession s = Start();
  const std::string dir = work_.path() + "/";
  auto write = [&](const std::string& name, ByteSpan bytes) {
    EXPECT_TRUE(testing::WriteBytes(dir + name, bytes));
    return "'" + dir + name + "'";
  };
  auto write_der = [&](const std::string& name, const std::u16string& text) {
    Bytes der;
    EXPECT_EQ(encoding::Base64Decode(AsBytes(U8(text)), &der), 0);
    return write(name, der);
  };
  auto run = [](const std::string& command) {
    std::string out;
    EXPECT_EQ(testing::RunShellCapture(command + " 2>/dev/null", &out), 0) << command;
    return out;
  };
  const std::string zhang =
      write("zhang.pem", AsBytes(testing::DerToPem(CertDer("AddressBook", kZhang), "CERTIFICATE")));
  const std::string li =
      write("li.pem", AsBytes(testing::DerToPem(CertDer("MY", kLi), "CERTIFICATE")));
  std::string chain;
  for (const ::quillmark::demo::DemoItem& item : items_) {
    if (item.role.ends_with(" CA") && item.name.find(u"SM2") == std::u16string::npos) {
      chain += testing::DerToPem(CertDer(item.store.c_str(), item.name), "CERTIFICATE");
    }
  }
  const std::string ca_file = write("chain.pem", AsBytes(chain));
  const std::string decrypt =
      "openssl smime -decrypt -binary -inform DER -provider legacy "
      "-provider default -inkey '" +
      KeyFile(kZhang, "exchange") + "' -in ";

  // Made here (RC4 by default, the text in code page 936), opened by openssl.
  EXPECT_EQ(run(decrypt + write_der("env.der", Seal(s, u"CN=张三"))), "\xC4\xE3\xBA\xC3, envelope");
  s.Call("QMSetPlainText", {u"签名 signed"});
  std::string sealed = write_der(
      "senv.der", Result(s.Call("QMSignedAndEncryptedEnvelop", {u"CN=Li Si", u"CN=张三"})));
  run(decrypt + sealed + " -out '" + dir + "inner.der'");
  EXPECT_EQ(run("openssl smime -verify -binary -inform DER -CAfile " + ca_file + " -in '" + dir +
                "inner.der'"),
            "\xC7\xA9\xC3\xFB signed");

  // Made by openssl (the signature with attributes), opened here.
  const std::string in = write("in.txt", AsBytes("from openssl \xD6\xD0"));
  run("openssl smime -encrypt -binary -aes256 -outform DER -in " + in + " -out '" + dir +
      "o.der' " + zhang);
  EXPECT_ANSWER(s.Call("QMDecryptEnvelop", {Base64Of(FileBytes(dir + "o.der"))}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"from openssl 中");
  run("openssl smime -sign -nodetach -binary -outform DER -in " + in + " -signer " + li +
      " -inkey '" + KeyFile(kLi, "signature") + "' -out '" + dir + "s.der'");
  run("openssl smime -encrypt -binary -outform DER -in '" + dir + "s.der' -out '" + dir +
      "se.der' " + zhang);
  EXPECT_ANSWER(s.Call("QMDecryptedAndVerifiedEnvelop", {Base64Of(FileBytes(dir + "se.der"))}), 0,
                0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"from openssl 中");
  EXPECT_EQ(Result(s.CallInt("QMGetSignerCertInfo", 1)), kLi);
}

}  // namespace
}  // namespace quillmark::control
