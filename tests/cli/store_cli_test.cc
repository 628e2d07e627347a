// quillmark store list, add and remove, end to end through the command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/cert_store.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark {
namespace {

using platform::CertContextPtr;
using testing::NameBuilder;

class StoreCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetQuillmarkHome(home_.path());
    platform::ClearCertStoreCache();
  }
  void TearDown() override { platform::SetQuillmarkHome(""); }

  struct Result {
    int status;
    std::string out, err;
  };

  Result Run(const std::string& args) {
    Result r;
    std::string err_file = work_.File("stderr.txt");
    r.status =
        testing::RunShellCapture("cd '" + work_.path() + "' && QUILLMARK_HOME='" + home_.path() +
                                     "' " QM_CLI_PATH " " + args + " 2>'" + err_file + "'",
                                 &r.out);
    Bytes err;
    platform::ReadWholeFile(err_file, &err);
    r.err.assign(err.begin(), err.end());
    return r;
  }

  static EVP_PKEY* Key() {
    static testing::EvpPkeyPtr key = testing::MakeEcKey();
    return key.get();
  }

  static Bytes Cert(const Bytes& subject, Bytes serial, const Bytes& issuer = Bytes()) {
    testing::CertSpec spec;
    spec.subject = subject;
    spec.issuer = issuer;
    spec.subject_key = Key();
    spec.serial = std::move(serial);
    spec.not_before = 1517819400;  // 2018-02-05 08:30:00
    spec.not_after = 1893456000;   // 2030-01-01 00:00:00
    return testing::MakeCertificate(spec);
  }

  static std::string Thumb(const Bytes& der) {
    return platform::CertCreateCertificateContext(platform::kDefaultEncoding, der)->thumbprint();
  }

  std::string Write(const std::string& name, std::string_view data) {
    EXPECT_TRUE(testing::WriteBytes(work_.File(name), AsBytes(data)));
    return work_.File(name);
  }
  std::string Write(const std::string& name, const Bytes& data) {
    EXPECT_TRUE(testing::WriteBytes(work_.File(name), data));
    return work_.File(name);
  }

  std::vector<std::string> StoreFiles(const std::string& folder) {
    return platform::ListDirectory(home_.File("stores/" + folder));
  }

  testing::ScratchDir home_;
  testing::ScratchDir work_;
};

void ExpectOneErrorLine(const std::string& what, int status, const std::string& out,
                        const std::string& err) {
  EXPECT_NE(status, 0) << what;
  EXPECT_EQ(out, "") << what;
  ASSERT_FALSE(err.empty()) << what;
  EXPECT_EQ(err.find('\n'), err.size() - 1) << what << ": " << err;
  EXPECT_EQ(err.rfind("quillmark store: ", 0), 0u) << what << ": " << err;
}

// Alice (with a name JSON must escape) and a CRL from one PEM bundle, Bob
// from DER, and a key-provider property on Bob.
class StoreListTest : public StoreCliTest {
 protected:
  void SetUp() override {
    StoreCliTest::SetUp();
    Bytes issuer = NameBuilder().Add("C", "CN").Add("O", "Bank, Inc").Add("CN", "Root").Der();
    Bytes alice_der = Cert(NameBuilder()
                               .Add("CN", "Alice \"A\"")
                               .Add("OU", "Tab\there")
                               .Also("O", testing::Ucs2Be(u"银行"), testing::kBmpString)
                               .Der(),
                           {0x00, 0x8F, 0x10}, issuer);
    Bytes bob_der = Cert(NameBuilder().Add("CN", "Bob").Der(), {0x01, 0x23, 0x45, 0x67, 0x89});
    Bytes crl_der = testing::MakeCrl({issuer, Key(), {{0x05}}, 1577836800, 1893456000});
    std::string pem = "leading text\n" + testing::DerToPem(alice_der, "CERTIFICATE") +
                      testing::PrivateKeyPem(Key()) + testing::DerToPem(crl_der, "X509 CRL");
    alice_ = Thumb(alice_der);
    bob_ = Thumb(bob_der);
    crl_ = platform::CertCreateCRLContext(platform::kDefaultEncoding, crl_der)->thumbprint();
    add_ =
        Run("store add addressbook " + Write("bundle.pem", pem) + " " + Write("bob.der", bob_der));
    ASSERT_EQ(add_.status, 0) << add_.err;
    files_after_add_ = StoreFiles("AddressBook").size();
    SetBobsKeyProperty();
    alice_json_ =
        "{\"thumbprint\":\"" + alice_ +
        "\",\"subject\":\"CN=\\\"Alice \\\"\\\"A\\\"\\\"\\\", OU=Tab\\there + O=银行\","
        "\"issuer\":\"C=CN, O=\\\"Bank, Inc\\\", CN=Root\","
        "\"notBefore\":\"2018-02-05 08:30:00GMT\",\"notAfter\":\"2030-01-01 00:00:00GMT\","
        "\"serial\":\"008F 10\",\"key\":null}";
    std::string bob_json =
        "{\"thumbprint\":\"" + bob_ +
        "\",\"subject\":\"CN=Bob\",\"issuer\":\"CN=Bob\","
        "\"notBefore\":\"2018-02-05 08:30:00GMT\",\"notAfter\":\"2030-01-01 00:00:00GMT\","
        "\"serial\":\"0123 4567 89\",\"key\":{\"container\":\"bob\\\\\\\"key\\\"\\u0001\\n容器\","
        "\"provider\":\"Quillmark Software Provider\",\"spec\":2}}";
    expected_ = alice_ < bob_ ? "[\n  " + alice_json_ + ",\n  " + bob_json + "\n]\n"
                              : "[\n  " + bob_json + ",\n  " + alice_json_ + "\n]\n";
  }

  // A key-provider property on Bob, with characters JSON must escape.
  void SetBobsKeyProperty() {
    platform::CertStore store =
        platform::CertOpenStore(platform::kCertStoreProvSystemW, platform::kDefaultEncoding,
                                platform::kCertSystemStoreCurrentUser, u"AddressBook");
    CertContextPtr c = platform::CertFindCertificateInStore(
        store, platform::kDefaultEncoding, 0, platform::kCertFindSubjectStrW, u"bob", nullptr);
    ASSERT_TRUE(c);
    platform::KeyProvInfo info{u"bob\\\"key\"\x01\n容器", u"Quillmark Software Provider",
                               platform::kProvRsaFull, 0, platform::kAtSignature};
    ASSERT_TRUE(platform::CertSetCertificateContextProperty(*c, platform::kCertKeyProvInfoPropId, 0,
                                                            &info));
  }

  std::string alice_, bob_, crl_;
  Result add_;
  std::size_t files_after_add_ = 0;
  std::string alice_json_, expected_;
};

TEST_F(StoreListTest, AddReportsEveryEntryInOrder) {
  EXPECT_EQ(add_.err, "");
  EXPECT_EQ(add_.out, "certificate " + alice_ + "\ncrl " + crl_ + "\ncertificate " + bob_ + "\n");
  EXPECT_EQ(files_after_add_, 3u);
}

TEST_F(StoreListTest, JsonListHoldsTheFieldTextsAndTheKey) {
  Result list = Run("store list AddressBOOK --json");
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, expected_);
}

TEST_F(StoreListTest, TextListShowsSerialKeyAndCrl) {
  Result text = Run("store list addressbook");
  ASSERT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("  serial:   0123 4567 89\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("(Quillmark Software Provider, signature)"), std::string::npos);
  EXPECT_NE(text.out.find("CRL " + crl_ + "\n"), std::string::npos);
}

// Adding again keeps what is there, the property included.
TEST_F(StoreListTest, AddingAgainKeepsWhatIsThere) {
  ASSERT_EQ(Run("store add AddressBook " + work_.File("bob.der")).status, 0);
  EXPECT_EQ(Run("store list AddressBook --json").out, expected_);
}

TEST_F(StoreListTest, RemoveTakesCertificatesAndCrls) {
  Result removed = Run("store remove AddressBook " + bob_);
  ASSERT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(removed.out, "removed certificate " + bob_ + "\n");
  ASSERT_EQ(Run("store remove AddressBook " + crl_).status, 0);
  EXPECT_EQ(Run("store list AddressBook --json").out, "[\n  " + alice_json_ + "\n]\n");
  EXPECT_EQ(StoreFiles("AddressBook"), std::vector<std::string>{alice_ + ".cer"});
}

TEST_F(StoreCliTest, AnEmptyStoreListsNothing) {
  ASSERT_TRUE(platform::CertOpenStore(platform::kCertStoreProvSystemW, platform::kDefaultEncoding,
                                      platform::kCertSystemStoreCurrentUser, u"EmptyStore")
                  .is_open());
  Result json = Run("store list EmptyStore --json");
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, "[]\n");
  Result text = Run("store list EmptyStore");
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out, "");
}

TEST_F(StoreCliTest, ListingAMissingStoreFailsAndCreatesNothing) {
  for (const char* args : {"store list NoSuchStore", "store list NoSuchStore --json"}) {
    Result r = Run(args);
    EXPECT_NE(r.status, 0) << args;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_NE(r.err.find("no store named 'NoSuchStore'"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(platform::IsDirectory(home_.path() + "/stores/NoSuchStore"));
}

TEST_F(StoreCliTest, HomeOptionNamesTheHomeOverTheEnvironment) {
  testing::ScratchDir other;
  ASSERT_TRUE(platform::CertOpenStore(platform::kCertStoreProvSystemW, platform::kDefaultEncoding,
                                      platform::kCertSystemStoreCurrentUser, u"OnlyHere")
                  .is_open());
  Result there = Run("store --home '" + other.path() + "' add Elsewhere " +
                     Write("good.der", Cert(NameBuilder().Add("CN", "Other").Der(), {0x05})));
  ASSERT_EQ(there.status, 0) << there.err;
  EXPECT_TRUE(platform::IsDirectory(other.path() + "/stores/Elsewhere"));
  EXPECT_FALSE(platform::IsDirectory(home_.path() + "/stores/Elsewhere"));
  EXPECT_EQ(Run("store --home '" + other.path() + "' list Elsewhere").status, 0);
  EXPECT_NE(Run("store --home '" + other.path() + "' list OnlyHere").status, 0);
}

// Command lines that must fail, each against the inputs the test writes.
const char* const kBadCommands[] = {
    "store",
    "store frobnicate",
    "store list",
    "store list MY extra",
    "store list MY --yaml",
    "store list a/b",
    "store list ..",
    "store list ''",
    "store add MY",
    "store add MY missing.der",
    "store add MY folder",
    "store add MY junk.bin",
    "store add MY empty.bin",
    "store add MY key.pem",
    "store add MY damaged.pem",
    "store add MY truncated.pem",
    "store add MY sequence.der",
    "store add MY bad-cert-block.pem",
    "store add MY good.der junk.bin",  // nothing is added when one input is bad
    "store add a/b good.der",
    "store add . good.der",
    "store remove MY",
    "store remove MY 1234",
    "store remove MY ZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZ",
    "store remove MY 0000000000000000000000000000000000000000",
    "store remove a/b 0000000000000000000000000000000000000000",
    "store --home",
    "store --home ''  list MY",
    "store --home /tmp",
};

TEST_F(StoreCliTest, EveryBadInputGivesOneErrorLineAndChangesNothing) {
  Bytes good = Cert(NameBuilder().Add("CN", "Good").Der(), {0x01});
  std::string good_file = Write("good.der", good);
  std::string good_pem = testing::DerToPem(good, "CERTIFICATE");
  std::string damaged = good_pem;
  damaged.replace(damaged.find('\n') + 5, 4, "!!!!");
  std::string truncated = good_pem.substr(0, good_pem.size() - 30);
  Bytes not_cert_der = testing::Tlv(0x30, Bytes{0x02, 0x01, 0x05});
  Write("junk.bin", std::string_view("this is not a certificate"));
  Write("empty.bin", std::string_view(""));
  Write("key.pem", testing::PrivateKeyPem(Key()));
  Write("damaged.pem", damaged);
  Write("truncated.pem", truncated);
  Write("sequence.der", not_cert_der);
  Write("bad-cert-block.pem", testing::DerToPem(not_cert_der, "CERTIFICATE"));
  platform::MakeDirectories(work_.File("folder"));

  for (const char* args : kBadCommands) {
    Result r = Run(args);
    ExpectOneErrorLine(args, r.status, r.out, r.err);
  }
  EXPECT_TRUE(StoreFiles("MY").empty());
  EXPECT_FALSE(platform::IsDirectory(home_.File("stores/a")));
}

TEST_F(StoreCliTest, RemovingTwiceFailsTheSecondTime) {
  Bytes good = Cert(NameBuilder().Add("CN", "Good").Der(), {0x01});
  std::string good_file = Write("good.der", good);
  Result ok = Run("store add MY " + good_file);
  ASSERT_EQ(ok.status, 0) << ok.err;
  Result again = Run("store remove MY " + Thumb(good));
  ASSERT_EQ(again.status, 0);
  Result gone = Run("store remove MY " + Thumb(good));
  ExpectOneErrorLine("remove twice", gone.status, gone.out, gone.err);
  EXPECT_NE(gone.err.find(Thumb(good)), std::string::npos);
}

TEST_F(StoreCliTest, HelpListsTheSubcommands) {
  Result help = Run("store help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("list"), std::string::npos);
}

}  // namespace
}  // namespace quillmark
