// The envelope operations against the demonstration PKI: round trips for
// every content cipher, and the status and platform code of each way an
// envelope can fail to be made or opened.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "certs/cert_info.h"
#include "common/status.h"
#include "crypto/envelope.h"
#include "crypto/signed_envelope.h"
#include "encoding/base64.h"
#include "platform/cert_store.h"
#include "platform/demo_pki.h"
#include "platform/home.h"
#include "platform/last_error.h"
#include "platform/message.h"
#include "support/test_dirs.h"

namespace quillmark::crypto {
namespace {

constexpr std::uint32_t kUntouched = 0xDEADBEEF;
const std::u16string kZhang = u"CN=张三, OU=Personal, O=Demo Bank, C=CN";
const std::u16string kLi = u"CN=Li Si, OU=Corporate, O=Demo Bank, C=CN";

class EnvelopeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = new testing::ScratchDir();
    platform::SetQuillmarkHome(home_->path());
    std::vector<platform::DemoItem> items;
    std::string error;
    ASSERT_TRUE(platform::CreateDemoPki(&items, &error)) << error;
  }
  static void TearDownTestSuite() {
    platform::SetQuillmarkHome("");
    delete home_;
  }

  static int Encrypt(ByteSpan content, std::u16string_view dn, std::string_view oid, Bytes* text,
                     certs::CertInfoSet* info = nullptr, std::uint32_t* code = nullptr) {
    return EncryptEnvelope(content, false, dn, u"|", text, info, oid, {}, code);
  }
  static int SignAndEncrypt(std::u16string_view signer, std::u16string_view recipient, Bytes* text,
                            bool key_spec = false, std::string_view digest = platform::kOidSha1,
                            certs::CertInfoSet* signer_info = nullptr,
                            certs::CertInfoSet* recipient_info = nullptr) {
    return SignAndEncryptEnvelope(AsBytes("signed and sealed"), false, signer, recipient, u"|",
                                  text, signer_info, recipient_info, digest, platform::kOidRc4,
                                  key_spec, {}, nullptr);
  }
  // Base64 of 张三's certificate as the address book holds it.
  static Bytes ZhangCertificateText() {
    platform::CertStore book = platform::CertOpenStore(
        platform::kCertStoreProvSystemW, 0, platform::kCertSystemStoreCurrentUser, u"AddressBook");
    platform::CertContextPtr cert = platform::CertFindCertificateInStore(
        book, platform::kDefaultEncoding, 0, platform::kCertFindSubjectStrW, u"张三", nullptr);
    Bytes text;
    if (cert != nullptr) encoding::Base64Encode(cert->der(), &text);
    return text;
  }

  static testing::ScratchDir* home_;
};
testing::ScratchDir* EnvelopeTest::home_ = nullptr;

TEST_F(EnvelopeTest, RoundTripsForEveryCipherAndBothEnvelopeKinds) {
  const Bytes content = {'G', 'B', 'K', 0xC4, 0xE3, 0xBA, 0xC3, 0x00, '!'};
  for (const char* oid : {platform::kOidRc4, platform::kOidDesEde3Cbc, platform::kOidAes128Cbc,
                          platform::kOidAes256Cbc}) {
    SCOPED_TRACE(oid);
    Bytes text, opened;
    certs::CertInfoSet made_for, opened_by;
    ASSERT_EQ(Encrypt(content, u"CN=张三", oid, &text, &made_for), kOk);
    // Base64 in 64-character lines, never compressed: it decodes to DER.
    std::string t(AsChars(text));
    EXPECT_EQ(t.back(), '\n');
    for (std::size_t at = 0, end; (end = t.find('\n', at)) != std::string::npos; at = end + 1) {
      EXPECT_LE(end - at, 64u);
    }
    ASSERT_EQ(DecryptEnvelope(text, &opened, &opened_by, nullptr), kOk);
    EXPECT_EQ(opened, content);
    ASSERT_NE(made_for.Get(certs::kFieldSubject), nullptr);
    EXPECT_EQ(*made_for.Get(certs::kFieldSubject), kZhang);
    for (std::uint32_t f = 1; f <= certs::kCertFieldCount; ++f) {
      EXPECT_EQ(*made_for.Get(f), *opened_by.Get(f));
    }
  }

  // A certificate given as text; zero content bytes are an envelope too.
  Bytes text, opened = {'x'};
  ASSERT_EQ(EncryptFileForCertificate({}, ZhangCertificateText(), &text, platform::kOidAes128Cbc,
                                      nullptr),
            kOk);
  ASSERT_EQ(DecryptEnvelope(text, &opened, nullptr, nullptr), kOk);
  EXPECT_TRUE(opened.empty());

  // Signed: the signer's and the recipient's texts on both sides.
  certs::CertInfoSet signer, recipient, opened_signer, opened_recipient;
  ASSERT_EQ(SignAndEncrypt(u"CN=Li Si", u"CN=张三", &text, false, platform::kOidSha256, &signer,
                           &recipient),
            kOk);
  ASSERT_EQ(DecryptAndVerifyEnvelope(text, &opened, &opened_signer, &opened_recipient, nullptr),
            kOk);
  EXPECT_EQ(AsChars(opened), "signed and sealed");
  EXPECT_EQ(*signer.Get(certs::kFieldSubject), kLi);
  EXPECT_EQ(*opened_signer.Get(certs::kFieldSerial), *signer.Get(certs::kFieldSerial));
  EXPECT_EQ(*recipient.Get(certs::kFieldSubject), kZhang);
  EXPECT_EQ(*opened_recipient.Get(certs::kFieldSubject), kZhang);
}

TEST_F(EnvelopeTest, FailuresGiveTheirStatusAndOnlyMessageCallsAPlatformCode) {
  Bytes for_qian, for_zhang, from_revoked, not_signed;
  ASSERT_EQ(Encrypt(AsBytes("x"), u"CN=钱七", platform::kOidRc4, &for_qian), kOk);
  ASSERT_EQ(Encrypt(AsBytes("x"), u"CN=张三", platform::kOidRc4, &not_signed), kOk);
  ASSERT_EQ(SignAndEncrypt(u"CN=王五", u"CN=张三", &from_revoked), kOk);

  struct Case {
    const char* what;
    std::function<int(std::uint32_t*)> run;
    int status;
    std::uint32_t code;
  };
  Bytes out;
  const Case cases[] = {
      {"recipient only in MY",
       [&](std::uint32_t* c) {
         return Encrypt(AsBytes("x"), u"CN=王五", platform::kOidRc4, &out, nullptr, c);
       },
       kErrCertNotFound, kUntouched},
      {"unknown cipher",
       [&](std::uint32_t* c) {
         return Encrypt(AsBytes("x"), u"CN=钱七", "1.2.3.4", &out, nullptr, c);
       },
       kErrBadAlgorithm, platform::kNteBadAlgId},
      {"no key for the recipient",
       [&](std::uint32_t* c) { return DecryptEnvelope(for_qian, &out, nullptr, c); },
       kErrPrivateKeyNotFound, platform::kCryptENoDecryptCert},
      {"not a message",
       [&](std::uint32_t* c) { return DecryptEnvelope(AsBytes("AAAA"), &out, nullptr, c); },
       kErrMessageNotRecognised, platform::kCryptEOssError},
      {"incomplete Base64",
       [&](std::uint32_t* c) { return DecryptEnvelope(AsBytes("AAAAA"), &out, nullptr, c); },
       kErrBase64Decode, kUntouched},
      {"not a certificate",
       [&](std::uint32_t* c) {
         return EncryptFileForCertificate(AsBytes("x"), AsBytes("AAAA"), &out, platform::kOidRc4,
                                          c);
       },
       kErrCertContext, kUntouched},
      {"exchange key where a signature key is asked for",
       [&](std::uint32_t*) { return SignAndEncrypt(u"CN=张三", u"CN=钱七", &out, true); },
       kErrCertNotFound, kUntouched},
      {"unknown digest",
       [&](std::uint32_t*) {
         return SignAndEncrypt(u"CN=Li Si", u"CN=钱七", &out, false, "1.2.3");
       },
       kErrBadAlgorithm, kUntouched},
      {"revoked signer",
       [&](std::uint32_t* c) {
         return DecryptAndVerifyEnvelope(from_revoked, &out, nullptr, nullptr, c);
       },
       kErrCertRevoked, kUntouched},
      {"an envelope without a signature",
       [&](std::uint32_t* c) {
         return DecryptAndVerifyEnvelope(not_signed, &out, nullptr, nullptr, c);
       },
       kErrMessageNotRecognised, platform::kCryptEOssError},
      {"no output",
       [&](std::uint32_t* c) { return DecryptEnvelope(not_signed, nullptr, nullptr, c); },
       kErrEmptyInput, kUntouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    out = {'k', 'e', 'p', 't'};
    std::uint32_t code = kUntouched;
    EXPECT_EQ(c.run(&code), c.status);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(AsChars(out), "kept");
  }
}

}  // namespace
}  // namespace quillmark::crypto
