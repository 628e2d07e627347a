#include "host/admission.h"

#include "com/origin_rules.h"
#include "com/origin_store.h"
#include "common/json.h"
#include "common/unicode.h"

namespace quillmark::host {

namespace {

using com::OriginDecision;
using com::OriginStore;

Admission Refused(std::string origin, const char* refused, std::string error) {
  Admission a;
  a.origin = std::move(origin);
  a.refused = refused;
  a.error = std::move(error);
  return a;
}

// The origin named by the hello, or false with |error|.
bool ReadHello(std::string_view hello, std::string* origin, std::string* error) {
  json::Value value;
  std::string parse_error;
  if (!json::Parse(hello, &value, &parse_error)) {
    *error = "the first message is not JSON: " + parse_error;
    return false;
  }
  if (!value.is_object()) {
    *error = "the first message must be a JSON object";
    return false;
  }
  const json::Value* field = value.Find(u"origin");
  if (field == nullptr || !field->is_string()) {
    *error = "the first message names no \"origin\"";
    return false;
  }
  if (field->string().size() > com::kMaxOriginLength || !Utf16ToUtf8(field->string(), origin)) {
    *error = "the origin is not a serialized origin";
    return false;
  }
  return true;
}

// Writes |decision| about |origin| to the user's file, re-read first so that
// a decision another connection wrote meanwhile is kept.
bool Remember(const std::string& origin, OriginDecision decision, std::string* error) {
  std::string path = com::UserOriginsPath();
  if (path.empty()) {
    *error = "there is no home folder to keep the decision in";
    return false;
  }
  OriginStore store;
  if (!store.Load(path, error)) return false;
  if (!store.Set(origin, decision)) {
    *error = "origins.json holds too many origins";
    return false;
  }
  return store.Save(path, error);
}

}  // namespace

Admission Admit(std::string_view hello, platform::ui::DialogHost& dialogs) {
  std::string origin, error;
  if (!ReadHello(hello, &origin, &error)) return Refused("", "bad-hello", error);
  switch (com::CheckOrigin(origin, &error)) {
    case com::OriginVerdict::kServed:
      break;
    case com::OriginVerdict::kInsecure:
      return Refused(origin, "insecure-origin", error);
    case com::OriginVerdict::kMalformed:
      return Refused("", "bad-hello", error);
  }

  OriginStore user, system;
  if (!user.Load(com::UserOriginsPath(), &error) ||
      !system.Load(com::SystemOriginsPath(), &error)) {
    return Refused(origin, "denied", "the origin decisions cannot be read: " + error);
  }
  switch (com::DecideOrigin(user, system, origin)) {
    case OriginDecision::kAlways:
      return Admission{true, origin, "", ""};
    case OriginDecision::kDeny:
      return Refused(origin, "denied", "the user does not allow " + origin + " to use Quillmark");
    case OriginDecision::kAsk:
      break;
  }

  platform::ui::ConsentAnswer answer = dialogs.AskOriginConsent({Utf8ToUtf16Lossy(origin)});
  switch (answer) {
    case platform::ui::ConsentAnswer::kAllowOnce:
      return Admission{true, origin, "", ""};
    case platform::ui::ConsentAnswer::kAlways:
      // Served as the user wants even when the decision cannot be kept; it is
      // then asked again next time.
      Remember(origin, OriginDecision::kAlways, &error);
      return Admission{true, origin, "", ""};
    case platform::ui::ConsentAnswer::kDeny:
      // Refused whether or not the decision could be written down.
      Remember(origin, OriginDecision::kDeny, &error);
      return Refused(origin, "denied", "the user does not allow " + origin + " to use Quillmark");
    case platform::ui::ConsentAnswer::kCancel:
      break;
  }
  return Refused(origin, "denied", "the user did not allow " + origin + " to use Quillmark");
}

std::string AdmissionAnswer(const Admission& admission) {
  json::Writer w;
  w.BeginObject();
  if (admission.admitted) {
    w.Key("ready");
    w.Bool(true);
    w.Key("origin");
    w.StringUtf8(admission.origin);
  } else {
    w.Key("error");
    w.StringUtf8(admission.error);
    w.Key("refused");
    w.StringUtf8(admission.refused);
  }
  w.EndObject();
  return w.Take();
}

}  // namespace quillmark::host
