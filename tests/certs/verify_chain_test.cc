// VerifyCertificateChain on small PKIs issued here: which issuer it finds,
// the order of its checks and the status of each failure.
#include "certs/verify_chain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/status.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_store.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quillmark::certs {
namespace {

using platform::CertContextPtr;
using testing::CertSpec;

constexpr std::int64_t k2021 = 1609459200;

EVP_PKEY* Key(int i) {  // 0 root, 1 CA, 2 leaf, 3 other
  static testing::EvpPkeyPtr keys[] = {testing::MakeEcKey(), testing::MakeEcKey(),
                                       testing::MakeEcKey(), testing::MakeEcKey()};
  return keys[i].get();
}

Bytes Name(const std::string& cn, const std::string& o = "Chain Test") {
  return testing::NameBuilder().Add("CN", cn).Add("O", o).Der();
}

const std::vector<std::pair<std::string, std::string>> kCaExts = {
    {"basicConstraints", "critical,CA:TRUE"}, {"keyUsage", "critical,keyCertSign,cRLSign"}};

CertContextPtr Parse(const CertSpec& spec) {
  return platform::CertCreateCertificateContext(platform::kDefaultEncoding,
                                                testing::MakeCertificate(spec));
}

// A leaf of "Issuing CA" unless the spec says otherwise.
CertContextPtr Leaf(CertSpec spec = {}) {
  if (spec.subject.empty()) spec.subject = Name("Alice");
  if (spec.issuer.empty()) spec.issuer = Name("Issuing CA");
  spec.subject_key = Key(2);
  if (spec.issuer_key == nullptr) spec.issuer_key = Key(1);
  return Parse(spec);
}

class VerifyChainTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetQuillmarkHome(home_.path()); }
  void TearDown() override { platform::SetQuillmarkHome(""); }

  static platform::CertStore Open(std::u16string_view name) {
    return platform::CertOpenStore(platform::kCertStoreProvSystemW, 0,
                                   platform::kCertSystemStoreCurrentUser, name);
  }
  // A CA certificate into |store|: self-signed without |issuer|.
  static void PutCa(std::u16string_view store, const Bytes& subject, EVP_PKEY* key,
                    const Bytes& issuer = {}, EVP_PKEY* issuer_key = nullptr, Bytes serial = {0x01},
                    std::int64_t not_after = 1893456000) {
    CertSpec spec{.subject = subject,
                  .issuer = issuer,
                  .subject_key = key,
                  .issuer_key = issuer_key,
                  .serial = std::move(serial),
                  .not_after = not_after,
                  .extensions = kCaExts};
    ASSERT_TRUE(platform::CertAddEncodedCertificateToStore(Open(store), platform::kDefaultEncoding,
                                                           testing::MakeCertificate(spec),
                                                           platform::kCertStoreAddAlways, nullptr));
  }
  static void PutCrl(std::u16string_view store, EVP_PKEY* key, std::vector<Bytes> revoked,
                     const std::string& issuer_cn = "Issuing CA") {
    testing::CrlSpec spec{
        .issuer = Name(issuer_cn), .issuer_key = key, .revoked_serials = std::move(revoked)};
    ASSERT_TRUE(platform::CertAddEncodedCRLToStore(Open(store), platform::kDefaultEncoding,
                                                   testing::MakeCrl(spec),
                                                   platform::kCertStoreAddAlways, nullptr));
  }
  // Root in ROOT, "Issuing CA" in CA.
  static void InstallPki() {
    PutCa(u"ROOT", Name("Root"), Key(0));
    PutCa(u"CA", Name("Issuing CA"), Key(1), Name("Root"), Key(0));
  }

  testing::ScratchDir home_;
};

TEST_F(VerifyChainTest, IssuerIsTheInstalledCertificateOfExactlyThatName) {
  InstallPki();
  // Look-alikes in CA: the issuer's CN with another O, or its O in other case.
  PutCa(u"CA", Name("Issuing CA", "Chain Test Two"), Key(3), Name("Root"), Key(0));
  PutCa(u"CA", Name("Issuing CA", "chain test"), Key(3), Name("Root"), Key(0));
  int status = -1;
  CertContextPtr issuer = FindInstalledIssuer(Leaf(), &status);
  ASSERT_NE(issuer, nullptr);
  EXPECT_EQ(platform::CertGetNameStringW(*issuer, platform::kCertNameSimpleDisplayType, 0),
            u"Issuing CA");
  EXPECT_EQ(issuer->store_name(), "CA");
  EXPECT_EQ(VerifyCertificateChain(Leaf(), kMaskAll), kOk);
  EXPECT_EQ(
      VerifyCertificateChain(
          Leaf({.issuer = Name("Issuing CA", "Chain Test Two"), .issuer_key = Key(3)}), kMaskAll),
      kOk);
  // Named like the installed ones but for case: not installed.
  CertContextPtr orphan = Leaf({.issuer = Name("Issuing CA", "CHAIN TEST"), .issuer_key = Key(3)});
  EXPECT_EQ(FindInstalledIssuer(orphan, &status), nullptr);
  EXPECT_EQ(status, kErrIssuerNotFound);

  // Issued by the root, which is only in ROOT: found after CA was searched.
  CertContextPtr direct = Leaf({.issuer = Name("Root"), .issuer_key = Key(0)});
  ASSERT_NE(issuer = FindInstalledIssuer(direct, &status), nullptr);
  EXPECT_EQ(issuer->store_name(), "ROOT");
  EXPECT_EQ(VerifyCertificateChain(direct, kMaskAll), kOk);
}

TEST_F(VerifyChainTest, RenewedCaWithTheSameNameIsTakenByItsKey) {
  // The old CA (other key) sits in CA, searched first; the renewed one, with
  // the same name, in ROOT. The leaf was signed by the renewed key.
  PutCa(u"CA", Name("Issuing CA"), Key(3));
  PutCa(u"ROOT", Name("Issuing CA"), Key(1));
  int status = -1;
  EXPECT_EQ(FindInstalledIssuer(Leaf(), &status)->store_name(), "ROOT");
  EXPECT_EQ(VerifyCertificateChain(Leaf(), kMaskAll), kOk);
  // A leaf that neither key signed is checked against the first of them.
  CertContextPtr forged = Leaf({.issuer_key = Key(2)});
  EXPECT_EQ(FindInstalledIssuer(forged, &status)->store_name(), "CA");
  EXPECT_EQ(VerifyCertificateChain(forged, kMaskAll), kErrCertSignatureFaulty);
}

TEST_F(VerifyChainTest, StatusesInTheOrderOfTheChecks) {
  InstallPki();
  CertContextPtr expired = Leaf({.not_after = k2021});
  CertContextPtr forged_expired = Leaf({.issuer_key = Key(3), .not_after = k2021});
  CertContextPtr revoked = Leaf({.serial = {0x66}});
  CertContextPtr expired_revoked = Leaf({.serial = {0x67}, .not_after = k2021});
  CertContextPtr missing = Leaf({.issuer = Name("Missing CA"), .issuer_key = Key(3)});
  CertContextPtr no_display_name =
      Leaf({.issuer = testing::NameBuilder().Add("C", "CN").Der(), .issuer_key = Key(3)});
  // Revoked by a CRL signed with another key, and by one kept outside the
  // CA's own store: neither counts.
  PutCrl(u"CA", Key(3), {{0x01}});
  PutCrl(u"MY", Key(1), {{0x01}});
  CertContextPtr good = Leaf();
  EXPECT_EQ(VerifyCertificateChain(good, kMaskAll), kOk) << "no CRL of the CA: not revoked";
  PutCrl(u"CA", Key(1), {{0x66}, {0x67}});

  struct Case {
    const char* what;
    CertContextPtr cert;
    std::uint32_t mask;
    int status;
  };
  const Case cases[] = {
      {"valid, all checks", good, kMaskAll, kOk},
      {"expired, all checks", expired, kMaskAll, kErrCertExpired},
      {"expired, afterwards", expired, kMaskAfterwards, kOk},
      {"bad signature before expiry", forged_expired, kMaskAll, kErrCertSignatureFaulty},
      {"bad signature, afterwards", forged_expired, kMaskAfterwards, kErrCertSignatureFaulty},
      {"bad signature, time only", forged_expired, kCheckTimeValidity, kErrCertExpired},
      {"revoked, all checks", revoked, kMaskAll, kErrCertRevoked},
      {"revoked, the chain sees it too", revoked, kMaskAfterwards, kErrChainFailed},
      {"revoked, no check selected", revoked, 0, kOk},
      {"expiry before revocation", expired_revoked, kMaskAll, kErrCertExpired},
      {"issuer missing", missing, kMaskAll, kErrIssuerNotFound},
      {"issuer missing, no check selected", missing, 0, kErrIssuerNotFound},
      {"issuer without display name", no_display_name, kMaskAll, kErrCertFieldUndecodable},
      {"no certificate", nullptr, kMaskAll, kErrEmptyInput},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VerifyCertificateChain(c.cert, c.mask).number(), c.status) << c.what;
  }
  EXPECT_EQ(VerifyCertificateChain(revoked, kMaskAfterwards),
            Status(kErrChainFailed, platform::kCryptERevoked));
  EXPECT_EQ(VerifyCertificateChain(revoked, kMaskAll), kErrCertRevoked) << "no platform code";
  const Status passed = VerifyCertificateChain(good, kMaskAll);
  EXPECT_TRUE(passed.ok());
  EXPECT_EQ(passed.platform_code(), 0u);
}

TEST_F(VerifyChainTest, StoreChangesCountAtTheNextVerification) {
  InstallPki();
  CertContextPtr leaf = Leaf({.serial = {0x70}});
  CertContextPtr forged = Leaf({.issuer_key = Key(3), .serial = {0x70}});
  const Status passed = VerifyCertificateChain(leaf, kMaskAll);
  EXPECT_TRUE(passed.ok());
  EXPECT_EQ(passed.platform_code(), 0u);
  // What the first verification proved about the issuer's key does not carry
  // over to a certificate that key did not sign.
  EXPECT_EQ(VerifyCertificateChain(forged, kMaskAll), kErrCertSignatureFaulty);

  // A CRL that does not list the leaf, then one that does: the second
  // revokes at once, in both the revocation and the chain checks.
  PutCrl(u"CA", Key(1), {{0x71}});
  EXPECT_EQ(VerifyCertificateChain(leaf, kMaskAll), kOk);
  PutCrl(u"CA", Key(1), {{0x70}});
  EXPECT_EQ(VerifyCertificateChain(leaf, kMaskAll), kErrCertRevoked);
  EXPECT_EQ(VerifyCertificateChain(leaf, kMaskAfterwards),
            Status(kErrChainFailed, platform::kCryptERevoked));

  // The issuing CA removed from CA: the issuer is gone for the next call.
  int status = -1;
  CertContextPtr issuer = FindInstalledIssuer(leaf, &status);
  ASSERT_NE(issuer, nullptr);
  ASSERT_TRUE(platform::CertDeleteCertificateFromStore(issuer));
  EXPECT_EQ(VerifyCertificateChain(leaf, kMaskAll), kErrIssuerNotFound);
}

TEST_F(VerifyChainTest, ChainWithoutTrustedRootFailsOnlyTheChainCheck) {
  PutCa(u"CA", Name("Issuing CA"), Key(1), Name("Root"), Key(0));
  EXPECT_EQ(VerifyCertificateChain(Leaf(), kMaskAll & ~kCheckChain), kOk);
  const Status failed = VerifyCertificateChain(Leaf(), kMaskAll);
  EXPECT_EQ(failed.number(), kErrChainFailed);
  EXPECT_NE(failed.platform_code(), 0u);
}

// Root -> "Policy CA" -> "Issuing CA" -> leaf: a CA above the leaf that is
// revoked or expired fails the full check with the leaf's own status, while
// the check made after the fact still accepts expiry anywhere in the chain.
TEST_F(VerifyChainTest, RevokedOrExpiredCaAboveTheSigner) {
  struct Case {
    const char* what;
    std::int64_t policy_ca_not_after;
    std::int64_t issuing_ca_not_after;
    bool revoke_policy_ca;   // by the root's CRL in ROOT
    bool revoke_issuing_ca;  // by the policy CA's CRL in CA
    int all;
    int afterwards;
    int all_but_chain;
  };
  const Case cases[] = {
      {"sound chain", 1893456000, 1893456000, false, false, kOk, kOk, kOk},
      {"issuing CA revoked", 1893456000, 1893456000, false, true, kErrCertRevoked, kErrChainFailed,
       kOk},
      {"policy CA revoked", 1893456000, 1893456000, true, false, kErrCertRevoked, kErrChainFailed,
       kOk},
      {"issuing CA expired", 1893456000, k2021, false, false, kErrCertExpired, kOk, kOk},
      {"policy CA expired", k2021, 1893456000, false, false, kErrCertExpired, kOk, kOk},
      {"revoked and expired: revocation first", k2021, 1893456000, false, true, kErrCertRevoked,
       kErrChainFailed, kOk},
  };
  for (const Case& c : cases) {
    testing::ScratchDir home;
    platform::SetQuillmarkHome(home.path());
    PutCa(u"ROOT", Name("Root"), Key(0));
    PutCa(u"CA", Name("Policy CA"), Key(3), Name("Root"), Key(0), {0x21}, c.policy_ca_not_after);
    PutCa(u"CA", Name("Issuing CA"), Key(1), Name("Policy CA"), Key(3), {0x22},
          c.issuing_ca_not_after);
    // CRLs that list other serials are always there, so "not revoked" is a
    // CRL's answer, not the lack of one.
    PutCrl(u"ROOT", Key(0), {{0x31}, c.revoke_policy_ca ? Bytes{0x21} : Bytes{0x32}}, "Root");
    PutCrl(u"CA", Key(3), {{0x33}, c.revoke_issuing_ca ? Bytes{0x22} : Bytes{0x34}}, "Policy CA");
    CertContextPtr leaf = Leaf({.serial = {0x40}});
    EXPECT_EQ(VerifyCertificateChain(leaf, kMaskAll).number(), c.all) << c.what;
    EXPECT_EQ(VerifyCertificateChain(leaf, kMaskAfterwards).number(), c.afterwards) << c.what;
    EXPECT_EQ(VerifyCertificateChain(leaf, kMaskAll & ~kCheckChain).number(), c.all_but_chain)
        << c.what;
    if (c.afterwards == kErrChainFailed) {
      EXPECT_EQ(VerifyCertificateChain(leaf, kMaskAfterwards).platform_code(),
                platform::kCryptERevoked)
          << c.what;
    }
    // The signer's own check still comes first: an expired leaf under a
    // revoked CA reports its expiry.
    EXPECT_EQ(
        VerifyCertificateChain(Leaf({.serial = {0x41}, .not_after = k2021}), kMaskAll).number(),
        kErrCertExpired)
        << c.what;
  }
  platform::SetQuillmarkHome(home_.path());
}

}  // namespace
}  // namespace quillmark::certs
