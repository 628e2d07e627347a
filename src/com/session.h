// The session protocol: one control instance driven by JSON lines.
//
// Each request is one JSON object on one line; each gets exactly one answer,
// one JSON object on one line, in order:
//
//   {"call":"QMBase64Encode","args":["abc"],"id":7}
//     -> {"id":7,"hr":0,"result":"YWJj\n","errorNum":0,"errorCode":0,"errMsg":"","dialogs":[]}
//   {"get":"errorNum"}            -> {"hr":0,"result":-10001,...}
//   {"put":"DNspliter","value":"||"} -> {"hr":1,...}
//
// A request names one member with "call" (a method), "get" or "put" (a
// property accessor), spelled as in the type library in any letter case.
// "args" (call only; absent means none) holds the in arguments in the
// member's order; "value" (put only, required) the new value. Arguments are
// strings, integers from -2^31 to 2^32-1, or null (an absent value, which
// reads as 0 or ""). "id", when present, is echoed first in the answer as it
// was given. No other field is allowed.
//
// The answer holds "hr" (the member's status, or the dispatch layer's error:
// HRESULTs are written as unsigned 32-bit numbers, so DISP_E_TYPEMISMATCH
// is 2147614725), "result" (only when the member has an out value and ran),
// the error state read after the call ("errorNum", "errorCode", "errMsg";
// null when the control cannot report it), and "dialogs": every dialog the
// call showed, in order (see AppendDialogReport in session.cc for the
// fields). Strings carry UTF-16 as it is; lone surrogates travel as \uD800
// escapes in both directions.
//
// A line that is not a JSON object, names no known member, or whose fields or
// arguments are malformed gets {"error":"..."} (with "id" when it could be
// read) and the session goes on. No input makes Answer fail or throw: it is
// the boundary where running out of memory (std::bad_alloc from the dispatch
// layer, the JSON reader or writer) becomes {"error":"out of memory"}.
#ifndef QUILLMARK_COM_SESSION_H_
#define QUILLMARK_COM_SESSION_H_

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "com/dispatch.h"
#include "common/json.h"
#include "control/quillmark_interface.h"

namespace quillmark::com {

using ::quillmark::control::ILydraCorvaneQuillmark;

// How a session serves a caller other than the local user (a web page).
struct SessionOptions {
  // Each dialog report carries only its kind and "answered" or "cancelled":
  // no texts, rows or paths leave the machine.
  bool dialog_outcomes_only = false;
  // Called right before a member runs, with its DISPID, kind and arguments.
  std::function<void(std::int32_t dispid, MemberKind kind, std::span<const Variant> args)>
      before_call;
};

class Session {
 public:
  // |control| must outlive the session. Dialog reports are taken from the
  // current dialog host (platform/ui/dialog_factory.h).
  explicit Session(ILydraCorvaneQuillmark* control, SessionOptions options = {})
      : dispatcher_(control), options_(std::move(options)) {}

  // The answer to one request line (without its line end), without a line end.
  std::string Answer(std::string_view line);

  // As above; *id receives the request's "id" when it could be read (null
  // otherwise), for a front end that must name the answer again.
  std::string Answer(std::string_view line, json::Value* id);

 private:
  std::string AnswerOrThrow(std::string_view line, json::Value* id);

  Dispatcher dispatcher_;
  SessionOptions options_;
};

}  // namespace quillmark::com

#endif  // QUILLMARK_COM_SESSION_H_
