#include "platform/os/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/os/home.h"
#include "support/test_dirs.h"

namespace quillmark::platform {
namespace {

TEST(Files, AtomicWriteReplacesWholeFileAndLeavesNoTemporaries) {
  testing::ScratchDir dir;
  std::string path = dir.File("a.bin");
  Bytes first(100000, 0x41), second = {1, 2, 3};
  ASSERT_TRUE(WriteFileAtomically(path, first, 0600));
  ASSERT_TRUE(WriteFileAtomically(path, second, 0600));
  Bytes back;
  ASSERT_TRUE(ReadWholeFile(path, &back));
  EXPECT_EQ(back, second);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"a.bin"});
}

TEST(Files, WriteIntoMissingFolderFailsAndReadOfMissingFileFails) {
  testing::ScratchDir dir;
  Bytes data = {1};
  EXPECT_FALSE(WriteFileAtomically(dir.File("no/such/x"), data));
  Bytes out = {9};
  EXPECT_FALSE(ReadWholeFile(dir.File("missing"), &out));
  EXPECT_FALSE(ReadWholeFile(dir.path(), &out));  // a folder is not a file
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(ReadWholeFile(dir.File("fifo"), &out));  // refused, not waited on
  EXPECT_EQ(out, Bytes{9});
  EXPECT_TRUE(RemoveFile(dir.File("missing")));
}

TEST(Files, TemporaryDirectoryIsPrivateAndRemovedWithItsContents) {
  std::string dir;
  ASSERT_TRUE(MakeTemporaryDirectory("qmfiles-", &dir));
  struct stat st;
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_TRUE(MakeDirectories(dir + "/a/b"));
  ASSERT_TRUE(WriteFileAtomically(dir + "/a/b/f", Bytes{1}));
  testing::ScratchDir outside;
  ASSERT_TRUE(WriteFileAtomically(outside.File("keep"), Bytes{2}));
  ASSERT_EQ(::symlink(outside.path().c_str(), (dir + "/link").c_str()), 0);
  EXPECT_TRUE(RemoveTree(dir));
  EXPECT_FALSE(IsDirectory(dir));
  EXPECT_TRUE(IsRegularFile(outside.File("keep")));  // the link was not followed
  EXPECT_TRUE(RemoveTree(dir));                      // already gone
}

TEST(Files, BaseNameIsTextAfterLastSlash) {
  EXPECT_EQ(BaseName("/tmp/x/report.pdf"), "report.pdf");
  EXPECT_EQ(BaseName("report.pdf"), "report.pdf");
  EXPECT_EQ(BaseName("/tmp/dir/"), "");
}

TEST(Home, OverrideThenEnvironmentAndCreatedPrivate) {
  testing::ScratchDir dir;
  std::string env_home = dir.File("env/home");
  ::setenv("QUILLMARK_HOME", env_home.c_str(), 1);
  EXPECT_EQ(QuillmarkHome(), env_home);
  struct stat st;
  ASSERT_EQ(::stat(env_home.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  SetQuillmarkHome(dir.File("override/"));
  EXPECT_EQ(QuillmarkHome(), dir.File("override"));
  SetQuillmarkHome("");
  ::unsetenv("QUILLMARK_HOME");
  ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
  EXPECT_EQ(QuillmarkHome(), dir.File("quillmark"));
  ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace quillmark::platform
