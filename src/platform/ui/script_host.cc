#include "platform/ui/script_host.h"

#include "common/trim.h"
#include "common/unicode.h"
#include "platform/os/files.h"

namespace quillmark::platform::ui {

namespace {

// A non-negative decimal number making up all of |s|, below 10^9.
bool ParseNumber(std::u16string_view s, int* n) {
  if (s.empty() || s.size() > 9) return false;
  int v = 0;
  for (char16_t c : s) {
    if (c < u'0' || c > u'9') return false;
    v = v * 10 + (c - u'0');
  }
  *n = v;
  return true;
}

}  // namespace

ScriptDialogHost::ScriptDialogHost(std::string_view script) {
  std::u16string text = Utf8ToUtf16Lossy(script);
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t nl = text.find(u'\n', pos);
    std::u16string line(
        Trim(std::u16string_view(text).substr(pos, nl == text.npos ? text.npos : nl - pos)));
    if (!line.empty() && line[0] != u'#') lines_.push_back(std::move(line));
    if (nl == text.npos) break;
    pos = nl + 1;
  }
}

std::unique_ptr<ScriptDialogHost> ScriptDialogHost::FromFile(const std::string& path,
                                                             std::string* error) {
  Bytes bytes;
  if (!ReadWholeFile(path, &bytes)) {
    if (error != nullptr) *error = "cannot read the dialog script \"" + path + "\"";
    return nullptr;
  }
  return std::make_unique<ScriptDialogHost>(AsChars(bytes));
}

bool ScriptDialogHost::Next(std::u16string* line, std::u16string* word, std::u16string* rest) {
  if (next_ >= lines_.size()) return false;
  *line = lines_[next_++];
  std::size_t space = line->find_first_of(u" \t");
  *word = line->substr(0, space);
  *rest = space == line->npos ? std::u16string()
                              : std::u16string(Trim(std::u16string_view(*line).substr(space)));
  return true;
}

DialogHost::ChooserReply ScriptDialogHost::AskChooser(const ChooserRequest& request) {
  ChooserReply reply;
  std::u16string line, word, rest;
  if (!Next(&line, &word, &rest)) return reply;
  int n;
  if (word == u"choose" && ParseNumber(rest, &n)) {
    reply.answer = {ChooserAnswer::Action::kChoose, n, -1};
  } else if (word == u"cancel" && rest.empty()) {
    reply.answer = {ChooserAnswer::Action::kCancel, -1, -1};
  } else if (word == u"view" && rest.empty()) {
    reply.answer = {ChooserAnswer::Action::kView, request.selected, -1};
  } else if (word == u"view" && ParseNumber(rest, &n)) {
    reply.answer = {ChooserAnswer::Action::kView, n, -1};
  } else if (word == u"sort" && ParseNumber(rest, &n)) {
    reply.answer = {ChooserAnswer::Action::kSort, -1, n};
  } else {
    reply.unfit = line;
  }
  return reply;
}

DialogHost::FileReply ScriptDialogHost::AskOpen(const OpenFileRequest& request) {
  FileReply reply;
  std::u16string line, word, rest;
  if (!Next(&line, &word, &rest)) return reply;
  if (word == u"open" && !rest.empty()) {
    reply.answer = {FileAnswer::Outcome::kOk, rest};
  } else if (word == u"open" && !request.initial_path.empty()) {
    reply.answer = {FileAnswer::Outcome::kOk, request.initial_path};
  } else if (!(word == u"cancel" && rest.empty())) {
    reply.unfit = line;
  }
  return reply;
}

DialogHost::FileReply ScriptDialogHost::AskSave(const SaveFileRequest& request) {
  FileReply reply;
  std::u16string line, word, rest;
  if (!Next(&line, &word, &rest)) return reply;
  if (word == u"save" && !rest.empty()) {
    reply.answer = {FileAnswer::Outcome::kOk, rest};
  } else if (word == u"save" && !request.default_name.empty()) {
    reply.answer = {FileAnswer::Outcome::kOk, request.default_name};
  } else if (!(word == u"cancel" && rest.empty())) {
    reply.unfit = line;
  }
  return reply;
}

DialogHost::ConsentReply ScriptDialogHost::AskConsent(const ConsentRequest&) {
  ConsentReply reply;
  std::u16string line, word, rest;
  if (!Next(&line, &word, &rest)) return reply;
  if (word == u"allow" && rest.empty()) {
    reply.answer = ConsentAnswer::kAllowOnce;
  } else if (word == u"always" && rest.empty()) {
    reply.answer = ConsentAnswer::kAlways;
  } else if (word == u"deny" && rest.empty()) {
    reply.answer = ConsentAnswer::kDeny;
  } else if (!(word == u"cancel" && rest.empty())) {
    reply.unfit = line;
  }
  return reply;
}

DialogHost::KeyUseReply ScriptDialogHost::AskKeyUse(const KeyUseRequest&) {
  KeyUseReply reply;
  std::u16string line, word, rest;
  if (!Next(&line, &word, &rest)) return reply;
  if (word == u"confirm" && rest.empty()) {
    reply.confirmed = true;
  } else if (!(word == u"cancel" && rest.empty())) {
    reply.unfit = line;
  }
  return reply;
}

DialogHost::PinReply ScriptDialogHost::AskPinEntry(const PinRequest&) {
  PinReply reply;
  std::u16string line, word, rest;
  if (!Next(&line, &word, &rest)) return reply;
  if (word == u"pin" && !rest.empty()) {
    reply.answer.entered = true;
    reply.answer.pin = Utf16ToUtf8Lossy(rest);
  } else if (!(word == u"cancel" && rest.empty())) {
    reply.unfit = u"unfit";
  }
  return reply;
}

void ScriptDialogHost::AskMessage(const MessageRequest&) {
  if (next_ < lines_.size() && lines_[next_] == u"ok") ++next_;
}

}  // namespace quillmark::platform::ui
