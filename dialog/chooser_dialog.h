// The certificate chooser window: the page's title and prompt, the three
// columns (subject, issuer, validity end), OK, Cancel and View, and the
// notice below the list.
//
// It answers through |sink|: OK (or Enter) with the selected row, Cancel (or
// Esc, or the close box), View (or a double click on a row) with the selected
// row (or none), and a click on a column header. View and header clicks leave the
// window open and waiting for the caller's updated request, which Show()
// draws; the window never sorts by itself, and ignores input while it waits.
// OK is enabled only while a row is selected.
//
// For a web page (an origin given), the page's texts (title, prompt, notice
// and the button names it set) are shown inside a frame marked as the page's
// words, and the window's title and buttons are in our own words. A request
// that carries a review shows the review pane under the list: then OK
// (named Sign) needs a selected row and the end of the text shown.
#ifndef QUILLMARK_DIALOG_CHOOSER_DIALOG_H_
#define QUILLMARK_DIALOG_CHOOSER_DIALOG_H_

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <functional>

#include "platform/ui/gui_protocol.h"
#include "review_pane.h"

namespace quillmark::dialog {

using AnswerSink = std::function<void(const platform::ui::gui::Answer&)>;

class ChooserDialog : public QDialog {
 public:
  ChooserDialog(const platform::ui::ChooserRequest& request, const QString& origin, AnswerSink sink,
                QWidget* parent = nullptr);

  // Draws |request| (rows in display order) and ends the wait. The selection
  // is the request's, or the row selected before when it names none.
  void Show(const platform::ui::ChooserRequest& request);

  // Whether the window waits for an updated request after View or a sort.
  bool waiting() const { return waiting_; }

  QTreeWidget* list() const { return list_; }
  QPushButton* ok_button() const { return ok_; }
  QPushButton* view_button() const { return view_; }
  QPushButton* cancel_button() const { return cancel_; }
  QGroupBox* page_frame() const { return page_frame_; }  // null for a local caller
  ReviewPane* review() const { return review_; }         // null without a review
  // The item data of the rows, top to bottom.
  QList<int> DisplayedItems() const;
  // The item data of the selected row, or -1.
  int SelectedItem() const;

  void reject() override;

 private:
  void Choose();
  void View();
  void Sort(int column);
  void UpdateButtons();
  void Answer(const platform::ui::gui::Answer& answer, bool closes);

  AnswerSink sink_;
  QLabel* prompt_;
  QTreeWidget* list_;
  QPlainTextEdit* notice_;
  QGroupBox* page_frame_ = nullptr;
  ReviewPane* review_ = nullptr;
  QPushButton* ok_;
  QPushButton* cancel_;
  QPushButton* view_;
  bool waiting_ = false;
  bool answered_ = false;
};

}  // namespace quillmark::dialog

#endif  // QUILLMARK_DIALOG_CHOOSER_DIALOG_H_
