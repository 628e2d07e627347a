// Exact-name queries over stores in a scratch home: what counts as the same
// name, which stores are searched, and the extension text.
#include "certs/exact_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/status.h"
#include "platform/os/home.h"
#include "platform/store/cert_store.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::certs {
namespace {

using testing::NameBuilder;

EVP_PKEY* Key() {
  static testing::EvpPkeyPtr key = testing::MakeEcKey();
  return key.get();
}

Bytes Bank(const std::string& cn) { return NameBuilder().Add("CN", cn).Add("O", "Bank").Der(); }
Bytes Zhang() { return NameBuilder().Add("CN", "Zhang").Add("O", "Bank").Add("C", "CN").Der(); }

platform::CertStore Open(std::u16string_view name) {
  return platform::CertOpenStore(platform::kCertStoreProvSystemW, 0,
                                 platform::kCertSystemStoreCurrentUser, name);
}

void Put(std::u16string_view store, const Bytes& subject, const Bytes& issuer, std::uint8_t serial,
         std::vector<std::pair<std::string, std::string>> extensions = {}) {
  testing::CertSpec spec;
  spec.subject = subject;
  spec.issuer = issuer;
  spec.subject_key = Key();
  spec.serial = {serial};
  spec.extensions = std::move(extensions);
  ASSERT_TRUE(platform::CertAddEncodedCertificateToStore(Open(store), platform::kDefaultEncoding,
                                                         testing::MakeCertificate(spec),
                                                         platform::kCertStoreAddAlways, nullptr));
}

class ExactNameTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetQuillmarkHome(home_.path()); }
  void TearDown() override { platform::SetQuillmarkHome(""); }
  testing::ScratchDir home_;
};

TEST_F(ExactNameTest, SubjectMustMatchWholeInOrderOrReversed) {
  Put(u"MY", Zhang(), Bank("Issuing CA"), 1);
  Put(u"MY", NameBuilder().Add("CN", "Zhangsan").Add("O", "Bank").Add("C", "CN").Der(),
      Bank("Issuing CA"), 2);
  Put(u"MY", NameBuilder().Add("CN", "Li").Also("O", "Bank").Add("C", "CN").Der(),
      Bank("Issuing CA"), 3);
  Put(u"CA", Bank("Wang"), Bank("Issuing CA"), 4);
  struct Case {
    std::u16string dn;
    int exists;
  };
  const Case cases[] = {
      {u"CN=Zhang, O=Bank, C=CN", 1},
      {u"CN=Zhang,O=Bank,C=CN", 1},    // commas normalised
      {u"C=CN, O=Bank, CN=Zhang", 1},  // reversed
      {u"C=CN,O=Bank,CN=Zhang", 1},    // reversed and normalised
      {u"CN=Zhang, O=Bank", 0},        // a part of the name is not the name
      {u"cn=Zhang, O=Bank, C=CN", 0},  // case-sensitive
      {u"CN=Zhang, O=BANK, C=CN", 0},  // though the platform search is not
      {u"CN=Zhangsan, O=Bank, C=CN", 1},
      {u"CN=Li + O=Bank, C=CN", 1},  // multi-valued RDN
      {u"CN=Wang, O=Bank", 0},       // only "MY" is searched
      {u"", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CertExistsInStores(c.dn), c.exists) << std::string(c.dn.begin(), c.dn.end());
  }
  platform::CertStore my = Open(u"MY");
  platform::CertContextPtr found = FindBySubjectExact({&my, 1}, u"CN=Zhang,O=Bank,C=CN");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->serial()[0], 1);
  EXPECT_EQ(FindBySubjectExact({&my, 1}, u"C=CN, O=Bank, CN=Zhang"), nullptr);  // no reversal
  EXPECT_EQ(FindBySubjectExact({}, u"CN=Zhang, O=Bank, C=CN"), nullptr);
}

TEST_F(ExactNameTest, EnumeratesTheCertificatesOfTheExactIssuer) {
  const Bytes issuer = NameBuilder().Add("C", "CN").Add("O", "Bank").Add("CN", "Issuing CA").Der();
  Put(u"MY", Bank("Alice"), issuer, 1);
  Put(u"MY", Bank("Other"), Bank("Issuing CA"), 2);  // the issuer's CN alike, the name not
  Put(u"CA", Bank("Elsewhere"), issuer, 3);

  std::vector<platform::CertStore> stores;
  stores.push_back(Open(u"CA"));
  stores.push_back(Open(u"MY"));
  StoreList my(&stores[1], 1);
  std::vector<std::u16string> subjects = {u"kept"};
  EXPECT_EQ(EnumCertsByIssuer(my, u"C=CN,O=Bank,CN=Issuing CA", &subjects), 2);
  EXPECT_EQ(EnumCertsByIssuer(stores, u"C=CN, O=Bank, CN=Issuing CA", &subjects), 4);
  EXPECT_EQ(subjects, (std::vector<std::u16string>{u"kept", u"CN=Alice, O=Bank",
                                                   u"CN=Elsewhere, O=Bank", u"CN=Alice, O=Bank"}));
  std::vector<std::u16string> none;
  EXPECT_EQ(EnumCertsByIssuer(my, u"CN=Issuing CA, O=Bank, C=CN", &none), 0);  // order
  EXPECT_EQ(EnumCertsByIssuer(my, u"C=CN, O=bank, CN=Issuing CA", &none), 0);  // case
  EXPECT_EQ(EnumCertsByIssuer(my, u"O=Bank, CN=Issuing CA", &none), 0);        // a part
  EXPECT_EQ(EnumCertsByIssuer(my, u"", &none), 0);
  EXPECT_TRUE(none.empty());
}

TEST_F(ExactNameTest, ExtensionTextFromTheFirstStoreHoldingTheName) {
  Put(u"MY", Zhang(), Bank("Issuing CA"), 1,
      {{"keyUsage", "digitalSignature,nonRepudiation,keyEncipherment"},
       {"basicConstraints", "CA:FALSE"}});
  std::u16string text = u"old";
  EXPECT_EQ(GetCertExtensionText(u"CN=Zhang,O=Bank,C=CN", u"2.5.29.15", 936, &text), kOk);
  EXPECT_EQ(text, u"Digital Signature, Non-Repudiation, Key Encipherment (e0)");
  EXPECT_EQ(GetCertExtensionText(u"CN=Zhang, O=Bank, C=CN", u"2.5.29.19", 65001, &text), kOk);
  EXPECT_EQ(text, u"Subject Type=End Entity, Path Length Constraint=None");

  struct Case {
    std::u16string dn, oid;
    std::uint32_t code_page;
    int status;
  };
  const Case failures[] = {
      {u"CN=Zhang, O=Bank, C=CN", u"2.5.29.37", 936, kErrNoExtension},
      {u"CN=Zhang, O=Bank, C=CN", u"", 936, kErrNoExtension},
      {u"CN=Zhang, O=Bank, C=CN", u"2.5.29.15", 4242, kErrTextToBytes},
      {u"C=CN, O=Bank, CN=Zhang", u"2.5.29.15", 936, kErrCertNotFound},  // callers reverse
      {u"CN=Zhang, O=Bank", u"2.5.29.15", 4242, kErrCertNotFound},       // found first
  };
  for (const Case& c : failures) {
    text = u"old";
    EXPECT_EQ(GetCertExtensionText(c.dn, c.oid, c.code_page, &text), c.status);
    EXPECT_EQ(text, u"");
  }

  // The same name in "CA" too, with other extensions: "CA" comes first.
  Put(u"CA", Zhang(), Bank("Issuing CA"), 2, {{"keyUsage", "keyCertSign"}});
  EXPECT_EQ(GetCertExtensionText(u"CN=Zhang, O=Bank, C=CN", u"2.5.29.15", 936, &text), kOk);
  EXPECT_EQ(text, u"Certificate Signing (04)");
  EXPECT_EQ(GetCertExtensionText(u"CN=Zhang, O=Bank, C=CN", u"2.5.29.19", 936, &text),
            kErrNoExtension);
}

TEST_F(ExactNameTest, StoresThatCannotBeOpened) {
  testing::ScratchDir other;
  ASSERT_TRUE(testing::WriteBytes(other.File("file"), AsBytes("x")));
  platform::SetQuillmarkHome(other.File("file") + "/home");  // cannot be made
  EXPECT_EQ(CertExistsInStores(u"CN=Zhang, O=Bank, C=CN"), kErrStoreOpen);
  EXPECT_EQ(CertExistsInStores(u""), kErrStoreOpen);
  std::u16string text;
  EXPECT_EQ(GetCertExtensionText(u"CN=Zhang, O=Bank, C=CN", u"2.5.29.15", 936, &text),
            kErrStoreOpen);
}

}  // namespace
}  // namespace quillmark::certs
