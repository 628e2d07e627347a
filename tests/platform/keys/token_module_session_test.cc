// Keys on a token of the tests' own PKCS#11 module, used by a control end to
// end: SM2 signing through the module's vendor mechanism in the Advance
// flow (checked by `openssl dgst -sm3 -verify`), the tries left before the
// PIN locks and the locked PIN, a token pulled from under a logged-in
// control and put back, and a token key that is not the certificate's.
#include <gtest/gtest.h>
#include <openssl/pkcs7.h>
#include <stdlib.h>

#include <string>

#include "platform/keys/cert_issuer.h"
#include "platform/os/files.h"
#include "support/cert_factory.h"
#include "support/live_session.h"
#include "support/session_answers.h"
#include "support/sign_session.h"
#include "support/test_dirs.h"

namespace quillmark::platform {
namespace {

using json::Value;
using testing::Decode;
using testing::LiveSession;
using testing::Result;
using testing::RunShellCapture;

constexpr std::int64_t kScardWWrongChvCode = -2146434965;     // 0x8010006B
constexpr std::int64_t kScardWChvBlockedCode = -2146434964;   // 0x8010006C
constexpr std::int64_t kScardENoSmartcardCode = -2146435060;  // 0x8010000C

class TokenModuleSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new testing::ScratchDir;
    const std::string token = scratch_->File("token");
    ASSERT_TRUE(MakeDirectories(token));
    ASSERT_TRUE(testing::WriteBytes(token + "/token.conf",
                                    AsBytes("label Gamma\nserial GAMMA-7\npin 2468\nmax-tries 3\n"
                                            "sm2-mechanism 0x80000301\n")));
    ASSERT_TRUE(testing::WriteBytes(token + "/present", Bytes()));
    ::setenv("QM_TEST_TOKEN_DIR", token.c_str(), 1);
    ASSERT_TRUE(testing::WriteBytes(
        scratch_->File("modules"),
        AsBytes(std::string(QM_TEST_TOKEN_MODULE) + " sm2-mechanism=0x80000301\n")));
    ::setenv("QUILLMARK_TOKEN_MODULES", scratch_->File("modules").c_str(), 1);

    // An SM2 authority and user, an RSA authority and user, and a key whose
    // certificate on the token is another key's.
    IssuingKey sm2_ca = IssuingKey::GenerateSm2();
    IssuingKey sm2_user = IssuingKey::GenerateSm2();
    IssuingKey rsa_ca = IssuingKey::GenerateRsa(2048);
    IssuingKey rsa_user = IssuingKey::GenerateRsa(2048);
    IssuingKey other = IssuingKey::GenerateRsa(2048);
    Bytes sm2_ca_cert, rsa_ca_cert;
    ASSERT_TRUE(IssueCertificate(Request("Token SM2 CA", sm2_ca, {}, nullptr), &sm2_ca_cert));
    ASSERT_TRUE(IssueCertificate(Request("Token RSA CA", rsa_ca, {}, nullptr), &rsa_ca_cert));
    ASSERT_TRUE(PutKey(sm2_user, "0C", "Token SM2", sm2_ca_cert, sm2_ca, &sm2_cert_));
    ASSERT_TRUE(PutKey(rsa_user, "0A", "Token Gamma", rsa_ca_cert, rsa_ca, nullptr));
    // 0D: the key is |other|'s, the certificate |rsa_user|'s.
    Bytes mismatched;
    ASSERT_TRUE(PutKey(rsa_user, "0D", "Token Mismatch", rsa_ca_cert, rsa_ca, &mismatched));
    Bytes other_der;
    ASSERT_TRUE(other.PrivateKeyInfo(&other_der));
    ASSERT_TRUE(testing::WriteBytes(token + "/0D.key", other_der));

    for (const Bytes* ca : {&sm2_ca_cert, &rsa_ca_cert}) {
      const std::string file = scratch_->File(ca == &sm2_ca_cert ? "sm2ca.pem" : "rsaca.pem");
      ASSERT_TRUE(testing::WriteBytes(file, AsBytes(testing::DerToPem(*ca, "CERTIFICATE"))));
      ASSERT_EQ(Cli("store --home '" + Home() + "' add ROOT '" + file + "'"), 0);
    }
    std::string out;
    ASSERT_EQ(Cli("token --home '" + Home() + "' sync", &out), 0) << out;
    ASSERT_NE(out.find("3 certificates added"), std::string::npos) << out;
  }

  static void TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
  }

  // A CA (no issuer) or a user certified by |issuer_key|.
  static IssueRequest Request(const std::string& cn, const IssuingKey& key, ByteSpan issuer_cert,
                              const IssuingKey* issuer_key) {
    IssueRequest request;
    request.subject = {{"CN", cn}};
    request.subject_key = &key;
    request.issuer_cert = issuer_cert;
    request.issuer_key = issuer_key;
    request.ca = issuer_key == nullptr;
    request.key_usage =
        request.ca ? "keyCertSign,cRLSign" : "digitalSignature,nonRepudiation,keyEncipherment";
    return request;
  }

  // Issues a certificate for |key| and writes both onto the token as |id_hex|.
  static bool PutKey(const IssuingKey& key, const std::string& id_hex, const std::string& cn,
                     const Bytes& ca_cert, const IssuingKey& ca_key, Bytes* cert_out) {
    Bytes cert, der;
    if (!IssueCertificate(Request(cn, key, ca_cert, &ca_key), &cert) || !key.PrivateKeyInfo(&der)) {
      return false;
    }
    const std::string token = scratch_->File("token");
    bool ok = testing::WriteBytes(token + "/" + id_hex + ".key", der) &&
              testing::WriteBytes(token + "/" + id_hex + ".crt", cert);
    if (cert_out != nullptr) *cert_out = cert;
    return ok;
  }

  static std::string Home() { return scratch_->File("home"); }

  static int Cli(const std::string& args, std::string* out = nullptr) {
    std::string ignored;
    return RunShellCapture(std::string(QM_CLI_PATH) + " " + args + " 2>&1",
                           out != nullptr ? out : &ignored);
  }

  static void SetTokenFile(const char* name, const std::string& text, bool present = true) {
    const std::string path = scratch_->File("token") + "/" + name;
    if (present) {
      ASSERT_TRUE(testing::WriteBytes(path, AsBytes(text)));
    } else {
      RemoveFile(path);
    }
  }

  LiveSession Start(const std::string& ui) {
    EXPECT_TRUE(testing::WriteBytes(work_.File("ui.txt"), AsBytes(ui)));
    return LiveSession(Home(), work_.File("ui.txt"));
  }

  static std::vector<const Value*> PinDialogs(const Value& a) {
    std::vector<const Value*> pins;
    for (const Value& d : a.Find(u"dialogs")->array()) {
      if (d.Find(u"kind")->string() == u"pin") pins.push_back(&d);
    }
    return pins;
  }

  // Checks the SM2 signature of an Advance package over |content| with
  // `openssl dgst -sm3 -verify` and the default user ID.
  void ExpectSm2SignatureVerifies(const std::u16string& text, const std::string& content) {
    const Bytes der = Decode(text);
    const unsigned char* p = der.data();
    PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(p7, nullptr);
    STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(p7);
    ASSERT_EQ(sk_PKCS7_SIGNER_INFO_num(infos), 1);
    ASN1_OCTET_STRING* sig = sk_PKCS7_SIGNER_INFO_value(infos, 0)->enc_digest;
    const unsigned char* sig_data = ASN1_STRING_get0_data(sig);
    Bytes signature(sig_data, sig_data + ASN1_STRING_length(sig));
    PKCS7_free(p7);
    ASSERT_TRUE(testing::WriteBytes(work_.File("sm2.sig"), signature));
    ASSERT_TRUE(testing::WriteBytes(work_.File("sm2.txt"), AsBytes(content)));
    ASSERT_TRUE(testing::WriteBytes(work_.File("sm2.pem"),
                                    AsBytes(testing::DerToPem(sm2_cert_, "CERTIFICATE"))));
    std::string out;
    EXPECT_EQ(RunShellCapture("openssl x509 -pubkey -noout -in '" + work_.File("sm2.pem") +
                                  "' > '" + work_.File("sm2pub.pem") +
                                  "' && openssl dgst -sm3 -verify '" + work_.File("sm2pub.pem") +
                                  "' -sigopt distid:1234567812345678 -signature '" +
                                  work_.File("sm2.sig") + "' '" + work_.File("sm2.txt") + "' 2>&1",
                              &out),
              0)
        << out;
    EXPECT_NE(out.find("Verified OK"), std::string::npos) << out;
  }

  static testing::ScratchDir* scratch_;
  static Bytes sm2_cert_;
  testing::ScratchDir work_;
};

testing::ScratchDir* TokenModuleSessionTest::scratch_ = nullptr;
Bytes TokenModuleSessionTest::sm2_cert_;

TEST_F(TokenModuleSessionTest, Sm2KeyOnTheTokenSignsInSignModes2And4) {
  LiveSession s = Start("pin 2468\n");
  EXPECT_ANSWER(s.Call("QMSetSM2CertStoreName", {u"SM2"}), 0, 0);
  for (int mode : {2, 4}) {
    SCOPED_TRACE(mode);
    EXPECT_ANSWER(s.Put("QMSignMode", mode), 0, 0);
    const std::u16string text = mode == 2 ? u"sm2 mode 2" : u"sm2 mode 4";
    EXPECT_ANSWER(s.Call("QMSetPlainText", {text}), 0, 0);
    Value signed_answer = s.Call("QMAdvanceAttachedSign", {u"CN=Token SM2"});
    EXPECT_ANSWER(signed_answer, 0, 0);
    ExpectSm2SignatureVerifies(Result(signed_answer), Utf16ToUtf8Lossy(text));
  }
}

// The key named by the certificate's property is not the certificate's:
// the call fails before any PIN is asked.
TEST_F(TokenModuleSessionTest, AKeyThatIsNotTheCertificatesFailsFirst) {
  LiveSession s = Start("pin 2468\n");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"mismatch"}), 0, 0);
  Value mismatch = s.Call("QMAttachedSign", {u"CN=Token Mismatch"});
  EXPECT_EQ(mismatch.Find(u"hr")->integer(), 1);
  EXPECT_TRUE(Result(mismatch).empty());
  EXPECT_TRUE(PinDialogs(mismatch).empty());
}

// Pulled while logged in: the next call fails with the no-token code and
// asks nothing; put back, the token wants its PIN again.
TEST_F(TokenModuleSessionTest, ATokenPulledFromALoggedInControlAndPutBack) {
  LiveSession s = Start("pin 2468\npin 2468\n");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"before"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=Token Gamma"}), 0, 0);
  SetTokenFile("present", "", /*present=*/false);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"pulled"}), 0, 0);
  Value pulled = s.Call("QMAttachedSign", {u"CN=Token Gamma"});
  SetTokenFile("present", "");
  EXPECT_EQ(pulled.Find(u"hr")->integer(), 1);
  EXPECT_EQ(pulled.Find(u"errorCode")->integer(), kScardENoSmartcardCode);
  EXPECT_TRUE(PinDialogs(pulled).empty());
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"back"}), 0, 0);
  Value back = s.Call("QMAttachedSign", {u"CN=Token Gamma"});
  EXPECT_ANSWER(back, 0, 0);
  EXPECT_EQ(PinDialogs(back).size(), 1u);
}

// Each wrong PIN is its own failure; the dialog shows one try left once
// the token says so, and a locked PIN fails without asking.
TEST_F(TokenModuleSessionTest, TriesLeftThenALockedPin) {
  LiveSession s = Start("pin 1\npin 2\npin 3\npin 2468\n");
  std::vector<int> tries_shown;
  for (int attempt = 0; attempt < 3; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_ANSWER(s.Call("QMSetPlainText", {u"guess"}), 0, 0);
    Value wrong = s.Call("QMAttachedSign", {u"CN=Token Gamma"});
    EXPECT_EQ(wrong.Find(u"errorCode")->integer(), kScardWWrongChvCode);
    std::vector<const Value*> pins = PinDialogs(wrong);
    ASSERT_EQ(pins.size(), 1u);
    EXPECT_EQ(pins[0]->Find(u"label")->string(), u"Gamma");
    tries_shown.push_back(static_cast<int>(pins[0]->Find(u"triesLeft")->integer()));
  }
  EXPECT_EQ(tries_shown, (std::vector<int>{-1, -1, 1}));
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"locked"}), 0, 0);
  Value locked = s.Call("QMAttachedSign", {u"CN=Token Gamma"});
  EXPECT_EQ(locked.Find(u"hr")->integer(), 1);
  EXPECT_EQ(locked.Find(u"errorCode")->integer(), kScardWChvBlockedCode);
  EXPECT_TRUE(PinDialogs(locked).empty());
  SetTokenFile("tries", "0");
}

}  // namespace
}  // namespace quillmark::platform
