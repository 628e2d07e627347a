// Passwords read from a descriptor, secrets wiped after use, and a process
// that holds keys leaving no core dump.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/os/process_guard.h"
#include "platform/os/secret_input.h"

namespace quillmark::platform {
namespace {

// A pipe whose write end has received |text| and is closed unless |keep_open|.
class Pipe {
 public:
  explicit Pipe(const std::string& text, bool keep_open = false) {
    EXPECT_EQ(::pipe(fds_), 0);
    EXPECT_EQ(::write(fds_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    if (!keep_open) CloseWriteEnd();
  }
  ~Pipe() {
    ::close(fds_[0]);
    CloseWriteEnd();
  }
  int read_end() const { return fds_[0]; }
  void CloseWriteEnd() {
    if (fds_[1] >= 0) ::close(fds_[1]);
    fds_[1] = -1;
  }

 private:
  int fds_[2] = {-1, -1};
};

TEST(PasswordFromFd, OneLineIsReadAndTheRestIsLeft) {
  struct Case {
    std::string input;
    std::string password;
  } cases[] = {
      {"secret\n", "secret"},
      {"secret", "secret"},
      {"secret\r\n", "secret"},
      {"\n", ""},
      {"", ""},
      {"pass word \n", "pass word "},
      {"first\nsecond\n", "first"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    Pipe pipe(c.input);
    std::string password = "old";
    ASSERT_TRUE(ReadPasswordFromFd(pipe.read_end(), &password));
    EXPECT_EQ(password, c.password);
  }
  // Nothing after the newline is consumed: the next reader of a shared
  // descriptor still gets it.
  Pipe shared("first\nsecond\n");
  std::string password;
  ASSERT_TRUE(ReadPasswordFromFd(shared.read_end(), &password));
  ASSERT_TRUE(ReadPasswordFromFd(shared.read_end(), &password));
  EXPECT_EQ(password, "second");
}

TEST(PasswordFromFd, OverlongInputAndBadDescriptorsFail) {
  Pipe longest(std::string(4096, 'a') + "\n");
  std::string password;
  ASSERT_TRUE(ReadPasswordFromFd(longest.read_end(), &password));
  EXPECT_EQ(password.size(), 4096u);
  Pipe overlong(std::string(4097, 'a'));
  password = "kept";
  EXPECT_FALSE(ReadPasswordFromFd(overlong.read_end(), &password));
  EXPECT_EQ(password, "kept");
  EXPECT_FALSE(ReadPasswordFromFd(-1, &password));
  EXPECT_FALSE(ReadPasswordFromFd(987, &password));  // not open
}

TEST(Secrets, WipingEmptiesAndZeroesInPlace) {
  std::string text = "correct horse battery staple";
  const char* data = text.data();
  const size_t size = text.size();
  WipeSecret(&text);
  EXPECT_TRUE(text.empty());
  // The buffer is still the string's own (clear keeps the capacity).
  EXPECT_EQ(text.data(), data);
  for (size_t i = 0; i < size; ++i) ASSERT_EQ(data[i], '\0') << i;

  Bytes key = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::uint8_t* bytes = key.data();
  WipeSecret(&key);
  EXPECT_TRUE(key.empty());
  for (size_t i = 0; i < 8; ++i) ASSERT_EQ(bytes[i], 0) << i;
}

TEST(Secrets, CoreDumpsCanBeTurnedOffForTheProcess) {
  // In a child, so the test program itself keeps its settings.
  pid_t child = ::fork();
  if (child == 0) {
    if (!DisableCoreDumps()) ::_exit(1);
    struct rlimit limit;
    if (::getrlimit(RLIMIT_CORE, &limit) != 0 || limit.rlim_cur != 0 || limit.rlim_max != 0) {
      ::_exit(2);
    }
    ::_exit(::prctl(PR_GET_DUMPABLE) == 0 ? 0 : 3);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace quillmark::platform
