// Engine contracts that no member reaches on its own: the platform-error
// mapping of every kind of message call, the digest's size protocol, and
// the argument checks of verification.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/status.h"
#include "crypto/demo_home.h"
#include "crypto/digest.h"
#include "crypto/message_errors.h"
#include "crypto/message_text.h"
#include "crypto/verify_message.h"
#include "encoding/base64.h"
#include "platform/os/last_error.h"

namespace quillmark::crypto {
namespace {

TEST(MessageEngineTest, PlatformErrorsByKindOfCall) {
  using platform::kCryptENoDecryptCert;
  using platform::kCryptENoKeyProperty;
  constexpr std::uint32_t kOther = 0x80091007;
  struct Row {
    std::uint32_t error;
    int sign, verify, encrypt, decrypt;
  };
  const Row rows[] = {
      {kCryptENoKeyProperty, -10015, -10015, -10015, -10023},
      {kCryptENoDecryptCert, -10020, -10021, -10022, -10015},
      {platform::kCryptEOssError, -10007, -10007, -10007, -10007},
      {platform::kNteBadSignature, -10010, -10010, -10010, -10010},
      {platform::kNteBadAlgId, -10033, -10033, -10033, -10033},
      {kOther, -10020, -10021, -10022, -10023},
      {0, -10020, -10021, -10022, -10023},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.error);
    EXPECT_EQ(MapMessageError(r.error, MessageCall::kSign), r.sign);
    EXPECT_EQ(MapMessageError(r.error, MessageCall::kVerify), r.verify);
    EXPECT_EQ(MapMessageError(r.error, MessageCall::kEncrypt), r.encrypt);
    EXPECT_EQ(MapMessageError(r.error, MessageCall::kDecrypt), r.decrypt);
  }
}

TEST(MessageEngineTest, DigestSizeProtocolNeverWritesPastTheBuffer) {
  const Bytes ten(10, 'x');
  std::size_t size = 0;
  ASSERT_EQ(DigestAndEncode(ten, nullptr, &size, "1.3.14.3.2.26"), kOk);
  EXPECT_EQ(size, 90u) << "length + 80, whatever the algorithm";
  ASSERT_EQ(DigestAndEncode(Bytes(1, 'a'), nullptr, &size, "1.3.14.3.2.26"), kOk);
  EXPECT_EQ(size, 90u) << "room for the text of a 64-byte digest";
  EXPECT_EQ(DigestAndEncode(ten, nullptr, nullptr, "1.3.14.3.2.26"), kErrEmptyInput);

  // SHA-512 of one byte fills the answered size exactly.
  Bytes out(90 + 1, 0xEE);
  size = 90;
  ASSERT_EQ(DigestAndEncode(Bytes(1, 'a'), out.data(), &size, "2.16.840.1.101.3.4.2.3"), kOk);
  EXPECT_EQ(size, 90u);
  EXPECT_EQ(out[89], '\n');
  EXPECT_EQ(out[90], 0xEE);

  // A buffer too small is refused before anything is written.
  Bytes small(20, 0xEE);
  size = small.size();
  EXPECT_EQ(DigestAndEncode(ten, small.data(), &size, "1.3.14.3.2.26"), kErrBase64Encode);
  EXPECT_EQ(small, Bytes(20, 0xEE));
  size = 100;
  EXPECT_EQ(DigestAndEncode(ten, out.data(), &size, "1.2.3.4"), kErrDecryptFailed);
}

TEST(MessageEngineTest, VerificationArgumentsAndUndecodableText) {
  const Bytes text = {'Y', 'W', 'J', 'j'};  // "abc": not a message
  Bytes content = {'x'};
  // Only a failed verify call reports a platform error.
  EXPECT_EQ(VerifyMessage(text, nullptr, nullptr, true), kErrEmptyInput);
  EXPECT_EQ(VerifyMessage(text, nullptr, nullptr, false), kErrNoDetachedSource);
  Bytes empty;
  EXPECT_EQ(VerifyMessage(text, &empty, nullptr, false), kErrEmptyInput);
  EXPECT_EQ(VerifyMessage(Bytes{'Y', 'W', 'J'}, &content, nullptr, true), kErrBase64Decode);
  EXPECT_EQ(VerifyAfterwards(text, &content, nullptr),
            Status(kErrMessageNotRecognised, platform::kCryptEOssError));
  EXPECT_EQ(content, Bytes{'x'}) << "content is replaced only on success";

  // A compression frame inside the Base64 text is expanded before anything else.
  Bytes der(3000, 0x30), framed, message;
  ASSERT_EQ(EncodeMessageText(der, true, 100, &framed), kOk);
  ASSERT_EQ(DecodeMessageText(framed, true, &message), kOk);
  EXPECT_EQ(message, der);
  ASSERT_EQ(DecodeMessageText(framed, false, &message), kOk);
  EXPECT_EQ(message[0], 0x1f);
}

}  // namespace
}  // namespace quillmark::crypto
