#include "host/admission.h"

#include "com/origin_rules.h"
#include "com/origin_store.h"
#include "common/json.h"
#include "common/unicode.h"
#include "host/control_slots.h"

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

Admission Served(std::string origin) {
  Admission a;
  a.admitted = true;
  a.origin = std::move(origin);
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

Admission Admit(std::string_view hello, const std::string& home,
                platform::ui::DialogHost& dialogs) {
  std::string origin, error;
  if (!ReadHello(hello, &origin, &error)) return Refused("", "bad-hello", error);
  switch (com::CheckOrigin(origin, &error)) {
    case com::OriginVerdict::kServed:
      break;
    case com::OriginVerdict::kInsecure:
      return Refused(com::IsOpaqueOrigin(origin) ? "" : origin, "insecure-origin", error);
    case com::OriginVerdict::kMalformed:
      return Refused("", "bad-hello", error);
  }

  // The slot comes before any dialog, so that a page cannot queue up more
  // consent dialogs than it may have controls.
  platform::ProcessSlot slot;
  switch (TakeOriginSlot(home, origin, &slot, &error)) {
    case platform::SlotStatus::kTaken:
      break;
    case platform::SlotStatus::kAllBusy:
      return Refused(origin, "too-many-controls",
                     origin + " already has " + std::to_string(kMaxControlsPerOrigin) +
                         " Quillmark controls open");
    case platform::SlotStatus::kError: {
      Admission a = Refused(origin, "home",
                            "Quillmark cannot use its home folder on this computer (its log says "
                            "why)");
      a.log.push_back(error);
      return a;
    }
  }

  OriginStore user, system;
  std::string ignored;
  if (!user.Load(com::UserOriginsPath(), &error) ||
      !com::LoadSystemOrigins(com::SystemOriginsPath(), &system, &ignored, &error)) {
    Admission a = Refused(origin, "denied",
                          "the saved decisions about sites cannot be read (the Quillmark host's "
                          "log says why)");
    a.log.push_back(error);
    return a;
  }
  std::vector<std::string> log;
  if (!ignored.empty()) log.push_back(ignored);
  auto decided = [&](Admission a) {
    a.log = std::move(log);
    if (a.admitted) a.slot = std::move(slot);
    return a;
  };
  switch (com::DecideOrigin(user, system, origin)) {
    case OriginDecision::kAlways:
      return decided(Served(origin));
    case OriginDecision::kDeny:
      return decided(
          Refused(origin, "denied", "the user does not allow " + origin + " to use Quillmark"));
    case OriginDecision::kAsk:
      break;
  }

  platform::ui::ConsentAnswer answer = dialogs.AskOriginConsent({Utf8ToUtf16Lossy(origin)});
  switch (answer) {
    case platform::ui::ConsentAnswer::kAllowOnce:
      return decided(Served(origin));
    case platform::ui::ConsentAnswer::kAlways:
      // Served as the user wants even when the decision cannot be kept; it is
      // then asked again next time.
      if (!Remember(origin, OriginDecision::kAlways, &error)) log.push_back(error);
      return decided(Served(origin));
    case platform::ui::ConsentAnswer::kDeny:
      // Refused whether or not the decision could be written down.
      if (!Remember(origin, OriginDecision::kDeny, &error)) log.push_back(error);
      return decided(
          Refused(origin, "denied", "the user does not allow " + origin + " to use Quillmark"));
    case platform::ui::ConsentAnswer::kCancel:
      break;
  }
  Admission a = Refused(origin, "denied", "the user did not allow " + origin + " to use Quillmark");
  a.cancelled = true;
  return decided(std::move(a));
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
    if (admission.cancelled) {
      w.Key("consent");
      w.StringUtf8("cancelled");
    }
  }
  w.EndObject();
  return w.Take();
}

}  // namespace quillmark::host
