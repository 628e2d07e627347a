// Signatures of the key providers against the real openssl command.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <string>

#include "platform/keys/hash.h"
#include "platform/keys/key_provider.h"
#include "platform/keys/sign_verify.h"
#include "platform/keys/sm2.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "support/test_dirs.h"

namespace quillmark::platform {
namespace {

using testing::RunShellCapture;

class KeyInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetQuillmarkHome(dir_.File("home"));
    WriteFile("data.bin", data_);
  }
  void TearDown() override { SetQuillmarkHome(""); }

  void WriteFile(const std::string& name, ByteSpan bytes) {
    ASSERT_TRUE(WriteFileAtomically(dir_.File(name), bytes));
  }

  // Writes the container key's public half as a PEM file for openssl.
  std::string PublicPem(CryptProv& prov, std::uint32_t spec, const std::string& name) {
    Bytes spki;
    EXPECT_TRUE(CryptExportPublicKeyInfo(prov, spec, kDefaultEncoding, &spki));
    WriteFile(name + ".der", spki);
    std::string out;
    EXPECT_EQ(Openssl("pkey -pubin -inform DER -in " + name + ".der -out " + name + ".pem", &out),
              0);
    return name + ".pem";
  }

  int Openssl(const std::string& args, std::string* out) {
    return RunShellCapture("cd " + dir_.path() + " && openssl " + args + " 2>&1", out);
  }

  HashHandle Hash(CryptProv& prov, std::uint32_t algid) {
    HashHandle hash;
    EXPECT_TRUE(CryptCreateHash(prov, algid, nullptr, 0, &hash));
    EXPECT_TRUE(CryptHashData(*hash, data_, 0));
    return hash;
  }

  ProvHandle NewContainer(std::u16string_view name) {
    ProvHandle prov;
    EXPECT_TRUE(
        CryptAcquireContextW(&prov, name, kSoftwareProviderName, kProvRsaFull, kCryptNewKeyset));
    return prov;
  }

  testing::ScratchDir dir_;
  Bytes data_ = Bytes(AsBytes("transfer 1,000.00 CNY to account 6222 0000 1234\n").begin(),
                      AsBytes("transfer 1,000.00 CNY to account 6222 0000 1234\n").end());
};

TEST_F(KeyInteropTest, RsaSignatureReversedVerifiesWithOpenssl) {
  ProvHandle prov = NewContainer(u"rsa");
  ASSERT_TRUE(GenerateRsaKeyPair(*prov, kAtKeyExchange, 2048));
  std::string pub = PublicPem(*prov, kAtKeyExchange, "rsa_pub");
  for (auto [algid, name] : {std::pair{kCalgSha1, "sha1"}, std::pair{kCalgSha256, "sha256"},
                             std::pair{kCalgMd5, "md5"}, std::pair{kCalgSha512, "sha512"}}) {
    HashHandle hash = Hash(*prov, algid);
    Bytes sig;
    ASSERT_TRUE(CryptSignHashW(*hash, kAtKeyExchange, u"", 0, &sig));
    Bytes msb_first(sig.rbegin(), sig.rend());
    WriteFile("rsa.sig", msb_first);
    std::string out;
    EXPECT_EQ(
        Openssl(std::string("dgst -") + name + " -verify " + pub + " -signature rsa.sig data.bin",
                &out),
        0)
        << name << ": " << out;
    EXPECT_NE(out.find("Verified OK"), std::string::npos) << out;
    // Unreversed, openssl refuses it.
    WriteFile("rsa.sig", sig);
    EXPECT_NE(
        Openssl(std::string("dgst -") + name + " -verify " + pub + " -signature rsa.sig data.bin",
                &out),
        0)
        << name;
  }
  // The container file itself is a key openssl reads.
  std::string out;
  EXPECT_EQ(Openssl("pkey -in home/keys/rsa/exchange.pem -noout", &out), 0) << out;
}

TEST_F(KeyInteropTest, OpensslRsaSignatureVerifiesHere) {
  std::string out;
  ASSERT_EQ(Openssl("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out k.pem", &out), 0)
      << out;
  ASSERT_EQ(Openssl("pkey -in k.pem -pubout -outform DER -out k.spki", &out), 0) << out;
  ASSERT_EQ(Openssl("dgst -sha256 -sign k.pem -out k.sig data.bin", &out), 0) << out;
  Bytes spki, sig;
  ASSERT_TRUE(ReadWholeFile(dir_.File("k.spki"), &spki));
  ASSERT_TRUE(ReadWholeFile(dir_.File("k.sig"), &sig));
  ProvHandle verifier;
  ASSERT_TRUE(CryptAcquireContextW(&verifier, u"", kMsEnhancedProviderName, kProvRsaFull, 0));
  KeyHandle key;
  ASSERT_TRUE(CryptImportPublicKeyInfo(*verifier, kDefaultEncoding, spki, &key));
  Bytes lsb_first(sig.rbegin(), sig.rend());
  HashHandle hash = Hash(*verifier, kCalgSha256);
  EXPECT_TRUE(CryptVerifySignatureW(*hash, lsb_first, *key, u"", 0)) << std::hex << GetLastError();
  HashHandle sha1 = Hash(*verifier, kCalgSha1);
  SetLastError(0);
  EXPECT_FALSE(CryptVerifySignatureW(*sha1, lsb_first, *key, u"", 0));
  EXPECT_EQ(GetLastError(), kNteBadSignature);
}

TEST_F(KeyInteropTest, Sm2SignatureVerifiesWithOpensslDistinguishingId) {
  ProvHandle prov = NewContainer(u"sm2");
  ASSERT_TRUE(GenerateSm2KeyPair(*prov, kAtSignature));
  std::string pub = PublicPem(*prov, kAtSignature, "sm2_pub");
  for (int round = 0; round < 4; ++round) {  // r and s vary in length: try a few
    HashHandle hash = Hash(*prov, kCalgSm3);
    Bytes raw;
    ASSERT_TRUE(CryptSignHashW(*hash, kAtSignature, u"", 0, &raw)) << std::hex << GetLastError();
    ASSERT_EQ(raw.size(), 64u);
    // Halves turned around into big-endian r and s, wrapped as SEQUENCE { r, s }.
    Bytes der;
    ASSERT_TRUE(Sm2SignatureToDer(raw, &der));
    WriteFile("sm2.sig", der);
    std::string out;
    EXPECT_EQ(Openssl("dgst -sm3 -verify " + pub +
                          " -sigopt distid:1234567812345678 -signature sm2.sig data.bin",
                      &out),
              0)
        << out;
    EXPECT_NE(out.find("Verified OK"), std::string::npos) << out;
    // Any other ID gives another Z, and the signature no longer holds.
    EXPECT_NE(Openssl("dgst -sm3 -verify " + pub +
                          " -sigopt distid:1234567812345679 -signature sm2.sig data.bin",
                      &out),
              0);
  }
}

TEST_F(KeyInteropTest, OpensslSm2SignatureVerifiesHere) {
  std::string out;
  ASSERT_EQ(Openssl("genpkey -algorithm SM2 -out k.pem", &out), 0) << out;
  ASSERT_EQ(Openssl("pkey -in k.pem -pubout -outform DER -out k.spki", &out), 0) << out;
  ASSERT_EQ(
      Openssl("dgst -sm3 -sign k.pem -sigopt distid:1234567812345678 -out k.sig data.bin", &out), 0)
      << out;
  Bytes spki, der, raw;
  ASSERT_TRUE(ReadWholeFile(dir_.File("k.spki"), &spki));
  ASSERT_TRUE(ReadWholeFile(dir_.File("k.sig"), &der));
  ASSERT_TRUE(Sm2SignatureFromDer(der, &raw));
  ProvHandle verifier;
  ASSERT_TRUE(CryptAcquireContextW(&verifier, u"", kMsEnhancedProviderName, kProvRsaFull, 0));
  KeyHandle key;
  ASSERT_TRUE(CryptImportPublicKeyInfo(*verifier, kDefaultEncoding, spki, &key));
  HashHandle hash = Hash(*verifier, kCalgSm3);
  EXPECT_TRUE(CryptVerifySignatureW(*hash, raw, *key, u"", 0)) << std::hex << GetLastError();

  // The same key imported as a container key signs what openssl accepts.
  Bytes pkcs8;
  ASSERT_EQ(Openssl("pkey -in k.pem -outform DER -out k.p8", &out), 0) << out;
  ASSERT_TRUE(ReadWholeFile(dir_.File("k.p8"), &pkcs8));
  ProvHandle prov = NewContainer(u"from-openssl");
  ASSERT_TRUE(ImportPrivateKeyInfo(*prov, kAtKeyExchange, pkcs8));
  HashHandle mine = Hash(*prov, kCalgSm3);
  ASSERT_TRUE(CryptSignHashW(*mine, kAtKeyExchange, u"", 0, &raw));
  ASSERT_TRUE(Sm2SignatureToDer(raw, &der));
  WriteFile("mine.sig", der);
  EXPECT_EQ(Openssl("dgst -sm3 -prverify k.pem -sigopt distid:1234567812345678 -signature "
                    "mine.sig data.bin",
                    &out),
            0)
      << out;
}

TEST(Sm2Signature, DerAndProviderFormsConvertBothWays) {
  // r = 0x80 00 .. 01 (needs a leading zero in DER), s = 0x01 (short).
  Bytes raw(64, 0);
  raw[0] = 0x01;
  raw[31] = 0x80;
  raw[32] = 0x01;
  Bytes der;
  ASSERT_TRUE(Sm2SignatureToDer(raw, &der));
  ASSERT_EQ(der.size(), 2u + 2 + 33 + 2 + 1);
  EXPECT_EQ(der[0], 0x30);
  EXPECT_EQ(der[3], 33);  // r with its leading 00
  EXPECT_EQ(der[4], 0x00);
  EXPECT_EQ(der[5], 0x80);
  EXPECT_EQ(der[36], 0x01);  // last byte of r
  EXPECT_EQ(der[38], 1);     // s is one byte long
  EXPECT_EQ(der[39], 0x01);
  Bytes back;
  ASSERT_TRUE(Sm2SignatureFromDer(der, &back));
  EXPECT_EQ(back, raw);
  EXPECT_FALSE(Sm2SignatureToDer(ByteSpan(raw).first(63), &der));
  Bytes trailing = der;
  trailing.push_back(0);
  EXPECT_FALSE(Sm2SignatureFromDer(trailing, &back));
}

}  // namespace
}  // namespace quillmark::platform
