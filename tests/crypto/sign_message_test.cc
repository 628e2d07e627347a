// SignMessage and VerifyMessage over the demonstration PKI, with the chooser
// answered by a script: round trips checked here and by the openssl command
// both ways, the statuses of each refusal with their platform codes, and the
// signer named by serial number.
#include "crypto/sign_message.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "certs/cert_info.h"
#include "common/status.h"
#include "common/unicode.h"
#include "crypto/demo_home.h"
#include "crypto/message_text.h"
#include "crypto/verify_message.h"
#include "encoding/base64.h"
#include "platform/os/files.h"
#include "platform/os/last_error.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::crypto {
namespace {

using testing::RunShell;
using testing::WriteBytes;

const Bytes kData = {'p', 'a', 'y', ' ', '1', '0', '0', 0x00, 0xD4, 0xAA};
constexpr std::u16string_view kLiSi = u"CN=Li Si, OU=Corporate, O=Demo Bank, C=CN";
constexpr std::u16string_view kZhang = u"CN=张三, OU=Personal, O=Demo Bank, C=CN";

Bytes Decode(ByteSpan text) {
  Bytes out;
  EXPECT_EQ(encoding::Base64Decode(text, &out), kOk);
  return out;
}

class SignMessageTest : public DemoHomeTest {
 protected:
  // The subjects the one chooser shown since the last call listed.
  static std::vector<std::u16string> ChooserRows() {
    std::vector<platform::ui::DialogReport> reports = Reports();
    EXPECT_EQ(reports.size(), 1u);
    std::vector<std::u16string> rows;
    if (!reports.empty()) {
      for (const platform::ui::ChooserRow& r : reports[0].rows) rows.push_back(r.subject);
    }
    return rows;
  }
};

TEST_F(SignMessageTest, RoundTripsAttachedAndDetachedAndOpensslVerifies) {
  const std::string dir = work_.path() + "/";
  ASSERT_TRUE(WriteBytes(dir + "data.bin", kData));
  for (bool detached : {false, true}) {
    SCOPED_TRACE(detached);
    Bytes text;
    certs::CertInfoSet signer;
    ASSERT_EQ(SignMessage(kData, {.dn = u"CN=Li Si", .server_mode = true}, {.detached = detached},
                          {}, &text, &signer),
              kOk);
    EXPECT_EQ(*signer.Get(certs::kFieldSubject), kLiSi);

    Bytes content = detached ? kData : Bytes{'o', 'l', 'd'};
    certs::CertInfoSet checked;
    ASSERT_EQ(VerifyMessage(text, &content, &checked, !detached), kOk);
    EXPECT_EQ(content, kData);
    EXPECT_EQ(*checked.Get(certs::kFieldSerial), *signer.Get(certs::kFieldSerial));

    Bytes out;
    ASSERT_TRUE(OpensslSmimeVerify(dir, Decode(text), detached, &out));
    EXPECT_EQ(out, kData);
  }
}

TEST_F(SignMessageTest, VerifiesWhatOpensslSigns) {
  const std::string dir = work_.path() + "/";
  ASSERT_TRUE(WriteBytes(dir + "data.bin", kData));
  const std::string cert = CertFile(u"CN=张三");
  ASSERT_EQ(RunShell("openssl smime -sign -noattr -binary -nodetach -outform DER -in " + dir +
                     "data.bin -signer " + cert + " -inkey " + KeyFile(u"CN=张三") + " -out " +
                     dir + "p7.der 2>/dev/null"),
            0);
  Bytes der, text, content;
  ASSERT_TRUE(platform::ReadWholeFile(dir + "p7.der", &der));
  ASSERT_EQ(encoding::Base64Encode(der, &text), kOk);
  certs::CertInfoSet signer;
  ASSERT_EQ(VerifyMessage(text, &content, &signer, /*attached=*/true), kOk);
  EXPECT_EQ(content, kData);
  EXPECT_EQ(*signer.Get(certs::kFieldSubject), kZhang);

  // One changed content byte no longer matches the signature.
  auto at = std::search(der.begin(), der.end(), kData.begin(), kData.end());
  ASSERT_NE(at, der.end());
  *at ^= 0x01;
  Bytes changed;
  ASSERT_EQ(encoding::Base64Encode(der, &changed), kOk);
  EXPECT_EQ(VerifyMessage(changed, &content, nullptr, /*attached=*/true),
            Status(kErrInvalidSignature, platform::kNteBadSignature));
  EXPECT_EQ(content, kData) << "replaced only on success";
}

// Megabytes (above the size up to which a message's certificates come from
// the cache, and compressed) through the calls that take the content and
// the text over: both are released, the signed DER carries the content as
// openssl reads it, and a large message openssl signs verifies here.
TEST_F(SignMessageTest, LargeContentSurvivesTheCallsThatTakeItsBuffers) {
  const std::string dir = work_.path() + "/";
  Bytes data((3 << 20) + 5);
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
  }
  ASSERT_TRUE(WriteBytes(dir + "data.bin", data));

  Bytes given = data;
  Bytes text;
  EXPECT_EQ(SignMessage(std::move(given), {.dn = u"CN=Nobody", .server_mode = true}, {}, {}, &text,
                        nullptr),
            kErrCertNotFound);
  EXPECT_TRUE(given == data) << "kept when nothing was signed";
  ASSERT_EQ(SignMessage(std::move(given), {.dn = u"CN=Li Si", .server_mode = true}, {}, {}, &text,
                        nullptr),
            kOk);
  EXPECT_TRUE(given.empty()) << "released once signed";
  Bytes der;
  ASSERT_EQ(DecodeMessageText(text, /*expand=*/true, &der), kOk);
  ASSERT_GT(der.size(), data.size());
  Bytes out;
  ASSERT_TRUE(OpensslSmimeVerify(dir, der, /*detached=*/false, &out));
  EXPECT_TRUE(out == data);

  Bytes content;
  certs::CertInfoSet signer;
  Bytes taken = text;
  ASSERT_EQ(VerifyMessage(std::move(taken), &content, &signer, /*attached=*/true), kOk);
  EXPECT_TRUE(taken.empty()) << "released once decoded";
  EXPECT_TRUE(content == data);
  EXPECT_EQ(*signer.Get(certs::kFieldSubject), kLiSi);
  taken = text;
  content.clear();
  ASSERT_EQ(VerifyAfterwards(std::move(taken), &content, nullptr), kOk);
  EXPECT_TRUE(taken.empty());
  EXPECT_TRUE(content == data);

  // Signed by openssl, with its certificate decoded along with the message.
  ASSERT_EQ(RunShell("openssl smime -sign -noattr -binary -nodetach -outform DER -in " + dir +
                     "data.bin -signer " + CertFile(u"CN=张三") + " -inkey " + KeyFile(u"CN=张三") +
                     " -out " + dir + "big.der 2>/dev/null"),
            0);
  ASSERT_TRUE(platform::ReadWholeFile(dir + "big.der", &der));
  ASSERT_EQ(encoding::Base64Encode(der, &text), kOk);
  content.clear();
  ASSERT_EQ(VerifyMessage(text, &content, &signer, /*attached=*/true), kOk);
  EXPECT_TRUE(content == data);
  EXPECT_EQ(*signer.Get(certs::kFieldSubject), kZhang);

  // A changed byte fails, and the text is released all the same.
  der[der.size() / 2] ^= 0x01;
  ASSERT_EQ(encoding::Base64Encode(der, &taken), kOk);
  content = {'o', 'l', 'd'};
  EXPECT_NE(VerifyMessage(std::move(taken), &content, nullptr, /*attached=*/true), kOk);
  EXPECT_TRUE(taken.empty());
  EXPECT_EQ(content, (Bytes{'o', 'l', 'd'}));
}

TEST_F(SignMessageTest, RefusalsAndTheirPlatformCodes) {
  struct Row {
    const char* what;
    const char* script;
    certs::SignerQuery query;
    SignOptions options;
    Status status;
    int choosers;  // dialogs shown
  };
  const Row rows[] = {
      {"no signer", "", {.dn = u"CN=Nobody", .server_mode = true}, {}, kErrCertNotFound, 0},
      {"no signer, retry asks", "choose 0\n", {.dn = u"CN=Nobody"}, {}, kErrCertNotFound, 1},
      {"cancelled chooser", "cancel\n", {}, {}, kErrCertNotFound, 1},
      {"exchange key refused",
       "",
       {.dn = u"CN=张三", .key = certs::KeyRule::kSignatureKey},
       {},
       kErrCertNotFound,
       1},
      {"bad digest OID",
       "",
       {.dn = u"CN=Li Si", .server_mode = true},
       {.digest_oid = "1.2.3.4"},
       Status(kErrBadAlgorithm, platform::kNteBadAlgId),
       0},
      {"unknown serial",
       "",
       {.serial_list = u"7F7F", .issuer_dn = u"CN=x"},
       {},
       kErrCertNotFound,
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Answer(row.script);
    Bytes text = {'k'};
    EXPECT_EQ(SignMessage(kData, row.query, row.options, {}, &text, nullptr), row.status);
    EXPECT_EQ(text, Bytes{'k'}) << "untouched by a failure";
    EXPECT_EQ(Reports().size(), static_cast<std::size_t>(row.choosers));
  }
  EXPECT_EQ(SignMessage(kData, {.dn = u"CN=Li Si"}, {}, {}, nullptr, nullptr), kErrEmptyInput);

  // The revoked signer signs; its chain fails on the revocation check, and
  // without that check the chain policy still sees the revocation.
  Bytes text, content;
  ASSERT_EQ(SignMessage(kData, {.dn = u"CN=王五", .server_mode = true}, {}, {}, &text, nullptr),
            kOk);
  EXPECT_EQ(VerifyMessage(text, &content, nullptr, true), kErrCertRevoked);
  EXPECT_EQ(VerifyAfterwards(text, &content, nullptr), kErrChainFailed);
  EXPECT_TRUE(content.empty());
}

TEST_F(SignMessageTest, ChooserOffersEveryKeyAndSerialNamesTheSigner) {
  // No DN: every certificate of "MY" with a key, SM2 ones included, in an
  // order fixed by their thumbprints.
  Answer("cancel\n");
  Bytes text;
  EXPECT_EQ(SignMessage(kData, {}, {}, {}, &text, nullptr), kErrCertNotFound);
  std::vector<std::u16string> rows = ChooserRows();
  std::vector<std::u16string> sorted = rows;
  std::sort(sorted.begin(), sorted.end());
  ASSERT_EQ(sorted, (std::vector<std::u16string>{u"Li Si", u"张三", u"王五", u"赵六"}));

  // Choosing Li Si's row signs as Li Si.
  const auto li = std::find(rows.begin(), rows.end(), u"Li Si") - rows.begin();
  Answer("choose " + std::to_string(li) + "\n");
  certs::CertInfoSet signer;
  ASSERT_EQ(SignMessage(kData, {}, {}, {}, &text, &signer), kOk);
  EXPECT_EQ(ChooserRows(), rows);
  EXPECT_EQ(*signer.Get(certs::kFieldSubject), kLiSi);

  // The serial text without its spaces, and the issuer DN, name the signer.
  std::u16string serial = *signer.Get(certs::kFieldSerial);
  std::erase(serial, u' ');
  const std::u16string issuer = *signer.Get(certs::kFieldIssuer);
  certs::CertInfoSet again;
  Answer("");
  ASSERT_EQ(SignMessage(kData, {.serial_list = serial, .issuer_dn = issuer}, {}, {}, &text, &again),
            kOk);
  EXPECT_EQ(*again.Get(certs::kFieldSubject), *signer.Get(certs::kFieldSubject));
  EXPECT_TRUE(Reports().empty());
}

TEST_F(SignMessageTest, OnlyAttachedSignaturesAreCompressed) {
  for (bool detached : {false, true}) {
    SCOPED_TRACE(detached);
    Bytes text;
    ASSERT_EQ(SignMessage(kData, {.dn = u"CN=Li Si", .server_mode = true},
                          {.detached = detached, .compression_threshold = 1}, {}, &text, nullptr),
              kOk);
    EXPECT_EQ(Decode(text)[0], detached ? 0x30 : 0x1F);
    Bytes content = detached ? kData : Bytes{};
    EXPECT_EQ(VerifyMessage(text, &content, nullptr, !detached), kOk);
  }
}

}  // namespace
}  // namespace quillmark::crypto
