#include "platform/ui/dialog_host.h"

#include <algorithm>
#include <new>

#include "common/unicode.h"
#include "platform/names/cert_text.h"
#include "platform/os/paths.h"
#include "platform/os/secret_input.h"

namespace quillmark::platform::ui {

namespace {

constexpr std::size_t kMaxPathUnits = 1023;

std::u16string Number(int n) {
  std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

bool HasRow(const ChooserRequest& request, int item) {
  return std::any_of(request.rows.begin(), request.rows.end(),
                     [item](const ChooserRow& r) { return r.item == item; });
}

// Checks a file answer: an empty path cancels; a relative path is made
// absolute, as file dialogs always answer with a full path; a path the
// file-name buffer cannot hold is a dialog error.
FileAnswer CheckPath(FileAnswer answer) {
  if (answer.outcome != FileAnswer::Outcome::kOk) {
    answer.path.clear();
    return answer;
  }
  if (answer.path.empty()) {
    answer.outcome = FileAnswer::Outcome::kCancel;
    return answer;
  }
  std::u16string absolute;
  if (!MakeAbsolutePath(answer.path, &absolute)) {
    answer.outcome = FileAnswer::Outcome::kError;
    answer.path.clear();
    return answer;
  }
  answer.path = std::move(absolute);
  if (answer.path.size() > kMaxPathUnits) {
    answer.outcome = FileAnswer::Outcome::kError;
    answer.path.clear();
  }
  return answer;
}

std::u16string FileAnswerText(const FileAnswer& answer, std::u16string_view verb) {
  switch (answer.outcome) {
    case FileAnswer::Outcome::kOk:
      return std::u16string(verb) + u" " + answer.path;
    case FileAnswer::Outcome::kCancel:
      return u"cancel";
    case FileAnswer::Outcome::kError:
      return u"error";
  }
  return u"error";
}

std::u16string ConsentAnswerText(ConsentAnswer answer) {
  switch (answer) {
    case ConsentAnswer::kAllowOnce:
      return u"allow";
    case ConsentAnswer::kAlways:
      return u"always";
    case ConsentAnswer::kDeny:
      return u"deny";
    case ConsentAnswer::kCancel:
      break;
  }
  return u"cancel";
}

}  // namespace

std::string_view DialogKindName(DialogKind kind) {
  switch (kind) {
    case DialogKind::kChooser:
      return "chooser";
    case DialogKind::kOpen:
      return "open";
    case DialogKind::kSave:
      return "save";
    case DialogKind::kMessage:
      return "message";
    case DialogKind::kConsent:
      return "consent";
    case DialogKind::kConfirm:
      return "confirm";
    case DialogKind::kPin:
      return "pin";
  }
  return "message";
}

std::u16string ApplyDefaultExtension(std::u16string_view path, std::u16string_view ext) {
  std::u16string out(path);
  std::u16string_view name = PathFileName(path);
  if (!ext.empty() && !name.empty() && name.find(u'.') == name.npos) {
    out.push_back(u'.');
    out.append(ext);
  }
  return out;
}

namespace {

// Whether an answer the host gave names a row, a column or nothing, as its
// action needs.
bool ChooserAnswerFits(const ChooserRequest& request, const ChooserAnswer& a) {
  switch (a.action) {
    case ChooserAnswer::Action::kChoose:
      return HasRow(request, a.item);
    case ChooserAnswer::Action::kView:
      return a.item == -1 || HasRow(request, a.item);
    case ChooserAnswer::Action::kSort:
      return a.column >= 0 && a.column <= 2;
    case ChooserAnswer::Action::kCancel:
      break;
  }
  return true;
}

// The report of a chooser request, rows in item order, without the answer.
DialogReport ChooserReport(const ChooserRequest& request) {
  DialogReport report;
  report.kind = DialogKind::kChooser;
  report.title = request.title;
  report.prompt = request.prompt;
  report.columns = request.columns;
  report.buttons = request.buttons;
  report.notice = request.notice;
  report.rows = request.rows;
  report.review = request.review;
  std::stable_sort(report.rows.begin(), report.rows.end(),
                   [](const ChooserRow& x, const ChooserRow& y) { return x.item < y.item; });
  return report;
}

// The text of an answer that does not fit (taken as Cancel): the host's own
// text when it gave one, else the answer as it came.
std::u16string UnfitChooserAnswerText(const ChooserAnswer& a, const std::u16string& unfit) {
  if (!unfit.empty()) return unfit;
  switch (a.action) {
    case ChooserAnswer::Action::kChoose:
      return u"choose " + Number(a.item);
    case ChooserAnswer::Action::kView:
      return u"view " + Number(a.item);
    case ChooserAnswer::Action::kSort:
      return u"sort " + Number(a.column);
    case ChooserAnswer::Action::kCancel:
      break;
  }
  return unfit;
}

// The text of a fitting answer; clears the fields its action does not use.
std::u16string TakeFittingChooserAnswer(ChooserAnswer* a) {
  switch (a->action) {
    case ChooserAnswer::Action::kChoose:
      a->column = -1;
      return u"choose " + Number(a->item);
    case ChooserAnswer::Action::kView:
      a->column = -1;
      return a->item < 0 ? std::u16string(u"view") : u"view " + Number(a->item);
    case ChooserAnswer::Action::kSort:
      a->item = -1;
      return u"sort " + Number(a->column);
    case ChooserAnswer::Action::kCancel:
      break;
  }
  *a = ChooserAnswer{};
  return u"cancel";
}

// The answer of a file dialog, with its text in |report|: an unfit reply
// (|unfit| not empty) is taken as Cancel and reported as given; a fitting one
// gets |default_ext| (Save; empty for Open) and is checked as a path.
FileAnswer TakeFileReply(FileAnswer answer, std::u16string unfit, std::u16string_view default_ext,
                         std::u16string_view verb, DialogReport* report) {
  if (!unfit.empty()) {
    report->answer = std::move(unfit);
    report->taken_as_cancel = true;
    return FileAnswer{};
  }
  if (answer.outcome == FileAnswer::Outcome::kOk) {
    answer.path = ApplyDefaultExtension(answer.path, default_ext);
  }
  answer = CheckPath(std::move(answer));
  report->answer = FileAnswerText(answer, verb);
  return answer;
}

}  // namespace

DialogHost::~DialogHost() = default;

ChooserAnswer DialogHost::ChooseCertificate(const ChooserRequest& asked) {
  try {
    // For a web origin the chooser names the origin and, when the call staged
    // what the key will sign, shows it: the pick is then the confirmation.
    std::optional<ChooserRequest> with_review;
    if (!caller_origin_.empty()) {
      with_review.emplace(asked);
      with_review->origin = caller_origin_;
      if (staged_.has_value()) with_review->review = staged_->review;
    }
    const ChooserRequest& request = with_review.has_value() ? *with_review : asked;
    ChooserReply reply = AskChooser(request);
    ChooserAnswer a = reply.answer;
    DialogReport report = ChooserReport(request);
    if (!reply.unfit.empty() || !ChooserAnswerFits(request, a)) {
      report.answer = UnfitChooserAnswerText(a, reply.unfit);
      report.taken_as_cancel = true;
      a = ChooserAnswer{};
    } else {
      report.answer = TakeFittingChooserAnswer(&a);
    }
    // A pick in the review pane confirms the use of that row's key only.
    if (a.action == ChooserAnswer::Action::kChoose && request.review.has_value()) {
      for (const ChooserRow& row : request.rows) {
        if (row.item == a.item) confirmed_keys_.push_back({row.issuer_der, row.serial});
      }
    }
    Record(std::move(report));
    return a;
  } catch (const std::bad_alloc&) {
    return ChooserAnswer{};
  }
}

FileAnswer DialogHost::OpenFile(const OpenFileRequest& request) {
  try {
    FileReply reply = AskOpen(request);
    DialogReport report;
    report.kind = DialogKind::kOpen;
    report.title = request.title;
    report.filter = request.filter;
    FileAnswer a =
        TakeFileReply(std::move(reply.answer), std::move(reply.unfit), {}, u"open", &report);
    Record(std::move(report));
    return a;
  } catch (const std::bad_alloc&) {
    return FileAnswer{FileAnswer::Outcome::kError, {}};
  }
}

FileAnswer DialogHost::SaveFile(const SaveFileRequest& request) {
  try {
    FileReply reply = AskSave(request);
    DialogReport report;
    report.kind = DialogKind::kSave;
    report.title = request.title;
    report.filter = request.filter;
    report.default_name = request.default_name;
    report.default_ext = request.default_ext;
    FileAnswer a = TakeFileReply(std::move(reply.answer), std::move(reply.unfit),
                                 request.default_ext, u"save", &report);
    Record(std::move(report));
    return a;
  } catch (const std::bad_alloc&) {
    return FileAnswer{FileAnswer::Outcome::kError, {}};
  }
}

int DialogHost::MessageBox(const MessageRequest& request) {
  try {
    AskMessage(request);
    DialogReport report;
    report.kind = DialogKind::kMessage;
    report.text = request.text;
    report.caption = request.caption;
    report.answer = u"ok";
    Record(std::move(report));
    return kIdOk;
  } catch (const std::bad_alloc&) {
    return kIdOk;
  }
}

ConsentAnswer DialogHost::AskOriginConsent(const ConsentRequest& request) {
  try {
    ConsentReply reply = AskConsent(request);
    DialogReport report;
    report.kind = DialogKind::kConsent;
    if (!reply.unfit.empty()) {
      report.answer = std::move(reply.unfit);
      report.taken_as_cancel = true;
      reply.answer = ConsentAnswer::kCancel;
    } else {
      report.answer = ConsentAnswerText(reply.answer);
    }
    report.origin = request.origin;
    reports_.push_back(std::move(report));
    return reply.answer;
  } catch (const std::bad_alloc&) {
    return ConsentAnswer::kCancel;
  }
}

void DialogHost::BeginCall() {
  staged_.reset();
  confirmed_keys_.clear();
}

void DialogHost::StageKeyUse(KeyUseReview review, ByteSpan content) {
  if (caller_origin_.empty()) return;
  staged_.reset();
  staged_.emplace(StagedKeyUse{std::move(review), Bytes(content.begin(), content.end())});
}

bool DialogHost::AlreadyConfirmed(const CertContext& cert) const {
  const ByteSpan issuer = cert.issuer_der();
  const std::u16string serial = FormatSerialText(cert.serial());
  return std::any_of(confirmed_keys_.begin(), confirmed_keys_.end(), [&](const ConfirmedKey& k) {
    return k.serial == serial &&
           std::equal(k.issuer_der.begin(), k.issuer_der.end(), issuer.begin(), issuer.end());
  });
}

bool DialogHost::ConfirmKeyUse(const KeyUse& use) {
  if (caller_origin_.empty()) return true;
  try {
    // Without the key's certificate there is no one to name: refused.
    if (use.key_owner == nullptr) return false;
    const bool signing = use.action == KeyUseAction::kSign;
    if (signing) {
      // A signature over bytes the control did not stage is never made.
      if (!staged_.has_value() || staged_->review.action != KeyUseAction::kSign) return false;
      if (!use.content.empty() && !std::equal(use.content.begin(), use.content.end(),
                                              staged_->content.begin(), staged_->content.end())) {
        return false;
      }
    }
    if (AlreadyConfirmed(*use.key_owner)) return true;

    KeyUseRequest request{caller_origin_, {}};
    if (signing || (staged_.has_value() && staged_->review.action == use.action)) {
      request.review = staged_->review;
    }
    request.review.action = use.action;
    request.review.owner = KeyOwnerOf(*use.key_owner);
    KeyUseReply reply = AskKeyUse(request);
    DialogReport report;
    report.kind = DialogKind::kConfirm;
    report.action = std::u16string(KeyUseActionName(request.review.action));
    report.text = request.review.text;
    for (const ReviewFile& f : request.review.files) report.files.push_back(f.name);
    if (!reply.unfit.empty()) {
      report.answer = std::move(reply.unfit);
      report.taken_as_cancel = true;
      reply.confirmed = false;
    } else {
      report.answer = reply.confirmed ? u"confirm" : u"cancel";
    }
    report.review = std::move(request.review);
    Record(std::move(report));
    if (reply.confirmed) {
      confirmed_keys_.push_back(
          {Bytes(use.key_owner->issuer_der().begin(), use.key_owner->issuer_der().end()),
           FormatSerialText(use.key_owner->serial())});
    }
    return reply.confirmed;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

PinAnswer DialogHost::AskPin(const PinRequest& request) {
  try {
    PinReply reply = AskPinEntry(request);
    DialogReport report;
    report.kind = DialogKind::kPin;
    report.label = request.label;
    report.tries_left = request.tries_left;
    report.passphrase = request.passphrase;
    // An answer that does not fit is not echoed: it may hold a mistyped PIN.
    report.taken_as_cancel = !reply.unfit.empty();
    if (!reply.unfit.empty() || !reply.answer.entered || reply.answer.pin.empty()) {
      WipeSecret(&reply.answer.pin);
      reply.answer.entered = false;
    }
    report.answer = reply.answer.entered ? u"pin" : u"cancel";
    Record(std::move(report));
    return std::move(reply.answer);
  } catch (const std::bad_alloc&) {
    return PinAnswer{};
  }
}

void DialogHost::Record(DialogReport report) {
  if (report.origin.empty()) report.origin = caller_origin_;
  reports_.push_back(std::move(report));
}

std::vector<DialogReport> DialogHost::TakeReports() {
  std::vector<DialogReport> out;
  out.swap(reports_);
  return out;
}

DialogHost::ChooserReply NoDialogHost::AskChooser(const ChooserRequest&) { return {}; }

DialogHost::FileReply NoDialogHost::AskOpen(const OpenFileRequest&) { return {}; }

DialogHost::FileReply NoDialogHost::AskSave(const SaveFileRequest&) { return {}; }

void NoDialogHost::AskMessage(const MessageRequest&) {}

DialogHost::ConsentReply NoDialogHost::AskConsent(const ConsentRequest&) { return {}; }

DialogHost::KeyUseReply NoDialogHost::AskKeyUse(const KeyUseRequest&) { return {}; }

DialogHost::PinReply NoDialogHost::AskPinEntry(const PinRequest&) { return {}; }

}  // namespace quillmark::platform::ui
