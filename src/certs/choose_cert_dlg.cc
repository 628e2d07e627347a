#include "certs/choose_cert_dlg.h"

#include <algorithm>
#include <new>
#include <utility>

#include "common/unicode.h"
#include "platform/os/shell.h"
#include "platform/os/shell_viewer_file.h"
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

// The View file stays: the viewer reads it after View has returned, and the
// next View after its lifetime removes it.
CChooseCertDlg::~CChooseCertDlg() = default;

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
    // Which certificate the row is, so that a pick confirms its key only.
    candidates_.ReadText(base + kEntrySerial, &row.serial);
    candidates_.ReadBytes(base + kEntryIssuerDer, &row.issuer_der);
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

  std::string folder;
  if (!pf::PrepareViewerFolder(&folder)) {
    host.MessageBox({std::u16string(kCreateTempFailedText), std::u16string()});
    return;
  }
  std::u16string folder_text;
  if (!Utf8ToUtf16(folder, &folder_text) ||
      folder_text.size() + 1 + pf::kViewerFileStemLength + kViewFileSuffix.size() >
          kMaxTempPathUnits) {
    return;
  }
  std::string utf8;
  if (!pf::CreateViewerFile(folder, kViewFileSuffix, cert->der(), &utf8)) return;
  temp_path_ = utf8;
  std::u16string path;
  if (!Utf8ToUtf16(utf8, &path)) return;

  pf::ShellExecuteInfo info;
  info.verb = u"open";
  info.file = path;
  info.show = pf::kSwShowNormal;
  pf::ShellExecuteExW(info);
}

}  // namespace quillmark::certs
