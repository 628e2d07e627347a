// The dialogs of a web caller: the origin consent, the key-use confirmation
// over what the call staged, once per key and call, the preset path of the Open dialog, and the
// origin on every report; PIN entry, whose answer never reaches a report;
// through the script and terminal hosts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "common/bytes.h"
#include "common/unicode.h"
#include "platform/names/cert_text.h"
#include "platform/os/files.h"
#include "platform/store/cert_context.h"
#include "platform/ui/dialog_host.h"
#include "platform/ui/script_host.h"
#include "platform/ui/terminal_host.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::platform::ui {
namespace {

ChooserRequest OneCandidate() {
  ChooserRequest r;
  r.title = u"Choose";
  r.rows = {{u"Alice", u"Root CA", u"2030-01-01", 0}};
  return r;
}

// A certificate of |cn| with serial number |serial|, issued by "Test CA".
CertContextPtr Cert(std::string_view cn, std::uint8_t serial) {
  static testing::EvpPkeyPtr key = testing::MakeEcKey();
  testing::CertSpec spec;
  spec.subject = testing::NameBuilder().Add("CN", cn).Der();
  spec.issuer = testing::NameBuilder().Add("CN", "Test CA").Der();
  spec.subject_key = key.get();
  spec.serial = {serial};
  return CertCreateCertificateContext(kX509AsnEncoding, testing::MakeCertificate(spec));
}

// The chooser's row for |cert| with item data |item|, as the chooser lists it.
ChooserRow RowOf(const CertContext& cert, int item) {
  ChooserRow row{u"subject", u"issuer", u"2030-01-01", item};
  row.issuer_der.assign(cert.issuer_der().begin(), cert.issuer_der().end());
  row.serial = FormatSerialText(cert.serial());
  return row;
}

KeyUseReview SignReview(std::u16string text) {
  KeyUseReview review;
  review.text = std::move(text);
  review.text_units = review.text.size();
  review.byte_count = review.text.size();
  return review;
}

KeyUse Signing(const CertContextPtr& cert, ByteSpan content = {}) {
  return {.action = KeyUseAction::kSign, .key_owner = cert.get(), .content = content};
}

class KeyUseConfirmationTest : public ::testing::Test {
 protected:
  const CertContextPtr alice_ = Cert("Alice", 1);
  const CertContextPtr bob_ = Cert("Bob", 2);
  const Bytes content_ = {'p', 'a', 'y', ' ', '1', '0', '0'};
};

TEST_F(KeyUseConfirmationTest, ALocalCallerIsNeverAskedAndStagesNothing) {
  ScriptDialogHost host("cancel\n");
  host.BeginCall();
  host.StageKeyUse(SignReview(u"pay 100"), content_);
  EXPECT_FALSE(host.has_staged_key_use());
  EXPECT_TRUE(host.ConfirmKeyUse(Signing(alice_)));
  EXPECT_TRUE(host.ConfirmKeyUse(Signing(bob_, AsBytes("other"))));
  EXPECT_EQ(host.remaining(), 1u);
  EXPECT_TRUE(host.TakeReports().empty());
}

TEST_F(KeyUseConfirmationTest, AWebSignatureWithNothingStagedIsRefusedWithoutAsking) {
  ScriptDialogHost host("confirm\n");
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall();
  EXPECT_FALSE(host.ConfirmKeyUse(Signing(alice_)));
  // A stage of an earlier call does not count either.
  host.StageKeyUse(SignReview(u"pay 100"), content_);
  host.BeginCall();
  EXPECT_FALSE(host.ConfirmKeyUse(Signing(alice_)));
  EXPECT_EQ(host.remaining(), 1u);
  EXPECT_TRUE(host.TakeReports().empty());
}

TEST_F(KeyUseConfirmationTest, ContentOtherThanTheStagedBytesIsRefusedWithoutAsking) {
  ScriptDialogHost host("confirm\n");
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall();
  host.StageKeyUse(SignReview(u"pay 100"), content_);
  EXPECT_FALSE(host.ConfirmKeyUse(Signing(alice_, AsBytes("pay 999"))));
  EXPECT_FALSE(host.ConfirmKeyUse(Signing(alice_, AsBytes("pay 1000"))));
  EXPECT_FALSE(host.ConfirmKeyUse(Signing(alice_, AsBytes("pay 10"))));
  EXPECT_EQ(host.remaining(), 1u);
  EXPECT_TRUE(host.ConfirmKeyUse(Signing(alice_, content_)));
}

TEST_F(KeyUseConfirmationTest, TheConfirmationShowsTheStagedReviewAndTheKeysOwner) {
  ScriptDialogHost host("confirm\n");
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall();
  KeyUseReview review = SignReview(u"pay 100");
  review.files = {{u"a.pdf", 4}};
  host.StageKeyUse(review, content_);
  EXPECT_TRUE(host.ConfirmKeyUse(Signing(alice_, content_)));
  std::vector<DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 1u);
  const DialogReport& r = reports[0];
  EXPECT_EQ(r.kind, DialogKind::kConfirm);
  EXPECT_EQ(r.origin, u"https://bank.example");
  EXPECT_EQ(r.action, u"sign");
  EXPECT_EQ(r.text, u"pay 100");
  EXPECT_EQ(r.files, (std::vector<std::u16string>{u"a.pdf"}));
  EXPECT_EQ(r.answer, u"confirm");
  ASSERT_TRUE(r.review.has_value());
  EXPECT_EQ(r.review->owner.subject, u"CN=Alice");
  EXPECT_EQ(r.review->owner.issuer, u"CN=Test CA");
  EXPECT_EQ(r.review->owner.serial, FormatSerialText(alice_->serial()));
  EXPECT_FALSE(r.review->owner.not_after.empty());
  EXPECT_EQ(r.review->files.size(), 1u);
  EXPECT_EQ(r.review->byte_count, 7u);
}

TEST_F(KeyUseConfirmationTest, OneConfirmationCoversTheSameKeyButNotAnother) {
  ScriptDialogHost host("confirm\ncancel\n");
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall();
  host.StageKeyUse(SignReview(u"pay 100"), content_);
  EXPECT_TRUE(host.ConfirmKeyUse(Signing(alice_, content_)));
  EXPECT_TRUE(host.ConfirmKeyUse(Signing(Cert("Alice", 1))))
      << "another context of the same certificate";
  EXPECT_EQ(host.remaining(), 1u);
  EXPECT_FALSE(host.ConfirmKeyUse(Signing(bob_))) << "a different key is asked for";
  EXPECT_EQ(host.remaining(), 0u);
  // The next call asks again.
  host.BeginCall();
  host.StageKeyUse(SignReview(u"pay 100"), content_);
  EXPECT_FALSE(host.ConfirmKeyUse(Signing(alice_)));
  std::vector<DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[1].review->owner.subject, u"CN=Bob");
  EXPECT_EQ(reports[1].answer, u"cancel");
}

TEST_F(KeyUseConfirmationTest, DecryptionIsAskedWithTheActionAndNoText) {
  ScriptDialogHost host("confirm\n");
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall();
  KeyUseReview decrypt;
  decrypt.action = KeyUseAction::kDecrypt;
  host.StageKeyUse(decrypt, {});
  EXPECT_TRUE(host.ConfirmKeyUse({.action = KeyUseAction::kDecrypt, .key_owner = alice_.get()}));
  std::vector<DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].action, u"decrypt");
  EXPECT_TRUE(reports[0].text.empty());
  // A use with no certificate to name is refused.
  EXPECT_FALSE(host.ConfirmKeyUse({.action = KeyUseAction::kDecrypt, .key_owner = nullptr}));
}

TEST_F(KeyUseConfirmationTest, AnythingButConfirmRefuses) {
  ScriptDialogHost host("cancel\nok\n");
  host.SetCallerOrigin(u"https://bank.example");
  for (int i = 0; i < 3; ++i) {
    host.BeginCall();
    host.StageKeyUse(SignReview(u"x"), AsBytes("x"));
    EXPECT_FALSE(host.ConfirmKeyUse(Signing(alice_)));
  }
  std::vector<DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].answer, u"cancel");
  EXPECT_FALSE(reports[0].taken_as_cancel);
  EXPECT_EQ(reports[1].answer, u"ok");
  EXPECT_TRUE(reports[1].taken_as_cancel);
  EXPECT_EQ(reports[2].answer, u"cancel") << "an exhausted script refuses";
}

TEST_F(KeyUseConfirmationTest, AChooserCarryingTheReviewConfirmsOnlyThePickedRowsKey) {
  ScriptDialogHost host("choose 1\ncancel\n");
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall();
  host.StageKeyUse(SignReview(u"pay 100"), content_);
  ChooserRequest request = OneCandidate();
  request.rows = {RowOf(*alice_, 0), RowOf(*bob_, 1)};
  EXPECT_EQ(host.ChooseCertificate(request).action, ChooserAnswer::Action::kChoose);
  EXPECT_TRUE(host.ConfirmKeyUse(Signing(bob_, content_)));
  EXPECT_EQ(host.remaining(), 1u) << "the pick was the confirmation";
  EXPECT_FALSE(host.ConfirmKeyUse(Signing(alice_, content_))) << "the other row is asked for";
  std::vector<DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].kind, DialogKind::kChooser);
  ASSERT_TRUE(reports[0].review.has_value());
  EXPECT_EQ(reports[0].review->text, u"pay 100");
  EXPECT_EQ(reports[1].kind, DialogKind::kConfirm);
}

TEST_F(KeyUseConfirmationTest, AChooserWithoutAReviewDoesNotConfirm) {
  ScriptDialogHost host("choose 0\ncancel\n");
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall();
  ChooserRequest request = OneCandidate();
  request.rows = {RowOf(*alice_, 0)};
  EXPECT_EQ(host.ChooseCertificate(request).action, ChooserAnswer::Action::kChoose);
  // Staged only after the chooser: the chooser could not show it.
  host.StageKeyUse(SignReview(u"pay 100"), content_);
  EXPECT_FALSE(host.ConfirmKeyUse(Signing(alice_, content_)));
  std::vector<DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_FALSE(reports[0].review.has_value());
  EXPECT_EQ(reports[1].kind, DialogKind::kConfirm);
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
  host.BeginCall();
  host.StageKeyUse(SignReview(u"x"), AsBytes("x"));
  EXPECT_FALSE(host.ConfirmKeyUse(Signing(Cert("Alice", 1))));
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

TEST_F(TerminalWebDialogsTest, KeyUseShowsTheWholeTextTheOwnerAndTheWarningAndNeedsAYes) {
  TerminalDialogHost& host = Host("n\n");
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall();
  KeyUseReview review = SignReview(u"pay 100" + std::u16string(3000, u' ') +
                                   u"AND \u27E6U+202E\u27E7 pay 99999\nline two");
  review.hidden_count = 1;
  review.files = {{u"invoice.pdf", 1234}};
  host.StageKeyUse(review, AsBytes("x"));
  EXPECT_FALSE(host.ConfirmKeyUse(Signing(Cert("Alice", 1))));
  std::string printed = Printed();
  EXPECT_NE(printed.find("https://bank.example asks to sign"), std::string::npos);
  EXPECT_NE(printed.find("AND \xE2\x9F\xA6U+202E\xE2\x9F\xA7 pay 99999\nline two"),
            std::string::npos)
      << "the whole text, its end and its lines included";
  EXPECT_NE(printed.find("CN=Alice"), std::string::npos);
  EXPECT_NE(printed.find("CN=Test CA"), std::string::npos);
  EXPECT_NE(printed.find("invoice.pdf (1234 bytes)"), std::string::npos);
  EXPECT_NE(printed.find("Warning: 1 hidden"), std::string::npos);
}

TEST_F(TerminalWebDialogsTest, AChooserCarryingTheReviewShowsItBeforeThePagesWords) {
  TerminalDialogHost& host = Host("c\n");
  host.SetCallerOrigin(u"https://bank.example");
  host.BeginCall();
  host.StageKeyUse(SignReview(u"PAY 99999 CNY to Mallory"), AsBytes("x"));
  ChooserRequest request = OneCandidate();
  request.prompt = u"You are signing: PAY 10 CNY to Alice";
  EXPECT_EQ(host.ChooseCertificate(request).action, ChooserAnswer::Action::kCancel);
  std::string printed = Printed();
  const std::size_t real = printed.find("PAY 99999 CNY to Mallory");
  const std::size_t words = printed.find("The page's own words follow.");
  ASSERT_NE(real, std::string::npos);
  ASSERT_NE(words, std::string::npos);
  EXPECT_LT(real, words);
  EXPECT_GT(printed.find("You are signing: PAY 10"), words);
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
