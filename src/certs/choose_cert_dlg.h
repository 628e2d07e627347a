// The certificate chooser: the dialog in which the user picks one of the
// candidates of a selection, independent of how it is drawn.
//
// The dialog lists the candidates (subject, issuer and validity end, in
// candidate order; item data = the candidate's index), sorts them by a
// clicked column, writes the selected certificate to a temporary file and
// opens it for View, and after OK gives the chosen candidate's position in
// the candidate list, 5 * row + 4. It is shown through a platform dialog
// host, which asks again after every View and column click:
//
//   CChooseCertDlg dlg(stores, count, candidates, texts);
//   if (dlg.DoModal() == CChooseCertDlg::kIdOk) {
//     int p = dlg.selection();          // 5 * row + 4
//     ... candidates.ReadBytes(p, ...), candidates.ReadText(p - 1, ...)
//   }                                   // the View file goes with |dlg|
//
// Texts come from the caller; an empty text leaves its control empty, and an
// empty title keeps the dialog's own title "请选择您要用的证书". OK without a
// selected row counts as Cancel. One sort direction flag serves all columns:
// it starts descending and flips after every click.
//
// View writes the certificate to a new file in the user's private viewer
// folder (shell_viewer_file.h: mode 0700, checked for owner and mode, links
// not followed; the file made exclusively with mode 0600 under a random
// name), opens it with the desktop's handler and keeps the dialog open. The
// file outlives the dialog, since the handler reads it after View returns;
// a later View removes the files that have outlived their lifetime. A folder
// that cannot be made or fails its checks shows "Create temporary file
// failed"; a path longer than kMaxTempPathUnits ends View without a word.
#ifndef QUILLMARK_CERTS_CHOOSE_CERT_DLG_H_
#define QUILLMARK_CERTS_CHOOSE_CERT_DLG_H_

#include <string>
#include <string_view>

#include "certs/candidate_list.h"
#include "certs/cert_lookup.h"
#include "platform/ui/dialog_host.h"

namespace quillmark::certs {

// The chooser's texts in the order callers pass them on.
struct ChooserTexts {
  std::u16string title;
  std::u16string prompt;
  std::u16string subject_column;
  std::u16string issuer_column;
  std::u16string not_after_column;
  std::u16string ok_button;
  std::u16string cancel_button;
  std::u16string view_button;
  std::u16string notice;
};

class CChooseCertDlg {
 public:
  static constexpr int kIdOk = 1;
  static constexpr int kIdCancel = 2;
  static constexpr std::u16string_view kDefaultTitle = u"请选择您要用的证书";
  static constexpr std::u16string_view kNoSelectionText = u"No certificate selected.";
  static constexpr std::u16string_view kCreateTempFailedText = u"Create temporary file failed";
  // Longest View path in UTF-16 units (its buffer holds 128 with the terminator).
  static constexpr std::size_t kMaxTempPathUnits = 127;
  static constexpr std::string_view kViewFileSuffix = ".cer";

  // |stores| and |candidates| stay the caller's and must outlive the dialog.
  CChooseCertDlg(StoreList stores, int candidate_count, const CandidateList& candidates,
                 const ChooserTexts& texts);
  ~CChooseCertDlg();
  CChooseCertDlg(const CChooseCertDlg&) = delete;
  CChooseCertDlg& operator=(const CChooseCertDlg&) = delete;

  // Shows the dialog on the current dialog host (or |host|) until OK or
  // Cancel; kIdOk or kIdCancel. Out of memory counts as Cancel.
  int DoModal();
  int DoModal(platform::ui::DialogHost& host);

  // 5 * row + 4 after OK, else -1.
  int selection() const { return selection_; }

  // What the dialog shows now: texts, rows in candidate order, display order.
  const platform::ui::ChooserRequest& request() const { return request_; }

  // The file the last View wrote (UTF-8 path); empty before any View.
  const std::string& temp_file_path() const { return temp_path_; }

 private:
  void InitDialog();
  void OnColumnClick(int column);
  void OnView(platform::ui::DialogHost& host, int item);

  StoreList stores_;
  int candidate_count_;
  const CandidateList& candidates_;
  ChooserTexts texts_;
  std::string temp_path_;
  bool sort_descending_ = true;
  int selection_ = -1;
  platform::ui::ChooserRequest request_;
};

}  // namespace quillmark::certs

#endif  // QUILLMARK_CERTS_CHOOSE_CERT_DLG_H_
