// The envelope operations against the demonstration PKI: round trips for
// every content cipher, and what the platform's refusals become. The members
// over them, signed envelopes included, are exercised end to end in
// tests/control/session_envelope_test.cc.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "certs/cert_info.h"
#include "common/status.h"
#include "crypto/demo_home.h"
#include "crypto/envelope.h"
#include "demo/demo_pki.h"
#include "platform/message/message.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "support/test_dirs.h"

namespace quillmark::crypto {
namespace {

TEST(EnvelopeTest, EveryCipherRoundTripsAndRefusalsKeepTheirPlatformCode) {
  testing::ScratchDir home;
  platform::SetQuillmarkHome(home.path());
  std::vector<::quillmark::demo::DemoItem> items;
  std::string error;
  ASSERT_TRUE(::quillmark::demo::CreateDemoPki(&items, &error)) << error;

  const Bytes content = {'G', 'B', 'K', 0xC4, 0xE3, 0xBA, 0xC3, 0x00, '!'};
  for (const char* oid : {platform::kOidRc4, platform::kOidDesEde3Cbc, platform::kOidAes128Cbc,
                          platform::kOidAes256Cbc}) {
    SCOPED_TRACE(oid);
    Bytes text, opened;
    certs::CertInfoSet made_for, opened_by;
    ASSERT_EQ(EncryptEnvelope(content, {.dn = u"CN=张三"}, oid, {}, &text, &made_for), kOk);
    // Base64 in lines of 64 characters, each ended by a line feed.
    std::string t(AsChars(text));
    EXPECT_EQ(t.back(), '\n');
    for (std::size_t at = 0, end; (end = t.find('\n', at)) != std::string::npos; at = end + 1) {
      EXPECT_LE(end - at, 64u);
    }
    ASSERT_EQ(DecryptEnvelope(text, &opened, &opened_by), kOk);
    EXPECT_EQ(opened, content);
    EXPECT_EQ(*made_for.Get(certs::kFieldSubject), u"CN=张三, OU=Personal, O=Demo Bank, C=CN");
    for (std::uint32_t f = 1; f <= certs::kCertFieldCount; ++f) {
      EXPECT_EQ(*made_for.Get(f), *opened_by.Get(f));
    }
  }

  // Only a failed message call carries a platform code.
  Bytes out = {'k'};
  EXPECT_EQ(EncryptEnvelope(content, {.dn = u"CN=钱七"}, "1.2.3.4", {}, &out, nullptr),
            Status(kErrBadAlgorithm, platform::kNteBadAlgId));
  EXPECT_EQ(DecryptEnvelope(AsBytes("AAAA"), &out, nullptr),
            Status(kErrMessageNotRecognised, platform::kCryptEOssError));
  EXPECT_EQ(DecryptEnvelope(AsBytes("AAAAA"), &out, nullptr), kErrBase64Decode);
  EXPECT_EQ(EncryptFileForCertificate(content, AsBytes("AAAA"), platform::kOidRc4, &out),
            kErrCertContext);
  EXPECT_EQ(out, Bytes{'k'});
  platform::SetQuillmarkHome("");
}

}  // namespace
}  // namespace quillmark::crypto
