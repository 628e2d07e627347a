// Folders and files another user could plant in the home: a FIFO where the
// stores or keys read, and folders others may write. Each is refused at once
// (an alarm ends the program if a read waits), with the home folder's one-line
// reason, and nothing in a folder others may write is believed. Linux only.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "certs/verify_chain.h"
#include "common/status.h"
#include "crypto/advance_sign.h"
#include "crypto/advance_verify.h"
#include "crypto/demo_home.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/cert_store.h"

namespace quillmark::crypto {
namespace {

constexpr unsigned kWatchdogSeconds = 20;

class PlantedStoreTest : public DemoHomeTest {
 protected:
  void SetUp() override {
    ::alarm(kWatchdogSeconds);  // a read that waits on a FIFO ends the program
    platform::ClearCertStoreCache();
  }
  void TearDown() override {
    ::alarm(0);
    platform::ClearCertStoreCache();
    DemoHomeTest::TearDown();
  }

  static std::string Home() { return home_->path(); }

  static std::string Thumbprint(const char* store, std::u16string_view name) {
    for (const ::quillmark::demo::DemoItem& item : items_) {
      if (item.store == store && item.role != "CRL" && item.name.starts_with(name)) {
        return item.thumbprint;
      }
    }
    ADD_FAILURE() << store;
    return {};
  }

  static std::size_t CountInStore(std::u16string_view name) {
    platform::CertStore store = platform::CertOpenStore(
        platform::kCertStoreProvSystemW, platform::kDefaultEncoding,
        platform::kCertSystemStoreCurrentUser | platform::kCertStoreOpenExistingFlag, name);
    if (!store.is_open()) return 0;
    std::size_t n = 0;
    for (platform::CertContextPtr c = platform::CertEnumCertificatesInStore(store, nullptr); c;
         c = platform::CertEnumCertificatesInStore(store, c)) {
      ++n;
    }
    return n;
  }

  // The quillmark command's exit status, under a time limit.
  static int Cli(const std::string& args) {
    return testing::RunShell("QUILLMARK_HOME='" + Home() + "' timeout 10 " QM_CLI_PATH " " + args +
                             " >/dev/null 2>&1");
  }

  static Status SignAsLiSi(Bytes* text) {
    return AdvanceSign(Bytes{'x'}, {.dn = u"CN=Li Si", .server_mode = true, .sign_mode = 1}, {}, {},
                       text, nullptr);
  }
};

TEST_F(PlantedStoreTest, AFifoWhereTheStoreReadsIsPassedOverAtOnce) {
  const std::size_t before = CountInStore(u"MY");
  ASSERT_GT(before, 0u);
  const std::string my = Home() + "/stores/MY/";
  const std::string keyprov = my + Thumbprint("MY", u"CN=Li Si") + ".keyprov";
  const std::string places[] = {Home() + "/store-index/MY", my + "planted.cer", keyprov};
  for (const std::string& place : places) {
    SCOPED_TRACE(place);
    const std::string saved = place + ".saved";
    const bool existed = ::rename(place.c_str(), saved.c_str()) == 0;
    ASSERT_EQ(::mkfifo(place.c_str(), 0600), 0);
    platform::ClearCertStoreCache();  // as a new process: index and files read again
    EXPECT_EQ(CountInStore(u"MY"), before);
    EXPECT_EQ(Cli("store list MY"), 0);
    struct stat st;
    if (::lstat(place.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) ::unlink(place.c_str());
    if (existed) {
      ASSERT_EQ(::rename(saved.c_str(), place.c_str()), 0);
    }
  }
  // The key-provider file restored, Li Si signs again.
  platform::ClearCertStoreCache();
  Bytes text;
  EXPECT_EQ(SignAsLiSi(&text), kOk);
}

TEST_F(PlantedStoreTest, AFifoInPlaceOfAKeyFileFailsTheSignatureAtOnce) {
  const std::string key = KeyFile(u"CN=Li Si");
  ASSERT_EQ(::rename(key.c_str(), (key + ".saved").c_str()), 0);
  ASSERT_EQ(::mkfifo(key.c_str(), 0600), 0);
  Bytes text;
  EXPECT_NE(SignAsLiSi(&text), kOk);
  ::unlink(key.c_str());
  ASSERT_EQ(::rename((key + ".saved").c_str(), key.c_str()), 0);
  EXPECT_EQ(SignAsLiSi(&text), kOk);
}

// Every folder the stores and keys read: writable by others, it is named in
// the one-line refusal every command prints, and what it holds is not used.
TEST_F(PlantedStoreTest, FoldersOthersCanWriteAreRefusedWithOneLine) {
  const std::string key = KeyFile(u"CN=Li Si");
  const std::string container = key.substr(0, key.rfind('/'));
  struct Row {
    std::string folder;
    bool signing_reads_it;  // signing opens MY and the key, not ROOT
  };
  const Row rows[] = {{Home() + "/stores/ROOT", false},
                      {Home() + "/stores/MY", true},
                      {Home() + "/store-index", true},
                      {container, true}};
  for (const Row& row : rows) {
    const std::string& folder = row.folder;
    SCOPED_TRACE(folder);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    EXPECT_EQ(platform::HomeFolderProblem(),
              "refusing home folder " + Home() + ": " + folder +
                  " is writable by others (mode 0777); run chmod 700 " + folder);
    EXPECT_EQ(Cli("store list CA"), 1);
    platform::ClearCertStoreCache();
    Bytes text;
    EXPECT_EQ(SignAsLiSi(&text) == kOk, !row.signing_reads_it);
    ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
  }
  EXPECT_EQ(platform::HomeFolderProblem(), "");
  EXPECT_EQ(Cli("store list CA"), 0);
}

TEST_F(PlantedStoreTest, ARootInAStoreOthersCanWriteIsNotTrusted) {
  Bytes text;
  ASSERT_EQ(SignAsLiSi(&text), kOk);
  Bytes content;
  ASSERT_EQ(AdvanceVerifyAttached(text, &content, nullptr), kOk);

  const std::string root = Home() + "/stores/ROOT";
  ASSERT_EQ(::chmod(root.c_str(), 0777), 0);
  platform::ClearCertStoreCache();
  EXPECT_EQ(CountInStore(u"ROOT"), 0u);
  EXPECT_NE(AdvanceVerifyAttached(text, &content, nullptr), kOk);
  ASSERT_EQ(::chmod(root.c_str(), 0700), 0);
  platform::ClearCertStoreCache();
  EXPECT_EQ(AdvanceVerifyAttached(text, &content, nullptr), kOk);
}

// A store file others may write, or one that is a link, is not read.
TEST_F(PlantedStoreTest, AStoreFileOthersCanWriteIsPassedOver) {
  const std::size_t before = CountInStore(u"ROOT");
  ASSERT_GT(before, 0u);
  const std::string root_cert = Home() + "/stores/ROOT/" + Thumbprint("ROOT", u"") + ".cer";
  for (mode_t mode : {mode_t{0666}, mode_t{0664}}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(::chmod(root_cert.c_str(), mode), 0);
    platform::ClearCertStoreCache();
    EXPECT_EQ(CountInStore(u"ROOT"), before - 1);
    ASSERT_EQ(::chmod(root_cert.c_str(), 0644), 0);
  }
  // The root moved aside and a link named like a certificate leading to it.
  const std::string link = Home() + "/stores/ROOT/linked.cer";
  ASSERT_EQ(::rename(root_cert.c_str(), (root_cert + ".away").c_str()), 0);
  ASSERT_EQ(::symlink((root_cert + ".away").c_str(), link.c_str()), 0);
  platform::ClearCertStoreCache();
  EXPECT_EQ(CountInStore(u"ROOT"), before - 1);
  ::unlink(link.c_str());
  ASSERT_EQ(::rename((root_cert + ".away").c_str(), root_cert.c_str()), 0);
  platform::ClearCertStoreCache();
  EXPECT_EQ(CountInStore(u"ROOT"), before);
}

}  // namespace
}  // namespace quillmark::crypto
