#include "com/session.h"

#include <cstdint>
#include <limits>
#include <new>
#include <span>
#include <vector>

#include "common/json.h"
#include "common/unicode.h"
#include "platform/ui/dialog_factory.h"
#include "platform/ui/gui_protocol.h"

namespace quillmark::com {

using ::quillmark::control::HRESULT;
using ::quillmark::control::S_OK;
namespace {

using json::Value;
using platform::ui::DialogKind;
using platform::ui::DialogReport;

// The member name as it may be quoted in a message: printable ASCII only,
// shortened, so that an error text never echoes large or odd input.
std::string Printable(std::u16string_view name) {
  std::string out;
  for (char16_t c : name) {
    if (out.size() >= 64) {
      out += "...";
      break;
    }
    out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  }
  return out;
}

// A JSON argument as a Variant; false when it is not one of the kinds a
// member takes.
bool ToVariant(const Value& v, Variant* out) {
  if (v.is_null()) {
    *out = Variant();
    return true;
  }
  if (v.is_string()) {
    *out = Variant(v.string());
    return true;
  }
  if (v.is_int()) {
    std::int64_t i = v.integer();
    if (i >= std::numeric_limits<std::int32_t>::min() &&
        i <= std::numeric_limits<std::int32_t>::max()) {
      *out = Variant(static_cast<std::int32_t>(i));
      return true;
    }
    if (i > 0 && i <= std::numeric_limits<std::uint32_t>::max()) {
      *out = Variant(static_cast<std::uint32_t>(i));
      return true;
    }
  }
  return false;
}

void WriteVariant(const Variant& v, json::Writer* w) {
  switch (v.type()) {
    case Variant::Type::kEmpty:
      w->Null();
      break;
    case Variant::Type::kInt32:
      w->Int(v.int32());
      break;
    case Variant::Type::kUInt32:
      w->UInt(v.uint32());
      break;
    case Variant::Type::kString:
      w->String(v.string());
      break;
  }
}

void WriteHresult(HRESULT hr, json::Writer* w) { w->UInt(static_cast<std::uint32_t>(hr)); }

void WriteStringField(const char* key, const std::u16string& text, json::Writer* w) {
  w->Key(key);
  w->String(text);
}

void WriteStringArray(const char* key, std::span<const std::u16string> texts, json::Writer* w) {
  w->Key(key);
  w->BeginArray();
  for (const std::u16string& text : texts) w->String(text);
  w->EndArray();
}

// The chooser's own fields: "title", "prompt", "columns", "buttons", "notice"
// and "rows", one {"subject","issuer","notAfter"} per candidate in order.
void WriteChooserFields(const DialogReport& r, json::Writer* w) {
  WriteStringField("title", r.title, w);
  WriteStringField("prompt", r.prompt, w);
  WriteStringArray("columns", r.columns, w);
  WriteStringArray("buttons", r.buttons, w);
  WriteStringField("notice", r.notice, w);
  w->Key("rows");
  w->BeginArray();
  for (const platform::ui::ChooserRow& row : r.rows) {
    w->BeginObject();
    WriteStringField("subject", row.subject, w);
    WriteStringField("issuer", row.issuer, w);
    WriteStringField("notAfter", row.not_after, w);
    w->EndObject();
  }
  w->EndArray();
}

// What a review pane showed besides its text and file names: the counts,
// and the key's owner when it names one.
void WriteReviewFields(const platform::ui::KeyUseReview& review, json::Writer* w) {
  platform::ui::gui::WriteReviewCounts(w, review);
  if (!review.owner.subject.empty() || !review.owner.serial.empty()) {
    platform::ui::gui::WriteKeyOwner(w, review.owner);
  }
}

// One dialog report:
//   {"kind":"chooser","title","prompt","columns":[3],"buttons":[3],"notice",
//    "rows":[{"subject","issuer","notAfter"}...],"answer"}
//   {"kind":"open","title","filter","answer"}
//   {"kind":"save","title","filter","defaultName","defaultExt","answer"}
//   {"kind":"message","text","caption","answer"}
//   {"kind":"consent","answer"}
//   {"kind":"confirm","action","text","files":[...],"textUnits","bytes","hidden",
//    "notText","owner":{"subject","issuer","serial","notAfter"},"answer"}
// A chooser that carried the review adds "review":{"action","text","files",
// "textUnits","bytes","hidden","notText"}.
//   {"kind":"pin","label","triesLeft","passphrase","answer":"pin"|"cancel"}
// with "origin" before "answer" when a web page asked.
void AppendDialogReport(const DialogReport& r, json::Writer* w) {
  w->BeginObject();
  w->Key("kind");
  w->StringUtf8(platform::ui::DialogKindName(r.kind));
  switch (r.kind) {
    case DialogKind::kChooser:
      WriteChooserFields(r, w);
      if (r.review.has_value()) {
        std::vector<std::u16string> names;
        for (const platform::ui::ReviewFile& f : r.review->files) names.push_back(f.name);
        w->Key("review");
        w->BeginObject();
        WriteStringField("action", std::u16string(platform::ui::KeyUseActionName(r.review->action)),
                         w);
        WriteStringField("text", r.review->text, w);
        WriteStringArray("files", names, w);
        WriteReviewFields(*r.review, w);
        w->EndObject();
      }
      break;
    case DialogKind::kOpen:
      WriteStringField("title", r.title, w);
      WriteStringField("filter", r.filter, w);
      break;
    case DialogKind::kSave:
      WriteStringField("title", r.title, w);
      WriteStringField("filter", r.filter, w);
      WriteStringField("defaultName", r.default_name, w);
      WriteStringField("defaultExt", r.default_ext, w);
      break;
    case DialogKind::kMessage:
      WriteStringField("text", r.text, w);
      WriteStringField("caption", r.caption, w);
      break;
    case DialogKind::kConsent:
      break;
    case DialogKind::kConfirm:
      WriteStringField("action", r.action, w);
      WriteStringField("text", r.text, w);
      WriteStringArray("files", r.files, w);
      if (r.review.has_value()) WriteReviewFields(*r.review, w);
      break;
    case DialogKind::kPin:
      WriteStringField("label", r.label, w);
      w->Key("triesLeft");
      w->Int(r.tries_left);
      w->Key("passphrase");
      w->Bool(r.passphrase);
      break;
  }
  if (!r.origin.empty()) WriteStringField("origin", r.origin, w);
  WriteStringField("answer", r.answer, w);
  w->EndObject();
}

// A report as a web page sees it: {"kind","answer":"answered"|"cancelled"}.
void AppendDialogOutcome(const DialogReport& r, json::Writer* w) {
  const bool cancelled =
      r.taken_as_cancel || r.answer == u"cancel" || r.answer == u"error" || r.answer == u"deny";
  w->BeginObject();
  w->Key("kind");
  w->StringUtf8(platform::ui::DialogKindName(r.kind));
  w->Key("answer");
  w->StringUtf8(cancelled ? "cancelled" : "answered");
  w->EndObject();
}

// Opens an answer object with the request's id, when it had one.
void BeginAnswer(const Value* id, json::Writer* w) {
  w->BeginObject();
  if (id != nullptr) {
    w->Key("id");
    w->WriteValue(*id);
  }
}

std::string ErrorAnswer(const Value* id, std::string_view message) {
  json::Writer w;
  BeginAnswer(id, &w);
  w.Key("error");
  w.StringUtf8(message);
  w.EndObject();
  return w.Take();
}

// The parts of a request line.
struct Request {
  MemberKind kind = MemberKind::kMethod;
  std::u16string name;
  std::vector<Variant> args;
};

bool Refuse(std::string* error, std::string message) {
  *error = std::move(message);
  return false;
}

// The fields of a request object, before their values are checked.
struct RequestFields {
  int named = 0;  // how many of "call", "get" and "put" are present
  MemberKind kind = MemberKind::kMethod;
  const Value* member = nullptr;
  const Value* args = nullptr;
  const Value* value = nullptr;
};

// Sorts the fields of |object|; false on a field the protocol does not know.
bool ReadFields(const Value& object, RequestFields* fields, std::string* error) {
  for (const Value::Member& field : object.object()) {
    const std::u16string& key = field.first;
    if (key == u"call" || key == u"get" || key == u"put") {
      ++fields->named;
      fields->member = &field.second;
      fields->kind = key == u"call"  ? MemberKind::kMethod
                     : key == u"get" ? MemberKind::kPropGet
                                     : MemberKind::kPropPut;
    } else if (key == u"args") {
      fields->args = &field.second;
    } else if (key == u"value") {
      fields->value = &field.second;
    } else if (key != u"id") {
      return Refuse(error, "unknown field \"" + Printable(key) + "\"");
    }
  }
  return true;
}

// A call's "args" (absent means none) into |out|.
bool ReadCallArgs(const RequestFields& fields, std::vector<Variant>* out, std::string* error) {
  if (fields.value != nullptr) {
    return Refuse(error, "\"value\" belongs to \"put\"; a call takes \"args\"");
  }
  if (fields.args == nullptr) return true;
  if (!fields.args->is_array()) return Refuse(error, "\"args\" must be an array");
  const std::vector<Value>& args = fields.args->array();
  for (std::size_t i = 0; i < args.size(); ++i) {
    Variant v;
    if (!ToVariant(args[i], &v)) {
      return Refuse(error, "argument " + std::to_string(i + 1) +
                               " is not a string, a 32-bit integer or null");
    }
    out->push_back(std::move(v));
  }
  return true;
}

// A put's required "value" into |out| as its one argument.
bool ReadPutValue(const RequestFields& fields, std::vector<Variant>* out, std::string* error) {
  if (fields.args != nullptr) return Refuse(error, "\"put\" takes \"value\", not \"args\"");
  if (fields.value == nullptr) return Refuse(error, "\"put\" needs a \"value\"");
  Variant v;
  if (!ToVariant(*fields.value, &v)) {
    return Refuse(error, "\"value\" is not a string, a 32-bit integer or null");
  }
  out->push_back(std::move(v));
  return true;
}

// The request in |object|, or false with the text of {"error":...}.
bool ReadRequest(const Value& object, Request* request, std::string* error) {
  RequestFields fields;
  if (!ReadFields(object, &fields, error)) return false;
  if (fields.named != 1) {
    return Refuse(error, "a request names one member with \"call\", \"get\" or \"put\"");
  }
  if (!fields.member->is_string()) return Refuse(error, "the member name must be a string");
  request->kind = fields.kind;
  request->name = fields.member->string();
  switch (fields.kind) {
    case MemberKind::kMethod:
      return ReadCallArgs(fields, &request->args, error);
    case MemberKind::kPropGet:
      if (fields.args != nullptr || fields.value != nullptr) {
        return Refuse(error, "\"get\" takes neither \"args\" nor \"value\"");
      }
      return true;
    case MemberKind::kPropPut:
      return ReadPutValue(fields, &request->args, error);
  }
  return true;
}

// The error state as the control reports it after a call, through the
// getters errorNum (0x3), errorCode (0x27) and errMsg (0x2); null for one the
// control cannot report.
void AppendErrorState(Dispatcher& dispatcher, json::Writer* w) {
  static constexpr struct {
    const char* key;
    std::int32_t dispid;
  } kState[] = {{"errorNum", 0x3}, {"errorCode", 0x27}, {"errMsg", 0x2}};
  for (const auto& field : kState) {
    Variant v;
    w->Key(field.key);
    if (dispatcher.Invoke(field.dispid, MemberKind::kPropGet, {}, &v) == S_OK) {
      WriteVariant(v, w);
    } else {
      w->Null();
    }
  }
}

}  // namespace

std::string Session::LineTooLongAnswer() {
  return ErrorAnswer(nullptr,
                     "request line longer than " + std::to_string(kMaxRequestLine) + " bytes");
}

// The session loop's boundary: one line in, one answer out, whatever runs out.
std::string Session::Answer(std::string_view line) { return Answer(line, nullptr); }

std::string Session::Answer(std::string_view line, json::Value* id) {
  if (id != nullptr) *id = Value();
  try {
    if (line.size() > kMaxRequestLine) return LineTooLongAnswer();
    return AnswerOrThrow(line, id);
  } catch (const std::bad_alloc&) {
    return R"({"error":"out of memory"})";
  }
}

std::string Session::AnswerOrThrow(std::string_view line, json::Value* id_out) {
  Value request_value;
  std::string parse_error;
  if (!json::Parse(line, &request_value, &parse_error)) {
    return ErrorAnswer(nullptr, "not JSON: " + parse_error);
  }
  if (!request_value.is_object()) return ErrorAnswer(nullptr, "a request must be a JSON object");
  const Value* id = request_value.Find(u"id");
  if (id != nullptr && id_out != nullptr) *id_out = *id;

  Request request;
  std::string request_error;
  if (!ReadRequest(request_value, &request, &request_error)) return ErrorAnswer(id, request_error);
  std::int32_t dispid = 0;
  if (Dispatcher::GetIDsOfNames(request.name, &dispid) != S_OK) {
    return ErrorAnswer(id, "unknown member \"" + Printable(request.name) + "\"");
  }

  if (options_.before_call) options_.before_call(dispid, request.kind, request.args);
  Variant result;
  HRESULT hr = dispatcher_.Invoke(dispid, request.kind, request.args, &result);

  json::Writer w;
  BeginAnswer(id, &w);
  w.Key("hr");
  WriteHresult(hr, &w);
  if (!result.empty()) {
    w.Key("result");
    WriteVariant(result, &w);
  }
  AppendErrorState(dispatcher_, &w);
  w.Key("dialogs");
  w.BeginArray();
  for (const DialogReport& report : platform::ui::CurrentDialogHost().TakeReports()) {
    if (options_.dialog_outcomes_only) {
      AppendDialogOutcome(report, &w);
    } else {
      AppendDialogReport(report, &w);
    }
  }
  w.EndArray();
  w.EndObject();
  return w.Take();
}

}  // namespace quillmark::com
