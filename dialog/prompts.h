// The small windows of quillmark-dialog: message boxes, the consent to serve
// a page, the confirmation before a private key is used, and PIN or
// passphrase entry. Each answers once through its sink and then closes; Esc
// and the close box answer Cancel (a message box answers OK).
//
// Texts from a page are shown as plain text. The confirmation draws the
// review the library made, never the page's words. The consent and confirmation
// start with the focus on their refusing button, so that a stray Enter
// never allows anything. The PIN is handed to the sink and the entry field
// cleared; the window keeps no copy.
#ifndef QUILLMARK_DIALOG_PROMPTS_H_
#define QUILLMARK_DIALOG_PROMPTS_H_

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "chooser_dialog.h"
#include "platform/ui/gui_protocol.h"
#include "review_pane.h"

namespace quillmark::dialog {

// A dialog that answers exactly once: its subclasses call Finish.
class AnsweringDialog : public QDialog {
 public:
  AnsweringDialog(AnswerSink sink, QWidget* parent);
  void reject() override;  // Cancel

 protected:
  void Finish(const platform::ui::gui::Answer& answer);

 private:
  AnswerSink sink_;
  bool answered_ = false;
};

class MessageDialog : public AnsweringDialog {
 public:
  MessageDialog(const platform::ui::MessageRequest& request, const QString& origin, AnswerSink sink,
                QWidget* parent = nullptr);
  void reject() override;  // a message box has no Cancel: OK
};

class ConsentDialog : public AnsweringDialog {
 public:
  ConsentDialog(const QString& origin, AnswerSink sink, QWidget* parent = nullptr);
};

// The key-use confirmation: the origin and the review pane, Sign (Decrypt)
// enabled only once the end of the text has been shown, Cancel the default
// button with the focus.
class ConfirmDialog : public AnsweringDialog {
 public:
  ConfirmDialog(const platform::ui::KeyUseRequest& request, AnswerSink sink,
                QWidget* parent = nullptr);

  ReviewPane* review() const { return review_; }
  QPushButton* sign_button() const { return sign_; }

 private:
  ReviewPane* review_;
  QPushButton* sign_;
  QLabel* hint_ = nullptr;  // "read to the end", hidden once done
};

class PinDialog : public AnsweringDialog {
 public:
  PinDialog(const platform::ui::PinRequest& request, const QString& origin, AnswerSink sink,
            QWidget* parent = nullptr);

  QLineEdit* entry() const { return entry_; }
  QLabel* tries_line() const { return tries_; }  // hidden when the count is unknown

 private:
  void Enter();

  QLineEdit* entry_;
  QLabel* tries_;
  QPushButton* ok_;
};

}  // namespace quillmark::dialog

#endif  // QUILLMARK_DIALOG_PROMPTS_H_
