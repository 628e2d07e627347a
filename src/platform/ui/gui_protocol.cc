#include "platform/ui/gui_protocol.h"

#include <array>
#include <limits>
#include <utility>

#include "common/json.h"
#include "common/unicode.h"
#include "platform/os/secret_input.h"

namespace quillmark::platform::ui::gui {

namespace {

struct ActionName {
  Answer::Action action;
  std::string_view name;
};

constexpr std::array<ActionName, 12> kActions = {{
    {Answer::Action::kChoose, "choose"},
    {Answer::Action::kView, "view"},
    {Answer::Action::kSort, "sort"},
    {Answer::Action::kOpen, "open"},
    {Answer::Action::kSave, "save"},
    {Answer::Action::kOk, "ok"},
    {Answer::Action::kAllow, "allow"},
    {Answer::Action::kAlways, "always"},
    {Answer::Action::kDeny, "deny"},
    {Answer::Action::kConfirm, "confirm"},
    {Answer::Action::kPin, "pin"},
    {Answer::Action::kCancel, "cancel"},
}};

void Field(json::Writer* w, std::string_view key, std::u16string_view text) {
  w->Key(key);
  w->String(text);
}

void Start(json::Writer* w, DialogKind kind, std::u16string_view origin) {
  w->BeginObject();
  w->Key("kind");
  w->StringUtf8(DialogKindName(kind));
  Field(w, "origin", origin);
}

std::string Finish(json::Writer* w) {
  w->EndObject();
  return w->Take();
}

// Reads the string member |key| of |object| into |out|; a missing member
// leaves |out| empty. False when the member is there but is no string.
bool GetText(const json::Value& object, std::u16string_view key, std::u16string* out) {
  const json::Value* v = object.Find(key);
  if (v == nullptr) {
    out->clear();
    return true;
  }
  if (!v->is_string()) return false;
  *out = v->string();
  return true;
}

// An int member; a missing one is |fallback|.
bool GetInt(const json::Value& object, std::u16string_view key, int fallback, int* out) {
  const json::Value* v = object.Find(key);
  if (v == nullptr) {
    *out = fallback;
    return true;
  }
  if (!v->is_int() || v->integer() < std::numeric_limits<int>::min() ||
      v->integer() > std::numeric_limits<int>::max()) {
    return false;
  }
  *out = static_cast<int>(v->integer());
  return true;
}

// An array of exactly |n| strings.
template <std::size_t N>
bool GetTexts(const json::Value& object, std::u16string_view key,
              std::array<std::u16string, N>* out) {
  const json::Value* v = object.Find(key);
  if (v == nullptr) return true;
  if (!v->is_array() || v->array().size() != N) return false;
  for (std::size_t i = 0; i < N; ++i) {
    if (!v->array()[i].is_string()) return false;
    (*out)[i] = v->array()[i].string();
  }
  return true;
}

bool DecodeReview(const json::Value& v, KeyUseReview* r);

bool DecodeChooser(const json::Value& v, ChooserRequest* r) {
  if (!GetText(v, u"title", &r->title) || !GetText(v, u"prompt", &r->prompt) ||
      !GetTexts(v, u"columns", &r->columns) || !GetTexts(v, u"buttons", &r->buttons) ||
      !GetText(v, u"notice", &r->notice) || !GetInt(v, u"selected", -1, &r->selected)) {
    return false;
  }
  if (const json::Value* review = v.Find(u"review"); review != nullptr) {
    if (!review->is_object()) return false;
    r->review.emplace();
    if (!DecodeReview(*review, &*r->review)) return false;
  }
  const json::Value* rows = v.Find(u"rows");
  if (rows == nullptr) return true;
  if (!rows->is_array()) return false;
  r->rows.reserve(rows->array().size());
  for (const json::Value& row : rows->array()) {
    if (!row.is_object()) return false;
    ChooserRow out;
    if (!GetInt(row, u"item", -1, &out.item) || out.item < 0 ||
        !GetText(row, u"subject", &out.subject) || !GetText(row, u"issuer", &out.issuer) ||
        !GetText(row, u"notAfter", &out.not_after)) {
      return false;
    }
    r->rows.push_back(std::move(out));
  }
  return true;
}

// A non-negative integer member; a missing one is 0.
bool GetCount(const json::Value& object, std::u16string_view key, std::uint64_t* out) {
  const json::Value* v = object.Find(key);
  *out = 0;
  if (v == nullptr) return true;
  if (!v->is_int() || v->integer() < 0) return false;
  *out = static_cast<std::uint64_t>(v->integer());
  return true;
}

bool GetBool(const json::Value& object, std::u16string_view key, bool* out) {
  const json::Value* v = object.Find(key);
  *out = false;
  if (v == nullptr) return true;
  if (!v->is_bool()) return false;
  *out = v->boolean();
  return true;
}

// The review's members of |v| (the confirm request itself, or a chooser's
// "review" object).
bool DecodeReview(const json::Value& v, KeyUseReview* r) {
  std::u16string action;
  if (!GetText(v, u"action", &action)) return false;
  if (action == KeyUseActionName(KeyUseAction::kSign)) {
    r->action = KeyUseAction::kSign;
  } else if (action == KeyUseActionName(KeyUseAction::kDecrypt)) {
    r->action = KeyUseAction::kDecrypt;
  } else {
    return false;
  }
  if (!GetText(v, u"text", &r->text) || !GetCount(v, u"textUnits", &r->text_units) ||
      !GetCount(v, u"bytes", &r->byte_count) || !GetCount(v, u"hidden", &r->hidden_count) ||
      !GetBool(v, u"notText", &r->not_text)) {
    return false;
  }
  const json::Value* files = v.Find(u"files");
  if (files == nullptr) return true;
  if (!files->is_array()) return false;
  for (const json::Value& f : files->array()) {
    if (!f.is_object()) return false;
    ReviewFile file;
    if (!GetText(f, u"name", &file.name) || !GetCount(f, u"size", &file.size)) return false;
    r->files.push_back(std::move(file));
  }
  return true;
}

bool DecodeKeyUse(const json::Value& v, KeyUseRequest* r) {
  if (!DecodeReview(v, &r->review)) return false;
  const json::Value* owner = v.Find(u"owner");
  if (owner == nullptr) return true;
  KeyOwner& o = r->review.owner;
  return owner->is_object() && GetText(*owner, u"subject", &o.subject) &&
         GetText(*owner, u"issuer", &o.issuer) && GetText(*owner, u"serial", &o.serial) &&
         GetText(*owner, u"notAfter", &o.not_after);
}

void WriteReviewMembers(json::Writer* w, const KeyUseReview& r) {
  Field(w, "action", KeyUseActionName(r.action));
  Field(w, "text", r.text);
  WriteReviewCounts(w, r);
  w->Key("files");
  w->BeginArray();
  for (const ReviewFile& f : r.files) {
    w->BeginObject();
    Field(w, "name", f.name);
    w->Key("size");
    w->Int(static_cast<std::int64_t>(f.size));
    w->EndObject();
  }
  w->EndArray();
}

bool DecodeBody(const json::Value& v, Request* r) {
  switch (r->kind) {
    case DialogKind::kChooser:
      r->chooser.origin = r->origin;
      return DecodeChooser(v, &r->chooser);
    case DialogKind::kOpen:
      return GetText(v, u"title", &r->open.title) && GetText(v, u"filter", &r->open.filter) &&
             GetText(v, u"initialPath", &r->open.initial_path);
    case DialogKind::kSave:
      return GetText(v, u"title", &r->save.title) && GetText(v, u"filter", &r->save.filter) &&
             GetText(v, u"defaultName", &r->save.default_name) &&
             GetText(v, u"defaultExt", &r->save.default_ext);
    case DialogKind::kMessage:
      return GetText(v, u"text", &r->message.text) && GetText(v, u"caption", &r->message.caption);
    case DialogKind::kConsent:
      return true;
    case DialogKind::kConfirm:
      r->key_use.origin = r->origin;
      return DecodeKeyUse(v, &r->key_use);
    case DialogKind::kPin: {
      const json::Value* pass = v.Find(u"passphrase");
      if (pass != nullptr && !pass->is_bool()) return false;
      r->pin.passphrase = pass != nullptr && pass->boolean();
      return GetText(v, u"label", &r->pin.label) && GetInt(v, u"triesLeft", -1, &r->pin.tries_left);
    }
  }
  return false;
}

// Overwrites the UTF-16 text a parsed PIN left in a JSON value.
void WipeParsed(const std::u16string& text) {
  auto& owned = const_cast<std::u16string&>(text);
  volatile char16_t* p = owned.data();
  for (std::size_t i = 0; i < owned.size(); ++i) p[i] = 0;
}

}  // namespace

std::string EncodeChooser(const ChooserRequest& request, std::u16string_view origin) {
  json::Writer w;
  Start(&w, DialogKind::kChooser, origin);
  Field(&w, "title", request.title);
  Field(&w, "prompt", request.prompt);
  w.Key("columns");
  w.BeginArray();
  for (const auto& c : request.columns) w.String(c);
  w.EndArray();
  w.Key("buttons");
  w.BeginArray();
  for (const auto& b : request.buttons) w.String(b);
  w.EndArray();
  Field(&w, "notice", request.notice);
  w.Key("rows");
  w.BeginArray();
  const std::size_t count =
      request.display_order.empty() ? request.rows.size() : request.display_order.size();
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t index = request.display_order.empty() ? i : request.display_order[i];
    if (index >= request.rows.size()) continue;
    const ChooserRow& row = request.rows[index];
    w.BeginObject();
    w.Key("item");
    w.Int(row.item);
    Field(&w, "subject", row.subject);
    Field(&w, "issuer", row.issuer);
    Field(&w, "notAfter", row.not_after);
    w.EndObject();
  }
  w.EndArray();
  w.Key("selected");
  w.Int(request.selected);
  if (request.review.has_value()) {
    w.Key("review");
    w.BeginObject();
    WriteReviewMembers(&w, *request.review);
    w.EndObject();
  }
  return Finish(&w);
}

std::string EncodeOpen(const OpenFileRequest& request, std::u16string_view origin) {
  json::Writer w;
  Start(&w, DialogKind::kOpen, origin);
  Field(&w, "title", request.title);
  Field(&w, "filter", request.filter);
  Field(&w, "initialPath", request.initial_path);
  return Finish(&w);
}

std::string EncodeSave(const SaveFileRequest& request, std::u16string_view origin) {
  json::Writer w;
  Start(&w, DialogKind::kSave, origin);
  Field(&w, "title", request.title);
  Field(&w, "filter", request.filter);
  Field(&w, "defaultName", request.default_name);
  Field(&w, "defaultExt", request.default_ext);
  return Finish(&w);
}

std::string EncodeMessage(const MessageRequest& request, std::u16string_view origin) {
  json::Writer w;
  Start(&w, DialogKind::kMessage, origin);
  Field(&w, "text", request.text);
  Field(&w, "caption", request.caption);
  return Finish(&w);
}

std::string EncodeConsent(const ConsentRequest& request) {
  json::Writer w;
  Start(&w, DialogKind::kConsent, request.origin);
  return Finish(&w);
}

std::string EncodeKeyUse(const KeyUseRequest& request) {
  json::Writer w;
  Start(&w, DialogKind::kConfirm, request.origin);
  WriteReviewMembers(&w, request.review);
  WriteKeyOwner(&w, request.review.owner);
  return Finish(&w);
}

void WriteReviewCounts(json::Writer* w, const KeyUseReview& review) {
  w->Key("textUnits");
  w->Int(static_cast<std::int64_t>(review.text_units));
  w->Key("bytes");
  w->Int(static_cast<std::int64_t>(review.byte_count));
  w->Key("hidden");
  w->Int(static_cast<std::int64_t>(review.hidden_count));
  w->Key("notText");
  w->Bool(review.not_text);
}

void WriteKeyOwner(json::Writer* w, const KeyOwner& owner) {
  w->Key("owner");
  w->BeginObject();
  Field(w, "subject", owner.subject);
  Field(w, "issuer", owner.issuer);
  Field(w, "serial", owner.serial);
  Field(w, "notAfter", owner.not_after);
  w->EndObject();
}

std::string EncodePin(const PinRequest& request, std::u16string_view origin) {
  json::Writer w;
  Start(&w, DialogKind::kPin, origin);
  Field(&w, "label", request.label);
  w.Key("triesLeft");
  w.Int(request.tries_left);
  w.Key("passphrase");
  w.Bool(request.passphrase);
  return Finish(&w);
}

bool DecodeRequest(std::string_view line, Request* request, std::string* error) {
  if (line.size() > kMaxRequestLine) {
    *error = "request line too long";
    return false;
  }
  json::Value v;
  if (!json::Parse(line, &v, error)) return false;
  if (!v.is_object()) {
    *error = "request is not an object";
    return false;
  }
  const json::Value* kind = v.Find(u"kind");
  if (kind == nullptr || !kind->is_string()) {
    *error = "request has no kind";
    return false;
  }
  *request = Request();
  bool known = false;
  for (DialogKind k :
       {DialogKind::kChooser, DialogKind::kOpen, DialogKind::kSave, DialogKind::kMessage,
        DialogKind::kConsent, DialogKind::kConfirm, DialogKind::kPin}) {
    std::string_view name = DialogKindName(k);
    if (kind->string() == std::u16string(name.begin(), name.end())) {
      request->kind = k;
      known = true;
    }
  }
  if (!known) {
    *error = "unknown request kind";
    return false;
  }
  if (!GetText(v, u"origin", &request->origin) || !DecodeBody(v, request)) {
    *error = "malformed " + std::string(DialogKindName(request->kind)) + " request";
    return false;
  }
  return true;
}

std::string EncodeAnswer(const Answer& answer) {
  json::Writer w;
  w.BeginObject();
  w.Key("action");
  for (const ActionName& a : kActions) {
    if (a.action == answer.action) w.StringUtf8(a.name);
  }
  switch (answer.action) {
    case Answer::Action::kChoose:
    case Answer::Action::kView:
      w.Key("item");
      w.Int(answer.item);
      break;
    case Answer::Action::kSort:
      w.Key("column");
      w.Int(answer.column);
      break;
    case Answer::Action::kOpen:
    case Answer::Action::kSave:
      Field(&w, "path", answer.path);
      break;
    case Answer::Action::kPin: {
      std::u16string pin = Utf8ToUtf16Lossy(answer.pin);
      w.Key("pin");
      w.String(pin);
      WipeParsed(pin);
      break;
    }
    default:
      break;
  }
  return Finish(&w);
}

bool DecodeAnswer(std::string_view line, Answer* answer, std::string* error) {
  if (line.size() > kMaxAnswerLine) {
    *error = "answer line too long";
    return false;
  }
  json::Value v;
  if (!json::Parse(line, &v, error)) return false;
  const json::Value* pin = v.is_object() ? v.Find(u"pin") : nullptr;
  bool ok = [&] {
    const json::Value* action = v.is_object() ? v.Find(u"action") : nullptr;
    if (action == nullptr || !action->is_string()) {
      *error = "answer has no action";
      return false;
    }
    *answer = Answer();
    bool known = false;
    for (const ActionName& a : kActions) {
      if (action->string() == std::u16string(a.name.begin(), a.name.end())) {
        answer->action = a.action;
        known = true;
      }
    }
    if (!known) {
      *error = "unknown answer action";
      return false;
    }
    bool fits = true;
    switch (answer->action) {
      case Answer::Action::kChoose:
      case Answer::Action::kView:
        fits = GetInt(v, u"item", -1, &answer->item);
        break;
      case Answer::Action::kSort:
        fits = GetInt(v, u"column", -1, &answer->column);
        break;
      case Answer::Action::kOpen:
      case Answer::Action::kSave:
        fits = GetText(v, u"path", &answer->path);
        break;
      case Answer::Action::kPin:
        fits = pin != nullptr && pin->is_string() && Utf16ToUtf8(pin->string(), &answer->pin);
        break;
      default:
        break;
    }
    if (!fits) *error = "malformed answer";
    return fits;
  }();
  if (pin != nullptr && pin->is_string()) WipeParsed(pin->string());
  if (!ok) WipeSecret(&answer->pin);
  return ok;
}

}  // namespace quillmark::platform::ui::gui
