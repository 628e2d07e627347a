// The desktop dialog host driving the real quillmark-dialog process on Qt's
// offscreen platform: the helper's autopilot clicks its own widgets, the
// answers come back over the line protocol. Also the ways a helper can fail
// (missing, crashing, garbage, no display), which must answer Cancel at once.
#include "platform/ui/gui_host.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/json.h"
#include "common/unicode.h"
#include "demo/demo_pki.h"
#include "platform/os/home.h"
#include "platform/store/cert_context.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::platform::ui {
namespace {

using Action = ChooserAnswer::Action;
using Outcome = FileAnswer::Outcome;
using testing::ScratchDir;

// Sets an environment variable for one test and puts the old value back.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvVar() {
    if (had_) {
      ::setenv(name_, old_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

void WriteText(const std::string& path, const std::string& text, bool executable = false) {
  std::ofstream(path) << text;
  if (executable) ::chmod(path.c_str(), 0755);
}

class GuiHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!GuiDialogHost().helper().empty() &&
        ::access(GuiDialogHost().helper().c_str(), X_OK) != 0) {
      GTEST_SKIP() << "quillmark-dialog is not built (no Qt 6)";
    }
  }

  // A host whose helper performs |steps| on its window.
  GuiDialogHost& Host(const std::string& steps) {
    WriteText(dir_.File("autopilot.txt"), steps);
    autopilot_.reset();  // restores the variable before it is set again
    autopilot_ =
        std::make_unique<EnvVar>("QUILLMARK_DIALOG_AUTOPILOT", dir_.File("autopilot.txt").c_str());
    return host_;
  }

  ScratchDir dir_;
  EnvVar platform_{"QT_QPA_PLATFORM", "offscreen"};
  EnvVar helper_{"QUILLMARK_DIALOG", nullptr};
  std::unique_ptr<EnvVar> autopilot_;
  GuiDialogHost host_;
};

ChooserRequest ThreeRows() {
  ChooserRequest r;
  r.title = u"请选择您要用的证书";
  r.prompt = u"请在列表中选择证书";
  r.columns = {u"主题", u"颁发者", u"截止日期"};
  r.buttons = {u"确定", u"取消", u"查看"};
  r.notice = u"Quillmark\r\nDemo";
  r.rows = {{u"b", u"CA 2", u"2031", 0}, {u"c", u"CA 1", u"2030", 1}, {u"a", u"CA 3", u"2029", 2}};
  return r;
}

// The caller's side of the chooser, as the certificate chooser runs it: one
// direction flag for all columns, descending first.
std::vector<std::u16string> RunChooser(DialogHost& host, ChooserRequest req, int* chosen) {
  std::vector<std::u16string> actions;
  bool descending = true;
  for (int rounds = 0; rounds < 20; ++rounds) {
    ChooserAnswer a = host.ChooseCertificate(req);
    if (a.action == Action::kChoose || a.action == Action::kCancel) {
      *chosen = a.action == Action::kChoose ? a.item : -1;
      break;
    }
    if (a.action == Action::kView) {
      req.selected = a.item;
      actions.push_back(u"view " + Utf8ToUtf16Lossy(std::to_string(a.item)));
      continue;
    }
    actions.push_back(u"sort " + Utf8ToUtf16Lossy(std::to_string(a.column)));
    if (req.display_order.empty()) req.display_order = {0, 1, 2};
    std::stable_sort(req.display_order.begin(), req.display_order.end(),
                     [&](std::size_t x, std::size_t y) {
                       int c = req.rows[x].subject.compare(req.rows[y].subject);
                       return descending ? c > 0 : c < 0;
                     });
    descending = !descending;
  }
  return actions;
}

std::vector<std::u16string> Answers(DialogHost& host) {
  std::vector<std::u16string> out;
  for (const DialogReport& r : host.TakeReports()) out.push_back(r.answer);
  return out;
}

// Sorting both ways redraws the caller's order (the helper checks what it
// shows and fails the exchange otherwise); View leaves the same window open
// with the row still selected; OK then chooses.
TEST_F(GuiHostTest, ChooserSortsViewsAndChoosesThroughOneWindow) {
  GuiDialogHost& host = Host(
      "expect-rows 0 1 2\nexpect-ok off\n"
      "header 0\nexpect-rows 1 0 2\n"
      "header 0\nexpect-rows 2 0 1\n"
      "select 0\nexpect-ok on\nclick view\nexpect-rows 2 0 1\nexpect-ok on\n"
      "select 2\nclick ok\n");
  int chosen = -2;
  std::vector<std::u16string> actions = RunChooser(host, ThreeRows(), &chosen);
  EXPECT_EQ(actions, (std::vector<std::u16string>{u"sort 0", u"sort 0", u"view 0"}));
  EXPECT_EQ(chosen, 2);
  EXPECT_EQ(Answers(host),
            (std::vector<std::u16string>{u"sort 0", u"sort 0", u"view 0", u"choose 2"}));
}

TEST_F(GuiHostTest, ChooserDoubleClickViewsAndEscCancels) {
  int chosen = -2;
  // A double click views the row and the chooser stays open for OK.
  std::vector<std::u16string> actions =
      RunChooser(Host("double 1\nexpect-ok on\nclick ok\n"), ThreeRows(), &chosen);
  EXPECT_EQ(actions, (std::vector<std::u16string>{u"view 1"}));
  EXPECT_EQ(chosen, 1);
  RunChooser(Host("select 1\nkey Esc\n"), ThreeRows(), &chosen);
  EXPECT_EQ(chosen, -1);
  // Keyboard only: the focus starts on the top row, Down selects the next,
  // Enter is OK.
  RunChooser(Host("key Down\nkey Return\n"), ThreeRows(), &chosen);
  EXPECT_EQ(chosen, 1);
  EXPECT_EQ(Answers(host_),
            (std::vector<std::u16string>{u"view 1", u"choose 1", u"cancel", u"choose 1"}));
}

// The windows open in the working folder; names typed there are answered as
// full paths. (Typed paths with a '/' make the window change folders while
// the name is typed, so the names here are plain.)
TEST_F(GuiHostTest, OpenAndSaveAnswerFullPaths) {
  WriteText(dir_.File("in.txt"), "x");
  char old_cwd[4096];
  ASSERT_NE(::getcwd(old_cwd, sizeof old_cwd), nullptr);
  ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  FileAnswer open = Host("type in.txt\nkey Return\n").OpenFile({u"Open", u"*.*", u""});
  EXPECT_EQ(open.outcome, Outcome::kOk);
  EXPECT_EQ(open.path, Utf8ToUtf16Lossy(dir_.File("in.txt")));

  // The default extension is the base class's: the helper answers the name.
  FileAnswer save =
      Host("key Ctrl+A\ntype out\nkey Return\n").SaveFile({u"Save", u"*.cry", u"report", u"cry"});
  EXPECT_EQ(save.outcome, Outcome::kOk);
  EXPECT_EQ(save.path, Utf8ToUtf16Lossy(dir_.File("out.cry")));

  FileAnswer cancelled = Host("key Esc\n").SaveFile({u"Save", u"*.*", u"report", u""});
  EXPECT_EQ(cancelled.outcome, Outcome::kCancel);
  ASSERT_EQ(::chdir(old_cwd), 0);
  EXPECT_EQ(Answers(host_),
            (std::vector<std::u16string>{u"open " + open.path, u"save " + save.path, u"cancel"}));
}

TEST_F(GuiHostTest, ConsentKeyUseMessageAndPin) {
  host_.SetCallerOrigin(u"https://bank.example");
  EXPECT_EQ(Host("click always\n").AskOriginConsent({u"https://bank.example"}),
            ConsentAnswer::kAlways);
  EXPECT_EQ(Host("click allow\n").AskOriginConsent({u"https://bank.example"}),
            ConsentAnswer::kAllowOnce);
  EXPECT_EQ(Host("click deny\n").AskOriginConsent({u"https://bank.example"}), ConsentAnswer::kDeny);
  EXPECT_EQ(Host("key Esc\n").AskOriginConsent({u"https://bank.example"}), ConsentAnswer::kCancel);

  testing::EvpPkeyPtr key = testing::MakeEcKey();
  testing::CertSpec spec;
  spec.subject = testing::NameBuilder().Add("CN", "Alice").Der();
  spec.subject_key = key.get();
  CertContextPtr alice =
      CertCreateCertificateContext(kX509AsnEncoding, testing::MakeCertificate(spec));
  const KeyUse use{.action = KeyUseAction::kSign, .key_owner = alice.get(), .content = {}};
  KeyUseReview review;
  review.text = u"pay 100";
  host_.BeginCall();
  host_.StageKeyUse(review, AsBytes("pay 100"));
  Host("click sign\n");
  EXPECT_TRUE(host_.ConfirmKeyUse(use));
  host_.BeginCall();
  review.files = {{u"a.pdf", 4}};
  host_.StageKeyUse(review, AsBytes("pay 200"));
  Host("key Esc\n");
  EXPECT_FALSE(host_.ConfirmKeyUse(use));

  EXPECT_EQ(Host("click ok\n").MessageBox({u"No certificate selected.", u""}), kIdOk);

  PinAnswer pin = Host("type 12 34\nclick ok\n").AskPin({u"Demo Token", 3, false});
  EXPECT_TRUE(pin.entered);
  EXPECT_EQ(pin.pin, "12 34");
  EXPECT_FALSE(Host("key Esc\n").AskPin({u"key", -1, true}).entered);
  for (const DialogReport& r : host_.TakeReports()) {
    EXPECT_EQ(r.origin, u"https://bank.example");
    EXPECT_EQ(r.answer.find(u"12 34"), std::u16string::npos);
  }
}

// Helpers that fail: each dialog is Cancel (a message box OK) with one line
// on standard error, and nothing waits.
TEST_F(GuiHostTest, BrokenHelpersAnswerCancelWithOneLine) {
  struct Case {
    const char* name;
    std::string script;  // empty: no such file
    const char* said;
  };
  const std::vector<Case> cases = {
      {"missing", "", "is missing"},
      {"crash", "#!/bin/sh\nread line\nkill -SEGV $$\n", "crashed (signal 11)"},
      {"garbage", "#!/bin/sh\nread line\necho 'not json'\nsleep 30\n", "garbage"},
      {"wrong", "#!/bin/sh\nread line\necho '{\"action\":\"open\",\"path\":\"/x\"}'\n", ""},
      {"endless", "#!/bin/sh\nread line\nhead -c 100000 /dev/zero | tr '\\0' a\nsleep 30\n",
       "over 64 KiB"},
      {"silent", "#!/bin/sh\nexit 0\n", "without an answer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir_.File(c.name);
    if (!c.script.empty()) WriteText(path, c.script, true);
    GuiDialogHost host(path);
    auto start = std::chrono::steady_clock::now();
    ::testing::internal::CaptureStderr();
    ChooserAnswer a = host.ChooseCertificate(ThreeRows());
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(a.action, Action::kCancel);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    if (*c.said != '\0') {
      EXPECT_NE(err.find(c.said), std::string::npos) << err;
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    std::vector<DialogReport> reports = host.TakeReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].answer, *c.name == 'w' ? u"open /x" : u"cancel");
  }
}

TEST_F(GuiHostTest, NoDisplayCancelsWithoutStartingAnything) {
  EnvVar qpa("QT_QPA_PLATFORM", nullptr), x("DISPLAY", nullptr), w("WAYLAND_DISPLAY", nullptr);
  EXPECT_FALSE(DesktopDisplayReachable());
  GuiDialogHost host(dir_.File("never-started"));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(host.ChooseCertificate(ThreeRows()).action, Action::kCancel);
  EXPECT_EQ(host.OpenFile({u"Open", u"*.*", u""}).outcome, Outcome::kCancel);
  EXPECT_EQ(host.MessageBox({u"m", u""}), kIdOk);
  EXPECT_FALSE(host.AskPin({u"t", 2, false}).entered);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("no display"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 4) << err;
}

// `quillmark session --ui gui` over a demonstration PKI: the control's own
// chooser logic sorts and writes View's file, the helper shows it.
TEST_F(GuiHostTest, SessionSignsWithTheCertificatePickedInTheWindow) {
  ScratchDir home;
  SetQuillmarkHome(home.path());
  std::vector<demo::DemoItem> items;
  std::string error;
  ASSERT_TRUE(demo::CreateDemoPki(&items, &error)) << error;
  SetQuillmarkHome("");
  Host("header 0\npick Li Si\nclick view\nclick ok\n");
  WriteText(dir_.File("in.jsonl"),
            "{\"call\":\"QMSetPlainText\",\"args\":[\"p\"]}\n"
            "{\"call\":\"QMAttachedSign\",\"args\":[\"O=Demo Bank\"]}\n"
            "{\"call\":\"QMGetSignerCertInfo\",\"args\":[1]}\n");
  std::string out;
  ASSERT_EQ(testing::RunShellCapture(std::string(QM_CLI_PATH) + " session --home " + home.path() +
                                         " --ui gui < " + dir_.File("in.jsonl"),
                                     &out),
            0);
  std::vector<json::Value> answers;
  std::size_t pos = 0;
  while (pos < out.size()) {
    std::size_t end = out.find('\n', pos);
    json::Value v;
    ASSERT_TRUE(json::Parse(out.substr(pos, end - pos), &v, &error)) << error;
    answers.push_back(v);
    pos = end == std::string::npos ? out.size() : end + 1;
  }
  ASSERT_EQ(answers.size(), 3u) << out;
  EXPECT_EQ(answers[1].Find(u"hr")->integer(), 0) << out;
  const auto& dialogs = answers[1].Find(u"dialogs")->array();
  ASSERT_EQ(dialogs.size(), 3u) << out;
  EXPECT_EQ(dialogs[0].Find(u"answer")->string(), u"sort 0");
  EXPECT_EQ(dialogs[1].Find(u"answer")->string().substr(0, 5), u"view ");
  EXPECT_EQ(dialogs[2].Find(u"answer")->string(),
            u"choose " + dialogs[1].Find(u"answer")->string().substr(5));
  EXPECT_NE(answers[2].Find(u"result")->string().find(u"Li Si"), std::u16string::npos) << out;
}

}  // namespace
}  // namespace quillmark::platform::ui
