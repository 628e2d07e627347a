#include "autopilot.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeySequence>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>

#include "chooser_dialog.h"

namespace quillmark::dialog {

namespace {

constexpr int kStepMillis = 40;

QWidget* FocusTarget(QDialog* window) {
  // A file dialog moves the focus to its list while it reads the folder; keys
  // meant for the file name go to the file name.
  if (auto* files = qobject_cast<QFileDialog*>(window)) {
    if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) return name;
  }
  QWidget* focus = QApplication::focusWidget();
  if (focus != nullptr && focus->window() == window) return focus;
  focus = window->focusWidget();
  return focus != nullptr ? focus : window;
}

}  // namespace

Autopilot::Autopilot(QStringList steps, QDialog* window, std::function<bool()> ready)
    : steps_(std::move(steps)), window_(window), ready_(std::move(ready)) {
  timer_.setInterval(kStepMillis);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
}

bool Autopilot::StepsFromEnvironment(QStringList* steps) {
  const QString path = qEnvironmentVariable("QUILLMARK_DIALOG_AUTOPILOT");
  if (path.isEmpty()) return false;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "quillmark-dialog: cannot read the autopilot file %s\n", qPrintable(path));
    std::exit(3);
  }
  for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
    const QString step = line.trimmed();
    if (!step.isEmpty() && !step.startsWith(QLatin1Char('#'))) steps->append(step);
  }
  return true;
}

void Autopilot::Start() { timer_.start(); }

void Autopilot::Tick() {
  if (pause_ > 0) {
    pause_ -= kStepMillis;
    return;
  }
  if (next_ >= steps_.size()) {
    timer_.stop();
    return;
  }
  if (!window_->isVisible() || (ready_ && !ready_())) return;
  const QString step = steps_[next_++];
  QString error;
  if (!Perform(step, &error)) {
    std::fprintf(stderr, "quillmark-dialog: autopilot step \"%s\": %s\n", qPrintable(step),
                 qPrintable(error));
    std::fflush(stderr);
    std::_Exit(3);
  }
}

bool Autopilot::Perform(const QString& step, QString* error) {
  const qsizetype space = step.indexOf(QLatin1Char(' '));
  const QString word = step.left(space < 0 ? step.size() : space);
  const QString rest = space < 0 ? QString() : step.mid(space + 1).trimmed();
  auto* chooser = dynamic_cast<ChooserDialog*>(window_);
  const bool needs_chooser = word == QLatin1String("select") || word == QLatin1String("pick") ||
                             word == QLatin1String("double") || word == QLatin1String("header") ||
                             word == QLatin1String("expect-rows");
  if (needs_chooser && chooser == nullptr) {
    *error = QStringLiteral("this is no chooser");
    return false;
  }
  if (word == QLatin1String("select") || word == QLatin1String("double") ||
      word == QLatin1String("pick")) {
    QTreeWidget* list = chooser->list();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = list->topLevelItem(i);
      const QString key =
          word == QLatin1String("pick") ? item->text(0) : item->data(0, Qt::UserRole).toString();
      if (key != rest) continue;
      list->scrollToItem(item);
      const QPoint at = list->visualItemRect(item).center();
      // A double click is a click and then the second press.
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
      if (word == QLatin1String("double")) {
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
      }
      return true;
    }
    *error = QStringLiteral("no such row");
    return false;
  }
  if (word == QLatin1String("header")) {
    QHeaderView* header = chooser->list()->header();
    const int c = rest.toInt();
    if (c < 0 || c >= header->count()) {
      *error = QStringLiteral("no such column");
      return false;
    }
    const QPoint at(header->sectionViewportPosition(c) + header->sectionSize(c) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    return true;
  }
  if (word == QLatin1String("expect-rows")) {
    QStringList shown;
    for (int item : chooser->DisplayedItems()) shown.append(QString::number(item));
    if (shown.join(QLatin1Char(' ')) != rest.simplified()) {
      *error = QStringLiteral("the rows are ") + shown.join(QLatin1Char(' '));
      return false;
    }
    return true;
  }
  if (word == QLatin1String("expect-ok")) {
    // The chooser's OK, or the confirmation's Sign.
    QPushButton* ok = chooser != nullptr ? chooser->ok_button()
                                         : window_->findChild<QPushButton*>(QStringLiteral("sign"));
    if (ok == nullptr) {
      *error = QStringLiteral("no OK or Sign button");
      return false;
    }
    if (ok->isEnabled() != (rest == QLatin1String("on"))) {
      *error = QStringLiteral("OK is ") +
               (ok->isEnabled() ? QStringLiteral("on") : QStringLiteral("off"));
      return false;
    }
    return true;
  }
  if (word == QLatin1String("scroll-end")) {
    // Reads the review to its end as a person would: Ctrl+End in the text.
    auto* text = window_->findChild<QPlainTextEdit*>(QStringLiteral("review_text"));
    if (text == nullptr) return true;  // a review without text has nothing to read
    text->setFocus();
    QTest::keyClick(text, Qt::Key_End, Qt::ControlModifier);
    return true;
  }
  if (word == QLatin1String("click")) {
    auto* button = window_->findChild<QPushButton*>(rest);
    if (button == nullptr || !button->isVisible()) {
      *error = QStringLiteral("no such button");
      return false;
    }
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
  }
  if (word == QLatin1String("key")) {
    const QKeySequence seq = QKeySequence::fromString(rest);
    if (seq.isEmpty()) {
      *error = QStringLiteral("unknown key");
      return false;
    }
    QTest::keyClick(FocusTarget(window_), seq[0].key(), seq[0].keyboardModifiers());
    return true;
  }
  if (word == QLatin1String("type")) {
    QTest::keyClicks(FocusTarget(window_), rest);
    return true;
  }
  if (word == QLatin1String("shot")) {
    if (!window_->grab().save(rest, "PNG")) {
      *error = QStringLiteral("cannot write the picture");
      return false;
    }
    return true;
  }
  if (word == QLatin1String("wait")) {
    pause_ = rest.toInt();
    return true;
  }
  *error = QStringLiteral("unknown step");
  return false;
}

}  // namespace quillmark::dialog
