// One `quillmark session` process driven request by request, so that a test
// can build each request from the answers before it (sign, then verify what
// was signed) within one control instance.
//
//   LiveSession s(home.path(), ui_script_path);
//   json::Value a = s.Call("QMAttachedSign", {u"CN=Li Si"});
//   std::u16string signature = a.Find(u"result")->string();
//   a = s.Call("QMAttachedVerify", {signature});
//
// The process gets --home |home| and --ui script:|ui_script| (no dialog host
// answers when |ui_script| is empty: every dialog is cancelled). A request
// whose answer cannot be read fails the test and answers null.
#ifndef QUILLMARK_TESTS_SUPPORT_LIVE_SESSION_H_
#define QUILLMARK_TESTS_SUPPORT_LIVE_SESSION_H_

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/json.h"

namespace quillmark::testing {

class LiveSession {
 public:
  LiveSession(const std::string& home, const std::string& ui_script);
  ~LiveSession();
  LiveSession(const LiveSession&) = delete;
  LiveSession& operator=(const LiveSession&) = delete;

  // Sends one request line and reads its answer.
  json::Value Send(const std::string& line);

  json::Value Call(const std::string& member, const std::vector<std::u16string>& args = {});
  json::Value CallInt(const std::string& member, std::int64_t arg);
  json::Value Get(const std::string& property);
  json::Value Put(const std::string& property, std::int64_t value);

 private:
  pid_t pid_ = -1;
  std::FILE* to_child_ = nullptr;
  std::FILE* from_child_ = nullptr;
};

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_SUPPORT_LIVE_SESSION_H_
