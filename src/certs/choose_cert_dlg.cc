#include "certs/choose_cert_dlg.h"

#include <algorithm>
#include <new>
#include <utility>

#include "common/unicode.h"
#include "platform/os/files.h"
#include "platform/os/paths.h"
#include "platform/os/shell.h"
#include "platform/ui/dialog_factory.h"

namespace quillmark::certs {

namespace pf = quillmark::platform;
namespace ui = quillmark::platform::ui;

namespace {

// A row's text in |column| as the list hands it to a comparison: up to the
// first NUL and at most 255 units.
std::u16string_view SortKey(const ui::ChooserRow& row, int column) {
  std::u16string_view text = column == 0 ? row.subject : column == 1 ? row.issuer : row.not_after;
  text = text.substr(0, text.find(u'\0'));
  return text.substr(0, 255);
}

// A copy of |text|, or empty when it cannot be made.
std::u16string CopyText(const std::u16string& text) {
  try {
    return text;
  } catch (const std::bad_alloc&) {
    return std::u16string();
  }
}

// Appends |tail| to |path| when the result still fits the path buffer.
bool AppendFits(std::u16string* path, std::u16string_view tail) {
  if (path->size() + tail.size() > CChooseCertDlg::kMaxTempPathUnits) return false;
  path->append(tail);
  return true;
}

bool MakeFolder(const std::u16string& path) {
  std::string utf8;
  return Utf16ToUtf8(path, &utf8) && pf::MakeDirectories(utf8, 0700);
}

bool FolderExists(const std::u16string& path) {
  std::string utf8;
  return Utf16ToUtf8(path, &utf8) && pf::IsDirectory(utf8);
}

}  // namespace

CChooseCertDlg::CChooseCertDlg(StoreList stores, int candidate_count,
                               const CandidateList& candidates, const ChooserTexts& texts)
    : stores_(stores), candidate_count_(candidate_count), candidates_(candidates) {
  texts_.title = CopyText(texts.title);
  texts_.prompt = CopyText(texts.prompt);
  texts_.subject_column = CopyText(texts.subject_column);
  texts_.issuer_column = CopyText(texts.issuer_column);
  texts_.not_after_column = CopyText(texts.not_after_column);
  texts_.ok_button = CopyText(texts.ok_button);
  texts_.cancel_button = CopyText(texts.cancel_button);
  texts_.view_button = CopyText(texts.view_button);
  texts_.notice = CopyText(texts.notice);
}

CChooseCertDlg::~CChooseCertDlg() {
  if (!temp_path_.empty()) pf::RemoveFile(temp_path_);
}

int CChooseCertDlg::DoModal() { return DoModal(ui::CurrentDialogHost()); }

int CChooseCertDlg::DoModal(ui::DialogHost& host) {
  selection_ = -1;
  try {
    InitDialog();
    for (;;) {
      ui::ChooserAnswer answer = host.ChooseCertificate(request_);
      switch (answer.action) {
        case ui::ChooserAnswer::Action::kChoose:
          // The host answers OK only with a row of the request; anything
          // else (OK with nothing selected) closes the dialog as Cancel.
          if (answer.item < 0 || answer.item >= static_cast<int>(request_.rows.size())) {
            return kIdCancel;
          }
          selection_ = kEntriesPerCandidate * answer.item + kEntryIssuerDer;
          return kIdOk;
        case ui::ChooserAnswer::Action::kCancel:
          return kIdCancel;
        case ui::ChooserAnswer::Action::kView:
          request_.selected = answer.item;
          OnView(host, answer.item);
          break;
        case ui::ChooserAnswer::Action::kSort:
          OnColumnClick(answer.column);
          break;
      }
    }
  } catch (const std::bad_alloc&) {
    selection_ = -1;
    return kIdCancel;
  }
}

void CChooseCertDlg::InitDialog() {
  request_ = ui::ChooserRequest();
  request_.title = texts_.title.empty() ? std::u16string(kDefaultTitle) : texts_.title;
  request_.prompt = texts_.prompt;
  request_.columns = {texts_.subject_column, texts_.issuer_column, texts_.not_after_column};
  request_.buttons = {texts_.ok_button, texts_.cancel_button, texts_.view_button};
  request_.notice = texts_.notice;
  if (candidate_count_ < 0 ||
      candidates_.Count() != kEntriesPerCandidate * static_cast<long long>(candidate_count_)) {
    return;
  }
  request_.rows.reserve(static_cast<std::size_t>(candidate_count_));
  for (int i = 0; i < candidate_count_; ++i) {
    ui::ChooserRow row;
    int base = kEntriesPerCandidate * i;
    // An entry of the wrong kind shows as an empty cell.
    candidates_.ReadText(base + kEntrySubject, &row.subject);
    candidates_.ReadText(base + kEntryIssuer, &row.issuer);
    candidates_.ReadText(base + kEntryNotAfter, &row.not_after);
    row.item = i;
    request_.rows.push_back(std::move(row));
  }
}

void CChooseCertDlg::OnColumnClick(int column) {
  std::vector<std::size_t>& order = request_.display_order;
  if (order.empty()) {
    order.resize(request_.rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  }
  const bool descending = sort_descending_;
  const std::vector<ui::ChooserRow>& rows = request_.rows;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    int c = SortKey(rows[a], column).compare(SortKey(rows[b], column));
    return descending ? c > 0 : c < 0;
  });
  sort_descending_ = !sort_descending_;
}

void CChooseCertDlg::OnView(ui::DialogHost& host, int item) {
  if (item < 0 || item >= static_cast<int>(request_.rows.size())) {
    host.MessageBox({std::u16string(kNoSelectionText), std::u16string()});
    return;
  }
  Bytes issuer_der;
  std::u16string serial;
  int base = kEntriesPerCandidate * item;
  if (!candidates_.ReadBytes(base + kEntryIssuerDer, &issuer_der) ||
      !candidates_.ReadText(base + kEntrySerial, &serial)) {
    return;
  }
  // The stores may have changed since the list was made: nothing to show.
  pf::CertContextPtr cert = RefindByIssuerAndSerial(stores_, issuer_der, serial);
  if (!cert) return;

  std::u16string path = pf::GetTempPathW();
  if (!AppendFits(&path, u"Corvane")) return;
  bool made;
  if (FolderExists(path)) {
    if (!AppendFits(&path, u"/Quillmark")) return;
    made = FolderExists(path) || MakeFolder(path);
  } else {
    MakeFolder(path);
    if (!AppendFits(&path, u"/Quillmark")) return;
    made = MakeFolder(path);
  }
  if (!made) {
    host.MessageBox({std::u16string(kCreateTempFailedText), std::u16string()});
    return;
  }
  if (!AppendFits(&path, u"/temp.cer")) return;
  std::string utf8;
  if (!Utf16ToUtf8(path, &utf8)) return;
  // Kept before writing, so that whatever lands at the path goes with the
  // dialog; a file an earlier View left elsewhere goes now.
  if (!temp_path_.empty() && temp_path_ != utf8) pf::RemoveFile(temp_path_);
  temp_path_ = utf8;
  if (!pf::WriteFileAtomically(utf8, cert->der(), 0600)) return;

  pf::ShellExecuteInfo info;
  info.verb = u"open";
  info.file = path;
  info.show = pf::kSwShowNormal;
  pf::ShellExecuteExW(info);
}

}  // namespace quillmark::certs
