#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "common/unicode.h"
#include "platform/os/files.h"
#include "platform/ui/dialog_factory.h"
#include "platform/ui/dialog_host.h"
#include "platform/ui/script_host.h"
#include "platform/ui/terminal_host.h"
#include "support/test_dirs.h"

namespace quillmark::platform::ui {
namespace {

using Action = ChooserAnswer::Action;
using Outcome = FileAnswer::Outcome;

ChooserRequest ThreeCandidates() {
  ChooserRequest r;
  r.title = u"请选择您要用的证书";
  r.prompt = u"请在列表中选择证书";
  r.columns = {u"主题", u"颁发者", u"截止日期"};
  r.buttons = {u"确定", u"取消", u"查看"};
  r.notice = u"Quillmark\r\nCorvane\r\n2024";
  r.rows = {{u"Alice", u"Root CA", u"2030-01-01", 0},
            {u"Bob", u"Intermediate CA", u"2029-06-30", 1},
            {u"张三", u"Root CA", u"2031-12-31", 2}};
  return r;
}

std::string Cwd() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) != nullptr ? std::string(buf) : std::string();
}

std::vector<std::u16string> Answers(const std::vector<DialogReport>& reports) {
  std::vector<std::u16string> out;
  for (const DialogReport& r : reports) out.push_back(r.answer);
  return out;
}

TEST(ScriptDialogs, AnswersDriveEveryKindAndEveryDialogIsReported) {
  ScriptDialogHost host(
      "# one answer per line\n"
      "choose 1\r\n"
      "\n"
      "  open /tmp/x  \n"
      "save /tmp/out\n"
      "ok\n"
      "save\n"
      "cancel\n");
  ChooserRequest req = ThreeCandidates();
  req.display_order = {2, 1, 0};  // shown reversed; reports stay in candidate order
  ChooserAnswer a = host.ChooseCertificate(req);
  EXPECT_EQ(a.action, Action::kChoose);
  EXPECT_EQ(a.item, 1);

  FileAnswer open = host.OpenFile({u"Open", u"*.*"});
  EXPECT_EQ(open.outcome, Outcome::kOk);
  EXPECT_EQ(open.path, u"/tmp/x");
  FileAnswer save = host.SaveFile({u"Save", u"*.cry", u"", u"cry"});
  EXPECT_EQ(save.outcome, Outcome::kOk);
  EXPECT_EQ(save.path, u"/tmp/out.cry");
  EXPECT_EQ(host.MessageBox({u"No certificate selected.", u""}), kIdOk);
  // "save" alone accepts the preset name, which is relative to the working folder.
  save = host.SaveFile({u"Save", u"*.*", u"report.pdf", u""});
  EXPECT_EQ(save.outcome, Outcome::kOk);
  EXPECT_EQ(save.path, Utf8ToUtf16Lossy(Cwd() + "/report.pdf"));
  EXPECT_EQ(host.ChooseCertificate(req).action, Action::kCancel);
  EXPECT_EQ(host.remaining(), 0u);

  std::vector<DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 6u);
  EXPECT_EQ(Answers(reports),
            (std::vector<std::u16string>{u"choose 1", u"open /tmp/x", u"save /tmp/out.cry", u"ok",
                                         u"save " + save.path, u"cancel"}));
  const DialogReport& chooser = reports[0];
  EXPECT_EQ(DialogKindName(chooser.kind), "chooser");
  EXPECT_EQ(chooser.title, req.title);
  EXPECT_EQ(chooser.prompt, req.prompt);
  EXPECT_EQ(chooser.columns, req.columns);
  EXPECT_EQ(chooser.buttons, req.buttons);
  EXPECT_EQ(chooser.notice, req.notice);
  ASSERT_EQ(chooser.rows.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(chooser.rows[i].item, i);
    EXPECT_EQ(chooser.rows[i].subject, req.rows[i].subject);
    EXPECT_EQ(chooser.rows[i].issuer, req.rows[i].issuer);
    EXPECT_EQ(chooser.rows[i].not_after, req.rows[i].not_after);
  }
  EXPECT_FALSE(chooser.taken_as_cancel);
  EXPECT_EQ(DialogKindName(reports[1].kind), "open");
  EXPECT_EQ(reports[1].title, u"Open");
  EXPECT_EQ(reports[1].filter, u"*.*");
  EXPECT_EQ(DialogKindName(reports[2].kind), "save");
  EXPECT_EQ(reports[2].filter, u"*.cry");
  EXPECT_EQ(reports[2].default_ext, u"cry");
  EXPECT_EQ(reports[4].default_name, u"report.pdf");
  EXPECT_EQ(DialogKindName(reports[3].kind), "message");
  EXPECT_EQ(reports[3].text, u"No certificate selected.");
  EXPECT_TRUE(host.TakeReports().empty());
}

TEST(ScriptDialogs, ExhaustedScriptCancelsAndMessageBoxesAreConfirmed) {
  ScriptDialogHost host("choose 0\n");
  EXPECT_EQ(host.ChooseCertificate(ThreeCandidates()).action, Action::kChoose);
  ChooserAnswer a = host.ChooseCertificate(ThreeCandidates());
  EXPECT_EQ(a.action, Action::kCancel);
  EXPECT_EQ(a.item, -1);
  EXPECT_EQ(host.OpenFile({u"Open", u"*.*"}).outcome, Outcome::kCancel);
  FileAnswer save = host.SaveFile({u"Save", u"*.*", u"report.pdf", u""});
  EXPECT_EQ(save.outcome, Outcome::kCancel);
  EXPECT_TRUE(save.path.empty());
  EXPECT_EQ(host.MessageBox({u"x", u""}), kIdOk);
  std::vector<DialogReport> reports = host.TakeReports();
  EXPECT_EQ(Answers(reports),
            (std::vector<std::u16string>{u"choose 0", u"cancel", u"cancel", u"cancel", u"ok"}));
  for (const DialogReport& r : reports) EXPECT_FALSE(r.taken_as_cancel);
}

TEST(ScriptDialogs, AnswersThatDoNotFitCountAsCancelAndAreReportedAsWritten) {
  ScriptDialogHost host(
      "open /tmp/x\n"  // chooser
      "choose 7\n"     // chooser: no such row
      "sort 3\n"       // chooser: no such column
      "view 9\n"       // chooser: no such row
      "frobnicate\n"   // chooser
      "choose 1\n"     // Open
      "save\n"         // Save without a default name
      "open\n"         // Open without a path
      "choose 2\n");   // chooser: fits again
  ChooserRequest req = ThreeCandidates();
  for (int i = 0; i < 5; ++i) {
    ChooserAnswer a = host.ChooseCertificate(req);
    EXPECT_EQ(a.action, Action::kCancel) << i;
    EXPECT_EQ(a.item, -1);
  }
  EXPECT_EQ(host.OpenFile({u"Open", u"*.*"}).outcome, Outcome::kCancel);
  EXPECT_EQ(host.SaveFile({u"Save", u"*.*", u"", u""}).outcome, Outcome::kCancel);
  EXPECT_EQ(host.OpenFile({u"Open", u"*.*"}).outcome, Outcome::kCancel);
  ChooserAnswer last = host.ChooseCertificate(req);
  EXPECT_EQ(last.action, Action::kChoose);
  EXPECT_EQ(last.item, 2);

  std::vector<DialogReport> reports = host.TakeReports();
  EXPECT_EQ(Answers(reports), (std::vector<std::u16string>{u"open /tmp/x", u"choose 7", u"sort 3",
                                                           u"view 9", u"frobnicate", u"choose 1",
                                                           u"save", u"open", u"choose 2"}));
  for (size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].taken_as_cancel, i + 1 < reports.size()) << i;
  }
}

// The way the chooser's caller runs the dialog: View and sorting keep it open.
struct ChooserRun {
  int result = -2;
  std::vector<int> viewed;
  std::vector<std::vector<std::size_t>> orders;
};

ChooserRun RunChooser(DialogHost* host, ChooserRequest req) {
  ChooserRun run;
  bool descending = true;
  for (;;) {
    ChooserAnswer a = host->ChooseCertificate(req);
    switch (a.action) {
      case Action::kChoose:
        run.result = a.item;
        return run;
      case Action::kCancel:
        run.result = -1;
        return run;
      case Action::kView:
        req.selected = a.item;
        run.viewed.push_back(a.item);
        if (a.item < 0) host->MessageBox({u"No certificate selected.", u""});
        break;
      case Action::kSort: {
        std::vector<std::size_t> order = {0, 1, 2};
        auto text = [&](std::size_t i) {
          const ChooserRow& r = req.rows[i];
          return a.column == 0 ? r.subject : a.column == 1 ? r.issuer : r.not_after;
        };
        std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
          return descending ? text(y) < text(x) : text(x) < text(y);
        });
        descending = !descending;
        req.display_order = order;
        run.orders.push_back(order);
        break;
      }
    }
  }
}

TEST(ScriptDialogs, ViewKeepsTheChooserOpenAndMessageBoxesTakeOnlyOk) {
  ScriptDialogHost host(
      "view\n"    // nothing selected yet: the caller shows a message box
      "view 2\n"  // not taken by that message box
      "sort 1\n"
      "view\n"  // the selection is still row 2
      "ok\n"    // no box is open now: the chooser takes it as Cancel
      "choose 0\n");
  ChooserRun run = RunChooser(&host, ThreeCandidates());
  // "ok" reached the chooser, which it does not fit: the chooser was cancelled there.
  EXPECT_EQ(run.result, -1);
  EXPECT_EQ(run.viewed, (std::vector<int>{-1, 2, 2}));
  ASSERT_EQ(run.orders.size(), 1u);
  EXPECT_EQ(run.orders[0], (std::vector<std::size_t>{0, 2, 1}));  // issuers descending
  std::vector<DialogReport> reports = host.TakeReports();
  EXPECT_EQ(Answers(reports),
            (std::vector<std::u16string>{u"view", u"ok", u"view 2", u"sort 1", u"view 2", u"ok"}));
  EXPECT_EQ(DialogKindName(reports[1].kind), "message");
  EXPECT_TRUE(reports[5].taken_as_cancel);
  EXPECT_EQ(host.remaining(), 1u);

  // With the box's "ok" written out, it is consumed by the box.
  ScriptDialogHost explicit_ok("view\nok\nchoose 2\n");
  run = RunChooser(&explicit_ok, ThreeCandidates());
  EXPECT_EQ(run.result, 2);
  EXPECT_EQ(Answers(explicit_ok.TakeReports()),
            (std::vector<std::u16string>{u"view", u"ok", u"choose 2"}));
  EXPECT_EQ(explicit_ok.remaining(), 0u);
}

TEST(ScriptDialogs, PathsAreMadeFullAndOverlongOnesAreDialogErrors) {
  std::string long_path = "/tmp/" + std::string(1019, 'a');  // 1024 units
  ScriptDialogHost host("open relative/file.txt\nopen " + long_path + "\nopen " +
                        long_path.substr(1) + "\nsave /tmp/a.b/c\nsave /tmp/x.tar.gz\n");
  FileAnswer a = host.OpenFile({u"Open", u"*.*"});
  EXPECT_EQ(a.outcome, Outcome::kOk);
  EXPECT_EQ(a.path, Utf8ToUtf16Lossy(Cwd() + "/relative/file.txt"));
  a = host.OpenFile({u"Open", u"*.*"});
  EXPECT_EQ(a.outcome, Outcome::kError);
  EXPECT_TRUE(a.path.empty());
  a = host.OpenFile({u"Open", u"*.*"});  // 1023 units plus the working folder
  EXPECT_EQ(a.outcome, Outcome::kError);
  // The default extension goes to a file name without a dot, wherever the
  // folders have theirs.
  EXPECT_EQ(host.SaveFile({u"Save", u"*.cry", u"", u"cry"}).path, u"/tmp/a.b/c.cry");
  EXPECT_EQ(host.SaveFile({u"Save", u"*.cry", u"", u"cry"}).path, u"/tmp/x.tar.gz");
  EXPECT_EQ(Answers(host.TakeReports())[1], u"error");
}

TEST(DialogFactory, HostsByNameAndTheGuiSaysItIsNotThere) {
  testing::ScratchDir dir;
  std::string script = dir.File("answers.txt");
  ASSERT_TRUE(WriteFileAtomically(script, AsBytes("choose 2\n")));

  std::unique_ptr<DialogHost> host;
  std::string error;
  ASSERT_TRUE(CreateDialogHost("script:" + script, &host, &error)) << error;
  EXPECT_EQ(host->ChooseCertificate(ThreeCandidates()).item, 2);

  ASSERT_TRUE(CreateDialogHost("none", &host, &error));
  EXPECT_EQ(host->ChooseCertificate(ThreeCandidates()).action, Action::kCancel);
  EXPECT_EQ(host->OpenFile({u"Open", u"*.*"}).outcome, Outcome::kCancel);
  EXPECT_EQ(host->SaveFile({u"Save", u"*.*", u"a", u""}).outcome, Outcome::kCancel);
  EXPECT_EQ(host->MessageBox({u"m", u""}), kIdOk);
  EXPECT_EQ(host->TakeReports().size(), 4u);

  ASSERT_TRUE(CreateDialogHost("terminal", &host, &error));

  for (std::string_view bad : {"script:", "script:/no/such/file", "Terminal", ""}) {
    std::unique_ptr<DialogHost> none;
    error.clear();
    EXPECT_FALSE(CreateDialogHost(bad, &none, &error)) << bad;
    EXPECT_EQ(none, nullptr);
    EXPECT_FALSE(error.empty()) << bad;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  // The desktop host exists now (gui_host_test.cc drives it).
  ASSERT_TRUE(CreateDialogHost("gui", &host, &error)) << error;

  ::setenv("QUILLMARK_UI", ("script:" + script).c_str(), 1);
  EXPECT_EQ(DialogHostSpecFromEnvironment(), "script:" + script);
  ::setenv("QUILLMARK_UI", "", 1);
  EXPECT_EQ(DialogHostSpecFromEnvironment(), "none");
  ::unsetenv("QUILLMARK_UI");
  EXPECT_EQ(DialogHostSpecFromEnvironment(), "none");

  // The current host starts as none and can be replaced and reset.
  EXPECT_EQ(CurrentDialogHost().ChooseCertificate(ThreeCandidates()).action, Action::kCancel);
  SetCurrentDialogHost(std::make_unique<ScriptDialogHost>("choose 1\n"));
  EXPECT_EQ(CurrentDialogHost().ChooseCertificate(ThreeCandidates()).item, 1);
  EXPECT_EQ(CurrentDialogHost().TakeReports().size(), 1u);
  SetCurrentDialogHost(nullptr);
  EXPECT_EQ(CurrentDialogHost().ChooseCertificate(ThreeCandidates()).action, Action::kCancel);
}

// A terminal host on pipes: |input| is typed, the printed text is returned.
class TerminalSession {
 public:
  explicit TerminalSession(std::string_view input) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) std::abort();
    if (::write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
      std::abort();
    }
    ::close(in[1]);
    ::fcntl(out[0], F_SETFL, O_NONBLOCK);
    out_read_ = out[0];
    host_ = std::make_unique<TerminalDialogHost>(in[0], out[1], true);
  }
  ~TerminalSession() { ::close(out_read_); }
  TerminalDialogHost& host() { return *host_; }
  std::string Printed() {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(out_read_, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    return text;
  }

 private:
  int out_read_;
  std::unique_ptr<TerminalDialogHost> host_;
};

TEST(TerminalDialogs, ShowsTheDialogAndAsksUntilTheAnswerFits) {
  testing::ScratchDir dir;
  std::string existing = dir.File("in.txt");
  ASSERT_TRUE(WriteFileAtomically(existing, AsBytes("x")));
  TerminalSession t("what\n7\nv 2\nsort 0\n1\n" +                   // chooser, three times
                    dir.File("missing") + "\n" + existing + "\n" +  // Open
                    dir.File("no/dir/x") + "\n" + existing + "\nn\n" + dir.File("out") +
                    "\n"     // Save
                    "\n"     // message box
                    "c\n");  // chooser
  ChooserRequest req = ThreeCandidates();
  req.display_order = {2, 0, 1};
  ChooserAnswer a = t.host().ChooseCertificate(req);
  EXPECT_EQ(a.action, Action::kView);
  EXPECT_EQ(a.item, 2);
  EXPECT_EQ(t.host().ChooseCertificate(req).action, Action::kSort);
  a = t.host().ChooseCertificate(req);
  EXPECT_EQ(a.action, Action::kChoose);
  EXPECT_EQ(a.item, 1);
  std::string printed = t.Printed();
  for (const char* shown :
       {"== 请选择您要用的证书 ==", "请在列表中选择证书", "主题 | 颁发者 | 截止日期",
        "[2]  张三 | Root CA | 2031-12-31", "Quillmark\r\nCorvane", "确定", "取消", "查看", "? "}) {
    EXPECT_NE(printed.find(shown), std::string::npos) << shown << "\n" << printed;
  }
  // Rows are printed in display order.
  EXPECT_LT(printed.find("张三"), printed.find("Alice"));
  EXPECT_LT(printed.find("Alice"), printed.find("Bob"));

  FileAnswer open = t.host().OpenFile({u"Open", u"*.*"});
  EXPECT_EQ(open.outcome, Outcome::kOk);
  EXPECT_EQ(open.path, Utf8ToUtf16Lossy(existing));
  FileAnswer save = t.host().SaveFile({u"Save", u"*.cry", u"", u"cry"});
  EXPECT_EQ(save.outcome, Outcome::kOk);
  EXPECT_EQ(save.path, Utf8ToUtf16Lossy(dir.File("out.cry")));
  printed = t.Printed();
  EXPECT_NE(printed.find("No such file: " + dir.File("missing")), std::string::npos) << printed;
  EXPECT_NE(printed.find("No such folder: " + dir.File("no/dir")), std::string::npos) << printed;
  EXPECT_NE(printed.find("Replace it?"), std::string::npos) << printed;

  EXPECT_EQ(t.host().MessageBox({u"No certificate selected.", u""}), kIdOk);
  EXPECT_NE(t.Printed().find("No certificate selected."), std::string::npos);
  EXPECT_EQ(t.host().ChooseCertificate(req).action, Action::kCancel);
  // End of input cancels.
  EXPECT_EQ(t.host().ChooseCertificate(req).action, Action::kCancel);
  EXPECT_EQ(t.host().SaveFile({u"Save", u"*.*", u"a.txt", u""}).outcome, Outcome::kCancel);
  EXPECT_EQ(Answers(t.host().TakeReports()),
            (std::vector<std::u16string>{u"view 2", u"sort 0", u"choose 1",
                                         u"open " + Utf8ToUtf16Lossy(existing),
                                         u"save " + Utf8ToUtf16Lossy(dir.File("out.cry")), u"ok",
                                         u"cancel", u"cancel", u"cancel"}));
}

TEST(TerminalDialogs, WithoutATerminalEverythingCancels) {
  TerminalDialogHost host(-1, -1, false);
  EXPECT_EQ(host.ChooseCertificate(ThreeCandidates()).action, Action::kCancel);
  EXPECT_EQ(host.OpenFile({u"Open", u"*.*"}).outcome, Outcome::kCancel);
  EXPECT_EQ(host.SaveFile({u"Save", u"*.*", u"x", u""}).outcome, Outcome::kCancel);
  EXPECT_EQ(host.MessageBox({u"m", u""}), kIdOk);
}

}  // namespace
}  // namespace quillmark::platform::ui
