// A session for a web page: the session protocol (session.h) with the
// page's origin on every dialog, dialog reports cut down to their kind and
// outcome, and, before each member runs, what that member would sign handed
// to the dialog host for the key-use confirmation.
//
//   WebSession web(control.get(), u"https://bank.example");
//   std::string answer = web.Answer(line, &id);
//
// The origin must already be checked (origin_rules.h) and consented to: a
// WebSession serves whatever it is given. It sets the origin on the current
// dialog host for as long as it lives.
#ifndef QUILLMARK_COM_WEB_SESSION_H_
#define QUILLMARK_COM_WEB_SESSION_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "com/session.h"
#include "common/json.h"
#include "platform/ui/dialog_host.h"

namespace quillmark::com {

// The confirmation shows at most this many UTF-16 units of the text.
inline constexpr std::size_t kMaxShownTextUnits = 2000;
// ... and at most this many file names.
inline constexpr std::size_t kMaxShownFiles = 50;

class WebSession {
 public:
  // |control| must outlive the session.
  WebSession(ILydraCorvaneQuillmark* control, std::u16string origin);
  ~WebSession();
  WebSession(const WebSession&) = delete;
  WebSession& operator=(const WebSession&) = delete;

  std::string Answer(std::string_view line, json::Value* id) { return session_.Answer(line, id); }

 private:
  ILydraCorvaneQuillmark* control_;
  Session session_;
};

// What the member |dispid| would do with a private key, called with |args|
// on |control|: the text to be signed (an argument named plainText, else the
// control's outgoing plain text; form items and file names when it is a
// form), or "decrypt" for the envelope openers. Exposed for tests.
platform::ui::KeyUseSubject KeyUseSubjectOf(ILydraCorvaneQuillmark* control, std::int32_t dispid,
                                            MemberKind kind, std::span<const Variant> args);

}  // namespace quillmark::com

#endif  // QUILLMARK_COM_WEB_SESSION_H_
