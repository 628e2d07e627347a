// Small helpers every window of quillmark-dialog shares: conversions between
// the protocol's UTF-16 texts and QString, window titles that name the page
// that asked, and labels that show a page's text as plain text (never as
// markup, whatever it holds).
#ifndef QUILLMARK_DIALOG_UI_TEXT_H_
#define QUILLMARK_DIALOG_UI_TEXT_H_

#include <QLabel>
#include <QString>
#include <string>

namespace quillmark::dialog {

QString ToQ(const std::u16string& text);
std::u16string FromQ(const QString& text);

// "title — origin"; |title| alone without an origin.
QString TitleFor(const QString& title, const QString& origin);

// A label showing |text| as plain text, wrapped at word boundaries.
QLabel* PlainLabel(const QString& text, QWidget* parent);

// The lines that name the page that asked ("Requested by the page at", then
// the origin on a line of its own), in bold; null without an origin.
QLabel* OriginLine(const QString& origin, QWidget* parent);

// Line breaks and other control characters of a one-line page text shown as
// spaces, so that a row or title cannot be made to look like several.
QString OneLine(const QString& text);

}  // namespace quillmark::dialog

#endif  // QUILLMARK_DIALOG_UI_TEXT_H_
