// The fixture of the signing members' end-to-end tests: one live
// `quillmark session` per test over a home, shared by the tests of one
// program, that holds the demonstration PKI plus three signers made here (an
// expired one, one whose issuer is not installed, one issued under the fixed
// issuer DN), with the signers' field texts to compare answers against.
#ifndef QUILLMARK_TESTS_SUPPORT_SIGN_SESSION_H_
#define QUILLMARK_TESTS_SUPPORT_SIGN_SESSION_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/json.h"
#include "common/unicode.h"
#include "support/live_session.h"
#include "support/test_dirs.h"

namespace quillmark::testing {

inline std::string U8(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }
inline std::u16string U16(std::string_view s) { return Utf8ToUtf16Lossy(s); }

inline constexpr char16_t kCustomerCa[] =
    u"CN=Demo Bank Customer CA, OU=Certification Services, O=Demo Bank, C=CN";
inline constexpr std::int64_t kNteBadSignature = -2146893818;  // 0x80090006
inline constexpr std::int64_t kCryptEOssError = -2146881536;   // 0x80093000
inline constexpr std::int64_t kNteBadAlgId = -2146893816;      // 0x80090008

// Base64 text to bytes and back, failing the test on a codec error.
Bytes Decode(std::u16string_view text);
std::u16string Encode(ByteSpan der);

// Rows of the chooser dialogs an answer reports, by subject.
std::vector<std::vector<std::string>> ChooserRows(const json::Value& a);

class SessionSignTest : public ::testing::Test {
 protected:
  struct Signer {
    std::u16string info[5];  // field texts 1 to 5
    std::u16string serial;   // the serial number as one hex token
    std::string thumbprint;
  };

  // The demonstration PKI in a scratch home, plus the signers of
  // AddOwnSigners; Li Si's certificate and key, the root and the CA as PEM
  // files in the home.
  static void SetUpTestSuite();
  static void TearDownTestSuite();

  static Signer Describe(const std::string& store, const std::string& thumbprint);
  static void WriteCertPem(const std::string& store, const std::string& thumbprint,
                           const std::string& path);
  // Signers with special certificates, all with Li Si's key (no key is
  // generated): a test root in ROOT, and in MY a signer of that root whose
  // certificate has expired, one whose issuer is installed nowhere, and one
  // issued under the fixed issuer DN with an exchange key.
  static void AddOwnSigners();

  // The signer whose subject starts with |cn| ("CN=Li Si").
  static const Signer& SignerOf(const std::string& cn);

  // The chooser's item data of |cn| among the signers in MY whose subject
  // holds |part|: candidates come in the store's (thumbprint) order.
  static int CandidateIndex(const std::string& part, const std::string& cn);

  // The five signer-information texts the session holds now.
  static std::vector<std::u16string> SignerInfo(LiveSession& s);
  static std::vector<std::u16string> InfoOf(const std::string& cn);
  static std::vector<std::u16string> NoInfo() { return std::vector<std::u16string>(5); }

  // A live session over the shared home; |ui_script| holds the dialog answers.
  LiveSession Session(const std::string& ui_script = "");

  static testing::ScratchDir* home_;
  static std::map<std::string, Signer>* signers_;
  static std::string li_key_, li_cert_;
  testing::ScratchDir work_;
  int ui_scripts_ = 0;
};

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_SUPPORT_SIGN_SESSION_H_
