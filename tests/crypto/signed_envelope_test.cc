// Signed and plain envelopes over the demonstration PKI: the nested message
// round trip with both parties' field texts, the openssl command opening a
// plain envelope, and the statuses of a wrong recipient, a cancelled
// chooser, a refused signer and a bad digest OID.
#include "crypto/signed_envelope.h"

#include <gtest/gtest.h>

#include <string>

#include "certs/cert_info.h"
#include "common/status.h"
#include "crypto/demo_home.h"
#include "crypto/envelope.h"
#include "crypto/sign_options.h"
#include "encoding/base64.h"
#include "platform/message/message.h"
#include "platform/os/files.h"
#include "platform/os/last_error.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::crypto {
namespace {

const Bytes kData = {'t', 'r', 'a', 'n', 's', 'f', 'e', 'r', 0x00, 0xC4, 0xE3};
constexpr std::u16string_view kLiSi = u"CN=Li Si, OU=Corporate, O=Demo Bank, C=CN";
constexpr std::u16string_view kZhang = u"CN=张三, OU=Personal, O=Demo Bank, C=CN";
constexpr EnvelopeAlgorithms kSha1Rc4{.digest_oid = kSha1DigestOid,
                                      .symmetric_oid = platform::kOidRc4};

using SignedEnvelopeTest = DemoHomeTest;

TEST_F(SignedEnvelopeTest, SignedEnvelopeRoundTripsWithBothParties) {
  SignedEnvelope made;
  ASSERT_EQ(SignAndEncryptEnvelope(kData, {.dn = u"CN=Li Si", .server_mode = true},
                                   {.dn = u"CN=张三", .server_mode = true}, kSha1Rc4, {}, &made),
            kOk);
  EXPECT_EQ(*made.signer.Get(certs::kFieldSubject), kLiSi);
  EXPECT_EQ(*made.recipient.Get(certs::kFieldSubject), kZhang);

  Bytes content;
  certs::CertInfoSet signer, recipient;
  ASSERT_EQ(DecryptAndVerifyEnvelope(made.text, &content, &signer, &recipient), kOk);
  EXPECT_EQ(content, kData);
  EXPECT_EQ(*signer.Get(certs::kFieldSubject), kLiSi);
  EXPECT_EQ(*recipient.Get(certs::kFieldSubject), kZhang);

  // Opened as a plain envelope, it holds the whole DER SignedData.
  Bytes inner;
  ASSERT_EQ(DecryptEnvelope(made.text, &inner, nullptr), kOk);
  const Bytes kSignedDataOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
  ASSERT_GT(inner.size(), 15u);
  EXPECT_EQ(Bytes(inner.begin() + 4, inner.begin() + 15), kSignedDataOid);
  // A plain envelope holds no signature to check.
  Bytes plain;
  ASSERT_EQ(EncryptEnvelope(kData, {.dn = u"CN=张三"}, platform::kOidRc4, {}, &plain, nullptr),
            kOk);
  content = {'k'};
  EXPECT_NE(DecryptAndVerifyEnvelope(plain, &content, nullptr, nullptr), kOk);
  EXPECT_EQ(content, Bytes{'k'});
}

TEST_F(SignedEnvelopeTest, CancelledChooserRefusedSignerBadDigest) {
  struct Row {
    const char* what;
    const char* script;
    certs::SignerQuery signer, recipient;
    EnvelopeAlgorithms algorithms;
    Status status;
    int dialogs;
  };
  const Row rows[] = {
      {"recipient chooser cancelled",
       "cancel\n",
       {.dn = u"CN=Li Si", .server_mode = true},
       {},
       kSha1Rc4,
       kErrCertNotFound,
       1},
      {"no such recipient",
       "",
       {.dn = u"CN=Li Si", .server_mode = true},
       {.dn = u"CN=Nobody", .server_mode = true},
       kSha1Rc4,
       kErrCertNotFound,
       0},
      {"signer with an exchange key refused",
       "",
       {.dn = u"CN=张三", .key = certs::KeyRule::kSignatureKey},
       {.dn = u"CN=钱七", .server_mode = true},
       kSha1Rc4,
       kErrCertNotFound,
       1},
      {"bad digest OID",
       "",
       {.dn = u"CN=Li Si", .server_mode = true},
       {.dn = u"CN=钱七", .server_mode = true},
       {.digest_oid = "1.2.3.4", .symmetric_oid = platform::kOidRc4},
       Status(kErrBadAlgorithm, platform::kNteBadAlgId),
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Answer(row.script);
    SignedEnvelope made;
    made.text = {'k'};
    EXPECT_EQ(SignAndEncryptEnvelope(kData, row.signer, row.recipient, row.algorithms, {}, &made),
              row.status);
    EXPECT_EQ(made.text, Bytes{'k'}) << "untouched by a failure";
    EXPECT_EQ(Reports().size(), static_cast<std::size_t>(row.dialogs));
  }

  EXPECT_EQ(SignAndEncryptEnvelope(kData, {}, {}, kSha1Rc4, {}, nullptr), kErrEmptyInput);
}

TEST_F(SignedEnvelopeTest, WrongRecipientHoldsNoKey) {
  // Made for 钱七, whose key nobody here holds.
  SignedEnvelope made;
  ASSERT_EQ(SignAndEncryptEnvelope(kData, {.dn = u"CN=Li Si", .server_mode = true},
                                   {.dn = u"CN=钱七", .server_mode = true}, kSha1Rc4, {}, &made),
            kOk);
  Bytes content = {'k'}, plain;
  const Status no_key(kErrPrivateKeyNotFound, platform::kCryptENoDecryptCert);
  EXPECT_EQ(DecryptAndVerifyEnvelope(made.text, &content, nullptr, nullptr), no_key);
  ASSERT_EQ(EncryptEnvelope(kData, {.dn = u"CN=钱七"}, platform::kOidRc4, {}, &plain, nullptr),
            kOk);
  EXPECT_EQ(DecryptEnvelope(plain, &content, nullptr), no_key);
  EXPECT_EQ(content, Bytes{'k'});
}

TEST_F(SignedEnvelopeTest, OpensslOpensAnEnvelopeMadeHere) {
  Bytes text;
  ASSERT_EQ(EncryptEnvelope(kData, {.dn = u"CN=张三", .server_mode = true}, platform::kOidAes128Cbc,
                            {}, &text, nullptr),
            kOk);
  Bytes der;
  ASSERT_EQ(encoding::Base64Decode(text, &der), kOk);
  const std::string dir = work_.path() + "/";
  ASSERT_TRUE(testing::WriteBytes(dir + "env.der", der));
  ASSERT_EQ(testing::RunShell("openssl smime -decrypt -binary -inform DER -in " + dir +
                              "env.der -inkey " + KeyFile(u"CN=张三") + " -out " + dir +
                              "out.bin 2>/dev/null"),
            0);
  Bytes out;
  ASSERT_TRUE(platform::ReadWholeFile(dir + "out.bin", &out));
  EXPECT_EQ(out, kData);
}

}  // namespace
}  // namespace quillmark::crypto
