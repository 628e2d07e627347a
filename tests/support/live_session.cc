#include "support/live_session.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "support/child_process.h"

namespace quillmark::testing {

LiveSession::LiveSession(const std::string& home, const std::string& ui_script) {
  const std::string ui = ui_script.empty() ? "none" : "script:" + ui_script;
  ChildPipes child = SpawnWithPipes({QM_CLI_PATH, "session", "--home", home, "--ui", ui});
  pid_ = child.pid;
  to_child_ = ::fdopen(child.to_child, "w");
  from_child_ = ::fdopen(child.from_child, "r");
  if (to_child_ == nullptr || from_child_ == nullptr) std::abort();
}

LiveSession::~LiveSession() {
  std::fclose(to_child_);  // end of input ends the session
  std::fclose(from_child_);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "session exit status " << status;
}

json::Value LiveSession::Send(const std::string& line) {
  std::fputs((line + "\n").c_str(), to_child_);
  std::fflush(to_child_);
  std::string answer;
  for (int c; (c = std::fgetc(from_child_)) != EOF && c != '\n';) {
    answer.push_back(static_cast<char>(c));
  }
  json::Value value;
  std::string error;
  EXPECT_TRUE(json::Parse(answer, &value, &error)) << line.substr(0, 80) << " -> " << answer;
  return value;
}

json::Value LiveSession::Call(const std::string& member, const std::vector<std::u16string>& args) {
  std::string line = "{\"call\":\"" + member + "\",\"args\":[";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) line += ",";
    line += json::Quote(args[i]);
  }
  return Send(line + "]}");
}

json::Value LiveSession::CallInt(const std::string& member, std::int64_t arg) {
  return Send("{\"call\":\"" + member + "\",\"args\":[" + std::to_string(arg) + "]}");
}

json::Value LiveSession::Get(const std::string& property) {
  return Send("{\"get\":\"" + property + "\"}");
}

json::Value LiveSession::Put(const std::string& property, std::int64_t value) {
  return Send("{\"put\":\"" + property + "\",\"value\":" + std::to_string(value) + "}");
}

}  // namespace quillmark::testing
