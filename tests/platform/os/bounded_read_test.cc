// Reading a file named from outside under a size bound: special files,
// sparse giants and files that are longer than they say.
#include "platform/os/bounded_read.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/os/files.h"
#include "support/test_dirs.h"

namespace quillmark::platform {
namespace {

// A file of |size| bytes that takes no disk: a hole from start to end.
bool MakeSparseFile(const std::string& path, std::int64_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  const bool ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  ::close(fd);
  return ok;
}

TEST(BoundedRead, ReadsUpToTheBoundAndNotOneByteMore) {
  testing::ScratchDir dir;
  const std::string path = dir.File("ten.bin");
  const Bytes ten = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ASSERT_TRUE(WriteFileAtomically(path, ten));
  Bytes out;
  EXPECT_EQ(ReadFileAtMost(path, 10, &out), BoundedRead::kOk);
  EXPECT_EQ(out, ten);
  out = {7};
  EXPECT_EQ(ReadFileAtMost(path, 9, &out), BoundedRead::kTooLarge);
  EXPECT_EQ(out, Bytes{7});
  EXPECT_EQ(ReadFileAtMost(path, 0, &out), BoundedRead::kTooLarge);

  // Larger than one read chunk, on either side of the bound.
  Bytes big(200000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 31);
  ASSERT_TRUE(WriteFileAtomically(dir.File("big.bin"), big));
  EXPECT_EQ(ReadFileAtMost(dir.File("big.bin"), big.size(), &out), BoundedRead::kOk);
  EXPECT_EQ(out, big);
  EXPECT_EQ(ReadFileAtMost(dir.File("big.bin"), big.size() - 1, &out), BoundedRead::kTooLarge);

  ASSERT_TRUE(WriteFileAtomically(dir.File("empty"), Bytes{}));
  out = {7};
  EXPECT_EQ(ReadFileAtMost(dir.File("empty"), 0, &out), BoundedRead::kOk);
  EXPECT_TRUE(out.empty());
}

// A file of megabytes, read into a buffer sized from fstat: every byte, at
// the bound, one past it and far under it; and a size between two read
// chunks.
TEST(BoundedRead, MegabytesAreReadWholeAtAndAroundTheBound) {
  testing::ScratchDir dir;
  for (std::size_t size : {std::size_t{3} << 20, (std::size_t{3} << 20) + 65537}) {
    SCOPED_TRACE(size);
    Bytes big(size);
    for (std::size_t i = 0; i < size; ++i) big[i] = static_cast<std::uint8_t>((i * 40503u) >> 7);
    const std::string path = dir.File("mega.bin");
    ASSERT_TRUE(WriteFileAtomically(path, big));
    Bytes out;
    ASSERT_EQ(ReadFileAtMost(path, size, &out), BoundedRead::kOk);
    EXPECT_TRUE(out == big);
    out.clear();
    ASSERT_EQ(ReadFileAtMost(path, UINT64_MAX, &out), BoundedRead::kOk);
    EXPECT_TRUE(out == big);
    EXPECT_EQ(ReadFileAtMost(path, size - 1, &out), BoundedRead::kTooLarge);
  }
}

TEST(BoundedRead, ASparseGiantIsRefusedFromItsSize) {
  testing::ScratchDir dir;
  const std::string path = dir.File("sparse.bin");
  ASSERT_TRUE(MakeSparseFile(path, std::int64_t{8} << 30));  // 8 GiB
  Bytes out = {7};
  EXPECT_EQ(ReadFileAtMost(path, 99'999'999, &out), BoundedRead::kTooLarge);
  EXPECT_EQ(out, Bytes{7});
  // Just above and at a bound, the same way.
  ASSERT_TRUE(MakeSparseFile(path, 100'000'000));
  EXPECT_EQ(ReadFileAtMost(path, 99'999'999, &out), BoundedRead::kTooLarge);
  ASSERT_TRUE(MakeSparseFile(path, 4096));
  EXPECT_EQ(ReadFileAtMost(path, 4096, &out), BoundedRead::kOk);
  EXPECT_EQ(out, Bytes(4096, 0));
}

TEST(BoundedRead, SpecialFilesAreRefusedWithoutReadingOrWaiting) {
  testing::ScratchDir dir;
  Bytes out = {7};
  EXPECT_EQ(ReadFileAtMost("/dev/zero", 1 << 20, &out), BoundedRead::kNotRegular);
  EXPECT_EQ(ReadFileAtMost("/dev/null", 1 << 20, &out), BoundedRead::kNotRegular);
  EXPECT_EQ(ReadFileAtMost(dir.path(), 1 << 20, &out), BoundedRead::kNotRegular);
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  // No writer: a blocking open or read would never return.
  EXPECT_EQ(ReadFileAtMost(dir.File("fifo"), 1 << 20, &out), BoundedRead::kNotRegular);
  EXPECT_EQ(ReadFileAtMost(dir.File("missing"), 1 << 20, &out), BoundedRead::kCannotOpen);
  EXPECT_EQ(out, Bytes{7});
}

TEST(BoundedRead, AFileLongerThanItsSizeSaysStopsAtTheBound) {
  // Files under /proc report size 0 and then give their text: the bound is
  // kept while reading, not only against the size seen first.
  struct stat st;
  ASSERT_EQ(::stat("/proc/self/status", &st), 0);
  ASSERT_TRUE(S_ISREG(st.st_mode));
  ASSERT_EQ(st.st_size, 0);
  Bytes out = {7};
  EXPECT_EQ(ReadFileAtMost("/proc/self/status", 16, &out), BoundedRead::kTooLarge);
  EXPECT_EQ(out, Bytes{7});
  ASSERT_EQ(ReadFileAtMost("/proc/self/status", 1 << 20, &out), BoundedRead::kOk);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 5), "Name:");
}

}  // namespace
}  // namespace quillmark::platform
