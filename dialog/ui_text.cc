#include "ui_text.h"

namespace quillmark::dialog {

namespace {

// An origin as shown: one line, and no direction overrides that could make
// one name read as another.
QString OriginText(const QString& origin) {
  QString out = OneLine(origin);
  for (QChar& c : out) {
    if (c.category() == QChar::Other_Format) c = QLatin1Char(' ');
  }
  return out;
}

}  // namespace

QString ToQ(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string FromQ(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<std::size_t>(text.size()));
}

QString TitleFor(const QString& title, const QString& origin) {
  if (origin.isEmpty()) return OneLine(title);
  return OneLine(title) + QStringLiteral(" \u2014 ") + OriginText(origin);
}

QLabel* PlainLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setText(text);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

QLabel* OriginLine(const QString& origin, QWidget* parent) {
  if (origin.isEmpty()) return nullptr;
  QLabel* label =
      PlainLabel(QObject::tr("Requested by the page at\n%1").arg(OriginText(origin)), parent);
  label->setObjectName(QStringLiteral("origin"));
  QFont bold = label->font();
  bold.setBold(true);
  label->setFont(bold);
  return label;
}

QString OneLine(const QString& text) {
  QString out = text;
  for (QChar& c : out) {
    if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
        c == QChar::ParagraphSeparator) {
      c = QLatin1Char(' ');
    }
  }
  return out;
}

}  // namespace quillmark::dialog
