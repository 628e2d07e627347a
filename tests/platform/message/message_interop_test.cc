// Signed messages and envelopes exchanged with the real openssl command in
// both directions.
#include <gtest/gtest.h>

#include <string>

#include "message_fixture.h"
#include "platform/message/message.h"
#include "platform/os/files.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {
namespace {

using testing::RunShellCapture;

// RC4 lives in OpenSSL's legacy provider.
const std::string kLegacy = "-provider legacy -provider default ";

class MessageInteropTest : public MessageTest {
 protected:
  void SetUp() override {
    MessageTest::SetUp();
    Write("alice.crt", AsBytes(testing::DerToPem(alice_->der(), "CERTIFICATE")));
    Write("alice.key", AsBytes(testing::PrivateKeyPem(alice_key_)));
    Write("data.bin", data_);
  }

  void Write(const std::string& name, ByteSpan bytes) {
    ASSERT_TRUE(WriteFileAtomically(dir_.File(name), bytes));
  }
  Bytes Read(const std::string& name) {
    Bytes bytes;
    EXPECT_TRUE(ReadWholeFile(dir_.File(name), &bytes)) << name;
    return bytes;
  }
  // Runs openssl in the scratch folder; on failure the output is the message.
  ::testing::AssertionResult Openssl(const std::string& args) {
    std::string out;
    if (RunShellCapture("cd " + dir_.path() + " && openssl " + args + " 2>&1", &out) == 0) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "openssl " << args << "\n" << out;
  }
  std::string Decrypt(const std::string& in, const std::string& out) {
    return "smime -decrypt " + kLegacy + "-binary -inform DER -in " + in +
           " -inkey alice.key -recip alice.crt -out " + out;
  }
  std::string VerifyDer(const std::string& in) {
    return "smime -verify -noverify -binary -inform DER -in " + in + " -out out.bin";
  }
};

TEST_F(MessageInteropTest, SignedHereVerifiesWithOpenssl) {
  for (const char* oid : {kOidSha1, kOidSha256, kOidSha512, kOidMd5}) {
    SCOPED_TRACE(oid);
    Bytes attached, detached;
    ASSERT_TRUE(CryptSignMessage(SignPara(alice_, oid), false, data_, &attached));
    ASSERT_TRUE(CryptSignMessage(SignPara(alice_, oid), true, data_, &detached));
    Write("attached.p7", attached);
    Write("detached.p7", detached);
    EXPECT_TRUE(Openssl(VerifyDer("attached.p7")));
    EXPECT_EQ(Read("out.bin"), data_);
    EXPECT_TRUE(Openssl("cms -verify -noverify -binary -inform DER -in attached.p7 -out out.bin"));
    EXPECT_EQ(Read("out.bin"), data_);
    EXPECT_TRUE(Openssl(VerifyDer("detached.p7") + " -content data.bin"));
    Write("other.bin", AsBytes("other content"));
    EXPECT_FALSE(Openssl(VerifyDer("detached.p7") + " -content other.bin"));
  }
}

TEST_F(MessageInteropTest, SignedByOpensslVerifiesHere) {
  for (bool attributes : {false, true}) {
    for (bool detached : {false, true}) {
      SCOPED_TRACE(std::string(attributes ? "with" : "without") + " attributes, " +
                   (detached ? "detached" : "attached"));
      ASSERT_TRUE(Openssl(std::string("smime -sign -binary -md sha256 -signer alice.crt ") +
                          "-inkey alice.key -in data.bin -outform DER -out s.p7" +
                          (attributes ? "" : " -noattr") + (detached ? "" : " -nodetach")));
      Bytes blob = Read("s.p7");
      Bytes content;
      CertContextPtr signer;
      if (detached) {
        ASSERT_TRUE(CryptVerifyDetachedMessageSignature({}, 0, blob, data_, &signer))
            << std::hex << GetLastError();
        EXPECT_FALSE(CryptVerifyDetachedMessageSignature({}, 0, blob, AsBytes("x"), nullptr));
        EXPECT_EQ(GetLastError(), attributes ? kCryptEHashValue : kNteBadSignature);
      } else {
        ASSERT_TRUE(CryptVerifyMessageSignature({}, 0, blob, &content, &signer))
            << std::hex << GetLastError();
        EXPECT_EQ(content, data_);
      }
      EXPECT_EQ(signer->thumbprint(), alice_->thumbprint());
    }
  }
  // Streamed output is BER with indefinite lengths and a chunked content.
  ASSERT_TRUE(
      Openssl("smime -sign -binary -noattr -nodetach -stream -signer alice.crt -inkey alice.key "
              "-in data.bin -outform DER -out s.p7"));
  Bytes content;
  ASSERT_TRUE(CryptVerifyMessageSignature({}, 0, Read("s.p7"), &content, nullptr));
  EXPECT_EQ(content, data_);
}

TEST_F(MessageInteropTest, EnvelopeMadeHereOpensWithOpenssl) {
  for (const char* oid : {kOidRc4, kOidAes128Cbc, kOidAes256Cbc, kOidDesEde3Cbc, kOidSm4Cbc}) {
    SCOPED_TRACE(oid);
    CryptEncryptMessagePara para;
    para.content_encryption_oid = oid;
    Bytes envelope;
    ASSERT_TRUE(CryptEncryptMessage(para, std::span(&alice_, 1), data_, &envelope));
    Write("env.p7", envelope);
    EXPECT_TRUE(Openssl(Decrypt("env.p7", "out.bin")));
    EXPECT_EQ(Read("out.bin"), data_);
  }
}

TEST_F(MessageInteropTest, EnvelopeMadeByOpensslOpensHere) {
  for (const char* cipher : {"-rc4", "-aes128", "-aes256", "-des3", "-sm4-cbc"}) {
    SCOPED_TRACE(cipher);
    ASSERT_TRUE(Openssl("smime -encrypt " + kLegacy + "-binary -outform DER " + cipher +
                        " -in data.bin -out env.p7 alice.crt"));
    Bytes content;
    CertContextPtr recipient;
    ASSERT_TRUE(
        CryptDecryptMessage(DecryptPara(std::span(&my_, 1)), Read("env.p7"), &content, &recipient))
        << std::hex << GetLastError();
    EXPECT_EQ(content, data_);
    EXPECT_EQ(recipient->thumbprint(), alice_->thumbprint());
  }
  // The form other platforms write: RC4 with NULL parameters.
  ASSERT_TRUE(Openssl("smime -encrypt " + kLegacy + "-binary -outform DER -rc4 -in data.bin " +
                      "-out env.p7 alice.crt"));
  TestPkcs7 p7 = DecodePkcs7(Read("env.p7"));
  X509_ALGOR* alg = p7->d.enveloped->enc_data->algorithm;
  ASSERT_EQ(alg->parameter, nullptr);
  X509_ALGOR_set0(alg, OBJ_dup(alg->algorithm), V_ASN1_NULL, nullptr);
  Bytes with_null = EncodePkcs7(p7.get());
  Bytes content;
  ASSERT_TRUE(CryptDecryptMessage(DecryptPara(std::span(&my_, 1)), with_null, &content, nullptr))
      << std::hex << GetLastError();
  EXPECT_EQ(content, data_);
}

TEST_F(MessageInteropTest, NestedMessagesCrossBothWays) {
  for (const char* oid : {kOidRc4, kOidAes256Cbc}) {
    SCOPED_TRACE(oid);
    CryptEncryptMessagePara para;
    para.content_encryption_oid = oid;
    Bytes blob;
    ASSERT_TRUE(CryptSignAndEncryptMessage(SignPara(alice_, kOidSha256), para,
                                           std::span(&alice_, 1), data_, &blob));
    Write("nested.p7", blob);
    ASSERT_TRUE(Openssl(Decrypt("nested.p7", "inner.p7")));
    EXPECT_TRUE(Openssl(VerifyDer("inner.p7")));
    EXPECT_EQ(Read("out.bin"), data_);
  }
  ASSERT_TRUE(Openssl(
      "smime -sign -noattr -nodetach -binary -signer alice.crt -inkey alice.key -in data.bin "
      "-outform DER -out s.p7 && openssl smime -encrypt -binary -aes256 -outform DER -in s.p7 "
      "-out e.p7 alice.crt"));
  Bytes content;
  CertContextPtr recipient, signer;
  ASSERT_TRUE(CryptDecryptAndVerifyMessageSignature(DecryptPara(std::span(&my_, 1)), {}, 0,
                                                    Read("e.p7"), &content, &recipient, &signer))
      << std::hex << GetLastError();
  EXPECT_EQ(content, data_);
  EXPECT_EQ(recipient->thumbprint(), alice_->thumbprint());
  EXPECT_EQ(signer->thumbprint(), alice_->thumbprint());
}

}  // namespace
}  // namespace quillmark::platform
