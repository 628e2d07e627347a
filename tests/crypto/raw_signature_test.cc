// RawSign and RawVerify over the demonstration PKI, checked against the
// openssl command both ways (the text carries a PKCS#1 v1.5 value most
// significant byte first), the statuses of each refusal with their platform
// codes, and DigestAndEncode against openssl's digests.
#include "crypto/raw_signature.h"

#include <gtest/gtest.h>

#include <string>

#include "certs/cert_info.h"
#include "common/status.h"
#include "crypto/demo_home.h"
#include "crypto/digest.h"
#include "encoding/base64.h"
#include "platform/message/message.h"
#include "platform/os/files.h"
#include "platform/os/last_error.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::crypto {
namespace {

using testing::RunShell;
using testing::RunShellCapture;
using testing::WriteBytes;

const Bytes kData = {'a', 'm', 'o', 'u', 'n', 't', '=', '5', 0x00, 0xB6, 0xE0};
constexpr std::u16string_view kLiSi = u"CN=Li Si, OU=Corporate, O=Demo Bank, C=CN";
const certs::SignerQuery kLiSiQuery{.dn = u"CN=Li Si", .server_mode = true};

using RawSignatureTest = DemoHomeTest;

TEST_F(RawSignatureTest, OpensslVerifiesWhatIsSignedAndTheReverse) {
  const std::string dir = work_.path() + "/";
  ASSERT_TRUE(WriteBytes(dir + "data.bin", kData));
  for (const char* oid : {platform::kOidSha1, platform::kOidSha256}) {
    SCOPED_TRACE(oid);
    const std::string dgst = oid == std::string(platform::kOidSha1) ? "-sha1" : "-sha256";
    Bytes text, signature;
    certs::CertInfoSet signer;
    ASSERT_EQ(RawSign(kData, kLiSiQuery, oid, {}, &text, &signer), kOk);
    EXPECT_EQ(*signer.Get(certs::kFieldSubject), kLiSi);
    ASSERT_EQ(encoding::Base64Decode(text, &signature), kOk);
    ASSERT_EQ(signature.size(), 256u);
    ASSERT_TRUE(WriteBytes(dir + "sig.bin", signature));
    ASSERT_EQ(RunShell("openssl x509 -pubkey -noout -in " + CertFile(u"CN=Li Si") + " > " + dir +
                       "pub.pem"),
              0);
    std::string out;
    EXPECT_EQ(RunShellCapture("openssl dgst " + dgst + " -verify " + dir + "pub.pem -signature " +
                                  dir + "sig.bin " + dir + "data.bin 2>&1",
                              &out),
              0);
    EXPECT_EQ(out, "Verified OK\n");

    // openssl's own signature, checked against Li Si's copy among the other
    // people's certificates.
    ASSERT_EQ(RunShell("openssl dgst " + dgst + " -sign " + KeyFile(u"CN=Li Si") + " -out " + dir +
                       "theirs.bin " + dir + "data.bin"),
              0);
    Bytes theirs, theirs_text;
    ASSERT_TRUE(platform::ReadWholeFile(dir + "theirs.bin", &theirs));
    ASSERT_EQ(encoding::Base64Encode(theirs, &theirs_text), kOk);
    certs::CertInfoSet checked;
    EXPECT_EQ(RawVerify(theirs_text, kData, kLiSiQuery, oid, {}, &checked), kOk);
    EXPECT_EQ(*checked.Get(certs::kFieldSubject), kLiSi);
    EXPECT_EQ(RawVerify(text, kData, kLiSiQuery, oid, {}, nullptr), kOk);
  }
}

TEST_F(RawSignatureTest, RefusalsAndTheirPlatformCodes) {
  Bytes text;
  ASSERT_EQ(RawSign(kData, kLiSiQuery, platform::kOidSha1, {}, &text, nullptr), kOk);
  Bytes changed = kData;
  changed[0] ^= 0x01;
  EXPECT_EQ(RawVerify(text, changed, kLiSiQuery, platform::kOidSha1, {}, nullptr),
            Status(kErrSignatureCheck, platform::kNteBadSignature));
  EXPECT_EQ(RawVerify(text, kData, kLiSiQuery, platform::kOidSha256, {}, nullptr),
            Status(kErrSignatureCheck, platform::kNteBadSignature))
      << "another digest";

  struct Row {
    const char* what;
    const char* script;
    certs::SignerQuery query;
    const char* oid;
    Status status;
    int dialogs;
  };
  const Row rows[] = {
      {"no signer",
       "",
       {.dn = u"CN=Nobody", .server_mode = true},
       "1.3.14.3.2.26",
       kErrCertNotFound,
       0},
      {"cancelled chooser", "cancel\n", {}, "1.3.14.3.2.26", kErrCertNotFound, 1},
      {"bad digest OID", "", kLiSiQuery, "1.2.3.4", Status(kErrHashCreate, platform::kNteBadAlgId),
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Answer(row.script);
    Bytes out = {'k'};
    EXPECT_EQ(RawSign(kData, row.query, row.oid, {}, &out, nullptr), row.status);
    EXPECT_EQ(out, Bytes{'k'});
    EXPECT_EQ(Reports().size(), static_cast<std::size_t>(row.dialogs));
    Answer(row.script);
    EXPECT_EQ(RawVerify(text, kData, row.query, row.oid, {}, nullptr), row.status);
    EXPECT_EQ(Reports().size(), static_cast<std::size_t>(row.dialogs));
  }
  EXPECT_EQ(RawVerify(Bytes{}, kData, kLiSiQuery, platform::kOidSha1, {}, nullptr), kErrEmptyInput);
  EXPECT_EQ(RawVerify(text, Bytes{}, kLiSiQuery, platform::kOidSha1, {}, nullptr), kErrEmptyInput);
  EXPECT_EQ(RawSign(kData, kLiSiQuery, platform::kOidSha1, {}, nullptr, nullptr), kErrEmptyInput);
}

TEST(DigestAndEncodeTest, MatchesOpensslForEveryDigest) {
  testing::ScratchDir dir;
  ASSERT_TRUE(WriteBytes(dir.File("data.bin"), kData));
  struct Row {
    const char* oid;
    const char* openssl;
  };
  const Row rows[] = {{platform::kOidMd5, "-md5"},       {platform::kOidSha1, "-sha1"},
                      {platform::kOidSha256, "-sha256"}, {platform::kOidSha384, "-sha384"},
                      {platform::kOidSha512, "-sha512"}, {platform::kOidSm3, "-sm3"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.oid);
    std::size_t size = 0;
    ASSERT_EQ(DigestAndEncode(kData, nullptr, &size, row.oid), kOk);
    Bytes text(size + 1);
    ASSERT_EQ(DigestAndEncode(kData, text.data(), &size, row.oid), kOk);
    text.resize(size);
    std::string expected;
    ASSERT_EQ(RunShellCapture(std::string("openssl dgst ") + row.openssl + " -binary " +
                                  dir.File("data.bin") + " | openssl base64",
                              &expected),
              0);
    EXPECT_EQ(std::string(AsChars(text)), expected) << "64-character lines";
  }
  std::size_t size = 100;
  Bytes text(size);
  EXPECT_EQ(DigestAndEncode(kData, text.data(), &size, "1.2.3.4"), kErrDecryptFailed)
      << "no platform code";
}

}  // namespace
}  // namespace quillmark::crypto
