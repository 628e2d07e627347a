// The Open and Save windows: Qt's own file dialog (the same on every
// desktop, so that it can be driven without a person), titled with the
// page's title and origin. Open takes an existing file; Save asks before
// replacing one. The full path of the file goes to the sink, or Cancel.
// A preset path or name (which a page may have written) is shown, but the
// focus starts on Cancel, so that a single Enter never takes it.
#ifndef QUILLMARK_DIALOG_FILE_DIALOGS_H_
#define QUILLMARK_DIALOG_FILE_DIALOGS_H_

#include <QFileDialog>
#include <QPushButton>

#include "chooser_dialog.h"
#include "platform/ui/gui_protocol.h"

namespace quillmark::dialog {

class FileDialog : public QFileDialog {
 public:
  FileDialog(const platform::ui::OpenFileRequest& request, const QString& origin, AnswerSink sink,
             QWidget* parent = nullptr);
  FileDialog(const platform::ui::SaveFileRequest& request, const QString& origin, AnswerSink sink,
             QWidget* parent = nullptr);

  void done(int result) override;
  QPushButton* cancel_button() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetUp(const QString& title, const QString& origin, const QString& filter);

  AnswerSink sink_;
  bool save_;
  bool answered_ = false;
  bool prefilled_ = false;
};

// A filter as the page gives it ("*.*", "*.cry", "*.txt;*.log") as Qt's
// name filters.
QStringList NameFilters(const QString& filter);

}  // namespace quillmark::dialog

#endif  // QUILLMARK_DIALOG_FILE_DIALOGS_H_
