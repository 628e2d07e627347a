// VerifyCertificateChain on small PKIs issued here: which issuer it finds,
// the order of its checks and the status of each failure.
#include "certs/verify_chain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/status.h"
#include "platform/cert_chain.h"
#include "platform/cert_store.h"
#include "platform/home.h"
#include "platform/last_error.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quillmark::certs {
namespace {

using platform::CertContextPtr;
using testing::NameBuilder;

constexpr std::int64_t k2020 = 1577836800;
constexpr std::int64_t k2021 = 1609459200;
constexpr std::int64_t k2040 = 2208988800;

const std::vector<std::pair<std::string, std::string>> kCaExts = {
    {"basicConstraints", "critical,CA:TRUE"}, {"keyUsage", "critical,keyCertSign,cRLSign"}};

EVP_PKEY* Key(int i) {
  static testing::EvpPkeyPtr keys[] = {testing::MakeEcKey(), testing::MakeEcKey(),
                                       testing::MakeEcKey(), testing::MakeEcKey(),
                                       testing::MakeEcKey()};
  return keys[i].get();
}
EVP_PKEY* RootKey() { return Key(0); }
EVP_PKEY* CaKey() { return Key(1); }
EVP_PKEY* LeafKey() { return Key(2); }
EVP_PKEY* OtherKey() { return Key(3); }

Bytes Name(const std::string& cn, const std::string& o = "Chain Test") {
  return NameBuilder().Add("CN", cn).Add("O", o).Der();
}

struct Spec {
  Bytes subject;
  Bytes issuer;  // empty: self-signed
  EVP_PKEY* key = nullptr;
  EVP_PKEY* issuer_key = nullptr;
  bool ca = false;
  Bytes serial = {0x01};
  std::int64_t not_after = k2040;
};

Bytes Issue(const Spec& s) {
  testing::CertSpec spec;
  spec.subject = s.subject;
  spec.issuer = s.issuer;
  spec.subject_key = s.key;
  spec.issuer_key = s.issuer_key;
  spec.serial = s.serial;
  spec.not_after = s.not_after;
  if (s.ca) spec.extensions = kCaExts;
  return testing::MakeCertificate(spec);
}

class VerifyChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetQuillmarkHome(home_.path());
    root_ = Issue({.subject = Name("Root"), .key = RootKey(), .ca = true});
    ca_ = Issue({.subject = Name("Issuing CA"),
                 .issuer = Name("Root"),
                 .key = CaKey(),
                 .issuer_key = RootKey(),
                 .ca = true,
                 .serial = {0x02}});
  }
  void TearDown() override { platform::SetQuillmarkHome(""); }

  static platform::CertStore Open(std::u16string_view name) {
    return platform::CertOpenStore(platform::kCertStoreProvSystemW, 0,
                                   platform::kCertSystemStoreCurrentUser, name);
  }
  static void Put(std::u16string_view store, const Bytes& der) {
    ASSERT_TRUE(platform::CertAddEncodedCertificateToStore(
        Open(store), platform::kDefaultEncoding, der, platform::kCertStoreAddAlways, nullptr));
  }
  static void PutCrl(std::u16string_view store, const Bytes& issuer, EVP_PKEY* key,
                     std::vector<Bytes> revoked) {
    testing::CrlSpec spec{.issuer = issuer, .issuer_key = key, .revoked_serials = revoked};
    ASSERT_TRUE(platform::CertAddEncodedCRLToStore(Open(store), platform::kDefaultEncoding,
                                                   testing::MakeCrl(spec),
                                                   platform::kCertStoreAddAlways, nullptr));
  }
  static CertContextPtr Parse(const Bytes& der) {
    return platform::CertCreateCertificateContext(platform::kDefaultEncoding, der);
  }
  // A leaf of the standard CA; the message signer is a context of its own.
  static CertContextPtr Leaf(Spec s = {}) {
    if (s.subject.empty()) s.subject = Name("Alice");
    if (s.issuer.empty()) s.issuer = Name("Issuing CA");
    if (s.key == nullptr) s.key = LeafKey();
    if (s.issuer_key == nullptr) s.issuer_key = CaKey();
    if (s.serial == Bytes{0x01}) s.serial = {0x0A, 0x0B};
    return Parse(Issue(s));
  }
  void InstallPki() {
    Put(u"ROOT", root_);
    Put(u"CA", ca_);
  }

  testing::ScratchDir home_;
  Bytes root_, ca_;
};

TEST_F(VerifyChainTest, FindsTheIssuerInCaOrOnlyInRoot) {
  InstallPki();
  EXPECT_EQ(VerifyCertificateChain(Leaf(), kMaskAll), kOk);
  EXPECT_EQ(VerifyCertificateChain(Leaf(), kMaskAfterwards), kOk);

  // Issued straight by the root, which is only in ROOT: found after CA.
  CertContextPtr direct = Parse(Issue(
      {.subject = Name("Bob"), .issuer = Name("Root"), .key = LeafKey(), .issuer_key = RootKey()}));
  int status = -1;
  CertContextPtr issuer = FindInstalledIssuer(direct, &status);
  ASSERT_NE(issuer, nullptr);
  EXPECT_EQ(issuer->store_name(), "ROOT");
  EXPECT_EQ(VerifyCertificateChain(direct, kMaskAll), kOk);
  // A self-signed root verifies against itself.
  EXPECT_EQ(VerifyCertificateChain(Parse(root_), kMaskAll), kOk);
}

TEST_F(VerifyChainTest, IssuerIsTheWholeNameNotALookAlike) {
  InstallPki();
  // Both subjects contain "Issuing CA"; only the whole name decides.
  Bytes look_alike = Name("Issuing CA", "Chain Test Two");
  Put(u"CA", Issue({.subject = look_alike,
                    .issuer = Name("Root"),
                    .key = OtherKey(),
                    .issuer_key = RootKey(),
                    .ca = true,
                    .serial = {0x03}}));
  Put(u"CA", Issue({.subject = Name("Issuing CA", "chain test"),  // differs in case only
                    .issuer = Name("Root"),
                    .key = OtherKey(),
                    .issuer_key = RootKey(),
                    .ca = true,
                    .serial = {0x04}}));
  int status = -1;
  CertContextPtr found = FindInstalledIssuer(Leaf(), &status);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(Bytes(found->der().begin(), found->der().end()), ca_);
  EXPECT_EQ(VerifyCertificateChain(Leaf(), kMaskAll), kOk);
  EXPECT_EQ(
      VerifyCertificateChain(Leaf({.issuer = look_alike, .issuer_key = OtherKey()}), kMaskAll),
      kOk);

  // Named like the installed CAs but for case: not installed.
  CertContextPtr orphan =
      Leaf({.issuer = Name("Issuing CA", "CHAIN TEST"), .issuer_key = OtherKey()});
  EXPECT_EQ(FindInstalledIssuer(orphan, &status), nullptr);
  EXPECT_EQ(status, kErrIssuerNotFound);
  EXPECT_EQ(VerifyCertificateChain(orphan, kMaskAll), kErrIssuerNotFound);
  EXPECT_EQ(VerifyCertificateChain(orphan, 0), kErrIssuerNotFound);  // before any check
}

TEST_F(VerifyChainTest, RenewedCaWithTheSameNameIsTakenByItsKey) {
  // The old CA (other key) sits in CA, searched first; the renewed one,
  // with the same name, in ROOT. The leaf was signed by the renewed key.
  Put(u"CA", Issue({.subject = Name("Issuing CA"), .key = OtherKey(), .ca = true}));
  Put(u"ROOT", Issue({.subject = Name("Issuing CA"), .key = CaKey(), .ca = true}));
  int status = -1;
  CertContextPtr found = FindInstalledIssuer(Leaf(), &status);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->store_name(), "ROOT");
  EXPECT_EQ(VerifyCertificateChain(Leaf(), kMaskAll), kOk);
  // A leaf that neither key signed is checked against the first of them.
  CertContextPtr forged = Leaf({.issuer_key = LeafKey()});
  EXPECT_EQ(FindInstalledIssuer(forged, &status)->store_name(), "CA");
  EXPECT_EQ(VerifyCertificateChain(forged, kMaskAll), kErrCertSignatureFaulty);
}

TEST_F(VerifyChainTest, StatusesInTheOrderOfTheChecks) {
  InstallPki();
  CertContextPtr expired = Leaf({.not_after = k2021});
  CertContextPtr forged_expired = Leaf({.issuer_key = OtherKey(), .not_after = k2021});
  CertContextPtr revoked = Leaf({.serial = {0x66}});
  CertContextPtr expired_revoked = Leaf({.serial = {0x67}, .not_after = k2021});
  PutCrl(u"CA", Name("Issuing CA"), CaKey(), {{0x66}, {0x67}});

  struct Case {
    const char* what;
    CertContextPtr cert;
    std::uint32_t mask;
    int status;
  };
  const Case cases[] = {
      {"expired, all checks", expired, kMaskAll, kErrCertExpired},
      {"expired, afterwards", expired, kMaskAfterwards, kOk},
      {"expired, chain alone accepts it", expired, kCheckChain, kOk},
      {"bad signature before expiry", forged_expired, kMaskAll, kErrCertSignatureFaulty},
      {"bad signature, afterwards", forged_expired, kMaskAfterwards, kErrCertSignatureFaulty},
      {"bad signature, time only", forged_expired, kCheckTimeValidity, kErrCertExpired},
      {"revoked, all checks", revoked, kMaskAll, kErrCertRevoked},
      {"revoked, revocation only", revoked, kCheckRevocation, kErrCertRevoked},
      {"revoked, the chain sees it too", revoked, kMaskAfterwards, kErrChainFailed},
      {"revoked, no check selected", revoked, 0, kOk},
      {"expiry before revocation", expired_revoked, kMaskAll, kErrCertExpired},
      {"listed on no CRL", Leaf(), kMaskAll, kOk},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VerifyCertificateChain(c.cert, c.mask), c.status) << c.what;
  }
  std::uint32_t code = 1;
  EXPECT_EQ(VerifyCertificateChain(revoked, kMaskAfterwards, &code), kErrChainFailed);
  EXPECT_EQ(code, platform::kCryptERevoked);
  EXPECT_EQ(VerifyCertificateChain(Leaf(), kMaskAll, &code), kOk);
  EXPECT_EQ(code, 0u);
}

TEST_F(VerifyChainTest, NoCrlMeansNotRevoked) {
  InstallPki();
  CertContextPtr leaf = Leaf({.serial = {0x66}});
  EXPECT_EQ(VerifyCertificateChain(leaf, kMaskAll), kOk);
  // A CRL of the issuer kept in another store than the issuer's is not read
  // by the revocation check; the chain step reads CA and ROOT alike.
  PutCrl(u"MY", Name("Issuing CA"), CaKey(), {{0x66}});
  EXPECT_EQ(VerifyCertificateChain(leaf, kCheckRevocation), kOk);
  // A CRL with the issuer's name but another signer does not count.
  PutCrl(u"CA", Name("Issuing CA"), OtherKey(), {{0x66}});
  EXPECT_EQ(VerifyCertificateChain(leaf, kMaskAll), kOk);
}

TEST_F(VerifyChainTest, ChainAndNameFailures) {
  // Issuer installed in CA, but its root nowhere: the chain does not end in
  // a trusted root.
  Put(u"CA", ca_);
  std::uint32_t code = 0;
  EXPECT_EQ(VerifyCertificateChain(Leaf(), kMaskAll & ~kCheckChain), kOk);
  EXPECT_EQ(VerifyCertificateChain(Leaf(), kMaskAll, &code), kErrChainFailed);
  EXPECT_NE(code, 0u);

  // An issuer name without CN, OU, O or E has no display name.
  Bytes country_only = NameBuilder().Add("C", "CN").Der();
  Put(u"ROOT", Issue({.subject = country_only, .key = OtherKey(), .ca = true}));
  CertContextPtr leaf = Leaf({.issuer = country_only, .issuer_key = OtherKey()});
  EXPECT_EQ(VerifyCertificateChain(leaf, kMaskAll), kErrCertFieldUndecodable);
  EXPECT_EQ(VerifyCertificateChain(nullptr, kMaskAll), kErrEmptyInput);
}

}  // namespace
}  // namespace quillmark::certs
