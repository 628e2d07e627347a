// A session for a web page: the session protocol (session.h) with the
// page's origin on every dialog, dialog reports cut down to their kind and
// outcome, and a fresh key-use state on the dialog host before each member
// runs (the member stages what its key would sign; platform/ui/key_use.h).
//
//   WebSession web(control.get(), u"https://bank.example");
//   std::string answer = web.Answer(line, &id);
//
// The origin must already be checked (origin_rules.h) and consented to: a
// WebSession serves whatever it is given. It sets the origin on the current
// dialog host for as long as it lives.
#ifndef QUILLMARK_COM_WEB_SESSION_H_
#define QUILLMARK_COM_WEB_SESSION_H_

#include <string>
#include <string_view>

#include "com/session.h"
#include "common/json.h"

namespace quillmark::com {

class WebSession {
 public:
  // |control| must outlive the session.
  WebSession(ILydraCorvaneQuillmark* control, std::u16string origin);
  ~WebSession();
  WebSession(const WebSession&) = delete;
  WebSession& operator=(const WebSession&) = delete;

  std::string Answer(std::string_view line, json::Value* id) { return session_.Answer(line, id); }

 private:
  Session session_;
};

}  // namespace quillmark::com

#endif  // QUILLMARK_COM_WEB_SESSION_H_
