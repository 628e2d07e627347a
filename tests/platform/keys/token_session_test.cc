// Keys on a SoftHSM2 token used by a control end to end: certificates
// propagated into MY by `quillmark token sync`, every signing member and the
// envelope with the token's RSA and EC keys (each result checked by the
// openssl command), and the PIN: asked once per control, wrong, cancelled,
// and the token gone between propagation and use.
#include <gtest/gtest.h>

#include <string>

#include "platform/os/files.h"
#include "support/cert_factory.h"
#include "support/live_session.h"
#include "support/session_answers.h"
#include "support/sign_session.h"
#include "support/soft_tokens.h"
#include "support/test_dirs.h"

namespace quillmark::platform {
namespace {

using json::Value;
using testing::Decode;
using testing::LiveSession;
using testing::Result;
using testing::RunShell;
using testing::RunShellCapture;
using testing::U16;

constexpr std::int64_t kScardWWrongChvCode = -2146434965;         // 0x8010006B
constexpr std::int64_t kScardENoSmartcardCode = -2146435060;      // 0x8010000C
constexpr std::int64_t kScardWCancelledByUserCode = -2146434962;  // 0x8010006E

Bytes Name(const char* cn) { return testing::NameBuilder().Add("CN", cn).Der(); }

class TokenSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new testing::ScratchDir;
    tokens_ = new testing::SoftTokens(scratch_->File("tokens"));
    ca_key_ = testing::MakeRsaKey().release();
    rsa_key_ = testing::MakeRsaKey().release();
    ec_key_ = testing::MakeEcKey().release();
    testing::CertSpec ca_spec;
    ca_spec.subject = Name("Token Test CA");
    ca_spec.subject_key = ca_key_;
    ca_spec.extensions = {{"basicConstraints", "critical,CA:TRUE"},
                          {"keyUsage", "critical,keyCertSign,cRLSign"}};
    Bytes ca = testing::MakeCertificate(ca_spec);
    ASSERT_TRUE(testing::WriteBytes(scratch_->File("ca.pem"),
                                    AsBytes(testing::DerToPem(ca, "CERTIFICATE"))));
    rsa_cert_ = Issue("Token RSA", rsa_key_, 0x11);
    ec_cert_ = Issue("Token EC", ec_key_, 0x12);

    serial_ = tokens_->InitToken("Alpha", "1234");
    ASSERT_FALSE(serial_.empty());
    ASSERT_TRUE(tokens_->ImportKey("Alpha", "1234", rsa_key_, "01", "rsa signer"));
    ASSERT_TRUE(tokens_->ImportKey("Alpha", "1234", ec_key_, "02", "ec signer"));
    // A second token, pulled by one test.
    beta_key_ = testing::MakeRsaKey().release();
    beta_serial_ = tokens_->InitToken("Beta", "4321");
    ASSERT_FALSE(beta_serial_.empty());
    ASSERT_TRUE(tokens_->ImportKey("Beta", "4321", beta_key_, "0B", "beta"));
    // Certificates last: this process's copy of the module sees the tokens
    // made so far.
    ASSERT_TRUE(tokens_->PutCertificate(serial_, "1234", rsa_cert_, Bytes{0x01}, "rsa signer"));
    ASSERT_TRUE(tokens_->PutCertificate(serial_, "1234", ec_cert_, Bytes{0x02}, "ec signer"));
    ASSERT_TRUE(tokens_->PutCertificate(beta_serial_, "4321", Issue("Token Beta", beta_key_, 0x13),
                                        Bytes{0x0B}, "beta"));
    ASSERT_TRUE(testing::WriteBytes(scratch_->File("rsa.pem"),
                                    AsBytes(testing::DerToPem(rsa_cert_, "CERTIFICATE"))));
    ASSERT_TRUE(testing::WriteBytes(scratch_->File("rsa-key.pem"),
                                    AsBytes(testing::PrivateKeyPem(rsa_key_))));
    ASSERT_TRUE(testing::WriteBytes(scratch_->File("ec.pem"),
                                    AsBytes(testing::DerToPem(ec_cert_, "CERTIFICATE"))));

    ASSERT_EQ(Cli("store --home '" + Home() + "' add ROOT '" + scratch_->File("ca.pem") + "'"), 0);
    ASSERT_EQ(Cli("token --home '" + Home() + "' sync"), 0);
    // The RSA certificate as a recipient of envelopes.
    ASSERT_EQ(
        Cli("store --home '" + Home() + "' add AddressBook '" + scratch_->File("rsa.pem") + "'"),
        0);
  }

  static void TearDownTestSuite() {
    EVP_PKEY_free(ca_key_);
    EVP_PKEY_free(rsa_key_);
    EVP_PKEY_free(ec_key_);
    EVP_PKEY_free(beta_key_);
    delete tokens_;
    delete scratch_;
  }

  static Bytes Issue(const char* cn, EVP_PKEY* key, std::uint8_t serial) {
    testing::CertSpec spec;
    spec.subject = Name(cn);
    spec.issuer = Name("Token Test CA");
    spec.subject_key = key;
    spec.issuer_key = ca_key_;
    spec.serial = {serial};
    spec.extensions = {{"keyUsage", "critical,digitalSignature,nonRepudiation,keyEncipherment"}};
    return testing::MakeCertificate(spec);
  }

  static std::string Home() { return scratch_->File("home"); }

  static int Cli(const std::string& args, std::string* out = nullptr) {
    std::string line = std::string(QM_CLI_PATH) + " " + args + " 2>&1";
    std::string ignored;
    return RunShellCapture(line, out != nullptr ? out : &ignored);
  }

  LiveSession Start(const std::string& ui) {
    EXPECT_TRUE(testing::WriteBytes(work_.File("ui.txt"), AsBytes(ui)));
    return LiveSession(Home(), work_.File("ui.txt"));
  }

  // Writes |der| and runs `openssl cms -verify` on it against the test CA;
  // |content| names the detached content's file, empty for attached.
  bool OpensslVerifies(const Bytes& der, const std::string& content, std::string* out) {
    EXPECT_TRUE(testing::WriteBytes(work_.File("sig.der"), der));
    std::string line = "openssl cms -verify -binary -inform DER -in '" + work_.File("sig.der") +
                       "' -CAfile '" + scratch_->File("ca.pem") + "' -purpose any -out '" +
                       work_.File("out.bin") + "'";
    if (!content.empty()) line += " -content '" + content + "'";
    std::string log;
    if (RunShellCapture(line + " 2>&1", &log) != 0) {
      ADD_FAILURE() << log;
      return false;
    }
    Bytes got;
    EXPECT_TRUE(ReadWholeFile(work_.File("out.bin"), &got));
    *out = std::string(AsChars(got));
    return true;
  }

  static std::int64_t ErrorCode(const Value& a) { return a.Find(u"errorCode")->integer(); }

  // `openssl dgst -sha1 -verify` of |signature| over |content| with the
  // public key of the certificate in |cert_pem|.
  bool OpensslVerifiesRaw(const Bytes& signature, const std::string& content,
                          const std::string& cert_pem) {
    EXPECT_TRUE(testing::WriteBytes(work_.File("raw.sig"), signature));
    EXPECT_TRUE(testing::WriteBytes(work_.File("raw.txt"), AsBytes(content)));
    std::string log;
    int rc = RunShellCapture("openssl x509 -pubkey -noout -in '" + cert_pem + "' > '" +
                                 work_.File("pub.pem") + "' && openssl dgst -sha1 -verify '" +
                                 work_.File("pub.pem") + "' -signature '" + work_.File("raw.sig") +
                                 "' '" + work_.File("raw.txt") + "' 2>&1",
                             &log);
    EXPECT_EQ(rc, 0) << log;
    return rc == 0 && log.find("Verified OK") != std::string::npos;
  }

  // The PIN dialogs an answer reports.
  static std::vector<const Value*> PinDialogs(const Value& a) {
    std::vector<const Value*> pins;
    for (const Value& d : a.Find(u"dialogs")->array()) {
      if (d.Find(u"kind")->string() == u"pin") pins.push_back(&d);
    }
    return pins;
  }

  static testing::ScratchDir* scratch_;
  static testing::SoftTokens* tokens_;
  static EVP_PKEY* ca_key_;
  static EVP_PKEY* rsa_key_;
  static EVP_PKEY* ec_key_;
  static EVP_PKEY* beta_key_;
  static std::string beta_serial_;
  static Bytes rsa_cert_;
  static Bytes ec_cert_;
  static std::string serial_;
  testing::ScratchDir work_;
};

testing::ScratchDir* TokenSessionTest::scratch_ = nullptr;
testing::SoftTokens* TokenSessionTest::tokens_ = nullptr;
EVP_PKEY* TokenSessionTest::ca_key_ = nullptr;
EVP_PKEY* TokenSessionTest::rsa_key_ = nullptr;
EVP_PKEY* TokenSessionTest::ec_key_ = nullptr;
EVP_PKEY* TokenSessionTest::beta_key_ = nullptr;
std::string TokenSessionTest::beta_serial_;
Bytes TokenSessionTest::rsa_cert_;
Bytes TokenSessionTest::ec_cert_;
std::string TokenSessionTest::serial_;

TEST_F(TokenSessionTest, ListShowsTheTokenItsCertificatesAndKeys) {
  std::string out;
  ASSERT_EQ(Cli("token --home '" + Home() + "' list", &out), 0) << out;
  EXPECT_NE(out.find("token \"Alpha\" serial " + serial_), std::string::npos) << out;
  EXPECT_NE(out.find("login-required"), std::string::npos) << out;
  EXPECT_NE(out.find("certificate id 01 \"rsa signer\": CN=Token RSA"), std::string::npos) << out;
  EXPECT_NE(out.find("certificate id 02 \"ec signer\": CN=Token EC"), std::string::npos) << out;
  EXPECT_NE(out.find("public-key EC id 02"), std::string::npos) << out;
}

TEST_F(TokenSessionTest, SyncPropagatesIntoMyWithTheTokenProperty) {
  std::string out;
  ASSERT_EQ(Cli("store --home '" + Home() + "' list MY --json", &out), 0) << out;
  EXPECT_NE(out.find("\"container\":\"" + serial_ +
                     "/01\",\"provider\":\"Quillmark Token "
                     "Provider\""),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"container\":\"" + serial_ + "/02\""), std::string::npos) << out;
  // A second sync finds all three there already.
  ASSERT_EQ(Cli("token --home '" + Home() + "' sync", &out), 0) << out;
  EXPECT_NE(out.find("0 certificates added to MY, 3 already there"), std::string::npos) << out;
}

TEST_F(TokenSessionTest, AttachedAndDetachedSignaturesWithRsaAndEcKeys) {
  LiveSession s = Start("pin 1234\n");
  for (const char16_t* signer : {u"CN=Token RSA", u"CN=Token EC"}) {
    SCOPED_TRACE(Utf16ToUtf8Lossy(signer));
    EXPECT_ANSWER(s.Call("QMSetPlainText", {u"pay 100"}), 0, 0);
    Value attached = s.Call("QMAttachedSign", {signer});
    EXPECT_ANSWER(attached, 0, 0);
    std::string content;
    ASSERT_TRUE(OpensslVerifies(Decode(Result(attached)), "", &content));
    EXPECT_EQ(content, "pay 100");

    Value detached = s.Call("QMDetachedSign", {u"pay 200", signer});
    EXPECT_ANSWER(detached, 0, 0);
    ASSERT_TRUE(testing::WriteBytes(work_.File("content.txt"), AsBytes("pay 200")));
    ASSERT_TRUE(OpensslVerifies(Decode(Result(detached)), work_.File("content.txt"), &content));
  }
  // Other digests: the DigestInfo and the ECDSA signature algorithm follow.
  for (const char16_t* digest : {u"2.16.840.1.101.3.4.2.1", u"2.16.840.1.101.3.4.2.3"}) {
    EXPECT_ANSWER(s.Call("QMSetDigestArithmetic", {digest}), 0, 0);
    for (const char16_t* signer : {u"CN=Token RSA", u"CN=Token EC"}) {
      SCOPED_TRACE(Utf16ToUtf8Lossy(signer) + " " + Utf16ToUtf8Lossy(digest));
      EXPECT_ANSWER(s.Call("QMSetPlainText", {u"pay 300"}), 0, 0);
      Value attached = s.Call("QMAttachedSign", {signer});
      EXPECT_ANSWER(attached, 0, 0);
      std::string content;
      ASSERT_TRUE(OpensslVerifies(Decode(Result(attached)), "", &content));
      EXPECT_EQ(content, "pay 300");
    }
  }
}

TEST_F(TokenSessionTest, RawAndAdvanceSignaturesWithRsaAndEcKeys) {
  LiveSession s = Start("pin 1234\n");
  const std::pair<const char16_t*, std::string> signers[] = {
      {u"CN=Token RSA", scratch_->File("rsa.pem")}, {u"CN=Token EC", scratch_->File("ec.pem")}};
  for (const auto& [signer, cert_pem] : signers) {
    SCOPED_TRACE(Utf16ToUtf8Lossy(signer));
    EXPECT_ANSWER(s.Call("QMSetPlainText", {u"raw 300"}), 0, 0);
    Value raw = s.Call("QMRawSign", {signer});
    EXPECT_ANSWER(raw, 0, 0);
    EXPECT_TRUE(OpensslVerifiesRaw(Decode(Result(raw)), "raw 300", cert_pem));

    EXPECT_ANSWER(s.Call("QMSetPlainText", {u"advance 400"}), 0, 0);
    Value advance = s.Call("QMAdvanceAttachedSign", {signer});
    EXPECT_ANSWER(advance, 0, 0);
    std::string content;
    ASSERT_TRUE(OpensslVerifies(Decode(Result(advance)), "", &content));
    EXPECT_EQ(content, "advance 400");
  }
}

// An envelope to the token's certificate opens with the token's key; a
// signed envelope made with either token key is opened by openssl with the
// recipient's key and its inner signature checked.
TEST_F(TokenSessionTest, EnvelopesOpenAndSignWithTokenKeys) {
  LiveSession s = Start("pin 1234\n");
  EXPECT_ANSWER(s.Call("QMSetSymmetryArithmetic", {u"2.16.840.1.101.3.4.1.2"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"sealed 500"}), 0, 0);
  Value sealed = s.Call("QMEncryptedEnvelop", {u"CN=Token RSA"});
  EXPECT_ANSWER(sealed, 0, 0);
  EXPECT_ANSWER(s.Call("QMDecryptEnvelop", {Result(sealed)}), 0, 0);
  EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"sealed 500");

  for (const char16_t* signer : {u"CN=Token RSA", u"CN=Token EC"}) {
    SCOPED_TRACE(Utf16ToUtf8Lossy(signer));
    EXPECT_ANSWER(s.Call("QMSetPlainText", {u"signed 600"}), 0, 0);
    Value made = s.Call("QMSignedAndEncryptedEnvelop", {signer, u"CN=Token RSA"});
    EXPECT_ANSWER(made, 0, 0);
    ASSERT_TRUE(testing::WriteBytes(work_.File("senv.der"), Decode(Result(made))));
    std::string log;
    ASSERT_EQ(
        RunShellCapture("openssl smime -decrypt -binary -inform DER -in '" +
                            work_.File("senv.der") + "' -inkey '" + scratch_->File("rsa-key.pem") +
                            "' -out '" + work_.File("inner.der") + "' 2>&1",
                        &log),
        0)
        << log;
    Bytes inner;
    ASSERT_TRUE(ReadWholeFile(work_.File("inner.der"), &inner));
    std::string content;
    ASSERT_TRUE(OpensslVerifies(inner, "", &content));
    EXPECT_EQ(content, "signed 600");
    // The control opens it too, with the token's key (it checks RSA and SM2
    // signers only).
    if (std::u16string_view(signer) == u"CN=Token RSA") {
      EXPECT_ANSWER(s.Call("QMDecryptedAndVerifiedEnvelop", {Result(made)}), 0, 0);
      EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"signed 600");
    }
  }
}

// One PIN per control instance: asked at the first use of the token with its
// label, not again for later calls; a new control asks again.
TEST_F(TokenSessionTest, ThePinIsAskedOncePerControl) {
  {
    LiveSession s = Start("pin 1234\n");
    EXPECT_ANSWER(s.Call("QMSetPlainText", {u"one"}), 0, 0);
    Value first = s.Call("QMAttachedSign", {u"CN=Token RSA"});
    EXPECT_ANSWER(first, 0, 0);
    std::vector<const Value*> pins = PinDialogs(first);
    ASSERT_EQ(pins.size(), 1u);
    EXPECT_EQ(pins[0]->Find(u"label")->string(), u"Alpha");
    EXPECT_EQ(pins[0]->Find(u"answer")->string(), u"pin");
    EXPECT_ANSWER(s.Call("QMSetPlainText", {u"two"}), 0, 0);
    Value second = s.Call("QMAttachedSign", {u"CN=Token EC"});
    EXPECT_ANSWER(second, 0, 0);
    EXPECT_TRUE(PinDialogs(second).empty());
  }
  LiveSession again = Start("pin 1234\n");
  EXPECT_ANSWER(again.Call("QMSetPlainText", {u"three"}), 0, 0);
  Value third = again.Call("QMAttachedSign", {u"CN=Token RSA"});
  EXPECT_ANSWER(third, 0, 0);
  EXPECT_EQ(PinDialogs(third).size(), 1u);
}

// A wrong PIN fails the call with its own code and logs nobody in; the
// next call asks again, and the right PIN then signs.
TEST_F(TokenSessionTest, AWrongPinFailsAndTheNextCallAsksAgain) {
  LiveSession s = Start("pin 9999\npin 1234\n");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"wrong"}), 0, 0);
  Value wrong = s.Call("QMAttachedSign", {u"CN=Token RSA"});
  EXPECT_EQ(wrong.Find(u"hr")->integer(), 1);
  EXPECT_EQ(ErrorCode(wrong), kScardWWrongChvCode);
  EXPECT_TRUE(Result(wrong).empty());
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"right"}), 0, 0);
  Value right = s.Call("QMAttachedSign", {u"CN=Token RSA"});
  EXPECT_ANSWER(right, 0, 0);
  ASSERT_EQ(PinDialogs(right).size(), 1u);
  std::string content;
  EXPECT_TRUE(OpensslVerifies(Decode(Result(right)), "", &content));
}

TEST_F(TokenSessionTest, ACancelledPinDialogFailsWithTheCancelCode) {
  LiveSession s = Start("cancel\n");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"cancelled"}), 0, 0);
  Value cancelled = s.Call("QMAttachedSign", {u"CN=Token RSA"});
  EXPECT_EQ(cancelled.Find(u"hr")->integer(), 1);
  EXPECT_EQ(ErrorCode(cancelled), kScardWCancelledByUserCode);
  EXPECT_EQ(PinDialogs(cancelled).size(), 1u);
}

// The token goes after its certificate was propagated: the certificate
// stays in MY and signing with it fails with the no-token code, before any
// PIN is asked.
TEST_F(TokenSessionTest, APulledTokenKeepsItsCertificateAndFailsCleanly) {
  ASSERT_TRUE(tokens_->RemoveToken(beta_serial_));
  LiveSession s = Start("pin 4321\n");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"pulled"}), 0, 0);
  Value pulled = s.Call("QMAttachedSign", {u"CN=Token Beta"});
  EXPECT_EQ(pulled.Find(u"hr")->integer(), 1);
  EXPECT_EQ(ErrorCode(pulled), kScardENoSmartcardCode);
  EXPECT_TRUE(PinDialogs(pulled).empty());
  std::string out;
  ASSERT_EQ(Cli("store --home '" + Home() + "' list MY --json", &out), 0) << out;
  EXPECT_NE(out.find(beta_serial_ + "/0B"), std::string::npos) << out;
}

// A module that does not load is named by `token list`, which still lists
// the tokens of the others, and is refused by add-module.
TEST_F(TokenSessionTest, AModuleThatFailsToLoadIsNamedAndRefused) {
  const std::string missing = scratch_->File("no-such-pkcs11.so");
  const std::string not_a_module = scratch_->File("ca.pem");
  ASSERT_TRUE(tokens_->SetModules(missing + "\n" + testing::kSoftHsmModule + "\n"));
  std::string out;
  EXPECT_EQ(Cli("token --home '" + Home() + "' list", &out), 1);
  EXPECT_NE(out.find("cannot load " + missing), std::string::npos) << out;
  EXPECT_NE(out.find("token \"Alpha\""), std::string::npos) << out;
  ASSERT_TRUE(tokens_->SetModules(std::string(testing::kSoftHsmModule) + "\n"));

  EXPECT_EQ(Cli("token --home '" + Home() + "' add-module '" + not_a_module + "'", &out), 1);
  EXPECT_NE(out.find("cannot load " + not_a_module), std::string::npos) << out;
  EXPECT_EQ(Cli("token --home '" + Home() + "' add-module '" +
                    std::string(testing::kSoftHsmModule) + "' --sm2-mechanism 0x80000301",
                &out),
            0)
      << out;
  Bytes list;
  ASSERT_TRUE(ReadWholeFile(Home() + "/tokens/modules", &list));
  EXPECT_EQ(AsChars(list), std::string(testing::kSoftHsmModule) + " sm2-mechanism=0x80000301\n");
  EXPECT_EQ(Cli("token --home '" + Home() + "' remove-module '" + missing + "'", &out), 1);
  EXPECT_EQ(Cli("token --home '" + Home() + "' remove-module '" +
                    std::string(testing::kSoftHsmModule) + "'",
                &out),
            0)
      << out;
  ASSERT_TRUE(ReadWholeFile(Home() + "/tokens/modules", &list));
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace quillmark::platform
