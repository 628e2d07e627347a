// The review pane: what a private key is about to sign, in a part of the
// window the page cannot write. It draws a KeyUseReview, which the library
// decoded from the very bytes to be signed:
//
//   - the action and the key's owner (subject, issuer, serial, expiry) and
//     the length, in our own words;
//   - the whole text in a read-only box, with every escape the library put
//     in place of an invisible or direction-changing character highlighted,
//     and a warning line above it when there is any;
//   - the files of a packed form, from the review's file entries only.
//
// end_shown() turns true, and stays true, once the end of the text has been
// on screen (the box scrolled to its end, or the whole text fits); the
// window that holds the pane enables its Sign or OK button only then, and is
// told through |on_end_shown|.
#ifndef QUILLMARK_DIALOG_REVIEW_PANE_H_
#define QUILLMARK_DIALOG_REVIEW_PANE_H_

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QWidget>
#include <functional>

#include "platform/ui/key_use.h"

namespace quillmark::dialog {

class ReviewPane : public QWidget {
 public:
  ReviewPane(const platform::ui::KeyUseReview& review, std::function<void()> on_end_shown,
             QWidget* parent = nullptr);

  bool end_shown() const { return end_shown_; }

  QPlainTextEdit* text() const { return text_; }  // null when there is no text
  QLabel* warning() const { return warning_; }    // null without hidden characters
  QListWidget* files() const { return files_; }   // null without files

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CheckEnd();

  QPlainTextEdit* text_ = nullptr;
  QLabel* warning_ = nullptr;
  QListWidget* files_ = nullptr;
  std::function<void()> on_end_shown_;
  bool end_shown_ = false;
};

// The escapes of |text| ("⟦U+202E⟧") as (start, length) pairs in UTF-16
// units.
QList<QPair<int, int>> EscapeSpans(const QString& text);

}  // namespace quillmark::dialog

#endif  // QUILLMARK_DIALOG_REVIEW_PANE_H_
