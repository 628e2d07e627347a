// The persistent store index: a fresh process (here: the cache cleared, or
// the quillmark command) answers through it exactly as a full parse would,
// and never trusts it after a change it did not see.
#include "platform/store/store_index.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/store/cert_context_impl.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/cert_store.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::platform {
namespace {

using testing::NameBuilder;

// Everything a caller can learn from a store, as text.
struct Answers {
  std::vector<std::string> certs;
  std::vector<std::string> finds;
  std::vector<std::string> crls;
  bool operator==(const Answers&) const = default;
};

class StoreIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetQuillmarkHome(home_.path());
    ClearCertStoreCache();
    store_ = Open();
    ASSERT_TRUE(store_);
  }
  void TearDown() override {
    ClearCertStoreCache();
    SetQuillmarkHome("");
  }

  static EVP_PKEY* Key() {
    static testing::EvpPkeyPtr key = testing::MakeEcKey();
    return key.get();
  }
  static Bytes Cn(const std::string& cn) { return NameBuilder().Add("CN", cn).Der(); }
  // ECDSA signatures differ every time: each call makes another certificate.
  static Bytes Cert(const std::string& cn, const std::string& issuer_cn = "Index CA") {
    testing::CertSpec spec;
    spec.subject = Cn(cn);
    spec.issuer = Cn(issuer_cn);
    spec.subject_key = Key();
    return testing::MakeCertificate(spec);
  }
  static std::string Thumb(const Bytes& der) {
    return CertCreateCertificateContext(kDefaultEncoding, der)->thumbprint();
  }
  static CertStore Open() {
    return CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, kCertSystemStoreCurrentUser,
                         u"MY");
  }

  std::string Dir() const { return home_.path() + "/stores/MY"; }
  std::string IndexFile() const { return StoreIndexPath(Dir()); }

  // Files written less than the racy window ago are never taken from an
  // index; waiting makes them eligible.
  static void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(2100)); }

  // A fresh process, as far as the store is concerned.
  static void Fresh() { ClearCertStoreCache(); }

  // Keeps the current index file alive under another name, so that a later
  // rewrite (a rename over it) shows as a different inode.
  void HoldIndex() {
    std::string held = home_.File("held-index");
    ::unlink(held.c_str());
    ASSERT_EQ(::link(IndexFile().c_str(), held.c_str()), 0);
  }
  bool IndexRewritten() const {
    struct stat now, held;
    return ::stat(IndexFile().c_str(), &now) != 0 ||
           ::stat(home_.File("held-index").c_str(), &held) != 0 || now.st_ino != held.st_ino;
  }

  static std::string Render(ByteSpan name) {
    std::u16string text;
    CertNameToStrW(kDefaultEncoding, name, kCertX500NameStr, &text);
    return std::string(text.begin(), text.end());
  }

  Answers Ask() const {
    Answers a;
    for (CertContextPtr c = CertEnumCertificatesInStore(store_, nullptr); c;
         c = CertEnumCertificatesInStore(store_, c)) {
      X509* x = CertContextX509(*c);
      unsigned char* der = nullptr;
      int n = x == nullptr ? -1 : i2d_X509(x, &der);
      bool same = n >= 0 && static_cast<std::size_t>(n) == c->der().size() &&
                  std::equal(c->der().begin(), c->der().end(), der);
      OPENSSL_free(der);
      std::optional<KeyProvInfo> key = c->key_prov_info();
      a.certs.push_back(c->thumbprint() + " " + c->impl().file_name + " " + HexUpper(c->der()) +
                        " " + Render(c->subject_der()) + " / " + Render(c->issuer_der()) + " " +
                        HexUpper(c->serial()) + " " + std::to_string(c->not_before().unix_seconds) +
                        " " +
                        (key ? std::string(key->container.begin(), key->container.end()) : "-") +
                        (same ? " parsed" : " NOT PARSED"));
    }
    auto find_all = [&](const char* label, std::uint32_t type, ByteSpan para) {
      for (CertContextPtr c =
               CertFindCertificateInStore(store_, kDefaultEncoding, 0, type, para, nullptr);
           c; c = CertFindCertificateInStore(store_, kDefaultEncoding, 0, type, para, c)) {
        a.finds.push_back(std::string(label) + " " + c->thumbprint());
      }
    };
    find_all("subject", kCertFindSubjectName, Cn("alice"));
    find_all("issuer", kCertFindIssuerName, Cn("Index CA"));
    for (std::u16string_view text : {u"ALI", u"index ca"}) {
      for (CertContextPtr c = CertFindCertificateInStore(store_, kDefaultEncoding, 0,
                                                         kCertFindSubjectStrW, text, nullptr);
           c; c = CertFindCertificateInStore(store_, kDefaultEncoding, 0, kCertFindSubjectStrW,
                                             text, c)) {
        a.finds.push_back("subject text " + c->thumbprint());
      }
    }
    for (CrlContextPtr c = CertEnumCRLsInStore(store_, nullptr); c;
         c = CertEnumCRLsInStore(store_, c)) {
      a.crls.push_back(c->thumbprint() + " " + Render(c->issuer_der()));
    }
    return a;
  }

  // The answers of a full parse: no index, nothing cached.
  Answers AskWithoutIndex() {
    ::unlink(IndexFile().c_str());
    Fresh();
    return Ask();
  }

  std::vector<std::string> Thumbprints() const {
    std::vector<std::string> out;
    for (CertContextPtr c = CertEnumCertificatesInStore(store_, nullptr); c;
         c = CertEnumCertificatesInStore(store_, c)) {
      out.push_back(c->thumbprint());
    }
    return out;
  }
  bool Holds(const std::string& thumbprint) const {
    for (const std::string& t : Thumbprints()) {
      if (t == thumbprint) return true;
    }
    return false;
  }

  void Put(const std::string& name, const Bytes& bytes) const {
    ASSERT_TRUE(testing::WriteBytes(Dir() + "/" + name, bytes));
  }
  void PutText(const std::string& name, const std::string& text) const {
    Put(name, Bytes(text.begin(), text.end()));
  }

  int Cli(const std::string& args, std::string* out = nullptr) const {
    std::string line = "QUILLMARK_HOME='" + home_.path() + "' " QM_CLI_PATH " " + args;
    if (out != nullptr) return testing::RunShellCapture(line + " 2>/dev/null", out);
    return testing::RunShell(line + " >/dev/null 2>&1");
  }

  // A store of every kind of file the folder may hold.
  void Populate() {
    Put("alice.cer", alice_);
    Put(Thumb(bob_) + ".cer", bob_);
    Put("alice-copy.cer", alice_);  // the same certificate twice
    Put(Thumb(carol_) + ".cer", carol_);
    PutText(Thumb(bob_) + ".keyprov",
            "container=bob-box\nprovider=Quillmark Software Provider\nkey_spec=2\n");
    PutText(Thumb(carol_) + ".keyprov", "no equals sign\n");
    PutText("junk.cer", "not a certificate");
    Put("list.crl", testing::MakeCrl({Cn("Index CA"), Key(), {{0x05}}, 1577836800, 1893456000}));
    PutText("notes.txt", "not part of the store");
    ASSERT_EQ(::symlink("alice.cer", (Dir() + "/link.cer").c_str()), 0);
  }

  testing::ScratchDir home_;
  CertStore store_;
  const Bytes alice_ = Cert("alice");
  const Bytes bob_ = Cert("bob");
  const Bytes carol_ = Cert("carol", "Other CA");
};

TEST_F(StoreIndexTest, AFreshProcessAnswersThroughTheIndexAsAFullParseWould) {
  Populate();
  Settle();
  Answers full = AskWithoutIndex();
  ASSERT_EQ(full.certs.size(), 3u);
  ASSERT_EQ(full.crls.size(), 1u);
  ASSERT_TRUE(IsRegularFile(IndexFile()));
  struct stat st;
  ASSERT_EQ(::stat(IndexFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  HoldIndex();

  Fresh();
  EXPECT_EQ(Ask(), full);
  EXPECT_FALSE(IndexRewritten()) << "an index that describes the folder is kept as it is";

  // Another process reads the same index; the listing shows the store's
  // certificates and nothing of the index, and the folder gains no file.
  std::vector<std::string> folder = ListDirectory(Dir());
  std::string listed;
  ASSERT_EQ(Cli("store list MY", &listed), 0);
  for (const std::string& line : full.certs) {
    EXPECT_NE(listed.find(line.substr(0, 40)), std::string::npos) << line;
  }
  EXPECT_EQ(listed.find("index"), std::string::npos);
  EXPECT_EQ(ListDirectory(Dir()), folder);
  EXPECT_FALSE(IndexRewritten());
}

TEST_F(StoreIndexTest, ChangesByThisAndOtherProcessesAreSeenAndRebuildTheIndex) {
  Populate();
  Bytes dave = Cert("dave"), erin = Cert("erin");
  ASSERT_TRUE(testing::WriteBytes(home_.File("erin.cer"), erin));
  Settle();
  Answers before = AskWithoutIndex();
  HoldIndex();

  // This process adds; a fresh one sees it.
  ASSERT_TRUE(
      CertAddEncodedCertificateToStore(store_, kDefaultEncoding, dave, kCertStoreAddNew, nullptr));
  Fresh();
  EXPECT_TRUE(Holds(Thumb(dave)));
  EXPECT_TRUE(IndexRewritten());
  EXPECT_EQ(Ask(), AskWithoutIndex());

  // Another process adds, then removes.
  ASSERT_EQ(Cli("store add MY " + home_.File("erin.cer")), 0);
  Fresh();
  EXPECT_TRUE(Holds(Thumb(erin)));
  ASSERT_EQ(Cli("store remove MY " + Thumb(bob_)), 0);
  Fresh();
  EXPECT_FALSE(Holds(Thumb(bob_)));
  EXPECT_EQ(Ask(), AskWithoutIndex());

  // A file removed behind every process's back.
  ASSERT_TRUE(RemoveFile(Dir() + "/" + Thumb(dave) + ".cer"));
  Fresh();
  EXPECT_FALSE(Holds(Thumb(dave)));
  EXPECT_NE(Ask(), before);
}

TEST_F(StoreIndexTest, AFileReplacedInPlaceWithItsOldSizeAndMtimeIsReadAgain) {
  // Two certificates of the same length (signatures vary by a byte or two).
  const Bytes& alice = alice_;
  Bytes other;
  for (int i = 0; i < 50 && other.size() != alice.size(); ++i) other = Cert("bobby");
  ASSERT_EQ(other.size(), alice.size());
  Put("alice.cer", alice);
  Settle();
  Fresh();
  ASSERT_EQ(Thumbprints(), std::vector<std::string>{Thumb(alice)});
  Fresh();
  ASSERT_EQ(Thumbprints(), std::vector<std::string>{Thumb(alice)});

  std::string path = Dir() + "/alice.cer";
  struct stat old_st;
  ASSERT_EQ(::stat(path.c_str(), &old_st), 0);
  int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, other.data(), other.size(), 0), static_cast<ssize_t>(other.size()));
  ::close(fd);
  struct timespec times[2] = {old_st.st_atim, old_st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  struct stat new_st;
  ASSERT_EQ(::stat(path.c_str(), &new_st), 0);
  ASSERT_EQ(new_st.st_ino, old_st.st_ino);
  ASSERT_EQ(new_st.st_size, old_st.st_size);
  ASSERT_EQ(new_st.st_mtim.tv_nsec, old_st.st_mtim.tv_nsec);

  Fresh();
  EXPECT_EQ(Thumbprints(), std::vector<std::string>{Thumb(other)});
}

TEST_F(StoreIndexTest, RacyEntriesAreMarkedAndNeverTakenFromTheIndex) {
  Put("old.cer", Cert("old"));
  Settle();
  Put("alice.cer", alice_);
  Fresh();
  Thumbprints();
  StoreIndex index;
  ASSERT_TRUE(ReadStoreIndex(IndexFile(), &index));
  ASSERT_EQ(index.files.size(), 2u);
  EXPECT_FALSE(index.files.at("old.cer").racy);
  EXPECT_TRUE(index.files.at("alice.cer").racy) << "written within the window";

  // An index entry with the file's stamp but other contents: a rewrite in
  // the same timestamp tick would look like this.
  struct stat st;
  ASSERT_EQ(::lstat((Dir() + "/alice.cer").c_str(), &st), 0);
  FileStamp stamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                  static_cast<std::uint64_t>(st.st_size),
                  st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec,
                  st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec};
  CertContextPtr mallory = CertCreateCertificateContext(kDefaultEncoding, Cert("mallory"));
  auto forge = [&](bool racy) {
    StoreIndexWriter writer;
    writer.Add("alice.cer", stamp, IndexedKind::kCertificate, racy, mallory->sha1(),
               mallory->der());
    ASSERT_TRUE(WriteStoreIndex(IndexFile(), writer.Finish()));
  };
  forge(/*racy=*/true);
  Fresh();
  EXPECT_EQ(Thumbprints().size(), 2u);
  EXPECT_TRUE(Holds(Thumb(alice_)));
  EXPECT_FALSE(Holds(mallory->thumbprint()));
  // The same entry unmarked is believed: the stamp is all a reader checks.
  forge(/*racy=*/false);
  Fresh();
  EXPECT_TRUE(Holds(mallory->thumbprint()));
}

TEST_F(StoreIndexTest, DamagedForeignAndOtherVersionIndexesAreIgnoredAndRebuilt) {
  Populate();
  Settle();
  Answers full = AskWithoutIndex();
  Bytes good;
  ASSERT_TRUE(ReadWholeFile(IndexFile(), &good));

  // Alice's subject Name inside the index, so a damaged copy would answer
  // differently if it were believed.
  Bytes alice_name = Cn("alice");
  auto at = std::search(good.begin(), good.end(), alice_name.begin(), alice_name.end());
  ASSERT_NE(at, good.end());
  Bytes renamed = good;
  renamed[static_cast<std::size_t>(at - good.begin()) + alice_name.size() - 1] = 'X';

  Bytes other_version = good;
  other_version[8] = 2;
  Bytes truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
  Bytes garbage(good.size(), 0xA5);
  Bytes header_only(good.begin(), good.begin() + 32);
  struct Case {
    const char* what;
    Bytes bytes;
    unsigned mode;
  };
  const Case cases[] = {
      {"a changed byte", renamed, 0600},
      {"another version", other_version, 0600},
      {"truncated", truncated, 0600},
      {"garbage", garbage, 0600},
      {"a header without entries", header_only, 0600},
      {"empty", {}, 0600},
      {"writable by others", good, 0666},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ::unlink(IndexFile().c_str());
    ASSERT_TRUE(testing::WriteBytes(IndexFile(), c.bytes));
    ASSERT_EQ(::chmod(IndexFile().c_str(), c.mode), 0);
    HoldIndex();
    Fresh();
    EXPECT_EQ(Ask(), full);
    EXPECT_TRUE(IndexRewritten());
    // What replaced it is trusted again.
    HoldIndex();
    Fresh();
    EXPECT_EQ(Ask(), full);
    EXPECT_FALSE(IndexRewritten());
  }

  // Another user's index, even a good one (only root can make one here).
  if (::geteuid() == 0) {
    ::unlink(IndexFile().c_str());
    ASSERT_TRUE(testing::WriteBytes(IndexFile(), good));
    ASSERT_EQ(::chmod(IndexFile().c_str(), 0600), 0);
    ASSERT_EQ(::chown(IndexFile().c_str(), 65534, 65534), 0);
    HoldIndex();
    Fresh();
    EXPECT_EQ(Ask(), full);
    EXPECT_TRUE(IndexRewritten());
  }

  // Not a regular file of its own: a link to a good index is not followed.
  ::unlink(IndexFile().c_str());
  ASSERT_TRUE(testing::WriteBytes(home_.File("elsewhere"), good));
  ASSERT_EQ(::symlink(home_.File("elsewhere").c_str(), IndexFile().c_str()), 0);
  Fresh();
  EXPECT_EQ(Ask(), full);
  struct stat st;
  ASSERT_EQ(::lstat(IndexFile().c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

}  // namespace
}  // namespace quillmark::platform
