// The Windows dialog host under wine: the chooser drawn from dialog resource
// 202 and checked control by control, the modal dialogs answered by a helper
// thread that presses their buttons, and the script host and host names as
// they behave on Windows.
#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/os/paths.h"
#include "platform/ui/dialog_factory.h"
#include "platform/ui/gui_host.h"
#include "platform/ui/script_host.h"
#include "platform/ui/win/chooser_window.h"
#include "platform/ui/win/dialog_ids.h"
#include "platform/ui/win/review_pane.h"
#include "platform/ui/win/review_window.h"
#include "platform/ui/win/win32_host.h"
#include "win/win_test_pki.h"

namespace quillmark::platform::ui {
namespace {

// Wine without a display driver makes no window at all; Windows always can.
bool WindowsCanBeMade() {
  HWND probe = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                 nullptr);
  if (probe == nullptr) return false;
  ::DestroyWindow(probe);
  return true;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!WindowsCanBeMade()) {
      GTEST_SKIP() << "wine has no display driver here (set HKCU\\Software\\Wine\\Drivers "
                      "Graphics=null in the prefix, or run under Xvfb)";
    }
  }
};
using WinChooser = WindowTest;
using WinDialogs = WindowTest;

// The certificate whose key a review names: one test key, made once.
const CertContext& ReviewOwner() {
  static const CertContextPtr owner = [] {
    static qmwintest::TestContainer key(L"QuillmarkUiWinReviewOwner");
    qmwintest::CertProfile profile;
    profile.subject = L"CN=Li Si, O=Quillmark Tests";
    PCCERT_CONTEXT made = qmwintest::MakeCertificate(key, profile, key, nullptr);
    CertContextPtr context =
        made == nullptr ? nullptr
                        : CertCreateCertificateContext(
                              kX509AsnEncoding, ByteSpan(made->pbCertEncoded, made->cbCertEncoded));
    if (made != nullptr) ::CertFreeCertificateContext(made);
    return context;
  }();
  if (owner == nullptr) std::abort();
  return *owner;
}

// A member call from the caller origin that signs |text|: staged as the
// control stages it, then the backend's question for the owner's key.
bool ConfirmSigning(DialogHost& host, std::u16string text) {
  host.BeginCall();
  KeyUseReview review;
  review.text_units = text.size();
  review.text = std::move(text);
  host.StageKeyUse(std::move(review), {});
  return host.ConfirmKeyUse({.action = KeyUseAction::kSign, .key_owner = &ReviewOwner()});
}

std::u16string Text(HWND window) {
  wchar_t buffer[512];
  int n = ::GetWindowTextW(window, buffer, 512);
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), n > 0 ? n : 0);
}

// The whole text of a window, however long.
std::u16string LongText(HWND window) {
  std::wstring buffer(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  int n = ::GetWindowTextW(window, buffer.data(), static_cast<int>(buffer.size()));
  return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()), n > 0 ? n : 0);
}

// Runs this thread's messages (the dialogs' timers among them) for |ms|.
void PumpMessages(int ms) {
  const DWORD end = ::GetTickCount() + static_cast<DWORD>(ms);
  while (static_cast<LONG>(::GetTickCount() - end) < 0) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    ::Sleep(10);
  }
}

// What has the focus in the dialog of |thread|, as a control id.
int FocusedId(DWORD thread) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(thread, &info) || info.hwndFocus == nullptr) return 0;
  return ::GetDlgCtrlID(info.hwndFocus);
}

bool Enabled(HWND dialog, int id) { return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE; }
// Shown when its dialog is: the windows made without waiting are never
// made visible here.
bool Shown(HWND dialog, int id) {
  return (::GetWindowLongW(::GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

// Whether the control |id| lies inside the control |frame| of |dialog|.
bool Inside(HWND dialog, int id, int frame) {
  RECT inner, outer;
  ::GetWindowRect(::GetDlgItem(dialog, id), &inner);
  ::GetWindowRect(::GetDlgItem(dialog, frame), &outer);
  return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
         inner.bottom <= outer.bottom;
}

std::u16string CellText(HWND list, int row, int column) {
  wchar_t buffer[256] = {};
  ListView_GetItemText(list, row, column, buffer, 256);
  return std::u16string(reinterpret_cast<const char16_t*>(buffer));
}

ChooserRequest ThreeRows() {
  ChooserRequest request;
  request.title = u"Choose a certificate";
  request.prompt = u"Pick the signing certificate & go";
  request.columns = {u"Subject", u"Issuer", u"Valid until"};
  request.buttons = {u"Sign", u"Stop", u"Details"};
  request.notice = u"3 certificates";
  request.rows = {{u"Alice", u"Demo CA", u"2030-01-01", 0},
                  {u"\u5F20\u4E09", u"Demo CA", u"2031-02-02", 1},
                  {u"Carol", u"Other CA", u"2032-03-03", 2}};
  request.display_order = {2, 0, 1};
  request.selected = 0;
  return request;
}

TEST_F(WinChooser, TheDialogFromResource202ShowsTheRequestRowByRow) {
  ChooserRequest request = ThreeRows();
  win::ChooserWindow state;
  state.request = &request;
  HWND dialog = win::CreateChooserWindow(nullptr, &state);
  ASSERT_NE(dialog, nullptr) << "dialog 202 is missing from the resources";
  EXPECT_EQ(Text(dialog), u"Choose a certificate");
  EXPECT_EQ(Text(::GetDlgItem(dialog, IDC_QM_PROMPT)), request.prompt);
  EXPECT_EQ(Text(::GetDlgItem(dialog, IDC_QM_NOTICE)), u"3 certificates");
  EXPECT_EQ(Text(::GetDlgItem(dialog, IDOK)), u"Sign");
  EXPECT_EQ(Text(::GetDlgItem(dialog, IDCANCEL)), u"Stop");
  EXPECT_EQ(Text(::GetDlgItem(dialog, IDC_QM_VIEW)), u"Details");

  HWND list = ::GetDlgItem(dialog, IDC_QM_LIST);
  ASSERT_NE(list, nullptr);
  EXPECT_NE(::GetWindowLongW(list, GWL_STYLE) & LVS_REPORT, 0);
  HWND header = ListView_GetHeader(list);
  EXPECT_EQ(Header_GetItemCount(header), 3);
  ASSERT_EQ(ListView_GetItemCount(list), 3);
  // Display order: Carol, Alice, 张三; each row carries its item data.
  const std::u16string expected[3][3] = {{u"Carol", u"Other CA", u"2032-03-03"},
                                         {u"Alice", u"Demo CA", u"2030-01-01"},
                                         {u"\u5F20\u4E09", u"Demo CA", u"2031-02-02"}};
  const int items[3] = {2, 0, 1};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      EXPECT_EQ(CellText(list, row, column), expected[row][column]) << row << "," << column;
    }
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    ASSERT_TRUE(ListView_GetItem(list, &item));
    EXPECT_EQ(item.lParam, items[row]);
  }
  // The preselected candidate (item 0) is the second row; OK is enabled.
  EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_SELECTED), 1);
  EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(dialog, IDOK)));

  // View answers with the selected candidate and closes the window.
  ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_QM_VIEW, BN_CLICKED), 0);
  EXPECT_EQ(state.answer.action, ChooserAnswer::Action::kView);
  EXPECT_EQ(state.answer.item, 0);
  EXPECT_FALSE(::IsWindow(dialog));
}

TEST_F(WinChooser, OkWaitsForASelectionAndAHeaderClickSorts) {
  ChooserRequest request = ThreeRows();
  request.selected = -1;
  request.display_order.clear();  // rows as given
  win::ChooserWindow state;
  state.request = &request;
  HWND dialog = win::CreateChooserWindow(nullptr, &state);
  ASSERT_NE(dialog, nullptr);
  HWND list = ::GetDlgItem(dialog, IDC_QM_LIST);
  EXPECT_EQ(CellText(list, 0, 0), u"Alice");
  EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(dialog, IDC_QM_ORIGIN)));  // a local caller
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, IDOK)));
  ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_TRUE(::IsWindow(dialog));  // nothing to choose yet
  EXPECT_EQ(state.answer.action, ChooserAnswer::Action::kCancel);

  // Selecting the third row enables OK.
  ListView_SetItemState(list, 2, LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(dialog, IDOK)));

  NMLISTVIEW click = {};
  click.hdr.hwndFrom = list;
  click.hdr.idFrom = IDC_QM_LIST;
  click.hdr.code = LVN_COLUMNCLICK;
  click.iItem = -1;
  click.iSubItem = 2;
  ::SendMessageW(dialog, WM_NOTIFY, IDC_QM_LIST, reinterpret_cast<LPARAM>(&click));
  EXPECT_EQ(state.answer.action, ChooserAnswer::Action::kSort);
  EXPECT_EQ(state.answer.column, 2);
  EXPECT_FALSE(::IsWindow(dialog));
}

// Answers the next modal dialog of this thread from a helper thread: waits
// for it to appear, then runs |act| on it (messages sent to it are handled
// by the dialog's own message loop).
class DialogAnswerer {
 public:
  explicit DialogAnswerer(std::function<void(HWND)> act)
      : thread_id_(::GetCurrentThreadId()), act_(std::move(act)) {
    worker_ = std::thread([this] { Run(); });
  }
  ~DialogAnswerer() { worker_.join(); }
  bool found() const { return found_; }

 private:
  static BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    wchar_t name[16];
    if (::GetClassNameW(window, name, 16) && std::wstring(name) == L"#32770" &&
        ::IsWindowVisible(window)) {
      *reinterpret_cast<HWND*>(found) = window;
      return FALSE;
    }
    return TRUE;
  }
  void Run() {
    for (int i = 0; i < 200; ++i) {
      HWND dialog = nullptr;
      ::EnumThreadWindows(thread_id_, FindDialog, reinterpret_cast<LPARAM>(&dialog));
      if (dialog != nullptr) {
        found_ = true;
        act_(dialog);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  DWORD thread_id_;
  std::function<void(HWND)> act_;
  std::atomic<bool> found_{false};
  std::thread worker_;
};

void Press(HWND dialog, int id) {
  ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

TEST_F(WinDialogs, ConsentHasNoDefaultAndNamesTheOrigin) {
  Win32DialogHost host;
  std::u16string shown;
  ConsentAnswer answer;
  {
    DialogAnswerer answerer([&](HWND dialog) {
      shown = Text(::GetDlgItem(dialog, IDC_QM_TEXT));
      Press(dialog, IDOK);  // Enter: not an answer
      Press(dialog, IDC_QM_ANSWER2);
    });
    answer = host.AskOriginConsent({u"https://bank.example"});
  }
  EXPECT_EQ(shown, u"https://bank.example");
  EXPECT_EQ(answer, ConsentAnswer::kAlways);
  {
    DialogAnswerer answerer([](HWND dialog) { Press(dialog, IDCANCEL); });
    EXPECT_EQ(host.AskOriginConsent({u"https://bank.example"}), ConsentAnswer::kCancel);
  }
  auto reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].answer, u"always");
  EXPECT_EQ(reports[1].answer, u"cancel");
}

TEST_F(WinDialogs, TheKeyUseConfirmationIsTheReviewWithCancelAsTheDefault) {
  Win32DialogHost host;
  host.SetCallerOrigin(u"https://bank.example");
  std::u16string review_text = u"pay 100\nto Bob";
  std::u16string text, origin;
  LRESULT def = 0;
  int focused = 0;
  const DWORD thread = ::GetCurrentThreadId();
  bool confirmed;
  {
    DialogAnswerer answerer([&](HWND dialog) {
      focused = FocusedId(thread);
      text = LongText(::GetDlgItem(dialog, IDC_QM_REVIEW_TEXT));
      origin = Text(::GetDlgItem(dialog, IDC_QM_ORIGIN));
      def = ::SendMessageW(dialog, DM_GETDEFID, 0, 0);
      Press(dialog, IDC_QM_ANSWER1);
    });
    confirmed = ConfirmSigning(host, review_text);
  }
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(text, u"pay 100\r\nto Bob");
  EXPECT_EQ(origin, u"Requested by the page at https://bank.example");
  EXPECT_EQ(LOWORD(def), IDCANCEL);
  EXPECT_EQ(focused, IDCANCEL);
}

TEST_F(WinDialogs, PinIsTakenFromTheMaskedFieldAndEmptyCancels) {
  Win32DialogHost host;
  PinAnswer answer;
  std::u16string label, tries;
  LONG style = 0;
  {
    DialogAnswerer answerer([&](HWND dialog) {
      label = Text(::GetDlgItem(dialog, IDC_QM_PIN_LABEL));
      tries = Text(::GetDlgItem(dialog, IDC_QM_PIN_TRIES));
      style = ::GetWindowLongW(::GetDlgItem(dialog, IDC_QM_PIN_EDIT), GWL_STYLE);
      ::SetDlgItemTextW(dialog, IDC_QM_PIN_EDIT, L"12\u00E934");
      Press(dialog, IDOK);
    });
    answer = host.AskPin({u"Token A", 2, false});
  }
  EXPECT_TRUE(answer.entered);
  EXPECT_EQ(answer.pin,
            "12\xC3\xA9"
            "34");
  EXPECT_EQ(label, u"PIN for Token A");
  EXPECT_EQ(tries, u"2 tries left");
  EXPECT_NE(style & ES_PASSWORD, 0);
  {
    DialogAnswerer answerer([](HWND dialog) { Press(dialog, IDOK); });
    answer = host.AskPin({u"Token A", -1, false});
  }
  EXPECT_FALSE(answer.entered);
}

TEST_F(WinDialogs, TheChooserRunsModallyUntilAnAnswerClosesIt) {
  Win32DialogHost host;
  ChooserRequest request = ThreeRows();
  ChooserAnswer answer;
  {
    DialogAnswerer answerer([](HWND dialog) {
      HWND list = ::GetDlgItem(dialog, IDC_QM_LIST);
      ListView_SetItemState(list, 0, LVIS_SELECTED, LVIS_SELECTED);  // Carol
      Press(dialog, IDOK);
    });
    answer = host.ChooseCertificate(request);
  }
  EXPECT_EQ(answer.action, ChooserAnswer::Action::kChoose);
  EXPECT_EQ(answer.item, 2);
}

// The common file dialogs: the name typed into their file-name box (cmb13 in
// the Explorer-style dialog, edt1 in the older one), then OK.
void TypeFileNameAndOk(HWND dialog, const wchar_t* name) {
  for (int id : {0x47C, 0x480}) {
    if (HWND box = ::GetDlgItem(dialog, id)) ::SetWindowTextW(box, name);
  }
  Press(dialog, IDOK);
}

TEST_F(WinDialogs, OpenAndSaveAreTheCommonDialogsWithTheOriginInTheTitle) {
  char temp[MAX_PATH];
  ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
  const std::string existing = std::string(temp) + "qm-open-me.txt";
  FILE* f = std::fopen(existing.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  std::wstring wide_existing(existing.begin(), existing.end());

  Win32DialogHost host;
  host.SetCallerOrigin(u"https://bank.example");
  std::u16string title;
  FileAnswer opened;
  {
    DialogAnswerer answerer([&](HWND dialog) {
      title = Text(dialog);
      TypeFileNameAndOk(dialog, wide_existing.c_str());
    });
    opened = host.OpenFile({u"Open a file", u"Text files|*.txt|All files|*.*"});
  }
  EXPECT_EQ(title, u"Open a file \u2014 https://bank.example");
  ASSERT_EQ(opened.outcome, FileAnswer::Outcome::kOk);
  EXPECT_EQ(opened.path, std::u16string(wide_existing.begin(), wide_existing.end()));
  {
    DialogAnswerer answerer([](HWND dialog) { Press(dialog, IDCANCEL); });
    EXPECT_EQ(host.SaveFile({u"Save", u"*.*", u"out", u"cry"}).outcome,
              FileAnswer::Outcome::kCancel);
  }
  std::remove(existing.c_str());
}

TEST_F(WinDialogs, APresetFileNameIsShownButASingleEnterDoesNotTakeIt) {
  char temp[MAX_PATH];
  ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
  const std::string existing = std::string(temp) + "qm-preset.txt";
  FILE* f = std::fopen(existing.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  const std::u16string preset(existing.begin(), existing.end());
  const DWORD thread = ::GetCurrentThreadId();
  Win32DialogHost host;
  host.SetCallerOrigin(u"https://bank.example");
  for (bool save : {false, true}) {
    SCOPED_TRACE(save ? "save" : "open");
    std::u16string shown;
    int focused = 0;
    FileAnswer answer;
    {
      DialogAnswerer answerer([&](HWND dialog) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        for (int id : {0x47C, 0x480}) {
          if (HWND box = ::GetDlgItem(dialog, id)) shown = Text(box);
        }
        focused = FocusedId(thread);
        // A person pressing Enter once, wherever the focus is.
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        ::GetGUIThreadInfo(thread, &info);
        HWND target = info.hwndFocus != nullptr ? info.hwndFocus : dialog;
        ::PostMessageW(target, WM_KEYDOWN, VK_RETURN, 1);
        ::PostMessageW(target, WM_KEYUP, VK_RETURN, 0xC0000001);
      });
      answer = save ? host.SaveFile({u"Save", u"*.*", preset, u""})
                    : host.OpenFile({u"Open", u"*.*", preset});
    }
    EXPECT_NE(shown.find(u"qm-preset"), std::u16string::npos) << "the preset is shown";
    EXPECT_EQ(focused, IDCANCEL);
    EXPECT_EQ(answer.outcome, FileAnswer::Outcome::kCancel);
  }
  std::remove(existing.c_str());
}

// $QUILLMARK_DIALOG_AUTOPILOT for as long as it lives, naming a file of |steps|.
class AutopilotSteps {
 public:
  explicit AutopilotSteps(const std::string& steps) {
    char temp[MAX_PATH];
    EXPECT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
    path_ = std::string(temp) + "qm-autopilot-" + std::to_string(::GetCurrentProcessId()) + ".txt";
    FILE* f = std::fopen(path_.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
      std::fputs(steps.c_str(), f);
      std::fclose(f);
    }
    ::SetEnvironmentVariableA("QUILLMARK_DIALOG_AUTOPILOT", path_.c_str());
  }
  ~AutopilotSteps() {
    ::SetEnvironmentVariableA("QUILLMARK_DIALOG_AUTOPILOT", nullptr);
    std::remove(path_.c_str());
  }

 private:
  std::string path_;
};

TEST_F(WinDialogs, TheAutopilotDrivesTheChooserAcrossViewAndSort) {
  AutopilotSteps steps(
      "expect-rows 2 0 1\r\n"
      "expect-ok on\n"
      "header 1\n"
      "# the chooser is asked again: the steps go on\n"
      "select 1\n"
      "click view\n"
      "\n"
      "wait 20\n"
      "double 2\n");
  Win32DialogHost host;
  ChooserRequest request = ThreeRows();
  ChooserAnswer answer = host.ChooseCertificate(request);
  EXPECT_EQ(answer.action, ChooserAnswer::Action::kSort);
  EXPECT_EQ(answer.column, 1);
  answer = host.ChooseCertificate(request);
  EXPECT_EQ(answer.action, ChooserAnswer::Action::kView);
  EXPECT_EQ(answer.item, 1);
  answer = host.ChooseCertificate(request);
  EXPECT_EQ(answer.action, ChooserAnswer::Action::kChoose);
  EXPECT_EQ(answer.item, 2);
}

TEST_F(WinDialogs, AFailedAutopilotStepCancelsAndTheNextChooserStartsOver) {
  AutopilotSteps steps("expect-rows 0 1 2\nselect 0\nclick ok\n");
  Win32DialogHost host;
  ChooserRequest request = ThreeRows();
  EXPECT_EQ(host.ChooseCertificate(request).action, ChooserAnswer::Action::kCancel);
  request.display_order = {0, 1, 2};
  ChooserAnswer answer = host.ChooseCertificate(request);
  EXPECT_EQ(answer.action, ChooserAnswer::Action::kChoose);
  EXPECT_EQ(answer.item, 0);
}

TEST_F(WinDialogs, TheAutopilotAnswersPinConsentAndKeyUse) {
  Win32DialogHost host;
  {
    AutopilotSteps steps("type 4321\nkey Return\n");
    PinAnswer pin = host.AskPin({u"Token", 3, false});
    EXPECT_TRUE(pin.entered);
    EXPECT_EQ(pin.pin, "4321");
  }
  {
    // Return answers nothing in the consent dialog.
    AutopilotSteps steps("key Return\nclick always\n");
    EXPECT_EQ(host.AskOriginConsent({u"https://bank.example"}), ConsentAnswer::kAlways);
  }
  {
    // In the key-use confirmation Return is Cancel.
    AutopilotSteps steps("key Return\nclick sign\n");
    host.SetCallerOrigin(u"https://bank.example");
    EXPECT_FALSE(ConfirmSigning(host, u"text"));
  }
  {
    AutopilotSteps steps("click allow\n");  // no such button in the key-use dialog
    EXPECT_FALSE(ConfirmSigning(host, u"text"));
  }
  {
    AutopilotSteps steps("click sign\n");
    EXPECT_TRUE(ConfirmSigning(host, u"text"));
  }
}

// --- The review pane ----------------------------------------------------------

constexpr char16_t kBank[] = u"https://bank.example";

// A text far longer than the review's text box: its end is out of view.
std::u16string LongReviewText() {
  std::u16string text = u"Pay 10 CNY to Alice\n";
  for (int i = 0; i < 120; ++i) text += u"line " + std::u16string(1, u'a' + i % 26) + u"\n";
  return text + u"AND pay 99999 CNY to Mallory";
}

KeyUseReview ShortReview() {
  KeyUseReview review;
  // Escapes as the control writes them: the window shows them as given.
  review.text = u"Pay \u27E6U+202E\u27E700.001 CNY\n\u27E6U+200B\u27E7\u27E6U+0000\u27E7end";
  review.text_units = 21;
  review.byte_count = 25;
  review.hidden_count = 3;
  review.files = {{u"contract.pdf", 1234}};
  review.owner = {u"CN=Li Si, O=Demo", u"CN=Demo CA", u"0A 1B", u"2031-02-02 00:00:00"};
  return review;
}

TEST_F(WinDialogs, TheReviewShowsOurOwnLinesAndTheTextExactlyAsGiven) {
  KeyUseReview review = ShortReview();
  win::ReviewWindow state;
  state.origin = kBank;
  state.review = &review;
  HWND dialog = win::CreateReviewWindow(nullptr, &state);
  ASSERT_NE(dialog, nullptr) << "dialog 205 is missing from the resources";
  EXPECT_EQ(Text(::GetDlgItem(dialog, IDC_QM_ORIGIN)),
            u"Requested by the page at https://bank.example");
  EXPECT_EQ(Text(::GetDlgItem(dialog, IDC_QM_ACTION)),
            u"The page asks to sign the text below with your private key.");
  EXPECT_EQ(LongText(::GetDlgItem(dialog, IDC_QM_OWNER)),
            u"Key of: CN=Li Si, O=Demo\r\nIssued by: CN=Demo CA\r\nSerial: 0A 1B\r\n"
            u"Valid until: 2031-02-02 00:00:00");
  EXPECT_EQ(Text(::GetDlgItem(dialog, IDC_QM_LENGTH)), u"21 characters");
  EXPECT_TRUE(Shown(dialog, IDC_QM_WARNING));
  EXPECT_EQ(LongText(::GetDlgItem(dialog, IDC_QM_WARNING)).rfind(u"Warning: 3 invisible", 0), 0u);
  EXPECT_EQ(LongText(::GetDlgItem(dialog, IDC_QM_REVIEW_TEXT)),
            u"Pay \u27E6U+202E\u27E700.001 CNY\r\n\u27E6U+200B\u27E7\u27E6U+0000\u27E7end");
  EXPECT_TRUE(Shown(dialog, IDC_QM_FILES));
  EXPECT_EQ(LongText(::GetDlgItem(dialog, IDC_QM_FILES)), u"Files:\r\ncontract.pdf (1234 bytes)");
  // The page cannot type into what is shown.
  EXPECT_NE(::GetWindowLongW(::GetDlgItem(dialog, IDC_QM_REVIEW_TEXT), GWL_STYLE) & ES_READONLY, 0);
  EXPECT_EQ(LOWORD(::SendMessageW(dialog, DM_GETDEFID, 0, 0)), IDCANCEL);
  EXPECT_TRUE(Enabled(dialog, IDC_QM_ANSWER1)) << "a text that fits is shown to its end";
  Press(dialog, IDC_QM_ANSWER1);
  EXPECT_FALSE(::IsWindow(dialog));
  EXPECT_TRUE(state.confirmed);
}

TEST_F(WinDialogs, TheReviewHidesTheWarningAndTheFilesWhenThereAreNone) {
  KeyUseReview review;
  review.action = KeyUseAction::kDecrypt;
  review.text_units = 1;
  review.text = u"x";
  win::ReviewWindow state;
  state.origin = kBank;
  state.review = &review;
  HWND dialog = win::CreateReviewWindow(nullptr, &state);
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(Shown(dialog, IDC_QM_WARNING));
  EXPECT_FALSE(Shown(dialog, IDC_QM_FILES));
  EXPECT_EQ(Text(::GetDlgItem(dialog, IDC_QM_LENGTH)), u"1 character");
  EXPECT_EQ(Text(::GetDlgItem(dialog, IDC_QM_ANSWER1)), u"Decrypt");
  Press(dialog, IDOK);  // Enter: Cancel is the default
  EXPECT_FALSE(::IsWindow(dialog));
  EXPECT_FALSE(state.confirmed);
}

TEST_F(WinDialogs, SignWaitsUntilTheEndOfALongTextHasBeenShown) {
  KeyUseReview review;
  review.text = LongReviewText();
  review.text_units = review.text.size();
  win::ReviewWindow state;
  state.origin = kBank;
  state.review = &review;
  HWND dialog = win::CreateReviewWindow(nullptr, &state);
  ASSERT_NE(dialog, nullptr);
  PumpMessages(300);
  EXPECT_FALSE(Enabled(dialog, IDC_QM_ANSWER1));
  Press(dialog, IDC_QM_ANSWER1);  // sent anyway: not an answer
  EXPECT_TRUE(::IsWindow(dialog));
  // The whole text is there, its end included, only not yet in view.
  EXPECT_EQ(LongText(::GetDlgItem(dialog, IDC_QM_REVIEW_TEXT)).substr(0, 21),
            u"Pay 10 CNY to Alice\r\n");
  ::SendDlgItemMessageW(dialog, IDC_QM_REVIEW_TEXT, WM_VSCROLL, SB_PAGEDOWN, 0);
  PumpMessages(300);
  EXPECT_FALSE(Enabled(dialog, IDC_QM_ANSWER1)) << "a page down is not the end";
  ::SendDlgItemMessageW(dialog, IDC_QM_REVIEW_TEXT, WM_VSCROLL, SB_BOTTOM, 0);
  PumpMessages(300);
  EXPECT_TRUE(Enabled(dialog, IDC_QM_ANSWER1));
  // Scrolling back up does not take it back: the end was shown.
  ::SendDlgItemMessageW(dialog, IDC_QM_REVIEW_TEXT, WM_VSCROLL, SB_TOP, 0);
  PumpMessages(200);
  EXPECT_TRUE(Enabled(dialog, IDC_QM_ANSWER1));
  Press(dialog, IDC_QM_ANSWER1);
  EXPECT_TRUE(state.confirmed);
}

TEST_F(WinDialogs, TheAutopilotScrollsTheReviewToItsEndBeforeItSigns) {
  Win32DialogHost host;
  host.SetCallerOrigin(kBank);
  {
    AutopilotSteps steps(
        "expect-sign off\nclick sign\nwait 200\nexpect-sign off\n"
        "scroll end\nwait 300\nexpect-sign on\nclick sign\n");
    EXPECT_TRUE(ConfirmSigning(host, LongReviewText()));
  }
  {
    // Sign pressed before the end was shown does nothing; Esc cancels.
    AutopilotSteps steps("click sign\nwait 200\nkey Esc\n");
    EXPECT_FALSE(ConfirmSigning(host, LongReviewText()));
  }
}

TEST_F(WinChooser, AWebPagesChooserFramesThePagesWordsAndNamesThePageOutside) {
  ChooserRequest request = ThreeRows();
  request.origin = kBank;
  win::ChooserWindow state;
  state.request = &request;
  state.origin = kBank;
  HWND dialog = win::CreateChooserWindow(nullptr, &state);
  ASSERT_NE(dialog, nullptr) << "dialog 206 is missing from the resources";
  EXPECT_NE(Text(dialog), request.title) << "the caption is ours";
  EXPECT_EQ(Text(::GetDlgItem(dialog, IDC_QM_ORIGIN)),
            u"Requested by the page at https://bank.example");
  EXPECT_EQ(Text(::GetDlgItem(dialog, IDC_QM_PAGE_FRAME)),
            u"Text from the page at https://bank.example");
  EXPECT_FALSE(Inside(dialog, IDC_QM_ORIGIN, IDC_QM_PAGE_FRAME));
  const struct {
    int id;
    std::u16string text;
  } page_words[] = {{IDC_QM_PAGE_TITLE, request.title},
                    {IDC_QM_PROMPT, request.prompt},
                    {IDC_QM_NOTICE, request.notice},
                    {IDOK, u"Sign"},
                    {IDCANCEL, u"Stop"},
                    {IDC_QM_VIEW, u"Details"}};
  for (const auto& word : page_words) {
    SCOPED_TRACE(word.id);
    EXPECT_EQ(Text(::GetDlgItem(dialog, word.id)), word.text);
    EXPECT_TRUE(Inside(dialog, word.id, IDC_QM_PAGE_FRAME));
  }
  // No review: no review pane, and OK follows the selection alone.
  EXPECT_FALSE(Shown(dialog, IDC_QM_REVIEW_TEXT));
  EXPECT_TRUE(Enabled(dialog, IDOK));
  ::DestroyWindow(dialog);
}

TEST_F(WinChooser, AChooserCarryingTheReviewWaitsForTheTextsEndAndARow) {
  ChooserRequest request = ThreeRows();
  request.origin = kBank;
  KeyUseReview review;
  review.text = LongReviewText() + u"\u27E6U+202E\u27E7";
  review.text_units = review.text.size();
  review.hidden_count = 1;
  request.review = review;
  win::ChooserWindow state;
  state.request = &request;
  state.origin = kBank;
  HWND dialog = win::CreateChooserWindow(nullptr, &state);
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(Shown(dialog, IDC_QM_REVIEW_TEXT));
  EXPECT_FALSE(Inside(dialog, IDC_QM_REVIEW_TEXT, IDC_QM_PAGE_FRAME));
  EXPECT_EQ(LongText(::GetDlgItem(dialog, IDC_QM_REVIEW_TEXT)), win::EditLines(review.text));
  EXPECT_TRUE(Shown(dialog, IDC_QM_WARNING));
  PumpMessages(300);
  EXPECT_FALSE(Enabled(dialog, IDOK)) << "a row is selected, the text's end not shown";
  Press(dialog, IDOK);
  EXPECT_TRUE(::IsWindow(dialog));
  ::SendDlgItemMessageW(dialog, IDC_QM_REVIEW_TEXT, WM_VSCROLL, SB_BOTTOM, 0);
  PumpMessages(300);
  EXPECT_TRUE(Enabled(dialog, IDOK));
  HWND list = ::GetDlgItem(dialog, IDC_QM_LIST);
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
  EXPECT_FALSE(Enabled(dialog, IDOK)) << "the end shown, no row selected";
  ListView_SetItemState(list, 0, LVIS_SELECTED, LVIS_SELECTED);  // Carol
  Press(dialog, IDOK);
  EXPECT_FALSE(::IsWindow(dialog));
  EXPECT_EQ(state.answer.action, ChooserAnswer::Action::kChoose);
  EXPECT_EQ(state.answer.item, 2);
}

TEST_F(WinDialogs, TheAutopilotDrivesTheChooserThatCarriesTheReview) {
  AutopilotSteps steps("expect-ok off\nscroll end\nwait 300\nexpect-ok on\nclick ok\n");
  Win32DialogHost host;
  ChooserRequest request = ThreeRows();
  request.origin = kBank;
  KeyUseReview review;
  review.text = LongReviewText();
  review.text_units = review.text.size();
  request.review = review;
  ChooserAnswer answer = host.ChooseCertificate(request);
  EXPECT_EQ(answer.action, ChooserAnswer::Action::kChoose);
  EXPECT_EQ(answer.item, 0);
}

// The script host and the host names, as tests and unattended runs use them.
TEST(WinDialogHosts, ScriptAnswersWithWindowsPathsAndCrLfLines) {
  char temp[MAX_PATH];
  ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
  const std::string script = std::string(temp) + "qm-ui-script.txt";
  FILE* f = std::fopen(script.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("choose 1\r\nsave out\r\nopen C:\\data\\in.txt\r\nallow\r\npin  0000 \r\n", f);
  std::fclose(f);
  std::unique_ptr<DialogHost> host;
  std::string error;
  ASSERT_TRUE(CreateDialogHost("script:" + script, &host, &error)) << error;
  std::remove(script.c_str());

  ChooserAnswer chosen = host->ChooseCertificate(ThreeRows());
  EXPECT_EQ(chosen.action, ChooserAnswer::Action::kChoose);
  EXPECT_EQ(chosen.item, 1);
  // A relative name is made absolute against the working folder, with the
  // default extension added.
  FileAnswer saved = host->SaveFile({u"Save", u"*.*", u"", u"cry"});
  ASSERT_EQ(saved.outcome, FileAnswer::Outcome::kOk);
  std::u16string expected;
  ASSERT_TRUE(MakeAbsolutePath(u"out.cry", &expected));
  EXPECT_EQ(saved.path, expected);
  EXPECT_EQ(saved.path.substr(1, 2), u":\\");
  FileAnswer opened = host->OpenFile({u"Open", u"*.*"});
  EXPECT_EQ(opened.path, u"C:\\data\\in.txt");
  EXPECT_EQ(host->AskOriginConsent({u"https://bank.example"}), ConsentAnswer::kAllowOnce);
  PinAnswer pin = host->AskPin({u"Token", -1, false});
  EXPECT_TRUE(pin.entered);
  EXPECT_EQ(pin.pin, "0000");
  // Exhausted: Cancel.
  EXPECT_EQ(host->ChooseCertificate(ThreeRows()).action, ChooserAnswer::Action::kCancel);
}

TEST(WinDialogHosts, GuiAndTerminalAreTheSystemsDialogs) {
  for (const char* host_name : {"gui", "terminal"}) {
    std::unique_ptr<DialogHost> host;
    std::string error;
    ASSERT_TRUE(CreateDialogHost(host_name, &host, &error)) << host_name << ": " << error;
    EXPECT_NE(dynamic_cast<Win32DialogHost*>(host.get()), nullptr) << host_name;
  }
  // A test program runs on the interactive window station, as the browser does.
  EXPECT_TRUE(DesktopDisplayReachable());
  std::unique_ptr<DialogHost> host;
  std::string error;
  EXPECT_FALSE(CreateDialogHost("qt", &host, &error));
  EXPECT_EQ(error, "unknown dialog host \"qt\" (expected script:FILE, terminal, gui or none)");
  EXPECT_FALSE(CreateDialogHost("script:C:\\no\\such\\script", &host, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace quillmark::platform::ui
