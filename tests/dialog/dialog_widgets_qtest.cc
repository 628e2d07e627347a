// The windows of quillmark-dialog under Qt's offscreen platform, driven with
// QTest's mouse and key events: what each answers, when it stays open, and
// what it shows (including the certificate viewer over the demonstration
// PKI).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

#include "cert_view_texts.h"
#include "cert_viewer.h"
#include "chooser_dialog.h"
#include "demo/demo_pki.h"
#include "file_dialogs.h"
#include "platform/os/home.h"
#include "platform/store/cert_store.h"
#include "prompts.h"
#include "ui_text.h"

namespace quillmark::dialog {

namespace gui = platform::ui::gui;
using Action = gui::Answer::Action;

namespace {

platform::ui::ChooserRequest Rows(std::vector<int> order) {
  const char16_t* subjects[] = {u"张三", u"شركة البنك", u"Li Si, a name long enough to be cut"};
  platform::ui::ChooserRequest r;
  r.title = u"请选择您要用的证书";
  r.prompt = u"请在列表中选择证书";
  r.columns = {u"主题", u"颁发者", u"截止日期"};
  r.buttons = {u"确定", u"取消", u"查看"};
  r.notice = u"Quillmark\r\nDemo Bank\r\n2026";
  for (int i : order) r.rows.push_back({subjects[i], u"Demo CA", u"2030-01-01", i});
  return r;
}

// Records every answer a window gives.
struct Answers {
  std::vector<gui::Answer> got;
  AnswerSink sink() {
    return [this](const gui::Answer& a) { got.push_back(a); };
  }
};

QPoint RowCenter(QTreeWidget* list, int row) {
  return list->visualItemRect(list->topLevelItem(row)).center();
}

void ClickHeader(QTreeWidget* list, int column) {
  QHeaderView* h = list->header();
  QTest::mouseClick(
      h->viewport(), Qt::LeftButton, {},
      QPoint(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2));
}

platform::CertContextPtr DemoCert(const std::vector<demo::DemoItem>& items,
                                  std::u16string_view name) {
  platform::CertStore store =
      platform::CertOpenStore(platform::kCertStoreProvSystemW, platform::kDefaultEncoding,
                              platform::kCertSystemStoreCurrentUser, u"MY");
  for (const demo::DemoItem& item : items) {
    if (item.store != "MY" || item.name.find(name) == std::u16string::npos) continue;
    for (platform::CertContextPtr c = platform::CertEnumCertificatesInStore(store, nullptr); c;
         c = platform::CertEnumCertificatesInStore(store, c)) {
      if (c->thumbprint() == item.thumbprint) return c;
    }
  }
  return nullptr;
}

// A confirmation of signing |text| for https://bank.example with Li Si's key.
platform::ui::KeyUseRequest Confirm(const std::u16string& text) {
  platform::ui::KeyUseRequest r;
  r.origin = u"https://bank.example";
  r.review.action = platform::ui::KeyUseAction::kSign;
  r.review.text = text;
  r.review.text_units = text.size();
  r.review.byte_count = text.size();
  r.review.owner = {u"CN=Li Si, O=Demo Bank, C=CN", u"CN=Demo Bank Customer CA", u"0A1B 2C",
                    u"2030-01-01 00:00:00GMT"};
  return r;
}

// The text of the label |name| of |w|.
QString Label(const QWidget& w, const char* name) {
  auto* label = w.findChild<QLabel*>(QLatin1String(name));
  return label != nullptr ? label->text() : QStringLiteral("<no label %1>").arg(name);
}

}  // namespace

class DialogWidgetsTest : public QObject {
  Q_OBJECT

 private slots:
  // OK follows the selection; a click selects, OK answers with the row's
  // item data whatever its place on screen.
  void ChooserOkNeedsASelection() {
    Answers answers;
    ChooserDialog d(Rows({2, 0, 1}), QString(), answers.sink());
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QCOMPARE(d.DisplayedItems(), (QList<int>{2, 0, 1}));
    QVERIFY(!d.ok_button()->isEnabled());
    QTest::mouseClick(d.ok_button(), Qt::LeftButton);
    QVERIFY(answers.got.empty());
    QTest::mouseClick(d.list()->viewport(), Qt::LeftButton, {}, RowCenter(d.list(), 1));
    QCOMPARE(d.SelectedItem(), 0);
    QVERIFY(d.ok_button()->isEnabled());
    QTest::mouseClick(d.ok_button(), Qt::LeftButton);
    QCOMPARE(answers.got.size(), size_t{1});
    QCOMPARE(answers.got[0].action, Action::kChoose);
    QCOMPARE(answers.got[0].item, 0);
    QVERIFY(!d.isVisible());
  }

  void ChooserDoubleClickViewsAndEscCancels() {
    Answers answers;
    {
      ChooserDialog d(Rows({0, 1, 2}), QString(), answers.sink());
      d.show();
      QVERIFY(QTest::qWaitForWindowExposed(&d));
      QTest::mouseClick(d.list()->viewport(), Qt::LeftButton, {}, RowCenter(d.list(), 2));
      QTest::mouseDClick(d.list()->viewport(), Qt::LeftButton, {}, RowCenter(d.list(), 2));
      QVERIFY2(d.isVisible(), "a double click views the certificate; the window stays");
    }
    {
      ChooserDialog d(Rows({0, 1, 2}), QString(), answers.sink());
      d.show();
      QVERIFY(QTest::qWaitForWindowExposed(&d));
      QTest::keyClick(d.list(), Qt::Key_Down);
      QTest::keyClick(d.list(), Qt::Key_Escape);
      QVERIFY(!d.isVisible());
      d.reject();  // the close box after Esc answers nothing more
    }
    QCOMPARE(answers.got.size(), size_t{2});
    QCOMPARE(answers.got[0].action, Action::kView);
    QCOMPARE(answers.got[0].item, 2);
    QCOMPARE(answers.got[1].action, Action::kCancel);
  }

  // View and header clicks ask the caller and wait; the window stays open,
  // ignores input until the updated request comes, then shows the caller's
  // order (ascending and descending alike) and keeps the selection.
  void ChooserViewAndSortWaitForTheCaller() {
    Answers answers;
    ChooserDialog d(Rows({0, 1, 2}), QStringLiteral("https://bank.example"), answers.sink());
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QTest::mouseClick(d.view_button(), Qt::LeftButton);  // nothing selected
    QCOMPARE(answers.got.back().action, Action::kView);
    QCOMPARE(answers.got.back().item, -1);
    QVERIFY(d.waiting());
    QTest::mouseClick(d.view_button(), Qt::LeftButton);
    QTest::keyClick(d.list(), Qt::Key_Escape);
    QCOMPARE(answers.got.size(), size_t{1});
    QVERIFY(d.isVisible());
    d.Show(Rows({0, 1, 2}));

    QTest::mouseClick(d.list()->viewport(), Qt::LeftButton, {}, RowCenter(d.list(), 1));
    ClickHeader(d.list(), 2);
    QCOMPARE(answers.got.back().action, Action::kSort);
    QCOMPARE(answers.got.back().column, 2);
    d.Show(Rows({2, 1, 0}));  // descending, as the caller sorted
    QCOMPARE(d.DisplayedItems(), (QList<int>{2, 1, 0}));
    QCOMPARE(d.SelectedItem(), 1);
    ClickHeader(d.list(), 2);
    d.Show(Rows({0, 1, 2}));  // and ascending
    QCOMPARE(d.DisplayedItems(), (QList<int>{0, 1, 2}));

    QTest::mouseClick(d.view_button(), Qt::LeftButton);
    QCOMPARE(answers.got.back().action, Action::kView);
    QCOMPARE(answers.got.back().item, 1);
    auto request = Rows({0, 1, 2});
    request.selected = 2;  // the caller's selection wins
    d.Show(request);
    QCOMPARE(d.SelectedItem(), 2);
    QVERIFY(d.isVisible());
    QCOMPARE(answers.got.size(), size_t{4});
  }

  // Page texts are shown as given (never as markup), the origin in the title
  // and a line of its own, a long subject elided with the whole in a tooltip.
  void ChooserShowsThePagesTextsAndOrigin() {
    Answers answers;
    auto request = Rows({0, 1, 2});
    request.prompt = u"<b>bold?</b>";
    ChooserDialog d(request, QStringLiteral("https://bank.example"), answers.sink());
    d.resize(420, 300);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QVERIFY(d.windowTitle().contains(QStringLiteral("https://bank.example")));
    auto* origin = d.findChild<QLabel*>(QStringLiteral("origin"));
    QVERIFY(origin != nullptr);
    QVERIFY(origin->text().contains(QStringLiteral("https://bank.example")));
    bool plain_prompt = false;
    for (QLabel* l : d.findChildren<QLabel*>()) {
      if (l->text() == QStringLiteral("<b>bold?</b>"))
        plain_prompt = l->textFormat() == Qt::PlainText;
    }
    QVERIFY(plain_prompt);
    QTreeWidgetItem* long_row = d.list()->topLevelItem(2);
    QCOMPARE(long_row->toolTip(0), long_row->text(0));
    QVERIFY(d.list()->fontMetrics().horizontalAdvance(long_row->text(0)) >
            d.list()->columnWidth(0) / 2);
    QCOMPARE(d.list()->headerItem()->text(2), QStringLiteral("截止日期"));
    QCOMPARE(d.findChild<QPlainTextEdit*>(QStringLiteral("notice"))->toPlainText(),
             QStringLiteral("Quillmark\nDemo Bank\n2026"));
  }

  void ConsentChoices() {
    const struct {
      const char* button;
      Action action;
    } cases[] = {{"allow", Action::kAllow}, {"always", Action::kAlways}, {"deny", Action::kDeny}};
    for (const auto& c : cases) {
      Answers answers;
      ConsentDialog d(QStringLiteral("https://bank.example"), answers.sink());
      d.show();
      QVERIFY(QTest::qWaitForWindowExposed(&d));
      QTest::mouseClick(d.findChild<QPushButton*>(QLatin1String(c.button)), Qt::LeftButton);
      QCOMPARE(answers.got.size(), size_t{1});
      QCOMPARE(answers.got[0].action, c.action);
    }
    Answers answers;
    ConsentDialog d(QStringLiteral("https://bank.example"), answers.sink());
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QVERIFY(d.windowTitle().contains(QStringLiteral("https://bank.example")));
    QCOMPARE(d.focusWidget()->objectName(), QStringLiteral("deny"));
    QTest::keyClick(&d, Qt::Key_Escape);
    QCOMPARE(answers.got.size(), size_t{1});
    QCOMPARE(answers.got[0].action, Action::kCancel);

    // A stray Enter never allows: it presses the focused button, Deny.
    ConsentDialog entered(QStringLiteral("https://bank.example"), answers.sink());
    entered.show();
    QVERIFY(QTest::qWaitForWindowExposed(&entered));
    QTest::keyClick(entered.focusWidget(), Qt::Key_Return);
    QCOMPARE(answers.got.size(), size_t{2});
    QCOMPARE(answers.got[1].action, Action::kDeny);
  }

  // The confirmation draws the review, in our own words: the owner, the
  // action, the length, the files of the review and nothing the page said.
  void ConfirmShowsTheReviewInOurWords() {
    Answers answers;
    platform::ui::KeyUseRequest request = Confirm(u"pay 100 to Li Si");
    request.review.files = {{u"a.pdf", 1024}, {u"b.txt", 1}};
    ConfirmDialog d(request, answers.sink());
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QCOMPARE(d.review()->text()->toPlainText(), QStringLiteral("pay 100 to Li Si"));
    QVERIFY(d.review()->text()->isReadOnly());
    QCOMPARE(Label(d, "owner_subject"), QStringLiteral("CN=Li Si, O=Demo Bank, C=CN"));
    QCOMPARE(Label(d, "owner_issuer"), QStringLiteral("CN=Demo Bank Customer CA"));
    QCOMPARE(Label(d, "owner_serial"), QStringLiteral("0A1B 2C"));
    QCOMPARE(Label(d, "owner_not_after"), QStringLiteral("2030-01-01 00:00:00GMT"));
    QVERIFY(Label(d, "length").contains(QStringLiteral("16 characters")));
    QVERIFY(Label(d, "origin").contains(QStringLiteral("https://bank.example")));
    QStringList files;
    for (int i = 0; i < d.review()->files()->count(); ++i) {
      files << d.review()->files()->item(i)->text();
    }
    QCOMPARE(files,
             (QStringList{QStringLiteral("a.pdf (1024 bytes)"), QStringLiteral("b.txt (1 byte)")}));
    // Nothing anywhere in the window comes from the page's own words.
    for (QLabel* l : d.findChildren<QLabel*>()) {
      QVERIFY(!l->text().contains(QStringLiteral("PAY 10")));
      QVERIFY(!l->text().contains(QStringLiteral("contract.pdf")));
    }
    QVERIFY(d.review()->warning() == nullptr);
    QTRY_VERIFY(d.sign_button()->isEnabled());         // the text fits
    QTest::keyClick(d.focusWidget(), Qt::Key_Return);  // the focus is on Cancel
    QCOMPARE(answers.got.size(), size_t{1});
    QCOMPARE(answers.got[0].action, Action::kCancel);

    // A text that merely looks like a form lists no files.
    platform::ui::KeyUseRequest fake = Confirm(u"Files: contract.pdf\n00000001 00000002");
    ConfirmDialog plain(fake, answers.sink());
    QVERIFY(plain.review()->files() == nullptr);
    QVERIFY(plain.findChild<QListWidget*>() == nullptr);
  }

  // A long text: Sign stays off, and clicking it does nothing, until the end
  // of the text has been on screen.
  void ConfirmSignWaitsForTheEndOfTheText() {
    std::u16string text = u"Pay 10 CNY to Alice";
    text += std::u16string(2100, u' ');
    for (int i = 0; i < 80; ++i) text += u"\nline";
    text += u"\nAND pay 99999 CNY to Mallory";
    Answers answers;
    ConfirmDialog d(Confirm(text), answers.sink());
    d.resize(480, 360);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QTest::qWait(50);
    QCOMPARE(d.review()->text()->toPlainText(), ToQ(text));
    QVERIFY(!d.sign_button()->isEnabled());
    QVERIFY(!d.review()->end_shown());
    QVERIFY(d.findChild<QLabel*>(QStringLiteral("hint"))->isVisible());
    QTest::mouseClick(d.sign_button(), Qt::LeftButton);
    QVERIFY(answers.got.empty());
    QCOMPARE(d.focusWidget()->objectName(), QStringLiteral("cancel"));
    // Half way is not the end.
    QScrollBar* bar = d.review()->text()->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    QVERIFY(!d.sign_button()->isEnabled());
    QTest::keyClick(d.review()->text(), Qt::Key_End, Qt::ControlModifier);
    QTRY_VERIFY(d.sign_button()->isEnabled());
    QVERIFY(!d.findChild<QLabel*>(QStringLiteral("hint"))->isVisible());
    // Scrolling back up keeps it on: the end has been shown.
    bar->setValue(0);
    QVERIFY(d.sign_button()->isEnabled());
    QTest::mouseClick(d.sign_button(), Qt::LeftButton);
    QCOMPARE(answers.got.size(), size_t{1});
    QCOMPARE(answers.got[0].action, Action::kConfirm);
  }

  // The library's escapes stand out, with a warning line above the text.
  void ConfirmMarksHiddenCharacters() {
    const std::u16string text =
        u"Pay ⟦U+202E⟧00.001 CNY⟦U+200B⟧ to ⟦U+2066⟧Li Si"
        u"⟦U+0000⟧⟦U+D800⟧";
    platform::ui::KeyUseRequest request = Confirm(text);
    request.review.hidden_count = 5;
    Answers answers;
    ConfirmDialog d(request, answers.sink());
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QCOMPARE(d.review()->text()->toPlainText(), ToQ(text));
    QVERIFY(d.review()->warning() != nullptr && d.review()->warning()->isVisible());
    QVERIFY(d.review()->warning()->text().contains(QStringLiteral("5 invisible")));
    const QList<QTextEdit::ExtraSelection> marks = d.review()->text()->extraSelections();
    QStringList marked;
    for (const QTextEdit::ExtraSelection& m : marks) marked << m.cursor.selectedText();
    QCOMPARE(marked, (QStringList{QStringLiteral("⟦U+202E⟧"), QStringLiteral("⟦U+200B⟧"),
                                  QStringLiteral("⟦U+2066⟧"), QStringLiteral("⟦U+0000⟧"),
                                  QStringLiteral("⟦U+D800⟧")}));
    for (const QTextEdit::ExtraSelection& m : marks) {
      QVERIFY(m.format.background().color() != d.review()->text()->palette().base().color());
    }
  }

  // For a web page the chooser frames the page's texts as its words and
  // names the origin outside the frame; its own title and buttons are ours.
  void WebChooserFramesThePagesWords() {
    Answers answers;
    auto request = Rows({0, 1, 2});
    request.title = u"You are signing: PAY 10 CNY to Alice";
    request.buttons = {u"Sign", u"取消", u"查看"};
    ChooserDialog d(request, QStringLiteral("https://bank.example"), answers.sink());
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QGroupBox* frame = d.page_frame();
    QVERIFY(frame != nullptr && frame->isVisible());
    QVERIFY(!frame->title().isEmpty());
    QVERIFY(!d.windowTitle().contains(QStringLiteral("PAY 10")));
    auto inside = [frame](QWidget* w) { return w != nullptr && frame->isAncestorOf(w); };
    QVERIFY(inside(d.findChild<QLabel*>(QStringLiteral("page_title"))));
    QCOMPARE(d.findChild<QLabel*>(QStringLiteral("page_title"))->text(),
             QStringLiteral("You are signing: PAY 10 CNY to Alice"));
    QVERIFY(inside(d.findChild<QLabel*>(QStringLiteral("prompt"))));
    QVERIFY(inside(d.findChild<QPlainTextEdit*>(QStringLiteral("notice"))));
    QVERIFY(inside(d.findChild<QLabel*>(QStringLiteral("page_buttons"))));
    QVERIFY(d.findChild<QLabel*>(QStringLiteral("page_buttons"))->text().contains(u"Sign"));
    QLabel* origin = d.findChild<QLabel*>(QStringLiteral("origin"));
    QVERIFY(origin != nullptr && !inside(origin));
    QVERIFY(origin->text().contains(QStringLiteral("https://bank.example")));
    QCOMPARE(d.ok_button()->text(), QStringLiteral("OK"));
    QCOMPARE(d.cancel_button()->text(), QStringLiteral("Cancel"));
    QVERIFY(!inside(d.ok_button()));

    // A local program's chooser is as the texts say, unframed.
    ChooserDialog local(request, QString(), answers.sink());
    QVERIFY(local.page_frame() == nullptr);
    QCOMPARE(local.ok_button()->text(), QStringLiteral("Sign"));
    QVERIFY(local.windowTitle().contains(QStringLiteral("PAY 10")));
  }

  // A chooser that carries the review: OK needs a row and the end shown.
  void ReviewChooserNeedsARowAndTheEnd() {
    Answers answers;
    auto request = Rows({0, 1, 2});
    std::u16string text = u"Pay 10 CNY to Alice";
    for (int i = 0; i < 60; ++i) text += u"\n.";
    platform::ui::KeyUseReview review;
    review.text = text;
    review.text_units = text.size();
    review.byte_count = text.size();
    review.hidden_count = 1;
    request.review = review;
    ChooserDialog d(request, QStringLiteral("https://bank.example"), answers.sink());
    d.resize(640, 420);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QVERIFY(d.review() != nullptr);
    QCOMPARE(d.review()->text()->toPlainText(), ToQ(text));
    QVERIFY(d.review()->warning() != nullptr);
    QVERIFY(d.findChild<QLabel*>(QStringLiteral("length")) != nullptr);
    QTest::mouseClick(d.list()->viewport(), Qt::LeftButton, {}, RowCenter(d.list(), 1));
    QCOMPARE(d.SelectedItem(), 1);
    QTest::qWait(50);
    QVERIFY(!d.ok_button()->isEnabled());
    QTest::keyClick(d.list(), Qt::Key_Return);
    QVERIFY(answers.got.empty());
    QTest::keyClick(d.review()->text(), Qt::Key_End, Qt::ControlModifier);
    QTRY_VERIFY(d.ok_button()->isEnabled());
    d.list()->clearSelection();
    QVERIFY(!d.ok_button()->isEnabled());
    QTest::mouseClick(d.list()->viewport(), Qt::LeftButton, {}, RowCenter(d.list(), 2));
    QVERIFY(d.ok_button()->isEnabled());
    QTest::mouseClick(d.ok_button(), Qt::LeftButton);
    QCOMPARE(answers.got.size(), size_t{1});
    QCOMPARE(answers.got[0].action, Action::kChoose);
    QCOMPARE(answers.got[0].item, 2);
  }

  // A path the page preset is shown, but Enter alone cancels.
  void PresetPathsAreNotTakenOnASingleEnter() {
    QTemporaryDir dir;
    const QString secret = dir.filePath(QStringLiteral("id_rsa"));
    {
      QFile f(secret);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("key");
    }
    QDir::setCurrent(dir.path());
    Answers answers;
    {
      FileDialog d(platform::ui::OpenFileRequest{u"Open", u"*.*", FromQ(secret)},
                   QStringLiteral("https://bank.example"), answers.sink());
      d.show();
      QVERIFY(QTest::qWaitForWindowExposed(&d));
      QTest::qWait(300);  // the folder is read and the list filled
      QVERIFY(d.selectedFiles().contains(secret));
      QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(d.cancel_button()));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
    {
      FileDialog d(platform::ui::SaveFileRequest{u"Save", u"*.*", u"report.txt", u""},
                   QStringLiteral("https://bank.example"), answers.sink());
      d.show();
      QVERIFY(QTest::qWaitForWindowExposed(&d));
      QTest::qWait(300);
      QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(d.cancel_button()));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
    QCOMPARE(answers.got.size(), size_t{2});
    QCOMPARE(answers.got[0].action, Action::kCancel);
    QCOMPARE(answers.got[1].action, Action::kCancel);
  }

  // OK only with something typed; the PIN goes to the answer and nowhere
  // else (the field is emptied); the tries left are told, 1 in the singular.
  void PinEntryAndTriesLeft() {
    Answers answers;
    PinDialog d({u"Demo Token", 2, false}, QString(), answers.sink());
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QCOMPARE(d.entry()->echoMode(), QLineEdit::Password);
    QVERIFY(d.tries_line()->isVisible());
    QCOMPARE(d.tries_line()->text(), QStringLiteral("2 tries left before the PIN locks."));
    auto* ok = d.findChild<QPushButton*>(QStringLiteral("ok"));
    QVERIFY(!ok->isEnabled());
    QTest::keyClicks(d.entry(), QStringLiteral("12"));
    d.entry()->insert(QStringLiteral("α"));  // typed through an input method
    QTest::keyClicks(d.entry(), QStringLiteral("4"));
    QVERIFY(ok->isEnabled());
    QTest::keyClick(d.entry(), Qt::Key_Return);
    QCOMPARE(answers.got.size(), size_t{1});
    QCOMPARE(answers.got[0].action, Action::kPin);
    QCOMPARE(answers.got[0].pin, std::string("12\xCE\xB1"
                                             "4"));
    QVERIFY(d.entry()->text().isEmpty());

    PinDialog last({u"Demo Token", 1, false}, QString(), answers.sink());
    QCOMPARE(last.tries_line()->text(), QStringLiteral("1 try left before the PIN locks."));
    PinDialog passphrase({u"张三's key", -1, true}, QStringLiteral("https://bank.example"),
                         answers.sink());
    passphrase.show();
    QVERIFY(QTest::qWaitForWindowExposed(&passphrase));
    QVERIFY(!passphrase.tries_line()->isVisible());
    QVERIFY(passphrase.findChild<QLabel*>(QStringLiteral("prompt"))
                ->text()
                .contains(QStringLiteral("passphrase of the key \u201c张三's key\u201d")));
    QTest::keyClick(passphrase.entry(), Qt::Key_Escape);
    QCOMPARE(answers.got.back().action, Action::kCancel);
  }

  void MessageAnswersOkEvenOnEsc() {
    Answers answers;
    MessageDialog d({u"No certificate selected.", u""}, QString(), answers.sink());
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QTest::keyClick(&d, Qt::Key_Escape);
    QCOMPARE(answers.got.size(), size_t{1});
    QCOMPARE(answers.got[0].action, Action::kOk);
  }

  void FileDialogsAnswerTheFileOrCancel() {
    QTemporaryDir dir;
    Answers answers;
    {
      FileDialog d(platform::ui::SaveFileRequest{u"Save", u"*.cry", u"report", u"cry"},
                   QStringLiteral("https://bank.example"), answers.sink());
      QVERIFY(d.windowTitle().startsWith(QStringLiteral("Save")));
      QVERIFY(d.windowTitle().contains(QStringLiteral("https://bank.example")));
      d.selectFile(dir.filePath(QStringLiteral("signed.cry")));
      static_cast<QDialog&>(d).accept();  // OK with the typed name
    }
    {
      FileDialog d(platform::ui::OpenFileRequest{u"Open", u"*.*", u""}, QString(), answers.sink());
      d.reject();
    }
    QCOMPARE(answers.got.size(), size_t{2});
    QCOMPARE(answers.got[0].action, Action::kSave);
    QCOMPARE(ToQ(answers.got[0].path), dir.filePath(QStringLiteral("signed.cry")));
    QCOMPARE(answers.got[1].action, Action::kCancel);
    QCOMPARE(NameFilters(QStringLiteral("*.*")), QStringList{QStringLiteral("All files (*)")});
    QCOMPARE(NameFilters(QStringLiteral("*.txt;*.log")),
             (QStringList{QStringLiteral("Files (*.txt *.log)"), QStringLiteral("All files (*)")}));
  }

  // The viewer over the demonstration PKI: an RSA and an SM2 user, their
  // fields and extensions as the library renders them, and each chain up to
  // its root in ROOT.
  void ViewerShowsRsaAndSm2Certificates() {
    QTemporaryDir home;
    platform::SetQuillmarkHome(home.path().toStdString());
    std::vector<demo::DemoItem> items;
    std::string error;
    QVERIFY2(demo::CreateDemoPki(&items, &error), error.c_str());
    const struct {
      const char16_t* name;
      const char* key;
      const char* signature;
      const char* root;
    } cases[] = {{u"张三", "RSA", "sha256RSA", "Demo Bank Root CA"},
                 {u"赵六", "SM2", "SM3withSM2", "Demo Bank SM2 Root CA"}};
    for (const auto& c : cases) {
      platform::CertContextPtr cert = DemoCert(items, c.name);
      QVERIFY(cert != nullptr);
      CertView view;
      QVERIFY2(MakeCertView(cert->der(), &view, &error), error.c_str());
      CertViewer viewer(view);
      viewer.show();
      QVERIFY(QTest::qWaitForWindowExposed(&viewer));
      QVERIFY(viewer.FieldValue(QStringLiteral("Subject")).contains(ToQ(c.name)));
      QVERIFY(viewer.FieldValue(QStringLiteral("Public key")).startsWith(QLatin1String(c.key)));
      QVERIFY(viewer.FieldValue(QStringLiteral("Signature algorithm"))
                  .startsWith(QLatin1String(c.signature)));
      QVERIFY(viewer.FieldValue(QStringLiteral("Valid to")).endsWith(QStringLiteral("GMT")));
      QCOMPARE(viewer.FieldValue(QStringLiteral("Thumbprint (SHA-1)")),
               QString::fromStdString(cert->thumbprint()));
      QVERIFY(viewer.extensions()->topLevelItemCount() > 0);
      bool key_usage = false;
      for (int i = 0; i < viewer.extensions()->topLevelItemCount(); ++i) {
        QTreeWidgetItem* e = viewer.extensions()->topLevelItem(i);
        if (e->text(0).startsWith(QStringLiteral("Key Usage"))) {
          key_usage = e->text(2).contains(QStringLiteral("Digital Signature"));
        }
      }
      QVERIFY(key_usage);
      QCOMPARE(viewer.chain()->topLevelItemCount(), 3);
      QTreeWidgetItem* root = viewer.chain()->topLevelItem(2);
      QVERIFY(root->text(0).contains(QLatin1String(c.root)));
      QCOMPARE(root->text(1), QStringLiteral("ROOT"));
      QCOMPARE(ToQ(view.verdict), QStringLiteral("The certificate chains to a trusted root."));
    }
    const std::string junk = "-----BEGIN CERTIFICATE-----\nnot base64\n";
    CertView bad;
    QVERIFY(!MakeCertView(ByteSpan(reinterpret_cast<const std::uint8_t*>(junk.data()), junk.size()),
                          &bad, &error));
    platform::SetQuillmarkHome("");
  }
};

}  // namespace quillmark::dialog

QTEST_MAIN(quillmark::dialog::DialogWidgetsTest)
#include "dialog_widgets_qtest.moc"
