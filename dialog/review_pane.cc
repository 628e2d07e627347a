#include "review_pane.h"

#include <QEvent>
#include <QFormLayout>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include "ui_text.h"

namespace quillmark::dialog {

namespace {

using platform::ui::KeyUseAction;
using platform::ui::KeyUseReview;

constexpr QChar kEscapeOpen(0x27E6);   // ⟦
constexpr QChar kEscapeClose(0x27E7);  // ⟧

QString SizeText(std::uint64_t bytes) {
  return bytes == 1 ? QObject::tr("1 byte") : QObject::tr("%1 bytes").arg(bytes);
}

QString ActionLine(const KeyUseReview& review) {
  if (review.action == KeyUseAction::kDecrypt) {
    return QObject::tr("The page asks to decrypt a message with your private key.");
  }
  if (!review.files.empty()) {
    return QObject::tr("The page asks to sign this form and its files with your private key.");
  }
  return QObject::tr("The page asks to sign this text with your private key.");
}

QString LengthLine(const KeyUseReview& review) {
  if (review.not_text) {
    return QObject::tr("This is not text: %1, shown as escapes.").arg(SizeText(review.byte_count));
  }
  const QString units = review.text_units == 1
                            ? QObject::tr("1 character")
                            : QObject::tr("%1 characters").arg(review.text_units);
  return QObject::tr("The text is %1 long (%2 signed).").arg(units, SizeText(review.byte_count));
}

QLabel* Bold(QLabel* label) {
  QFont bold = label->font();
  bold.setBold(true);
  label->setFont(bold);
  return label;
}

}  // namespace

QList<QPair<int, int>> EscapeSpans(const QString& text) {
  QList<QPair<int, int>> spans;
  qsizetype from = 0;
  for (;;) {
    const qsizetype open = text.indexOf(kEscapeOpen, from);
    if (open < 0) break;
    const qsizetype close = text.indexOf(kEscapeClose, open + 1);
    if (close < 0) break;
    spans.append({static_cast<int>(open), static_cast<int>(close - open + 1)});
    from = close + 1;
  }
  return spans;
}

ReviewPane::ReviewPane(const KeyUseReview& review, std::function<void()> on_end_shown,
                       QWidget* parent)
    : QWidget(parent), on_end_shown_(std::move(on_end_shown)) {
  setObjectName(QStringLiteral("review"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);

  QLabel* action = Bold(PlainLabel(ActionLine(review), this));
  action->setObjectName(QStringLiteral("action"));
  layout->addWidget(action);

  if (!review.owner.subject.empty()) {
    auto* owner = new QFormLayout;
    const struct {
      QString label;
      const std::u16string& value;
      const char* name;
    } fields[] = {
        {tr("Key of:"), review.owner.subject, "owner_subject"},
        {tr("Issued by:"), review.owner.issuer, "owner_issuer"},
        {tr("Serial number:"), review.owner.serial, "owner_serial"},
        {tr("Valid until:"), review.owner.not_after, "owner_not_after"},
    };
    for (const auto& f : fields) {
      QLabel* value = PlainLabel(OneLine(ToQ(f.value)), this);
      value->setObjectName(QLatin1String(f.name));
      owner->addRow(f.label, value);
    }
    layout->addLayout(owner);
  }

  const bool has_text = !review.text.empty();
  if (review.action == KeyUseAction::kSign || has_text) {
    QLabel* length = PlainLabel(LengthLine(review), this);
    length->setObjectName(QStringLiteral("length"));
    layout->addWidget(length);
  }

  if (review.hidden_count > 0) {
    warning_ = Bold(PlainLabel(
        review.hidden_count == 1
            ? tr("Warning: the text holds 1 invisible or direction-changing character. It is "
                 "shown highlighted as \u27e6U+\u2026\u27e7; what you see elsewhere may differ "
                 "from what is signed.")
            : tr("Warning: the text holds %1 invisible or direction-changing characters. They "
                 "are shown highlighted as \u27e6U+\u2026\u27e7; what you see elsewhere may "
                 "differ from what is signed.")
                  .arg(review.hidden_count),
        this));
    warning_->setObjectName(QStringLiteral("warning"));
    QPalette p = warning_->palette();
    p.setColor(QPalette::WindowText, QColor(0xB0, 0x00, 0x20));
    warning_->setPalette(p);
    layout->addWidget(warning_);
  }

  if (has_text) {
    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("review_text"));
    text_->setAccessibleName(tr("The text to be signed"));
    text_->setReadOnly(true);
    // Read with the keyboard too: arrows, Page Down, Ctrl+End.
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setTabChangesFocus(true);
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text_->setPlainText(ToQ(review.text));
    // The escapes stand out from the page's own characters.
    QList<QTextEdit::ExtraSelection> marks;
    const QString shown = text_->toPlainText();
    for (const auto& [start, length] : EscapeSpans(shown)) {
      QTextEdit::ExtraSelection mark;
      mark.cursor = QTextCursor(text_->document());
      mark.cursor.setPosition(start);
      mark.cursor.setPosition(start + length, QTextCursor::KeepAnchor);
      mark.format.setBackground(QColor(0xFF, 0xD5, 0x4F));
      mark.format.setForeground(QColor(0x80, 0x00, 0x00));
      mark.format.setFontWeight(QFont::Bold);
      marks.append(mark);
    }
    text_->setExtraSelections(marks);
    const int line = QFontMetrics(text_->font()).lineSpacing();
    text_->setMinimumSize(QFontMetrics(font()).averageCharWidth() * 56, line * 6);
    layout->addWidget(text_, 1);
    text_->viewport()->installEventFilter(this);
    QScrollBar* bar = text_->verticalScrollBar();
    // Checked once the scroll has been laid out, after the box's own handler.
    auto later = [this] { QTimer::singleShot(0, this, [this] { CheckEnd(); }); };
    connect(bar, &QScrollBar::valueChanged, this, later);
    connect(bar, &QScrollBar::rangeChanged, this, later);
  }

  if (!review.files.empty()) {
    layout->addWidget(PlainLabel(tr("Files in this form:"), this));
    files_ = new QListWidget(this);
    files_->setObjectName(QStringLiteral("files"));
    files_->setAccessibleName(tr("Files in this form"));
    for (const platform::ui::ReviewFile& f : review.files) {
      files_->addItem(tr("%1 (%2)").arg(OneLine(ToQ(f.name)), SizeText(f.size)));
    }
    files_->setMaximumHeight(QFontMetrics(font()).lineSpacing() * 6 + 8);
    layout->addWidget(files_);
  }

  // Nothing to read through: the end is shown as soon as the pane is.
  if (text_ == nullptr) end_shown_ = true;
}

bool ReviewPane::eventFilter(QObject* watched, QEvent* event) {
  if (text_ != nullptr && watched == text_->viewport() &&
      (event->type() == QEvent::Show || event->type() == QEvent::Resize ||
       event->type() == QEvent::Paint)) {
    // What is on screen is known once the box has laid out and painted it.
    QTimer::singleShot(0, this, [this] { CheckEnd(); });
  }
  return QWidget::eventFilter(watched, event);
}

void ReviewPane::CheckEnd() {
  if (end_shown_ || text_ == nullptr || !text_->viewport()->isVisible()) return;
  // The end of the text is on screen: the box scrolled far enough, or a
  // text that fits.
  QTextCursor end(text_->document());
  end.movePosition(QTextCursor::End);
  const QRect at = text_->cursorRect(end);
  const QScrollBar* bar = text_->verticalScrollBar();
  const bool at_bottom = bar->maximum() > 0 && bar->value() == bar->maximum();
  if (!at_bottom && (at.top() < 0 || at.bottom() > text_->viewport()->height())) return;
  end_shown_ = true;
  if (on_end_shown_) on_end_shown_();
}

}  // namespace quillmark::dialog
