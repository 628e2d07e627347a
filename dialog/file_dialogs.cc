#include "file_dialogs.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include "ui_text.h"

namespace quillmark::dialog {

namespace gui = platform::ui::gui;

QStringList NameFilters(const QString& filter) {
  QStringList patterns;
  for (QString p :
       filter.split(QRegularExpression(QStringLiteral("[;,\\s]+")), Qt::SkipEmptyParts)) {
    if (p == QLatin1String("*.*")) p = QStringLiteral("*");
    patterns.append(p);
  }
  QStringList filters;
  if (!patterns.isEmpty() && patterns != QStringList{QStringLiteral("*")}) {
    filters.append(QObject::tr("Files (%1)").arg(patterns.join(QLatin1Char(' '))));
  }
  filters.append(QObject::tr("All files (*)"));
  return filters;
}

void FileDialog::SetUp(const QString& title, const QString& origin, const QString& filter) {
  setOption(QFileDialog::DontUseNativeDialog, true);
  setWindowTitle(TitleFor(title, origin));
  setNameFilters(NameFilters(filter));
  setDirectory(QDir::currentPath());
  resize(760, 480);
}

FileDialog::FileDialog(const platform::ui::OpenFileRequest& request, const QString& origin,
                       AnswerSink sink, QWidget* parent)
    : QFileDialog(parent), sink_(std::move(sink)), save_(false) {
  setObjectName(QStringLiteral("open"));
  SetUp(ToQ(request.title), origin, ToQ(request.filter));
  setAcceptMode(QFileDialog::AcceptOpen);
  setFileMode(QFileDialog::ExistingFile);
  if (!request.initial_path.empty()) {
    selectFile(ToQ(request.initial_path));
    prefilled_ = true;
  }
}

FileDialog::FileDialog(const platform::ui::SaveFileRequest& request, const QString& origin,
                       AnswerSink sink, QWidget* parent)
    : QFileDialog(parent), sink_(std::move(sink)), save_(true) {
  setObjectName(QStringLiteral("save"));
  SetUp(ToQ(request.title), origin, ToQ(request.filter));
  setAcceptMode(QFileDialog::AcceptSave);
  setFileMode(QFileDialog::AnyFile);
  if (!request.default_name.empty()) {
    selectFile(ToQ(request.default_name));
    prefilled_ = true;
  }
}

QPushButton* FileDialog::cancel_button() const {
  auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
  return box != nullptr ? box->button(QDialogButtonBox::Cancel) : nullptr;
}

void FileDialog::showEvent(QShowEvent* event) {
  QFileDialog::showEvent(event);
  if (!prefilled_) return;
  // The dialog puts the focus in the name box as it shows; once it has, the
  // focus moves to Cancel, so that Enter alone does not take the preset name.
  QTimer::singleShot(0, this, [this] {
    if (QPushButton* cancel = cancel_button()) cancel->setFocus(Qt::OtherFocusReason);
  });
}

void FileDialog::done(int result) {
  if (!answered_) {
    answered_ = true;
    gui::Answer a;
    const QStringList files = selectedFiles();
    if (result == QDialog::Accepted && !files.isEmpty()) {
      a.action = save_ ? gui::Answer::Action::kSave : gui::Answer::Action::kOpen;
      a.path = FromQ(QDir::toNativeSeparators(files.first()));
    }
    sink_(a);
  }
  QFileDialog::done(result);
}

}  // namespace quillmark::dialog
