#include "support/sign_session.h"

#include <openssl/bio.h>
#include <openssl/pem.h>

#include <algorithm>

#include "certs/cert_info.h"
#include "demo/demo_pki.h"
#include "encoding/base64.h"
#include "platform/keys/key_import.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/store/cert_store.h"
#include "support/cert_factory.h"
#include "support/session_answers.h"

namespace quillmark::testing {

using json::Value;

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

ScratchDir* SessionSignTest::home_ = nullptr;
std::map<std::string, SessionSignTest::Signer>* SessionSignTest::signers_ =
    new std::map<std::string, SessionSignTest::Signer>;
std::string SessionSignTest::li_key_, SessionSignTest::li_cert_;

void SessionSignTest::SetUpTestSuite() {
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
void SessionSignTest::TearDownTestSuite() {
  delete home_;
  home_ = nullptr;
}

SessionSignTest::Signer SessionSignTest::Describe(const std::string& store,
                                                  const std::string& thumbprint) {
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

void SessionSignTest::WriteCertPem(const std::string& store, const std::string& thumbprint,
                                   const std::string& path) {
  Bytes der;
  ASSERT_TRUE(platform::ReadWholeFile(
      home_->path() + "/stores/" + store + "/" + thumbprint + ".cer", &der));
  ASSERT_TRUE(testing::WriteBytes(path, AsBytes(testing::DerToPem(der, "CERTIFICATE"))));
}

namespace {

constexpr std::int64_t kFarFuture = 2524607999;  // 2049-12-31T23:59:59Z

// A self-signed CA named |name| with |key|, added to ROOT.
void AddTestRoot(EVP_PKEY* key, const Bytes& name, std::int64_t not_after) {
  testing::CertSpec root;
  root.subject = name;
  root.subject_key = key;
  root.serial = {0x11};
  root.not_after = not_after;
  root.extensions = {{"basicConstraints", "critical,CA:TRUE"},
                     {"keyUsage", "critical,keyCertSign,cRLSign"}};
  Bytes root_der = testing::MakeCertificate(root);
  platform::CertStore root_store = platform::CertOpenStore(
      platform::kCertStoreProvSystemW, 0, platform::kCertSystemStoreCurrentUser, u"ROOT");
  ASSERT_TRUE(platform::CertAddEncodedCertificateToStore(
      root_store, platform::kDefaultEncoding, root_der, platform::kCertStoreAddAlways, nullptr));
}

}  // namespace

void SessionSignTest::AddOwnSigners() {
  Bytes key_pem;
  ASSERT_TRUE(platform::ReadWholeFile(li_key_, &key_pem));
  BIO* bio = BIO_new_mem_buf(key_pem.data(), static_cast<int>(key_pem.size()));
  testing::EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  ASSERT_NE(key, nullptr);

  Bytes root_name = NameBuilder().Add("CN", "Sign Test Root").Add("O", "Sign Test").Der();
  AddTestRoot(key.get(), root_name, kFarFuture);

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
    (*signers_)[std::string("CN=") + o.cn + ", O=Sign Test"] = Describe("MY", added->thumbprint());
  }
}

const SessionSignTest::Signer& SessionSignTest::SignerOf(const std::string& cn) {
  for (const auto& [subject, s] : *signers_) {
    if (subject.starts_with(cn + ",")) return s;
  }
  ADD_FAILURE() << "no signer " << cn;
  static Signer none;
  return none;
}

int SessionSignTest::CandidateIndex(const std::string& part, const std::string& cn) {
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

std::vector<std::u16string> SessionSignTest::SignerInfo(LiveSession& s) {
  std::vector<std::u16string> texts;
  for (int type = 1; type <= 5; ++type)
    texts.push_back(Result(s.CallInt("QMGetSignerCertInfo", type)));
  return texts;
}
std::vector<std::u16string> SessionSignTest::InfoOf(const std::string& cn) {
  const Signer& s = SignerOf(cn);
  return {s.info, s.info + 5};
}

LiveSession SessionSignTest::Session(const std::string& ui_script) {
  std::string path;
  if (!ui_script.empty()) {
    path = work_.File("ui-" + std::to_string(++ui_scripts_) + ".txt");
    EXPECT_TRUE(testing::WriteBytes(path, AsBytes(ui_script)));
  }
  return LiveSession(home_->path(), path);
}

}  // namespace quillmark::testing
