// Every command that opens the home folder refuses one that others could
// change, with one line that says which folder, why and how to fix it; and
// the session, which holds keys, runs without core dumps.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/os/files.h"
#include "support/test_dirs.h"

extern char** environ;

namespace quillmark {
namespace {

using testing::RunShellCapture;

struct Result {
  int status = -1;
  std::string err;
};

class HomeRefusalCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = dir_.File("home");
    ASSERT_TRUE(platform::MakeDirectories(home_ + "/stores/MY", 0700));
  }

  Result Run(const std::string& args) {
    Result r;
    std::string out;
    std::string err_file = dir_.File("stderr.txt");
    r.status = RunShellCapture(
        "QUILLMARK_HOME=" + home_ + " " QM_CLI_PATH " " + args + " </dev/null 2>" + err_file, &out);
    Bytes err;
    platform::ReadWholeFile(err_file, &err);
    r.err = std::string(AsChars(err));
    return r;
  }

  testing::ScratchDir dir_;
  std::string home_;
};

TEST_F(HomeRefusalCliTest, EveryCommandRefusesAHomeOthersCanWrite) {
  const std::string commands[] = {"store list MY", "store import MY x.p12",
                                  "store demo",    "register",
                                  "unregister",    "session --ui none"};
  ASSERT_EQ(::chmod(home_.c_str(), 0777), 0);
  for (const std::string& command : commands) {
    Result r = Run(command);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_EQ(r.err, "quillmark: refusing home folder " + home_ +
                         ": writable by others (mode 0777); run chmod 700 " + home_ + "\n")
        << command;
  }
  ASSERT_EQ(::chmod(home_.c_str(), 0700), 0);
  ASSERT_EQ(::chmod((home_ + "/stores").c_str(), 0770), 0);
  Result r = Run("register");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quillmark: refusing home folder " + home_ + ": " + home_ +
                       "/stores is writable by group (mode 0770); run chmod 700 " + home_ +
                       "/stores\n");
  // Nothing was written into the refused home.
  EXPECT_EQ(platform::ListDirectory(home_), (std::vector<std::string>{"stores"}));
  ASSERT_EQ(::chmod((home_ + "/stores").c_str(), 0700), 0);
  r = Run("store list MY");
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(HomeRefusalCliTest, SessionRunsWithoutCoreDumps) {
  // The session reads its requests from a pipe kept open while its limits
  // are read from /proc.
  int in[2];
  ASSERT_EQ(::pipe(in), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::string home_arg = home_;
  const char* argv[] = {QM_CLI_PATH, "session", "--home", home_arg.c_str(),
                        "--ui",      "none",    nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, QM_CLI_PATH, &actions, nullptr, const_cast<char**>(argv), environ),
            0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  // "Max core file size        0                    0                    bytes"
  const std::string off = "size        0                    0 ";
  std::string core_line;
  for (int i = 0; i < 150 && core_line.find(off) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    RunShellCapture("grep '^Max core file size' /proc/" + std::to_string(pid) + "/limits",
                    &core_line);
  }
  ::close(in[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  // "Max core file size        0                    0                    bytes"
  EXPECT_NE(core_line.find("size        0                    0 "), std::string::npos) << core_line;
}

}  // namespace
}  // namespace quillmark
