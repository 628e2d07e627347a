// The home folder is refused, as ssh refuses ~/.ssh, when it or its stores/,
// keys/ or store-index/ folder could be changed by someone else; every way into the home
// then fails instead of reading or writing keys there.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/registry/registry.h"
#include "platform/store/cert_store.h"
#include "support/test_dirs.h"

namespace quillmark::platform {
namespace {

class HomeRefusalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = dir_.File("home");
    ASSERT_TRUE(MakeDirectories(home_ + "/stores/MY", 0700));
    ASSERT_TRUE(MakeDirectories(home_ + "/keys", 0700));
    ASSERT_TRUE(MakeDirectories(home_ + "/store-index", 0700));
    SetQuillmarkHome(home_);
  }
  void TearDown() override { SetQuillmarkHome(""); }

  static void Chmod(const std::string& path, mode_t mode) {
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
  }

  testing::ScratchDir dir_;
  std::string home_;
};

TEST_F(HomeRefusalTest, FoldersOthersCanChangeAreRefusedWithTheReason) {
  struct Case {
    const char* sub;  // folder whose mode is changed
    mode_t mode;
    std::string problem;  // after "refusing home folder HOME: "
  };
  const std::string h = home_;
  const Case cases[] = {
      {"", 0777, "writable by others (mode 0777); run chmod 700 " + h},
      {"", 0770, "writable by group (mode 0770); run chmod 700 " + h},
      {"", 01757, "writable by others (mode 1757); run chmod 700 " + h},
      {"/stores", 0757,
       h + "/stores is writable by others (mode 0757); run chmod 700 " + h + "/stores"},
      {"/keys", 0720, h + "/keys is writable by group (mode 0720); run chmod 700 " + h + "/keys"},
      {"/store-index", 0777,
       h + "/store-index is writable by others (mode 0777); run chmod 700 " + h + "/store-index"},
      // A store folder: named by HomeFolderProblem, though QuillmarkHome
      // stays usable (the store itself is refused when it is opened).
      {"/stores/MY", 0770,
       h + "/stores/MY is writable by group (mode 0770); run chmod 700 " + h + "/stores/MY"},
      // Readable or searchable by others is the user's choice.
      {"", 0755, ""},
      {"/keys", 0711, ""},
  };
  for (const Case& c : cases) {
    const std::string path = home_ + c.sub;
    SCOPED_TRACE(path);
    Chmod(path, c.mode);
    std::string expected = c.problem.empty() ? "" : "refusing home folder " + h + ": " + c.problem;
    EXPECT_EQ(HomeFolderProblem(), expected);
    const bool whole_home_refused = !c.problem.empty() && std::string(c.sub) != "/stores/MY";
    EXPECT_EQ(QuillmarkHome(), whole_home_refused ? "" : home_);
    Chmod(path, 0700);
  }
  EXPECT_EQ(HomeFolderProblem(), "");
}

TEST_F(HomeRefusalTest, FoldersOfAnotherUserAreRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "changing a folder's owner needs root";
  ASSERT_EQ(::chown((home_ + "/keys").c_str(), 65534, 65534), 0);
  EXPECT_EQ(HomeFolderProblem(), "refusing home folder " + home_ + ": " + home_ +
                                     "/keys is owned by another user (uid 65534)");
  EXPECT_EQ(QuillmarkHome(), "");
}

TEST_F(HomeRefusalTest, StoresKeysAndRegistryOfARefusedHomeCannotBeUsed) {
  CertStore before =
      CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, kCertSystemStoreCurrentUser, u"MY");
  EXPECT_TRUE(before.is_open());
  Chmod(home_, 0777);
  // An existing store, a new store, a key container and the registry.
  for (std::u16string_view name : {u"MY", u"CA"}) {
    SetLastError(0);
    CertStore store =
        CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, kCertSystemStoreCurrentUser, name);
    EXPECT_FALSE(store.is_open());
    EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  }
  EXPECT_FALSE(IsDirectory(home_ + "/stores/CA"));
  RegKey key;
  EXPECT_NE(RegCreateKeyExW(kHkeyCurrentUser, u"Software\\Test", 0, kKeyAllAccess, &key, nullptr),
            kErrorSuccess);
  EXPECT_FALSE(IsRegularFile(home_ + "/registry.reg"));
  Chmod(home_, 0700);
  EXPECT_EQ(RegCreateKeyExW(kHkeyCurrentUser, u"Software\\Test", 0, kKeyAllAccess, &key, nullptr),
            kErrorSuccess);
}

TEST_F(HomeRefusalTest, AHomeNotThereYetIsNoProblemAndIsMadePrivate) {
  std::string fresh = dir_.File("fresh/quillmark");
  SetQuillmarkHome(fresh);
  EXPECT_EQ(HomeFolderProblem(), "");
  mode_t saved = ::umask(0);  // created folders must not depend on the umask
  EXPECT_EQ(QuillmarkHome(), fresh);
  ::umask(saved);
  struct stat st;
  ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(HomeFolderProblemAt(fresh), "");
}

}  // namespace
}  // namespace quillmark::platform
