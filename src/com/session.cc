#include "com/session.h"

#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "common/json.h"
#include "common/unicode.h"
#include "platform/ui/dialog_factory.h"

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

// One dialog report:
//   {"kind":"chooser","title","prompt","columns":[3],"buttons":[3],"notice",
//    "rows":[{"subject","issuer","notAfter"}...],"answer"}
//   {"kind":"open","title","filter","answer"}
//   {"kind":"save","title","filter","defaultName","defaultExt","answer"}
//   {"kind":"message","text","caption","answer"}
void AppendDialogReport(const DialogReport& r, json::Writer* w) {
  w->BeginObject();
  w->Key("kind");
  w->StringUtf8(platform::ui::DialogKindName(r.kind));
  switch (r.kind) {
    case DialogKind::kChooser:
      w->Key("title");
      w->String(r.title);
      w->Key("prompt");
      w->String(r.prompt);
      w->Key("columns");
      w->BeginArray();
      for (const std::u16string& c : r.columns) w->String(c);
      w->EndArray();
      w->Key("buttons");
      w->BeginArray();
      for (const std::u16string& b : r.buttons) w->String(b);
      w->EndArray();
      w->Key("notice");
      w->String(r.notice);
      w->Key("rows");
      w->BeginArray();
      for (const platform::ui::ChooserRow& row : r.rows) {
        w->BeginObject();
        w->Key("subject");
        w->String(row.subject);
        w->Key("issuer");
        w->String(row.issuer);
        w->Key("notAfter");
        w->String(row.not_after);
        w->EndObject();
      }
      w->EndArray();
      break;
    case DialogKind::kOpen:
      w->Key("title");
      w->String(r.title);
      w->Key("filter");
      w->String(r.filter);
      break;
    case DialogKind::kSave:
      w->Key("title");
      w->String(r.title);
      w->Key("filter");
      w->String(r.filter);
      w->Key("defaultName");
      w->String(r.default_name);
      w->Key("defaultExt");
      w->String(r.default_ext);
      break;
    case DialogKind::kMessage:
      w->Key("text");
      w->String(r.text);
      w->Key("caption");
      w->String(r.caption);
      break;
  }
  w->Key("answer");
  w->String(r.answer);
  w->EndObject();
}

std::string ErrorAnswer(const Value* id, std::string_view message) {
  json::Writer w;
  w.BeginObject();
  if (id != nullptr) {
    w.Key("id");
    w.WriteValue(*id);
  }
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

// The request in |object|, or false with the text of {"error":...}.
bool ReadRequest(const Value& object, Request* out, std::string* error) {
  Request& request = *out;
  const Value* member = nullptr;
  const Value* args = nullptr;
  const Value* value = nullptr;
  int named = 0;
  for (const Value::Member& field : object.object()) {
    const std::u16string& key = field.first;
    if (key == u"call" || key == u"get" || key == u"put") {
      ++named;
      member = &field.second;
      request.kind = key == u"call"  ? MemberKind::kMethod
                     : key == u"get" ? MemberKind::kPropGet
                                     : MemberKind::kPropPut;
    } else if (key == u"args") {
      args = &field.second;
    } else if (key == u"value") {
      value = &field.second;
    } else if (key != u"id") {
      return Refuse(error, "unknown field \"" + Printable(key) + "\"");
    }
  }
  if (named != 1) {
    return Refuse(error, "a request names one member with \"call\", \"get\" or \"put\"");
  }
  if (!member->is_string()) return Refuse(error, "the member name must be a string");
  request.name = member->string();

  switch (request.kind) {
    case MemberKind::kMethod:
      if (value != nullptr) {
        return Refuse(error, "\"value\" belongs to \"put\"; a call takes \"args\"");
      }
      if (args != nullptr) {
        if (!args->is_array()) return Refuse(error, "\"args\" must be an array");
        for (std::size_t i = 0; i < args->array().size(); ++i) {
          Variant v;
          if (!ToVariant(args->array()[i], &v)) {
            return Refuse(error, "argument " + std::to_string(i + 1) +
                                     " is not a string, a 32-bit integer or null");
          }
          request.args.push_back(std::move(v));
        }
      }
      break;
    case MemberKind::kPropGet:
      if (args != nullptr || value != nullptr) {
        return Refuse(error, "\"get\" takes neither \"args\" nor \"value\"");
      }
      break;
    case MemberKind::kPropPut: {
      if (args != nullptr) return Refuse(error, "\"put\" takes \"value\", not \"args\"");
      if (value == nullptr) return Refuse(error, "\"put\" needs a \"value\"");
      Variant v;
      if (!ToVariant(*value, &v)) {
        return Refuse(error, "\"value\" is not a string, a 32-bit integer or null");
      }
      request.args.push_back(std::move(v));
      break;
    }
  }
  return true;
}

}  // namespace

std::string Session::Answer(std::string_view line) {
  try {
    return AnswerOrThrow(line);
  } catch (const std::bad_alloc&) {
    return R"({"error":"out of memory"})";
  }
}

std::string Session::AnswerOrThrow(std::string_view line) {
  Value request_value;
  std::string parse_error;
  if (!json::Parse(line, &request_value, &parse_error)) {
    return ErrorAnswer(nullptr, "not JSON: " + parse_error);
  }
  if (!request_value.is_object()) return ErrorAnswer(nullptr, "a request must be a JSON object");
  const Value* id = request_value.Find(u"id");

  Request request;
  std::string request_error;
  if (!ReadRequest(request_value, &request, &request_error)) return ErrorAnswer(id, request_error);
  std::int32_t dispid = 0;
  if (Dispatcher::GetIDsOfNames(request.name, &dispid) != S_OK) {
    return ErrorAnswer(id, "unknown member \"" + Printable(request.name) + "\"");
  }

  Variant result;
  HRESULT hr = dispatcher_.Invoke(dispid, request.kind, request.args, &result);

  json::Writer w;
  w.BeginObject();
  if (id != nullptr) {
    w.Key("id");
    w.WriteValue(*id);
  }
  w.Key("hr");
  WriteHresult(hr, &w);
  if (!result.empty()) {
    w.Key("result");
    WriteVariant(result, &w);
  }
  // The error state as the control reports it after the call, through the
  // getters errorNum (0x3), errorCode (0x27) and errMsg (0x2).
  static constexpr struct {
    const char* key;
    std::int32_t dispid;
  } kState[] = {{"errorNum", 0x3}, {"errorCode", 0x27}, {"errMsg", 0x2}};
  for (const auto& field : kState) {
    Variant v;
    w.Key(field.key);
    if (dispatcher_.Invoke(field.dispid, MemberKind::kPropGet, {}, &v) == S_OK) {
      WriteVariant(v, &w);
    } else {
      w.Null();
    }
  }
  w.Key("dialogs");
  w.BeginArray();
  for (const DialogReport& report : platform::ui::CurrentDialogHost().TakeReports()) {
    AppendDialogReport(report, &w);
  }
  w.EndArray();
  w.EndObject();
  return w.Take();
}

}  // namespace quillmark::com
