#include "prompts.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStyle>
#include <QVBoxLayout>
#include <cstring>

#include "ui_text.h"

namespace quillmark::dialog {

namespace gui = platform::ui::gui;

namespace {

gui::Answer Simple(gui::Answer::Action action) {
  gui::Answer a;
  a.action = action;
  return a;
}

// A button row without a default button: Enter presses the button that has
// the focus and nothing else (a button box would make its first accepting
// button the default, so that a stray Enter allows).
QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  for (QPushButton* b : buttons) {
    b->setAutoDefault(true);
    b->setDefault(false);
    row->addWidget(b);
  }
  return row;
}

QPushButton* Button(const QString& text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  return b;
}

// Width for about |chars| average characters of the dialog's font.
int CharsWide(const QWidget* w, int chars) {
  return QFontMetrics(w->font()).averageCharWidth() * chars;
}

}  // namespace

AnsweringDialog::AnsweringDialog(AnswerSink sink, QWidget* parent)
    : QDialog(parent), sink_(std::move(sink)) {}

void AnsweringDialog::Finish(const gui::Answer& answer) {
  if (answered_) return;
  answered_ = true;
  sink_(answer);
  QDialog::accept();
}

void AnsweringDialog::reject() {
  if (!answered_) {
    answered_ = true;
    sink_(Simple(gui::Answer::Action::kCancel));
  }
  QDialog::reject();
}

MessageDialog::MessageDialog(const platform::ui::MessageRequest& request, const QString& origin,
                             AnswerSink sink, QWidget* parent)
    : AnsweringDialog(std::move(sink), parent) {
  setObjectName(QStringLiteral("message"));
  setWindowTitle(TitleFor(ToQ(request.caption), origin));
  auto* layout = new QVBoxLayout(this);
  if (QLabel* line = OriginLine(origin, this)) layout->addWidget(line);
  QLabel* text = PlainLabel(ToQ(request.text), this);
  text->setObjectName(QStringLiteral("text"));
  text->setMinimumWidth(CharsWide(this, 56));
  layout->addWidget(text);
  auto* box = new QDialogButtonBox(this);
  QPushButton* ok = box->addButton(QDialogButtonBox::Ok);
  ok->setObjectName(QStringLiteral("ok"));
  ok->setDefault(true);
  layout->addWidget(box);
  connect(ok, &QPushButton::clicked, this, [this] { Finish(Simple(gui::Answer::Action::kOk)); });
}

void MessageDialog::reject() { Finish(Simple(gui::Answer::Action::kOk)); }

ConsentDialog::ConsentDialog(const QString& origin, AnswerSink sink, QWidget* parent)
    : AnsweringDialog(std::move(sink), parent) {
  setObjectName(QStringLiteral("consent"));
  setWindowTitle(TitleFor(tr("Allow this page to sign?"), origin));
  auto* layout = new QVBoxLayout(this);
  if (QLabel* line = OriginLine(origin, this)) layout->addWidget(line);
  QLabel* text =
      PlainLabel(tr("This page wants to use the Quillmark signing control: it may ask for your "
                    "certificates and ask you to sign with your private keys. Allow it only if you "
                    "trust this site."),
                 this);
  text->setMinimumWidth(CharsWide(this, 64));
  layout->addWidget(text);
  QPushButton* once = Button(tr("Allow once"), "allow", this);
  QPushButton* always = Button(tr("Always allow"), "always", this);
  QPushButton* deny = Button(tr("Deny"), "deny", this);
  layout->addLayout(ButtonRow({once, always, deny}));
  connect(once, &QPushButton::clicked, this,
          [this] { Finish(Simple(gui::Answer::Action::kAllow)); });
  connect(always, &QPushButton::clicked, this,
          [this] { Finish(Simple(gui::Answer::Action::kAlways)); });
  connect(deny, &QPushButton::clicked, this,
          [this] { Finish(Simple(gui::Answer::Action::kDeny)); });
  deny->setFocus();
}

ConfirmDialog::ConfirmDialog(const platform::ui::KeyUseRequest& request, AnswerSink sink,
                             QWidget* parent)
    : AnsweringDialog(std::move(sink), parent) {
  const QString origin = ToQ(request.origin);
  const QString verb =
      OneLine(ToQ(std::u16string(platform::ui::KeyUseActionName(request.review.action))));
  setObjectName(QStringLiteral("confirm"));
  setWindowTitle(TitleFor(tr("Confirm the use of your private key"), origin));
  auto* layout = new QVBoxLayout(this);
  if (QLabel* line = OriginLine(origin, this)) layout->addWidget(line);
  layout->addWidget(PlainLabel(verb.isEmpty()
                                   ? tr("The page asks to use your private key.")
                                   : tr("The page asks to %1 with your private key:").arg(verb),
                               this));
  if (!request.review.text.empty()) {
    auto* text = new QPlainTextEdit(this);
    text->setObjectName(QStringLiteral("text"));
    text->setReadOnly(true);
    text->setTabChangesFocus(true);
    text->setPlainText(ToQ(request.review.text));
    text->setMinimumSize(CharsWide(this, 56), QFontMetrics(font()).lineSpacing() * 6);
    layout->addWidget(text, 1);
  }
  if (!request.review.files.empty()) {
    layout->addWidget(PlainLabel(tr("Files:"), this));
    auto* files = new QListWidget(this);
    files->setObjectName(QStringLiteral("files"));
    for (const platform::ui::ReviewFile& f : request.review.files) {
      files->addItem(OneLine(ToQ(f.name)));
    }
    files->setMaximumHeight(QFontMetrics(font()).lineSpacing() * 6 + 8);
    layout->addWidget(files);
  }
  QPushButton* sign = Button(tr("Sign"), "sign", this);
  QPushButton* cancel = Button(tr("Cancel"), "cancel", this);
  layout->addLayout(ButtonRow({sign, cancel}));
  connect(sign, &QPushButton::clicked, this,
          [this] { Finish(Simple(gui::Answer::Action::kConfirm)); });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
  cancel->setFocus();
}

PinDialog::PinDialog(const platform::ui::PinRequest& request, const QString& origin,
                     AnswerSink sink, QWidget* parent)
    : AnsweringDialog(std::move(sink), parent) {
  const QString label = OneLine(ToQ(request.label));
  setObjectName(QStringLiteral("pin"));
  setWindowTitle(TitleFor(request.passphrase ? tr("Key passphrase") : tr("Token PIN"), origin));
  auto* layout = new QVBoxLayout(this);
  if (QLabel* line = OriginLine(origin, this)) layout->addWidget(line);
  QLabel* prompt = PlainLabel(request.passphrase
                                  ? tr("Enter the passphrase of the key \u201c%1\u201d:").arg(label)
                                  : tr("Enter the PIN of the token \u201c%1\u201d:").arg(label),
                              this);
  prompt->setObjectName(QStringLiteral("prompt"));
  layout->addWidget(prompt);
  entry_ = new QLineEdit(this);
  entry_->setObjectName(QStringLiteral("entry"));
  entry_->setEchoMode(QLineEdit::Password);
  entry_->setMinimumWidth(CharsWide(this, 56));
  prompt->setBuddy(entry_);
  layout->addWidget(entry_);
  tries_ = PlainLabel(QString(), this);
  tries_->setObjectName(QStringLiteral("tries"));
  if (request.tries_left >= 0) {
    tries_->setText(request.tries_left == 1
                        ? tr("1 try left before the PIN locks.")
                        : tr("%1 tries left before the PIN locks.").arg(request.tries_left));
    if (request.tries_left <= 1) {
      QFont bold = tries_->font();
      bold.setBold(true);
      tries_->setFont(bold);
    }
  } else {
    tries_->hide();
  }
  layout->addWidget(tries_);
  auto* box = new QDialogButtonBox(this);
  ok_ = box->addButton(QDialogButtonBox::Ok);
  ok_->setObjectName(QStringLiteral("ok"));
  ok_->setDefault(true);
  ok_->setEnabled(false);
  QPushButton* cancel = box->addButton(QDialogButtonBox::Cancel);
  cancel->setObjectName(QStringLiteral("cancel"));
  layout->addWidget(box);
  connect(entry_, &QLineEdit::textChanged, this,
          [this](const QString& t) { ok_->setEnabled(!t.isEmpty()); });
  connect(ok_, &QPushButton::clicked, this, [this] { Enter(); });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
  entry_->setFocus();
}

void PinDialog::Enter() {
  if (entry_->text().isEmpty()) return;
  QString text = entry_->text();
  entry_->clear();  // |text| now holds the only copy, so it can be wiped in place
  QByteArray utf8 = text.toUtf8();
  text.fill(QChar(0));
  gui::Answer a;
  a.action = gui::Answer::Action::kPin;
  a.pin.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  utf8.fill(0);
  Finish(a);
  std::memset(a.pin.data(), 0, a.pin.size());
}

}  // namespace quillmark::dialog
