// The signing, verification and digest members end to end: one live
// `quillmark session` per test over a home that holds the demonstration PKI
// plus three signers made here (an expired one, one whose issuer is not
// installed, one issued under the fixed issuer DN), and interop with the
// openssl command in both directions.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/pem.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "certs/cert_info.h"
#include "common/json.h"
#include "common/unicode.h"
#include "demo/demo_pki.h"
#include "encoding/base64.h"
#include "platform/keys/key_import.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/store/cert_store.h"
#include "support/cert_factory.h"
#include "support/live_session.h"
#include "support/session_answers.h"
#include "support/test_dirs.h"

namespace quillmark::control {
namespace {

using json::Value;
using testing::LiveSession;
using testing::NameBuilder;

std::string U8(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }
std::u16string U16(std::string_view s) { return Utf8ToUtf16Lossy(s); }

constexpr char16_t kCustomerCa[] =
    u"CN=Demo Bank Customer CA, OU=Certification Services, O=Demo Bank, C=CN";
constexpr std::int64_t kNteBadSignature = -2146893818;  // 0x80090006
constexpr std::int64_t kCryptEOssError = -2146881536;   // 0x80093000
constexpr std::int64_t kNteBadAlgId = -2146893816;      // 0x80090008

// The answer of a call: status, error number and message.
using testing::Result;

Bytes Decode(std::u16string_view text) {
  Bytes out;
  EXPECT_EQ(encoding::Base64Decode(AsBytes(U8(text)), &out), 0);
  return out;
}
std::u16string Encode(ByteSpan der) {
  Bytes text;
  EXPECT_EQ(encoding::Base64Encode(der, &text), 0);
  return U16(AsChars(text));
}

// Rows of the chooser dialogs an answer reports, by subject.
std::vector<std::vector<std::string>> ChooserRows(const Value& a) {
  std::vector<std::vector<std::string>> dialogs;
  for (const Value& d : a.Find(u"dialogs")->array()) {
    std::vector<std::string> rows;
    for (const Value& r : d.Find(u"rows")->array())
      rows.push_back(U8(r.Find(u"subject")->string()));
    dialogs.push_back(rows);
  }
  return dialogs;
}

class SessionSignTest : public ::testing::Test {
 protected:
  struct Signer {
    std::u16string info[5];  // field texts 1 to 5
    std::u16string serial;   // the serial number as one hex token
    std::string thumbprint;
  };

  static void SetUpTestSuite() {
    home_ = new testing::ScratchDir;
    platform::SetQuillmarkHome(home_->path());
    std::vector<::quillmark::demo::DemoItem> items;
    std::string error;
    ASSERT_TRUE(::quillmark::demo::CreateDemoPki(&items, &error)) << error;
    std::string li_key;
    for (const ::quillmark::demo::DemoItem& item : items) {
      std::string name = U8(item.name);
      if (item.store == "MY") (*signers_)[name] = Describe(item.store, item.thumbprint);
      if (item.store == "MY" && name.starts_with("CN=Li Si")) {
        li_key = home_->path() + "/keys/" + U8(item.container) + "/signature.pem";
        li_cert_ = home_->File("lisi.pem");
        WriteCertPem(item.store, item.thumbprint, li_cert_);
      }
      if (item.role == "root CA" && name.find("SM2") == std::string::npos) {
        WriteCertPem(item.store, item.thumbprint, home_->File("root.pem"));
      }
      if (item.role == "intermediate CA" && name.find("SM2") == std::string::npos) {
        WriteCertPem(item.store, item.thumbprint, home_->File("ca.pem"));
      }
    }
    li_key_ = li_key;
    AddOwnSigners();
    platform::SetQuillmarkHome("");
  }
  static void TearDownTestSuite() {
    delete home_;
    home_ = nullptr;
  }

  static Signer Describe(const std::string& store, const std::string& thumbprint) {
    Bytes der;
    EXPECT_TRUE(platform::ReadWholeFile(
        home_->path() + "/stores/" + store + "/" + thumbprint + ".cer", &der));
    platform::CertContextPtr cert =
        platform::CertCreateCertificateContext(platform::kDefaultEncoding, der);
    Signer s;
    certs::CertInfoSet info;
    EXPECT_EQ(certs::FillCertInfo(cert.get(), &info), 0);
    for (std::uint32_t f = 1; f <= 5; ++f) s.info[f - 1] = *info.Get(f);
    for (char16_t c : s.info[4]) {
      if (c != u' ') s.serial.push_back(c);
    }
    s.thumbprint = thumbprint;
    return s;
  }

  static void WriteCertPem(const std::string& store, const std::string& thumbprint,
                           const std::string& path) {
    Bytes der;
    ASSERT_TRUE(platform::ReadWholeFile(
        home_->path() + "/stores/" + store + "/" + thumbprint + ".cer", &der));
    ASSERT_TRUE(testing::WriteBytes(path, AsBytes(testing::DerToPem(der, "CERTIFICATE"))));
  }

  // Signers with special certificates, all with Li Si's key (no key is
  // generated): a test root in ROOT, and in MY a signer of that root whose
  // certificate has expired, one whose issuer is installed nowhere, and one
  // issued under the fixed issuer DN with an exchange key.
  static void AddOwnSigners() {
    constexpr std::int64_t kFarFuture = 2524607999;  // 2049-12-31T23:59:59Z
    Bytes key_pem;
    ASSERT_TRUE(platform::ReadWholeFile(li_key_, &key_pem));
    BIO* bio = BIO_new_mem_buf(key_pem.data(), static_cast<int>(key_pem.size()));
    testing::EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    ASSERT_NE(key, nullptr);

    Bytes root_name = NameBuilder().Add("CN", "Sign Test Root").Add("O", "Sign Test").Der();
    testing::CertSpec root;
    root.subject = root_name;
    root.subject_key = key.get();
    root.serial = {0x11};
    root.not_after = kFarFuture;
    root.extensions = {{"basicConstraints", "critical,CA:TRUE"},
                       {"keyUsage", "critical,keyCertSign,cRLSign"}};
    Bytes root_der = testing::MakeCertificate(root);
    platform::CertStore root_store = platform::CertOpenStore(
        platform::kCertStoreProvSystemW, 0, platform::kCertSystemStoreCurrentUser, u"ROOT");
    ASSERT_TRUE(platform::CertAddEncodedCertificateToStore(
        root_store, platform::kDefaultEncoding, root_der, platform::kCertStoreAddAlways, nullptr));

    struct Own {
      const char* cn;
      Bytes issuer;
      Bytes serial;
      std::int64_t not_after;
      std::uint32_t spec;
    };
    const Own own[] = {
        {"Expired Signer", root_name, {0x21}, 1609459200, platform::kAtSignature},  // 2021-01-01
        {"Orphan Signer",
         NameBuilder().Add("CN", "Absent CA").Add("O", "Sign Test").Der(),
         {0x22},
         kFarFuture,
         platform::kAtSignature},
        {"Fixed Issuer User",
         NameBuilder().Add("O", "VevorAvuze").Add("OU", "config").Add("CN", "ZAVU").Der(),
         {0x0A, 0x1B, 0x2C},
         kFarFuture,
         platform::kAtKeyExchange},
    };
    platform::CertStore my = platform::CertOpenStore(platform::kCertStoreProvSystemW, 0,
                                                     platform::kCertSystemStoreCurrentUser, u"MY");
    for (const Own& o : own) {
      testing::CertSpec spec;
      spec.subject = NameBuilder().Add("CN", o.cn).Add("O", "Sign Test").Der();
      spec.issuer = o.issuer;
      spec.subject_key = key.get();
      spec.serial = o.serial;
      spec.not_after = o.not_after;
      spec.extensions = {{"keyUsage", "critical,digitalSignature,nonRepudiation"}};
      Bytes der = testing::MakeCertificate(spec);
      platform::CertificateWithKey with_key;
      ASSERT_EQ(platform::ReadCertificateAndKey(der, key_pem, "", &with_key),
                platform::ImportError::kNone);
      platform::CertContextPtr added;
      ASSERT_EQ(platform::ImportCertificateWithKey(my, with_key, o.spec, &added),
                platform::ImportError::kNone);
      (*signers_)[std::string("CN=") + o.cn + ", O=Sign Test"] =
          Describe("MY", added->thumbprint());
    }
  }

  // The signer whose subject starts with |cn| ("CN=Li Si").
  static const Signer& SignerOf(const std::string& cn) {
    for (const auto& [subject, s] : *signers_) {
      if (subject.starts_with(cn + ",")) return s;
    }
    ADD_FAILURE() << "no signer " << cn;
    static Signer none;
    return none;
  }

  // The chooser's item data of |cn| among the signers in MY whose subject
  // holds |part|: candidates come in the store's (thumbprint) order.
  static int CandidateIndex(const std::string& part, const std::string& cn) {
    std::vector<std::pair<std::string, std::string>> candidates;
    for (const auto& [subject, s] : *signers_) {
      if (subject.find(part) != std::string::npos) candidates.emplace_back(s.thumbprint, subject);
    }
    std::sort(candidates.begin(), candidates.end());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      if (candidates[i].second.starts_with(cn + ",")) return static_cast<int>(i);
    }
    ADD_FAILURE() << "no candidate " << cn;
    return -1;
  }

  // The five signer-information texts the session holds now.
  static std::vector<std::u16string> SignerInfo(LiveSession& s) {
    std::vector<std::u16string> texts;
    for (int type = 1; type <= 5; ++type)
      texts.push_back(Result(s.CallInt("QMGetSignerCertInfo", type)));
    return texts;
  }
  static std::vector<std::u16string> InfoOf(const std::string& cn) {
    const Signer& s = SignerOf(cn);
    return {s.info, s.info + 5};
  }
  static std::vector<std::u16string> NoInfo() { return std::vector<std::u16string>(5); }

  LiveSession Session(const std::string& ui_script = "") {
    std::string path;
    if (!ui_script.empty()) {
      path = work_.File("ui-" + std::to_string(++ui_scripts_) + ".txt");
      EXPECT_TRUE(testing::WriteBytes(path, AsBytes(ui_script)));
    }
    return LiveSession(home_->path(), path);
  }

  static testing::ScratchDir* home_;
  static std::map<std::string, Signer>* signers_;
  static std::string li_key_, li_cert_;
  testing::ScratchDir work_;
  int ui_scripts_ = 0;
};

testing::ScratchDir* SessionSignTest::home_ = nullptr;
std::map<std::string, SessionSignTest::Signer>* SessionSignTest::signers_ =
    new std::map<std::string, SessionSignTest::Signer>;
std::string SessionSignTest::li_key_, SessionSignTest::li_cert_;

TEST_F(SessionSignTest, AttachedSignatureRoundTripWithSignerInformationAndPlainTexts) {
  LiveSession s = Session();
  EXPECT_EQ(SignerInfo(s), NoInfo());
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"付款 100 元"}), 0, 0);
  Value signed_answer = s.Call("QMAttachedSign", {u"CN=Li Si"});
  EXPECT_ANSWER(signed_answer, 0, 0);
  const std::u16string signature = Result(signed_answer);
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Li Si"));

  // The stored text was consumed: a second signature fails and clears the information.
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=Li Si"}), 1, -10001, u"源数据为空");
  EXPECT_EQ(SignerInfo(s), NoInfo());

  EXPECT_ANSWER(s.Call("QMAttachedVerify", {signature}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"付款 100 元");
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Li Si"));

  // The content bytes (GBK) altered inside the message: a bad signature. The
  // previously received text stays; the information of the failed call goes.
  Bytes der = Decode(signature);
  const std::string digits = " 100 ";
  auto at = std::search(der.begin(), der.end(), digits.begin(), digits.end());
  ASSERT_NE(at, der.end());
  at[1] = '9';
  Value tampered = s.Call("QMAttachedVerify", {Encode(der)});
  EXPECT_ANSWER(tampered, 1, -10010, u"验证错误");
  EXPECT_EQ(tampered.Find(u"errorCode")->integer(), kNteBadSignature);
  EXPECT_EQ(SignerInfo(s), NoInfo());
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"付款 100 元");

  Value not_pkcs7 = s.Call("QMAttachedVerify", {u"YWJj"});
  EXPECT_ANSWER(not_pkcs7, 1, -10007, u"验证错误");
  EXPECT_EQ(not_pkcs7.Find(u"errorCode")->integer(), kCryptEOssError);
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {u"YWJ"}), 1, -10002, u"验证错误");
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMAfterwardsVerify", {signature}), 0, 0);
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Li Si"));

  // A DN written in the opposite order is found on the second lookup, and a
  // stored text of one NUL (present, zero bytes) is signed as zero bytes.
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"x"}), 0, 0);
  Value reversed = s.Call("QMAttachedSign", {u"C=CN, O=Demo Bank, OU=Corporate, CN=Li Si"});
  EXPECT_ANSWER(reversed, 0, 0);
  EXPECT_TRUE(reversed.Find(u"dialogs")->array().empty());
  EXPECT_ANSWER(s.Call("QMSetPlainText", {std::u16string(1, u'\0')}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=Li Si"}), 0, 0);

  // A digest OID the platform does not know fails in the signing call.
  EXPECT_ANSWER(s.Call("QMSetDigestArithmetic", {u"1.2.3.4"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"x"}), 0, 0);
  Value bad_alg = s.Call("QMAttachedSign", {u"CN=Li Si"});
  EXPECT_ANSWER(bad_alg, 1, -10033, u"签名失败");
  EXPECT_EQ(bad_alg.Find(u"errorCode")->integer(), kNteBadAlgId);
}

TEST_F(SessionSignTest, DetachedAndKeySpecMembers) {
  LiveSession s = Session();
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"stored"}), 0, 0);
  Value detached = s.Call("QMDetachedSign", {u"数据 data", u"CN=张三"});
  EXPECT_ANSWER(detached, 0, 0);
  const std::u16string signature = Result(detached);
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {signature, u"数据 data"}), 0, 0);
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=张三"));
  Value wrong = s.Call("QMDetachedVerify", {signature, u"数据 date"});
  EXPECT_ANSWER(wrong, 1, -10010, u"验证错误");
  EXPECT_EQ(wrong.Find(u"errorCode")->integer(), kNteBadSignature);
  EXPECT_EQ(SignerInfo(s), NoInfo());
  // The data is checked before the signature text.
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {u"YWJ", u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {u"", u"x"}), 1, -10001, u"源数据为空");
  // A detached signature holds no content to compare against.
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {signature}), 1, -10010, u"验证错误");

  // QMDetachedSign left the stored text in place.
  Value attached = s.Call("QMAttachedSign", {u"CN=Li Si"});
  EXPECT_ANSWER(attached, 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {Result(attached)}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"stored");
  // The received text is not touched by a detached verification.
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {signature, u"数据 data"}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"stored");

  // Key-spec members take signature keys only: 张三's exchange key is never
  // offered, so the forced second lookup shows an empty chooser (cancelled).
  Value key_spec = s.Call("QMUseKeySpecDetachedSign", {u"d", u"CN=Li Si"});
  EXPECT_ANSWER(key_spec, 0, 0);
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {Result(key_spec), u"d"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"stored"}), 0, 0);
  Value exchange = s.Call("QMUseKeySpecAttachedSign", {u"CN=张三"});
  EXPECT_ANSWER(exchange, 1, -10005, u"签名失败");
  EXPECT_EQ(ChooserRows(exchange), std::vector<std::vector<std::string>>{{}});
  EXPECT_ANSWER(s.Call("QMUseKeySpecAttachedSign", {u"CN=Li Si"}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"stored"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMUseKeySpecAttachedSign", {u"CN=Li Si"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMUseKeySpecDetachedSign", {u"d", u"CN=张三"}), 1, -10005, u"签名失败");

  // DN checks come after the data and before any lookup.
  EXPECT_ANSWER(s.Call("QMDetachedSign", {u"", u"CN=Li Si"}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMDetachedSign", {u"d", std::u16string(32769, u'x')}), 1, -10056,
                u"DN太长");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"stored"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"a|b|c|d|e|f"}), 1, -10025, u"DN分隔符超限");
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=Li Si"}), 1, -10001, u"源数据为空");
}

TEST_F(SessionSignTest, SerialNumberMembers) {
  const std::u16string li = SignerOf("CN=Li Si").serial;
  const std::u16string fixed = SignerOf("CN=Fixed Issuer User").serial;
  ASSERT_EQ(fixed, u"0A1B2C");
  std::u16string commas256 = u"CN=a" + std::u16string(256, u',');
  const std::u16string too_long(32769, u'x');
  LiveSession s = Session();

  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedSignByIssuerSN", {li, kCustomerCa}), 0, 0);
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Li Si"));
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(
      s.Call("QMAttachedSignByIssuerSN",
             {li, u"C=CN, O=Demo Bank, OU=Certification Services, CN=Demo Bank Customer CA"}),
      0, 0);
  // An empty issuer is the fixed one, under which Li Si was not issued.
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedSignByIssuerSN", {li, u""}), 1, -10005, u"签名失败");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  Value by_sn = s.Call("QMAttachedSignBySN", {fixed});
  EXPECT_ANSWER(by_sn, 0, 0);
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Fixed Issuer User"));
  // The issuer's commas are counted even without a serial number.
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  Value commas = s.Call("QMAttachedSignByIssuerSN", {u"", commas256});
  EXPECT_ANSWER(commas, 1, -10057, u"DN验证失败");
  EXPECT_TRUE(commas.Find(u"dialogs")->array().empty());
  EXPECT_ANSWER(s.Call("QMAttachedSignBySN", {fixed}), 1, -10001, u"源数据为空");

  // Detached: the issuer too long is "IssuerDN太长" in one member only.
  EXPECT_ANSWER(s.Call("QMDetachedSignByIssuerSN", {u"d", li, too_long}), 1, -10056,
                u"IssuerDN太长");
  EXPECT_ANSWER(s.Call("QMUseKeySpecDetachedSignByIssuerSN", {u"d", li, too_long}), 1, -10056,
                u"DN太长");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedSignByIssuerSN", {li, too_long}), 1, -10056, u"DN太长");
  Value detached = s.Call("QMDetachedSignByIssuerSN", {u"d", li, kCustomerCa});
  EXPECT_ANSWER(detached, 0, 0);
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {Result(detached), u"d"}), 0, 0);
  // QMDetachedSignBySN signs its argument yet drops the stored text.
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMDetachedSignBySN", {u"d", fixed}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=Li Si"}), 1, -10001, u"源数据为空");

  // Key-spec variants: the fixed issuer's user has an exchange key.
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMUseKeySpecAttachedSignBySN", {fixed}), 1, -10005, u"签名失败");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMUseKeySpecAttachedSignByIssuerSN", {li, kCustomerCa}), 0, 0);
  EXPECT_ANSWER(s.Call("QMUseKeySpecDetachedSignBySN", {u"d", fixed}), 1, -10005, u"签名失败");
  EXPECT_ANSWER(s.Call("QMUseKeySpecDetachedSignByIssuerSN", {u"d", li, kCustomerCa}), 0, 0);
  EXPECT_ANSWER(s.Call("QMDetachedSignBySN", {u"d", fixed}), 0, 0);
}

TEST_F(SessionSignTest, ChooserAndServerMode) {
  // Dialog answers in the order the calls below show dialogs; Li Si is
  // chosen (an SM2 signer cannot sign with the default SHA-1).
  const std::string li_of_demo = std::to_string(CandidateIndex("O=Demo Bank", "CN=Li Si"));
  const std::string li_of_all = std::to_string(CandidateIndex("", "CN=Li Si"));
  LiveSession s = Session("choose " + li_of_demo + "\ncancel\nchoose " + li_of_all + "\ncancel\n");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  Value several = s.Call("QMAttachedSign", {u"O=Demo Bank"});
  EXPECT_ANSWER(several, 0, 0);
  auto rows = ChooserRows(several);
  ASSERT_EQ(rows.size(), 1u);
  std::vector<std::string> sorted = rows[0];
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::string>{"Li Si", "张三", "王五", "赵六"}));
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Li Si"));

  // No DN: every certificate with a key; Cancel ends it with no second dialog.
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  Value cancelled = s.Call("QMAttachedSign", {u""});
  EXPECT_ANSWER(cancelled, 1, -10005, u"签名失败");
  ASSERT_EQ(ChooserRows(cancelled).size(), 1u);
  EXPECT_EQ(ChooserRows(cancelled)[0].size(), 7u);
  EXPECT_EQ(SignerInfo(s), NoInfo());
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  Value chosen = s.Call("QMAttachedSignBySN", {u""});
  EXPECT_ANSWER(chosen, 0, 0);
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Li Si"));
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  Value signature_keys = s.Call("QMUseKeySpecAttachedSign", {u""});
  EXPECT_ANSWER(signature_keys, 1, -10005, u"签名失败");
  sorted = ChooserRows(signature_keys)[0];
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::string>{"Expired Signer", "Li Si", "Orphan Signer", "赵六"}));

  // Server mode: a name is required, and a DN never shows a dialog.
  EXPECT_ANSWER(s.Put("QMServerMode", 1), 0, 0);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u""}), 1, -10001, u"必须设置默认证书DN");
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=Li Si"}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  // Several match (all RSA): the first is taken.
  Value first = s.Call("QMAttachedSign", {u"O=Sign Test"});
  EXPECT_ANSWER(first, 0, 0);
  EXPECT_TRUE(first.Find(u"dialogs")->array().empty());
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMUseKeySpecAttachedSign", {u""}), 1, -10001, u"必须设置默认证书DN");
  EXPECT_ANSWER(s.Call("QMDetachedSign", {u"d", u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMUseKeySpecDetachedSign", {u"d", u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMDetachedSignByIssuerSN", {u"d", u"", u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedSignBySN", {u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMDetachedSign", {u"d", u"CN=Li Si"}), 0, 0);
}

TEST_F(SessionSignTest, CompressionAtAndAboveMaxCompSize) {
  std::u16string text;
  for (int i = 0; i < 300; ++i) text += u"line " + U16(std::to_string(i)) + u"\n";
  LiveSession s = Session();
  auto sign = [&](std::int64_t threshold) {
    EXPECT_ANSWER(s.Put("MaxCompSize", threshold), 0, 0);
    EXPECT_ANSWER(s.Call("QMSetPlainText", {text}), 0, 0);
    return Result(s.Call("QMAttachedSign", {u"CN=Li Si"}));
  };
  const Bytes plain = Decode(sign(1 << 30));
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(plain[0], 0x30);
  const std::int64_t length = static_cast<std::int64_t>(plain.size());

  const std::u16string at = sign(length);
  const Bytes framed = Decode(at);
  ASSERT_GE(framed.size(), 2u);
  EXPECT_EQ(framed[0], 0x1f);
  EXPECT_EQ(framed[1], 0x8b);
  EXPECT_LT(framed.size(), plain.size());
  EXPECT_EQ(Decode(sign(length + 1)), plain) << "one byte under the threshold stays DER";
  EXPECT_EQ(Decode(sign(1))[0], 0x1f);

  EXPECT_ANSWER(s.Call("QMAttachedVerify", {at}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), text);
  EXPECT_ANSWER(s.Call("QMAfterwardsVerify", {at}), 0, 0);
  // Detached signatures are never compressed.
  Value detached = s.Call("QMDetachedSign", {text, u"CN=Li Si"});
  EXPECT_EQ(Decode(Result(detached))[0], 0x30);
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {Result(detached), text}), 0, 0);
}

TEST_F(SessionSignTest, SignerCertificateChecks) {
  LiveSession s = Session();
  auto sign = [&](std::u16string_view dn, std::u16string_view content) {
    EXPECT_ANSWER(s.Call("QMSetPlainText", {std::u16string(content)}), 0, 0);
    Value a = s.Call("QMAttachedSign", {std::u16string(dn)});
    EXPECT_ANSWER(a, 0, 0);
    return Result(a);
  };
  // Expired since it signed: refused by the full check, accepted afterwards.
  const std::u16string expired = sign(u"CN=Expired Signer", u"old");
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {expired}), 1, -10011, u"验证错误");
  EXPECT_EQ(SignerInfo(s), NoInfo());
  EXPECT_ANSWER(s.Call("QMAfterwardsVerify", {expired}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"old");
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Expired Signer"));
  Value detached = s.Call("QMDetachedSign", {u"d", u"CN=Expired Signer"});
  EXPECT_ANSWER(s.Call("QMDetachedVerify", {Result(detached), u"d"}), 1, -10011, u"验证错误");

  // No issuer installed: refused by both.
  const std::u16string orphan = sign(u"CN=Orphan Signer", u"orphan");
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {orphan}), 1, -10014, u"验证错误");
  EXPECT_ANSWER(s.Call("QMAfterwardsVerify", {orphan}), 1, -10014, u"验证错误");
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"old");

  // Revoked by the CA's CRL. The later check leaves out the revocation step,
  // but the chain step still finds the CRL.
  const std::u16string revoked = sign(u"CN=王五", u"revoked");
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {revoked}), 1, -10012, u"验证错误");
  EXPECT_ANSWER(s.Call("QMAfterwardsVerify", {revoked}), 1, -10013, u"验证错误");

  // SM2 with the SM3 digest, under the SM2 CA.
  EXPECT_ANSWER(s.Call("QMSetDigestArithmetic", {u"1.2.156.10197.1.401"}), 0, 0);
  const std::u16string sm2 = sign(u"CN=赵六", u"国密");
  EXPECT_ANSWER(s.Call("QMAttachedVerify", {sm2}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"国密");
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=赵六"));
}

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

TEST_F(SessionSignTest, DigestMember) {
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
  EXPECT_ANSWER(s.Call("QMHashAndBase64Encode", {u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMSetDigestArithmetic", {u"1.2.3.4"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMHashAndBase64Encode", {u"abc"}), 1, -10023, u"摘要失败");
}

TEST_F(SessionSignTest, OpenSslInterop) {
  const std::string dir = work_.path();
  // The intermediate CA travels in the trusted file: the messages carry only the signer.
  ASSERT_EQ(testing::RunShell("cat '" + home_->File("root.pem") + "' '" + home_->File("ca.pem") +
                              "' > '" + dir + "/chain.pem'"),
            0);
  const std::string verify =
      "openssl smime -verify -binary -inform DER -CAfile '" + dir + "/chain.pem' -purpose any";
  LiveSession s = Session();
  auto write_der = [&](const std::string& name, std::u16string_view text) {
    ASSERT_TRUE(testing::WriteBytes(dir + "/" + name, Decode(text)));
  };

  // Made here, checked by openssl: attached (plain and compressed) and detached.
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"interop 测试"}), 0, 0);
  write_der("attached.der", Result(s.Call("QMAttachedSign", {u"CN=Li Si"})));
  EXPECT_ANSWER(s.Put("MaxCompSize", 1), 0, 0);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"interop 测试"}), 0, 0);
  write_der("compressed.gz", Result(s.Call("QMAttachedSign", {u"CN=张三"})));
  write_der("detached.der", Result(s.Call("QMDetachedSign", {u"detached 数据", u"CN=Li Si"})));
  const std::string gbk = "interop \xB2\xE2\xCA\xD4";
  std::string out;
  EXPECT_EQ(testing::RunShellCapture(verify + " -in '" + dir + "/attached.der' 2>/dev/null", &out),
            0);
  EXPECT_EQ(out, gbk);
  EXPECT_EQ(testing::RunShellCapture("gzip -dc < '" + dir + "/compressed.gz' > '" + dir +
                                         "/compressed.der' && " + verify + " -in '" + dir +
                                         "/compressed.der' 2>/dev/null",
                                     &out),
            0);
  EXPECT_EQ(out, gbk);
  ASSERT_TRUE(testing::WriteBytes(dir + "/data.txt", AsBytes("detached \xCA\xFD\xBE\xDD")));
  EXPECT_EQ(testing::RunShell(verify + " -in '" + dir + "/detached.der' -content '" + dir +
                              "/data.txt' >/dev/null 2>&1"),
            0);
  ASSERT_TRUE(testing::WriteBytes(dir + "/other.txt", AsBytes("detached!")));
  EXPECT_NE(testing::RunShell(verify + " -in '" + dir + "/detached.der' -content '" + dir +
                              "/other.txt' >/dev/null 2>&1"),
            0);

  // Made by openssl without attributes, checked here.
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
