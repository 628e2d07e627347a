// What the engine demands of a signer's certificate and key, over a small
// PKI issued here: a certificate whose key usage allows no signatures is
// refused by every verifier, and a key-provider property that names another
// certificate's container makes no Advance or raw signature.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "certs/cert_info.h"
#include "common/status.h"
#include "common/unicode.h"
#include "crypto/advance_sign.h"
#include "crypto/advance_verify.h"
#include "crypto/demo_home.h"
#include "crypto/raw_signature.h"
#include "crypto/sign_message.h"
#include "crypto/sign_options.h"
#include "crypto/signed_envelope.h"
#include "crypto/verify_message.h"
#include "platform/chain/cert_chain.h"
#include "platform/keys/cert_issuer.h"
#include "platform/keys/key_import.h"
#include "platform/keys/key_provider.h"
#include "platform/message/message.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_store.h"
#include "support/test_dirs.h"

namespace quillmark::crypto {
namespace {

namespace pf = ::quillmark::platform;

const Bytes kData = {'p', 'a', 'y', ' ', '1', '0', '0', 0x00, 0xC4, 0xE3};

pf::CertStore Open(std::u16string_view name) {
  return pf::CertOpenStore(pf::kCertStoreProvSystemW, 0, pf::kCertSystemStoreCurrentUser, name);
}

struct Authority {
  pf::IssuingKey key;
  Bytes cert;
};

// One RSA and one SM2 root in ROOT; users of either, each in MY with its key
// and, for the verifiers that look among other people's certificates, in
// AddressBook.
class SignerChecksTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = new testing::ScratchDir;
    pf::SetQuillmarkHome(home_->path());
    MakeRoot("Signer Check Root", false, &rsa_root_);
    MakeRoot("Signer Check SM2 Root", true, &sm2_root_);
    AddUser("Signing Clerk", "digitalSignature,keyEncipherment", rsa_root_, false);
    AddUser("Notary Clerk", "nonRepudiation", rsa_root_, false);
    AddUser("Vault Clerk", "keyEncipherment,dataEncipherment", rsa_root_, false);
    AddUser("Open Clerk", "", rsa_root_, false);
    AddUser("Misfiled Clerk", "digitalSignature", rsa_root_, false,
            /*other_key=*/u"CN=Signing Clerk");
    AddUser("SM2 Clerk", "digitalSignature", sm2_root_, true);
    AddUser("SM2 Misfiled Clerk", "digitalSignature", sm2_root_, true,
            /*other_key=*/u"CN=SM2 Clerk");
  }
  static void TearDownTestSuite() {
    pf::SetQuillmarkHome("");
    delete home_;
    home_ = nullptr;
  }

  static void MakeRoot(const char* cn, bool sm2, Authority* root) {
    root->key = sm2 ? pf::IssuingKey::GenerateSm2() : pf::IssuingKey::GenerateRsa(2048);
    pf::IssueRequest r;
    r.subject = {{"CN", cn}, {"O", "Signer Checks"}};
    r.subject_key = &root->key;
    r.issuer_key = &root->key;
    r.days_valid = 3650;
    r.ca = true;
    r.key_usage = "keyCertSign,cRLSign";
    ASSERT_TRUE(pf::IssueCertificate(r, &root->cert));
    ASSERT_TRUE(pf::CertAddEncodedCertificateToStore(Open(u"ROOT"), pf::kDefaultEncoding,
                                                     root->cert, pf::kCertStoreAddAlways, nullptr));
  }

  // Issues |cn| with |key_usage| (empty: no key-usage extension) and stores
  // it with its key. With |other_key|, the certificate's key-provider
  // property names the container of that user instead.
  static pf::KeyProvInfo AddUser(const char* cn, const char* key_usage, const Authority& issuer,
                                 bool sm2, std::u16string_view other_key = {}) {
    pf::IssuingKey key = sm2 ? pf::IssuingKey::GenerateSm2() : pf::IssuingKey::GenerateRsa(2048);
    pf::IssueRequest r;
    r.subject = {{"CN", cn}, {"O", "Signer Checks"}};
    r.subject_key = &key;
    r.issuer_cert = issuer.cert;
    r.issuer_key = &issuer.key;
    r.key_usage = key_usage;
    pf::CertificateWithKey pair;
    EXPECT_TRUE(pf::IssueCertificate(r, &pair.cert_der));
    EXPECT_TRUE(key.PrivateKeyInfo(&pair.pkcs8_der));
    pf::CertContextPtr added;
    const std::uint32_t spec = sm2 ? pf::kAtSignature : pf::kAtKeyExchange;
    EXPECT_EQ(pf::ImportCertificateWithKey(Open(u"MY"), pair, spec, &added),
              pf::ImportError::kNone);
    EXPECT_TRUE(pf::CertAddEncodedCertificateToStore(Open(u"AddressBook"), pf::kDefaultEncoding,
                                                     pair.cert_der, pf::kCertStoreAddAlways,
                                                     nullptr));
    if (added == nullptr) return {};
    if (!other_key.empty()) {
      pf::CertStore my = Open(u"MY");
      pf::CertContextPtr other = pf::CertFindCertificateInStore(
          my, pf::kDefaultEncoding, 0, pf::kCertFindSubjectStrW, other_key.substr(3), nullptr);
      EXPECT_NE(other, nullptr);
      if (other == nullptr) return {};
      pf::KeyProvInfo info = *other->key_prov_info();
      EXPECT_TRUE(
          pf::CertSetCertificateContextProperty(*added, pf::kCertKeyProvInfoPropId, 0, &info));
      return info;
    }
    return *added->key_prov_info();
  }

  static certs::SignerQuery By(std::u16string_view dn, int sign_mode = certs::kOnlyNotSm2) {
    return {.dn = dn, .server_mode = true, .sign_mode = sign_mode, .sm2_store = u"SM2"};
  }

  static inline testing::ScratchDir* home_ = nullptr;
  static inline Authority rsa_root_, sm2_root_;
};

// Every verifier, fed by the signing operation that makes what it reads.
// Each signs without looking at the key usage; each verifier refuses a
// signer whose key usage allows no signatures with the chain status.
TEST_F(SignerChecksTest, KeyUsageWithoutSigningIsRefusedByEveryVerifier) {
  struct Signer {
    std::u16string_view dn;
    int status;  // of every verifier
  };
  const Signer signers[] = {
      {u"CN=Signing Clerk", kOk},
      {u"CN=Notary Clerk", kOk},
      {u"CN=Open Clerk", kOk},
      {u"CN=Vault Clerk", kErrChainFailed},
  };
  for (const Signer& s : signers) {
    SCOPED_TRACE(Utf16ToUtf8Lossy(s.dn));
    const certs::SignerQuery query = By(s.dn);

    Bytes attached, detached, content;
    certs::CertInfoSet info;
    ASSERT_EQ(SignMessage(kData, query, {}, {}, &attached, nullptr), kOk);
    ASSERT_EQ(SignMessage(kData, query, {.detached = true}, {}, &detached, nullptr), kOk);
    EXPECT_EQ(VerifyMessage(attached, &content, &info, true).number(), s.status);
    EXPECT_EQ(info.Get(certs::kFieldSubject) != nullptr, s.status == kOk)
        << "no field texts of a refused signer";
    Bytes source = kData;
    EXPECT_EQ(VerifyMessage(detached, &source, nullptr, false).number(), s.status);
    EXPECT_EQ(VerifyAfterwards(attached, &content, nullptr).number(), s.status);

    Bytes advance, advance_detached;
    ASSERT_EQ(AdvanceSign(kData, query, {}, {}, &advance, nullptr), kOk);
    ASSERT_EQ(AdvanceSign(kData, query, {.detached = true}, {}, &advance_detached, nullptr), kOk);
    EXPECT_EQ(AdvanceVerifyAttached(advance, &content, nullptr).number(), s.status);
    EXPECT_EQ(AdvanceVerifyDetached(advance_detached, kData, nullptr).number(), s.status);

    Bytes raw;
    ASSERT_EQ(RawSign(kData, query, platform::kOidSha256, {}, &raw, nullptr), kOk);
    EXPECT_EQ(RawVerify(raw, kData, query, platform::kOidSha256, {}, nullptr).number(), s.status);

    SignedEnvelope sealed;
    ASSERT_EQ(SignAndEncryptEnvelope(
                  kData, query, By(u"CN=Signing Clerk"),
                  {.digest_oid = kSha1DigestOid, .symmetric_oid = platform::kOidRc4}, {}, &sealed),
              kOk);
    EXPECT_EQ(DecryptAndVerifyEnvelope(sealed.text, &content, nullptr, nullptr).number(), s.status);
  }
}

// The property of "Misfiled Clerk" names the container of "Signing Clerk":
// the key there is sound but not the certificate's. Advance and raw signing
// refuse it as a missing private key, and PKCS#7 signing refuses it too.
TEST_F(SignerChecksTest, KeyOfAnotherCertificateMakesNoSignature) {
  Bytes text;
  certs::CertInfoSet info;
  EXPECT_EQ(AdvanceSign(kData, By(u"CN=Misfiled Clerk"), {}, {}, &text, &info),
            Status(kErrPrivateKeyNotFound, pf::kNteBadPublicKey));
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(info.Get(certs::kFieldSubject), nullptr);
  EXPECT_EQ(RawSign(kData, By(u"CN=Misfiled Clerk"), platform::kOidSha1, {}, &text, &info),
            Status(kErrPrivateKeyNotFound, pf::kNteBadPublicKey));
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(
      AdvanceSign(kData, By(u"CN=SM2 Misfiled Clerk", certs::kOnlySm2), {}, {}, &text, nullptr),
      Status(kErrPrivateKeyNotFound, pf::kNteBadPublicKey));
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(SignMessage(kData, By(u"CN=Misfiled Clerk"), {}, {}, &text, nullptr),
            Status(kErrPrivateKeyNotFound, pf::kCryptENoKeyProperty));
  EXPECT_TRUE(text.empty());

  // The owners of those containers sign with them, and what they sign
  // verifies.
  Bytes content;
  ASSERT_EQ(AdvanceSign(kData, By(u"CN=Signing Clerk"), {}, {}, &text, nullptr), kOk);
  EXPECT_EQ(AdvanceVerifyAttached(text, &content, nullptr), NumberAsCode(kOk));
  ASSERT_EQ(RawSign(kData, By(u"CN=Signing Clerk"), platform::kOidSha1, {}, &text, nullptr), kOk);
  EXPECT_EQ(RawVerify(text, kData, By(u"CN=Signing Clerk"), platform::kOidSha1, {}, nullptr), kOk);
  EXPECT_EQ(AdvanceSign(kData, By(u"CN=SM2 Clerk", certs::kOnlySm2), {}, {}, &text, nullptr), kOk);
}

}  // namespace
}  // namespace quillmark::crypto
