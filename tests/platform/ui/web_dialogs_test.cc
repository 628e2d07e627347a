// The dialogs of a web caller: the origin consent, the key-use confirmation
// with its once-per-call rule, the preset path of the Open dialog, and the
// origin on every report; PIN entry, whose answer never reaches a report;
// through the script and terminal hosts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "common/bytes.h"
#include "common/unicode.h"
#include "platform/os/files.h"
#include "platform/ui/dialog_host.h"
#include "platform/ui/script_host.h"
#include "platform/ui/terminal_host.h"
#include "support/test_dirs.h"

namespace quillmark::platform::ui {
namespace {

ChooserRequest OneCandidate() {
  ChooserRequest r;
  r.title = u"Choose";
  r.rows = {{u"Alice", u"Root CA", u"2030-01-01", 0}};
  return r;
}

TEST(KeyUseConfirmationTest, ALocalCallerIsNeverAsked) {
  ScriptDialogHost host("cancel\n");
  host.BeginCall({u"sign", u"pay 100", {}});
  EXPECT_TRUE(host.ConfirmKeyUse());
  EXPECT_TRUE(host.ConfirmKeyUse());
  EXPECT_EQ(host.remaining(), 1u);
  EXPECT_TRUE(host.TakeReports().empty());
}

TEST(KeyUseConfirmationTest, AWebCallerIsAskedOncePerCallWithWhatIsSigned) {
  ScriptDialogHost host("confirm\nconfirm\n");
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall({u"sign", u"pay 100", {u"a.pdf", u"b.pdf"}});
  EXPECT_TRUE(host.ConfirmKeyUse());
  EXPECT_TRUE(host.ConfirmKeyUse()) << "the same call does not ask twice";
  EXPECT_EQ(host.remaining(), 1u);
  std::vector<DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].kind, DialogKind::kConfirm);
  EXPECT_EQ(reports[0].origin, u"https://bank.example");
  EXPECT_EQ(reports[0].action, u"sign");
  EXPECT_EQ(reports[0].text, u"pay 100");
  EXPECT_EQ(reports[0].files, (std::vector<std::u16string>{u"a.pdf", u"b.pdf"}));
  EXPECT_EQ(reports[0].answer, u"confirm");
  // The next call asks again.
  host.BeginCall({u"decrypt", u"", {}});
  EXPECT_TRUE(host.ConfirmKeyUse());
  EXPECT_EQ(host.remaining(), 0u);
}

TEST(KeyUseConfirmationTest, AnythingButConfirmRefusesAndAnExhaustedScriptRefuses) {
  ScriptDialogHost host("cancel\nok\n");
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall({u"sign", u"x", {}});
  EXPECT_FALSE(host.ConfirmKeyUse());
  host.BeginCall({u"sign", u"x", {}});
  EXPECT_FALSE(host.ConfirmKeyUse());
  host.BeginCall({u"sign", u"x", {}});
  EXPECT_FALSE(host.ConfirmKeyUse());
  std::vector<DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].answer, u"cancel");
  EXPECT_FALSE(reports[0].taken_as_cancel);
  EXPECT_EQ(reports[1].answer, u"ok");
  EXPECT_TRUE(reports[1].taken_as_cancel);
  EXPECT_EQ(reports[2].answer, u"cancel");
}

TEST(KeyUseConfirmationTest, AChosenCertificateCountsForTheCallButACancelledChooserDoesNot) {
  ScriptDialogHost host("choose 0\ncancel\ncancel\n");
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall({u"sign", u"x", {}});
  EXPECT_EQ(host.ChooseCertificate(OneCandidate()).action, ChooserAnswer::Action::kChoose);
  EXPECT_TRUE(host.ConfirmKeyUse());
  host.BeginCall({u"sign", u"x", {}});
  EXPECT_EQ(host.ChooseCertificate(OneCandidate()).action, ChooserAnswer::Action::kCancel);
  EXPECT_FALSE(host.ConfirmKeyUse());
  std::vector<DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 3u);
  for (const DialogReport& r : reports) EXPECT_EQ(r.origin, u"https://bank.example");
  EXPECT_EQ(reports[2].kind, DialogKind::kConfirm);
}

TEST(OriginConsentTest, ScriptAnswersAndTheirReports) {
  ScriptDialogHost host("allow\nalways\ndeny\ncancel\nconfirm\n");
  const ConsentRequest request{u"https://bank.example"};
  EXPECT_EQ(host.AskOriginConsent(request), ConsentAnswer::kAllowOnce);
  EXPECT_EQ(host.AskOriginConsent(request), ConsentAnswer::kAlways);
  EXPECT_EQ(host.AskOriginConsent(request), ConsentAnswer::kDeny);
  EXPECT_EQ(host.AskOriginConsent(request), ConsentAnswer::kCancel);
  EXPECT_EQ(host.AskOriginConsent(request), ConsentAnswer::kCancel);  // unfit
  EXPECT_EQ(host.AskOriginConsent(request), ConsentAnswer::kCancel);  // exhausted
  std::vector<DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 6u);
  const char16_t* answers[] = {u"allow", u"always", u"deny", u"cancel", u"confirm", u"cancel"};
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].kind, DialogKind::kConsent);
    EXPECT_EQ(reports[i].origin, u"https://bank.example");
    EXPECT_EQ(reports[i].answer, answers[i]);
  }
  EXPECT_TRUE(reports[4].taken_as_cancel);
}

TEST(OriginConsentTest, NoDialogHostRefusesConsentAndKeyUse) {
  NoDialogHost host;
  EXPECT_EQ(host.AskOriginConsent({u"https://bank.example"}), ConsentAnswer::kCancel);
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall({u"sign", u"x", {}});
  EXPECT_FALSE(host.ConfirmKeyUse());
}

TEST(PresetOpenPathTest, TheScriptAcceptsThePresetPathOnlyWhenThereIsOne) {
  ScriptDialogHost host("open\nopen\nopen /tmp/other\n");
  FileAnswer preset = host.OpenFile({u"Open", u"*.*", u"/tmp/named"});
  EXPECT_EQ(preset.outcome, FileAnswer::Outcome::kOk);
  EXPECT_EQ(preset.path, u"/tmp/named");
  EXPECT_EQ(host.OpenFile({u"Open", u"*.*"}).outcome, FileAnswer::Outcome::kCancel);
  FileAnswer other = host.OpenFile({u"Open", u"*.*", u"/tmp/named"});
  EXPECT_EQ(other.path, u"/tmp/other");
  std::vector<DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].answer, u"open /tmp/named");
  EXPECT_TRUE(reports[1].taken_as_cancel);
  EXPECT_EQ(reports[2].answer, u"open /tmp/other");
}

// A terminal host over two pipes: |typed| is its whole input; Printed()
// gives what it wrote.
class TerminalWebDialogsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    host_.reset();
    if (printed_fd_ >= 0) ::close(printed_fd_);
  }
  TerminalDialogHost& Host(const std::string& typed) {
    int in[2], out[2];
    EXPECT_EQ(::pipe(in), 0);
    EXPECT_EQ(::pipe(out), 0);
    EXPECT_EQ(::write(in[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    ::close(in[1]);
    printed_fd_ = out[0];
    host_ = std::make_unique<TerminalDialogHost>(in[0], out[1], true);
    return *host_;
  }
  std::string Printed() {
    host_.reset();  // closes the host's ends, so the read below ends
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(printed_fd_, buf, sizeof buf)) > 0;) {
      text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
  }

  int printed_fd_ = -1;
  std::unique_ptr<TerminalDialogHost> host_;
  testing::ScratchDir dir_;
};

TEST_F(TerminalWebDialogsTest, ConsentNamesTheOriginAndRetriesAnUnknownWord) {
  TerminalDialogHost& host = Host("maybe\nalways\n");
  EXPECT_EQ(host.AskOriginConsent({u"https://bank.example"}), ConsentAnswer::kAlways);
  std::string printed = Printed();
  EXPECT_NE(printed.find("https://bank.example"), std::string::npos);
  EXPECT_NE(printed.find("? "), std::string::npos);
}

TEST_F(TerminalWebDialogsTest, KeyUseShowsTheTextAndTheFilesAndNeedsAYes) {
  TerminalDialogHost& host = Host("n\n");
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall({u"sign", u"pay 100", {u"invoice.pdf"}});
  EXPECT_FALSE(host.ConfirmKeyUse());
  std::string printed = Printed();
  EXPECT_NE(printed.find("https://bank.example asks to sign"), std::string::npos);
  EXPECT_NE(printed.find("pay 100"), std::string::npos);
  EXPECT_NE(printed.find("invoice.pdf"), std::string::npos);
}

TEST_F(TerminalWebDialogsTest, AnEmptyLineTakesThePresetOpenPath) {
  TerminalDialogHost& host = Host("\n");
  host.SetCallerOrigin(u"https://bank.example");
  const std::string named = dir_.File("named.txt");
  ASSERT_TRUE(WriteFileAtomically(named, AsBytes("x")));
  const std::u16string preset = Utf8ToUtf16Lossy(named);
  FileAnswer a = host.OpenFile({u"Open", u"*.*", preset});
  EXPECT_EQ(a.outcome, FileAnswer::Outcome::kOk);
  EXPECT_EQ(a.path, preset);
  EXPECT_NE(Printed().find("https://bank.example asks to open a file"), std::string::npos);
}

TEST_F(TerminalWebDialogsTest, EveryOtherDialogNamesTheOriginToo) {
  TerminalDialogHost& host = Host("c\n-\n\n");
  host.SetCallerOrigin(u"https://bank.example");
  EXPECT_EQ(host.ChooseCertificate(OneCandidate()).action, ChooserAnswer::Action::kCancel);
  EXPECT_EQ(host.SaveFile({u"Save", u"*.*", u"a.txt", u""}).outcome, FileAnswer::Outcome::kCancel);
  host.MessageBox({u"Done", u"Bank"});
  std::string printed = Printed();
  EXPECT_NE(printed.find("https://bank.example asks to choose a certificate"), std::string::npos);
  EXPECT_NE(printed.find("https://bank.example asks to save a file"), std::string::npos);
  EXPECT_NE(printed.find("https://bank.example says:"), std::string::npos);
}

TEST_F(TerminalWebDialogsTest, ALocalCallerSeesNoOriginLine) {
  TerminalDialogHost& host = Host("c\n");
  EXPECT_EQ(host.ChooseCertificate(OneCandidate()).action, ChooserAnswer::Action::kCancel);
  EXPECT_EQ(Printed().find("asks to"), std::string::npos);
}

TEST(PinEntryTest, TheScriptGivesThePinButTheReportNeverHoldsIt) {
  ScriptDialogHost host("pin 12 34\ncancel\npim 5678\n");
  host.SetCallerOrigin(u"https://bank.example");
  PinAnswer a = host.AskPin({u"Alice's token", 3, false});
  EXPECT_TRUE(a.entered);
  EXPECT_EQ(a.pin, "12 34");
  EXPECT_FALSE(host.AskPin({u"Alice's token", 2, false}).entered);
  PinAnswer typo = host.AskPin({u"key", -1, true});
  EXPECT_FALSE(typo.entered);
  EXPECT_TRUE(typo.pin.empty());
  EXPECT_FALSE(host.AskPin({u"key", -1, true}).entered) << "an exhausted script cancels";
  std::vector<DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 4u);
  EXPECT_EQ(reports[0].kind, DialogKind::kPin);
  EXPECT_EQ(reports[0].label, u"Alice's token");
  EXPECT_EQ(reports[0].tries_left, 3);
  EXPECT_EQ(reports[0].origin, u"https://bank.example");
  EXPECT_EQ(reports[0].answer, u"pin");
  EXPECT_EQ(reports[1].answer, u"cancel");
  EXPECT_EQ(reports[2].answer, u"cancel") << "a line that does not fit is not echoed";
  EXPECT_TRUE(reports[2].taken_as_cancel);
  EXPECT_TRUE(reports[2].passphrase);
  for (const DialogReport& r : reports) {
    EXPECT_EQ(r.answer.find(u"12 34"), std::u16string::npos);
    EXPECT_EQ(r.answer.find(u"5678"), std::u16string::npos);
  }
}

TEST(PinEntryTest, NoDialogHostCancels) {
  NoDialogHost host;
  EXPECT_FALSE(host.AskPin({u"token", 3, false}).entered);
}

TEST_F(TerminalWebDialogsTest, PinEntryShowsTheLabelAndTriesLeftButNotThePin) {
  TerminalDialogHost& host = Host("s3cret\n\n");
  host.SetCallerOrigin(u"https://bank.example");
  PinAnswer a = host.AskPin({u"Bank token", 1, false});
  EXPECT_TRUE(a.entered);
  EXPECT_EQ(a.pin, "s3cret");
  EXPECT_FALSE(host.AskPin({u"Bank token", 0, false}).entered) << "an empty line cancels";
  std::string printed = Printed();
  EXPECT_NE(printed.find("https://bank.example asks to use your key"), std::string::npos);
  EXPECT_NE(printed.find("PIN for Bank token (1 try left)"), std::string::npos);
  EXPECT_EQ(printed.find("s3cret"), std::string::npos);
}

}  // namespace
}  // namespace quillmark::platform::ui
