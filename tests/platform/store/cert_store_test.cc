// Certificate stores: names, enumeration, finding, properties, CRLs, junk
// files and the cache against writes of this and other processes.
#include "platform/store/cert_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context_internal.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::platform {
namespace {

using testing::NameBuilder;

class CertStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetQuillmarkHome(home_.path());
    ClearCertStoreCache();
  }
  void TearDown() override {
    ClearCertStoreCache();
    SetQuillmarkHome("");
  }

  static EVP_PKEY* Key() {
    static testing::EvpPkeyPtr key = testing::MakeEcKey();
    return key.get();
  }

  // A certificate with the given subject, issued under |issuer| (self-signed
  // when empty).
  static Bytes Cert(const Bytes& subject, const Bytes& issuer = Bytes(), Bytes serial = {0x01}) {
    testing::CertSpec spec;
    spec.subject = subject;
    spec.issuer = issuer;
    spec.subject_key = Key();
    spec.serial = std::move(serial);
    return testing::MakeCertificate(spec);
  }
  static Bytes Cn(const std::string& cn) { return NameBuilder().Add("CN", cn).Der(); }

  static CertStore Open(std::u16string_view name, std::uint32_t flags = 0) {
    return CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding,
                         kCertSystemStoreCurrentUser | flags, name);
  }

  static std::vector<std::string> Thumbprints(const CertStore& store) {
    std::vector<std::string> out;
    for (CertContextPtr c = CertEnumCertificatesInStore(store, nullptr); c;
         c = CertEnumCertificatesInStore(store, c)) {
      out.push_back(c->thumbprint());
    }
    return out;
  }

  static CertContextPtr Add(const CertStore& store, const Bytes& der) {
    CertContextPtr added;
    EXPECT_TRUE(
        CertAddEncodedCertificateToStore(store, kDefaultEncoding, der, kCertStoreAddNew, &added));
    return added;
  }

  std::string StorePath(const std::string& folder) const {
    return home_.path() + "/stores/" + folder;
  }

  // Runs the quillmark command against this home folder.
  int Cli(const std::string& args) const {
    return testing::RunShell("QUILLMARK_HOME='" + home_.path() + "' " QM_CLI_PATH " " + args +
                             " >/dev/null 2>&1");
  }

  testing::ScratchDir home_;
  testing::ScratchDir work_;
};

TEST_F(CertStoreTest, NamesCompareWithoutCaseAndBadNamesFail) {
  CertStore book = Open(u"AddressBOOK");
  ASSERT_TRUE(book);
  EXPECT_EQ(book.name(), "AddressBook");
  EXPECT_TRUE(IsDirectory(StorePath("AddressBook")));
  CertContextPtr added = Add(book, Cert(Cn("Alice")));
  ASSERT_TRUE(added);
  EXPECT_EQ(added->store_name(), "AddressBook");
  EXPECT_EQ(Thumbprints(Open(u"addressbook")), std::vector<std::string>{added->thumbprint()});
  EXPECT_EQ(Open(u"my").name(), "MY");

  // Other names keep the spelling they were created with.
  ASSERT_EQ(Open(u"Sm2Store").name(), "Sm2Store");
  EXPECT_EQ(Open(u"SM2STORE").name(), "Sm2Store");
  EXPECT_EQ(Open(u"证书库").name(), "证书库");

  const std::u16string lone_surrogate(1, u'\xD800');
  for (std::u16string_view bad :
       {std::u16string_view(u""), std::u16string_view(u"."), std::u16string_view(u".."),
        std::u16string_view(u"a/b"), std::u16string_view(u"/"), std::u16string_view(u"a\0b", 3),
        std::u16string_view(lone_surrogate)}) {
    SetLastError(0);
    EXPECT_FALSE(Open(bad)) << bad.size();
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  }
  EXPECT_FALSE(CertOpenStore(2, kDefaultEncoding, kCertSystemStoreCurrentUser, u"MY"));
  EXPECT_FALSE(CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, 0, u"MY"));

  SetLastError(0);
  EXPECT_FALSE(Open(u"Missing", kCertStoreOpenExistingFlag));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(IsDirectory(StorePath("Missing")));
  EXPECT_FALSE(Open(u"ca", kCertStoreOpenExistingFlag));
  EXPECT_TRUE(Open(u"CA"));
  EXPECT_TRUE(Open(u"ca", kCertStoreOpenExistingFlag));
}

TEST_F(CertStoreTest, EnumerationIsInThumbprintOrderAndContextsOutliveTheStore) {
  CertStore store = Open(u"MY");
  std::vector<std::string> expected;
  for (int i = 0; i < 12; ++i)
    expected.push_back(Add(store, Cert(Cn("c" + std::to_string(i))))->thumbprint());
  std::sort(expected.begin(), expected.end());
  ClearCertStoreCache();
  EXPECT_EQ(Thumbprints(store), expected);

  CertContextPtr first = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_TRUE(first);
  CertCloseStore(store, kCertCloseStoreCheckFlag);
  EXPECT_FALSE(store);
  EXPECT_EQ(first->thumbprint(), expected[0]);
  EXPECT_EQ(first->store_name(), "MY");
  SetLastError(0);
  EXPECT_FALSE(CertEnumCertificatesInStore(store, nullptr));

  // A context of the same certificate from elsewhere positions the walk too.
  CertStore again = Open(u"MY");
  CertContextPtr outside = CertCreateCertificateContext(
      kDefaultEncoding, CertEnumCertificatesInStore(again, nullptr)->der());
  CertContextPtr second = CertEnumCertificatesInStore(again, outside);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->thumbprint(), expected[1]);
  CertContextPtr last =
      CertFindCertificateInStore(again, kDefaultEncoding, 0, kCertFindAny, ByteSpan(), second);
  EXPECT_EQ(last->thumbprint(), expected[2]);
  SetLastError(0);
  std::vector<std::string> rest;
  for (CertContextPtr c = last; (c = CertEnumCertificatesInStore(again, c));)
    rest.push_back(c->thumbprint());
  EXPECT_EQ(rest, std::vector<std::string>(expected.begin() + 3, expected.end()));
  EXPECT_EQ(GetLastError(), kCryptENotFound);
}

TEST_F(CertStoreTest, FindByIssuerNameSubjectStringAndIssuerString) {
  CertStore store = Open(u"CA");
  Bytes ca1 = NameBuilder().Add("C", "CN").Add("O", "Bank").Add("CN", "Root One").Der();
  Bytes ca2 = NameBuilder().Add("C", "CN").Add("O", "Bank").Add("CN", "Root Two").Der();
  std::vector<std::string> by_ca1;
  for (int i = 0; i < 3; ++i) {
    by_ca1.push_back(Add(store, Cert(Cn("Zhang San " + std::to_string(i)), ca1))->thumbprint());
  }
  Add(store, Cert(Cn("Li Si"), ca2));
  Add(store, Cert(NameBuilder().Add("O", "Other").Add("CN", "ZHANGSAN").Der(), ca2));
  std::sort(by_ca1.begin(), by_ca1.end());

  std::vector<std::string> found;
  for (CertContextPtr c = CertFindCertificateInStore(store, kDefaultEncoding, 0,
                                                     kCertFindIssuerName, ca1, nullptr);
       c; c = CertFindCertificateInStore(store, kDefaultEncoding, 0, kCertFindIssuerName, ca1, c)) {
    found.push_back(c->thumbprint());
  }
  EXPECT_EQ(found, by_ca1);
  EXPECT_EQ(GetLastError(), kCryptENotFound);

  auto count = [&](std::uint32_t type, std::u16string_view text) {
    int n = 0;
    for (CertContextPtr c =
             CertFindCertificateInStore(store, kDefaultEncoding, 0, type, text, nullptr);
         c; c = CertFindCertificateInStore(store, kDefaultEncoding, 0, type, text, c)) {
      ++n;
    }
    return n;
  };
  EXPECT_EQ(count(kCertFindSubjectStrW, u"zhang san"), 3);  // case-insensitive
  EXPECT_EQ(count(kCertFindSubjectStrW, u"ZHANG"), 4);
  EXPECT_EQ(count(kCertFindSubjectStrW, u"Other, ZhangSan"), 1);  // values joined by ", "
  EXPECT_EQ(count(kCertFindSubjectStrW, u"CN="), 0);              // keys are not part of the text
  EXPECT_EQ(count(kCertFindSubjectStrW, u""), 5);
  EXPECT_EQ(count(kCertFindIssuerStrW, u"root one"), 3);
  EXPECT_EQ(count(kCertFindIssuerStrW, u"Bank, Root"), 5);
  EXPECT_EQ(count(kCertFindIssuerStrW, u"Li Si"), 0);
  SetLastError(0);
  EXPECT_FALSE(CertFindCertificateInStore(store, kDefaultEncoding, 0, kCertFindIssuerName,
                                          u"text for a blob type", nullptr));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST_F(CertStoreTest, FilesThatAreNotCertificatesAreSkipped) {
  CertStore store = Open(u"MY");
  std::string good = Add(store, Cert(Cn("good")))->thumbprint();
  Bytes crl = testing::MakeCrl({Cn("good"), Key(), {}, 0, 100});
  std::string dir = StorePath("MY");
  ASSERT_TRUE(testing::WriteBytes(dir + "/junk.cer", AsBytes("not a certificate")));
  ASSERT_TRUE(testing::WriteBytes(dir + "/empty.cer", ByteSpan()));
  ASSERT_TRUE(testing::WriteBytes(dir + "/crl-as-cert.cer", crl));
  ASSERT_TRUE(testing::WriteBytes(dir + "/cert-as-crl.crl", Cert(Cn("x"))));
  ASSERT_TRUE(testing::WriteBytes(dir + "/notes.txt", AsBytes("hello")));
  ASSERT_TRUE(testing::WriteBytes(dir + "/.tmp-abc123", Cert(Cn("half written"))));
  ASSERT_TRUE(MakeDirectories(dir + "/folder.cer"));
  ASSERT_TRUE(
      testing::WriteBytes(dir + "/" + good + ".keyprov", AsBytes("garbage without equals")));
  ClearCertStoreCache();
  EXPECT_EQ(Thumbprints(store), std::vector<std::string>{good});
  EXPECT_FALSE(CertEnumCRLsInStore(store, nullptr));

  // A property file that cannot be read is present but unreadable.
  CertContextPtr c = CertEnumCertificatesInStore(store, nullptr);
  EXPECT_EQ(CertEnumCertificateContextProperties(*c, 0), kCertKeyProvInfoPropId);
  KeyProvInfo info;
  EXPECT_FALSE(CertGetCertificateContextProperty(*c, kCertKeyProvInfoPropId, &info));
  EXPECT_NE(GetLastError(), kCryptENotFound);
  EXPECT_FALSE(c->key_prov_info());

  // A certificate under any .cer name counts once and is removed with all its copies.
  Bytes other = Cert(Cn("copied"));
  ASSERT_TRUE(testing::WriteBytes(dir + "/alice.cer", other));
  ASSERT_TRUE(testing::WriteBytes(dir + "/alice-copy.cer", other));
  EXPECT_EQ(Thumbprints(store).size(), 2u);
  CertContextPtr copied = CertCreateCertificateContext(kDefaultEncoding, other);
  CertContextPtr in_store = CertFindCertificateInStore(store, kDefaultEncoding, 0,
                                                       kCertFindSha1Hash, copied->sha1(), nullptr);
  ASSERT_TRUE(in_store);
  ASSERT_TRUE(CertDeleteCertificateFromStore(in_store));
  EXPECT_EQ(Thumbprints(store), std::vector<std::string>{good});
  EXPECT_FALSE(IsRegularFile(dir + "/alice.cer"));
  EXPECT_FALSE(IsRegularFile(dir + "/alice-copy.cer"));
  EXPECT_EQ(in_store->thumbprint(), copied->thumbprint());  // still usable
}

TEST_F(CertStoreTest, WritesAreSeenAtOnceInThisProcessAndFromOthers) {
  CertStore store = Open(u"MY");
  EXPECT_TRUE(Thumbprints(store).empty());
  CertContextPtr a = Add(store, Cert(Cn("a")));
  EXPECT_EQ(Thumbprints(store), std::vector<std::string>{a->thumbprint()});

  // Another process adds two certificates, one right after the other, while
  // this process keeps reading.
  Bytes b = Cert(Cn("b")), c = Cert(Cn("c"));
  std::string b_thumb = CertCreateCertificateContext(kDefaultEncoding, b)->thumbprint();
  std::string c_thumb = CertCreateCertificateContext(kDefaultEncoding, c)->thumbprint();
  ASSERT_TRUE(testing::WriteBytes(work_.File("b.cer"), b));
  ASSERT_TRUE(testing::WriteBytes(work_.File("c.cer"), c));
  ASSERT_EQ(Cli("store add MY " + work_.File("b.cer")), 0);
  EXPECT_EQ(Thumbprints(store).size(), 2u);
  ASSERT_EQ(Cli("store add my " + work_.File("c.cer")), 0);
  std::vector<std::string> all = Thumbprints(store);
  EXPECT_EQ(all.size(), 3u);
  EXPECT_NE(std::find(all.begin(), all.end(), c_thumb), all.end());

  ASSERT_EQ(Cli("store remove MY " + b_thumb), 0);
  all = Thumbprints(store);
  EXPECT_EQ(all.size(), 2u);
  EXPECT_EQ(std::find(all.begin(), all.end(), b_thumb), all.end());

  // Removal in this process while a walk holds the context.
  CertContextPtr first = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_TRUE(CertDeleteCertificateFromStore(first));
  CertContextPtr next = CertEnumCertificatesInStore(store, first);
  ASSERT_TRUE(next);
  EXPECT_NE(next->thumbprint(), first->thumbprint());
  EXPECT_FALSE(CertEnumCertificatesInStore(store, next));
  EXPECT_EQ(Thumbprints(store).size(), 1u);

  // A file removed behind the cache's back.
  ASSERT_TRUE(RemoveFile(StorePath("MY") + "/" + next->thumbprint() + ".cer"));
  EXPECT_TRUE(Thumbprints(store).empty());
}

TEST_F(CertStoreTest, KeyProviderPropertyIsKeptBesideTheCertificate) {
  CertStore store = Open(u"MY");
  CertContextPtr cert = Add(store, Cert(Cn("with key")));
  ASSERT_TRUE(cert);
  EXPECT_EQ(CertEnumCertificateContextProperties(*cert, 0), 0u);
  KeyProvInfo info{u"alice \"exchange\"\nline\\2 容器", u"Quillmark Software Provider",
                   kProvRsaFull, 0, kAtKeyExchange};
  ASSERT_TRUE(CertSetCertificateContextProperty(*cert, kCertKeyProvInfoPropId, 0, &info));
  std::string path = StorePath("MY") + "/" + cert->thumbprint() + ".keyprov";
  Bytes text;
  ASSERT_TRUE(ReadWholeFile(path, &text));
  EXPECT_NE(AsChars(text).find("provider=Quillmark Software Provider\n"), std::string::npos);
  EXPECT_NE(AsChars(text).find("key_spec=1\n"), std::string::npos);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ClearCertStoreCache();
  CertContextPtr reread = CertEnumCertificatesInStore(store, nullptr);
  EXPECT_NE(reread.get(), cert.get());
  EXPECT_EQ(reread->key_prov_info(), info);

  // Another writer changes the property file: the next walk shows it, also
  // to contexts already handed out.
  KeyProvInfo changed = info;
  changed.key_spec = kAtSignature;
  changed.container = u"other";
  CertContextPtr plain = CertCreateCertificateContext(kDefaultEncoding, cert->der());
  ASSERT_TRUE(CertSetCertificateContextProperty(*plain, kCertKeyProvInfoPropId, 0, &changed));
  ASSERT_TRUE(
      CertAddCertificateContextToStore(Open(u"my"), plain, kCertStoreAddUseExisting, nullptr));
  EXPECT_EQ(CertEnumCertificatesInStore(store, nullptr)->key_prov_info(), changed);
  EXPECT_EQ(reread->key_prov_info(), changed);

  // Dispositions: new refuses, use-existing keeps, replace drops the property.
  SetLastError(0);
  EXPECT_FALSE(CertAddEncodedCertificateToStore(store, kDefaultEncoding, cert->der(),
                                                kCertStoreAddNew, nullptr));
  EXPECT_EQ(GetLastError(), kCryptEExists);
  CertContextPtr kept;
  ASSERT_TRUE(CertAddEncodedCertificateToStore(
      store, kDefaultEncoding, cert->der(), kCertStoreAddReplaceExistingInheritProperties, &kept));
  EXPECT_EQ(kept->key_prov_info(), changed);
  ASSERT_TRUE(CertAddEncodedCertificateToStore(store, kDefaultEncoding, cert->der(),
                                               kCertStoreAddReplaceExisting, &kept));
  EXPECT_FALSE(kept->key_prov_info());
  EXPECT_FALSE(IsRegularFile(path));
  EXPECT_FALSE(reread->key_prov_info());

  ASSERT_TRUE(CertSetCertificateContextProperty(*kept, kCertKeyProvInfoPropId, 0, &info));
  ASSERT_TRUE(CertDeleteCertificateFromStore(kept));
  EXPECT_FALSE(IsRegularFile(path));
  EXPECT_EQ(ListDirectory(StorePath("MY")), std::vector<std::string>{});
}

TEST_F(CertStoreTest, CrlsAreAddedWalkedAndRemoved) {
  CertStore store = Open(u"ROOT");
  Bytes issuer = Cn("Root CA");
  Bytes crl1 = testing::MakeCrl({issuer, Key(), {{0x05}}, 1577836800, 1893456000});
  Bytes crl2 = testing::MakeCrl({issuer, Key(), {{0x05}, {0x00, 0x8F}}, 1577836800, 1893456000});
  CrlContextPtr added1, added2;
  ASSERT_TRUE(CertAddEncodedCRLToStore(store, kDefaultEncoding, crl1, kCertStoreAddNew, &added1));
  ASSERT_TRUE(CertAddEncodedCRLToStore(store, kDefaultEncoding, crl2, kCertStoreAddNew, &added2));
  EXPECT_FALSE(CertAddEncodedCRLToStore(store, kDefaultEncoding, crl2, kCertStoreAddNew, nullptr));
  EXPECT_EQ(GetLastError(), kCryptEExists);
  SetLastError(0);
  EXPECT_FALSE(
      CertAddEncodedCRLToStore(store, kDefaultEncoding, Cert(Cn("x")), kCertStoreAddNew, nullptr));
  EXPECT_EQ(GetLastError(), kCryptEOssError);
  EXPECT_EQ(Bytes(added1->issuer_der().begin(), added1->issuer_der().end()), issuer);
  EXPECT_EQ(added1->this_update().unix_seconds, 1577836800);
  ASSERT_TRUE(added1->next_update());
  EXPECT_EQ(added1->next_update()->year, 2030);
  EXPECT_NE(CrlContextX509Crl(*added2), nullptr);

  ClearCertStoreCache();
  std::vector<std::string> walked;
  for (CrlContextPtr c = CertEnumCRLsInStore(store, nullptr); c;
       c = CertEnumCRLsInStore(store, c)) {
    walked.push_back(c->thumbprint());
  }
  std::vector<std::string> expected = {added1->thumbprint(), added2->thumbprint()};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(walked, expected);
  EXPECT_TRUE(Thumbprints(store).empty());  // CRLs are not certificates

  ASSERT_TRUE(CertDeleteCRLFromStore(added1));
  CrlContextPtr left = CertEnumCRLsInStore(store, nullptr);
  ASSERT_TRUE(left);
  EXPECT_EQ(left->thumbprint(), added2->thumbprint());
  EXPECT_FALSE(CertEnumCRLsInStore(store, left));
  EXPECT_FALSE(CertDeleteCRLFromStore(CertCreateCRLContext(kDefaultEncoding, crl1)));
}

TEST_F(CertStoreTest, WritesLeaveOnlyWholeFiles) {
  CertStore store = Open(u"MY");
  Bytes der = Cert(Cn("whole"));
  CertContextPtr cert = Add(store, der);
  KeyProvInfo info{u"c", u"p", kProvRsaFull, 0, kAtSignature};
  ASSERT_TRUE(CertSetCertificateContextProperty(*cert, kCertKeyProvInfoPropId, 0, &info));
  std::vector<std::string> files = ListDirectory(StorePath("MY"));
  EXPECT_EQ(files, (std::vector<std::string>{cert->thumbprint() + ".cer",
                                             cert->thumbprint() + ".keyprov"}));
  Bytes on_disk;
  ASSERT_TRUE(ReadWholeFile(StorePath("MY") + "/" + files[0], &on_disk));
  EXPECT_EQ(on_disk, der);

  // A read-only store refuses writes and changes nothing.
  CertStore read_only = Open(u"MY", kCertStoreReadOnlyFlag);
  SetLastError(0);
  EXPECT_FALSE(CertAddEncodedCertificateToStore(read_only, kDefaultEncoding, Cert(Cn("other")),
                                                kCertStoreAddNew, nullptr));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(ListDirectory(StorePath("MY")).size(), 2u);
  // A store folder that cannot be written to fails the add.
  ASSERT_EQ(::chmod(StorePath("MY").c_str(), 0500), 0);
  if (::access(StorePath("MY").c_str(), W_OK) != 0) {  // not when running as root
    EXPECT_FALSE(CertAddEncodedCertificateToStore(store, kDefaultEncoding, Cert(Cn("other")),
                                                  kCertStoreAddNew, nullptr));
    EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  }
  ::chmod(StorePath("MY").c_str(), 0700);
  EXPECT_FALSE(CertDeleteCertificateFromStore(CertCreateCertificateContext(kDefaultEncoding, der)));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

}  // namespace
}  // namespace quillmark::platform
