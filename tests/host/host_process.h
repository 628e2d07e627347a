// One quillmark-host process, driven through its real standard input and
// output with the browser's framing, for the host's end-to-end tests.
//
//   HostProcess host({{"QUILLMARK_HOME", home}, {"QUILLMARK_UI", "script:" + ui}});
//   host.Send(R"({"origin":"https://bank.example"})");
//   json::Value ready = host.ReadJson();
//   host.CloseInput();
//   EXPECT_EQ(host.Wait(), 0);
#ifndef QUILLMARK_TESTS_HOST_HOST_PROCESS_H_
#define QUILLMARK_TESTS_HOST_HOST_PROCESS_H_

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/json.h"
#include "common/unicode.h"
#include "support/child_process.h"

namespace quillmark::testing {

class HostProcess {
 public:
  // Starts the host with |env| added to (or replacing in) the environment;
  // QUILLMARK_SYSTEM_ORIGINS defaults to a file that does not exist and
  // QUILLMARK_UI to "none", so that no test depends on the machine.
  // With |log|, the host's standard error (its log) is appended to that file.
  explicit HostProcess(std::map<std::string, std::string> env, const std::string& log = "") {
    env.emplace("QUILLMARK_SYSTEM_ORIGINS", "/nonexistent/quillmark-origins.json");
    env.emplace("QUILLMARK_UI", "none");
    ::signal(SIGPIPE, SIG_IGN);  // a host that has exited must not end the test
    std::vector<std::string> argv = {QM_HOST_PATH, "chrome-extension://test/"};
    if (!log.empty()) {
      argv = {"/bin/sh", "-c", "exec \"$0\" chrome-extension://test/ 2>>\"$1\"", QM_HOST_PATH, log};
    }
    ChildPipes child = SpawnWithPipes(argv, env);
    pid_ = child.pid;
    to_host_ = child.to_child;
    from_host_ = child.from_child;
  }
  ~HostProcess() {
    CloseInput();
    if (from_host_ >= 0) ::close(from_host_);
    if (pid_ > 0) Wait();
  }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // Writes raw bytes; false when the host no longer reads.
  bool SendRaw(const std::string& bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
      ssize_t n = ::write(to_host_, p, left);
      if (n <= 0) return false;
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    return true;
  }
  static std::string Header(std::uint32_t length) {
    std::string h(4, '\0');
    std::memcpy(h.data(), &length, 4);
    return h;
  }
  bool Send(const std::string& body) {
    return SendRaw(Header(static_cast<std::uint32_t>(body.size())) + body);
  }

  // One message body; false at the end of the host's output.
  bool Read(std::string* body) {
    std::string header;
    if (!ReadExactly(4, &header)) return false;
    std::uint32_t length;
    std::memcpy(&length, header.data(), 4);
    EXPECT_LE(length, 1u << 20) << "a message the browser would refuse";
    return ReadExactly(length, body);
  }

  json::Value ReadJson() {
    std::string body;
    json::Value value;
    if (!Read(&body)) {
      ADD_FAILURE() << "the host sent no message";
      return value;
    }
    std::string error;
    EXPECT_TRUE(json::Parse(body, &value, &error)) << error << ": " << body.substr(0, 200);
    return value;
  }

  // Sends one request and reads its (single-message) answer.
  json::Value Ask(const std::string& request) {
    Send(request);
    return ReadJson();
  }

  void CloseInput() {
    if (to_host_ >= 0) ::close(to_host_);
    to_host_ = -1;
  }

  // Ends the host at once, as a crash would.
  void Kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
  }

  // The exit status (-1 when the host did not exit normally).
  int Wait() {
    CloseInput();
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  bool ReadExactly(std::size_t n, std::string* out) {
    out->assign(n, '\0');
    std::size_t got = 0;
    while (got < n) {
      ssize_t r = ::read(from_host_, out->data() + got, n - got);
      if (r <= 0) return false;
      got += static_cast<std::size_t>(r);
    }
    return true;
  }

  pid_t pid_ = -1;
  int to_host_ = -1;
  int from_host_ = -1;
};

// Text of a string field, "" when absent.
inline std::string Text(const json::Value& v, const char16_t* field) {
  const json::Value* f = v.is_object() ? v.Find(field) : nullptr;
  if (f == nullptr || !f->is_string()) return "";
  std::string out;
  for (char16_t c : f->string()) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

inline std::int64_t Int(const json::Value& v, const char16_t* field) {
  const json::Value* f = v.is_object() ? v.Find(field) : nullptr;
  return f != nullptr && f->is_int() ? f->integer() : INT64_MIN;
}

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_HOST_HOST_PROCESS_H_
