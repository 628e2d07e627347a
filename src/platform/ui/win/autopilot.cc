#include "platform/ui/win/autopilot.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstdio>

#include "common/unicode.h"
#include "platform/os/files.h"
#include "platform/os/win/wide.h"
#include "platform/ui/win/dialog_ids.h"

namespace quillmark::platform::ui::win {

namespace {

constexpr UINT_PTR kTimerId = 0x5150;
constexpr UINT kStepMilliseconds = 50;

std::vector<std::u16string> SplitWords(std::u16string_view text) {
  std::vector<std::u16string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == u' ') ++i;
    std::size_t end = text.find(u' ', i);
    if (end == std::u16string_view::npos) end = text.size();
    if (end > i) words.emplace_back(text.substr(i, end - i));
    i = end;
  }
  return words;
}

bool ToInt(std::u16string_view text, int* value) {
  if (text.empty() || text.size() > 9) return false;
  int v = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    v = v * 10 + (c - u'0');
  }
  *value = v;
  return true;
}

HWND List(HWND dialog) { return ::GetDlgItem(dialog, IDC_QM_LIST); }

int RowOfItem(HWND list, int item_data) {
  const int count = ListView_GetItemCount(list);
  for (int row = 0; row < count; ++row) {
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (ListView_GetItem(list, &item) && item.lParam == item_data) return row;
  }
  return -1;
}

int RowOfSubject(HWND list, std::u16string_view subject) {
  const int count = ListView_GetItemCount(list);
  for (int row = 0; row < count; ++row) {
    wchar_t text[512] = {};
    ListView_GetItemText(list, row, 0, text, 512);
    if (subject == std::u16string_view(reinterpret_cast<const char16_t*>(text))) return row;
  }
  return -1;
}

void SelectRow(HWND list, int row) {
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

void Notify(HWND dialog, UINT code, int row, int column) {
  NMLISTVIEW nm = {};
  nm.hdr.hwndFrom = List(dialog);
  nm.hdr.idFrom = IDC_QM_LIST;
  nm.hdr.code = code;
  nm.iItem = row;
  nm.iSubItem = column;
  ::SendMessageW(dialog, WM_NOTIFY, IDC_QM_LIST, reinterpret_cast<LPARAM>(&nm));
}

// The control a button name stands for in |dialog|; 0 when it has none.
int ButtonId(AutopilotDialog dialog, std::u16string_view name) {
  if (name == u"ok") return IDOK;
  if (name == u"cancel" || name == u"close") return IDCANCEL;
  switch (dialog) {
    case AutopilotDialog::kChooser:
      return name == u"view" ? IDC_QM_VIEW : 0;
    case AutopilotDialog::kConsent:
      return name == u"allow"    ? IDC_QM_ANSWER1
             : name == u"always" ? IDC_QM_ANSWER2
             : name == u"deny"   ? IDC_QM_ANSWER3
                                 : 0;
    case AutopilotDialog::kKeyUse:
      return name == u"sign" ? IDC_QM_ANSWER1 : 0;
    case AutopilotDialog::kPin:
      return 0;
  }
  return 0;
}

void Press(HWND dialog, int id) {
  HWND button = ::GetDlgItem(dialog, id);
  if (button != nullptr && !::IsWindowEnabled(button)) return;  // as a click on it would
  ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

// Performs one step; false with |why| when it cannot.
bool Perform(HWND dialog, AutopilotRun* run, const std::vector<std::u16string>& words,
             std::string* why) {
  const std::u16string& verb = words[0];
  const bool chooser = run->dialog == AutopilotDialog::kChooser;
  int n = 0;
  if ((verb == u"select" || verb == u"double") && chooser && words.size() == 2 &&
      ToInt(words[1], &n)) {
    int row = RowOfItem(List(dialog), n);
    if (row < 0) return (*why = "no row has this item"), false;
    SelectRow(List(dialog), row);
    if (verb == u"double") Notify(dialog, NM_DBLCLK, row, 0);
    return true;
  }
  if (verb == u"pick" && chooser && words.size() >= 2) {
    std::u16string subject = words[1];
    for (std::size_t i = 2; i < words.size(); ++i) subject += u" " + words[i];
    int row = RowOfSubject(List(dialog), subject);
    if (row < 0) return (*why = "no row has this subject"), false;
    SelectRow(List(dialog), row);
    return true;
  }
  if (verb == u"header" && chooser && words.size() == 2 && ToInt(words[1], &n) && n < 3) {
    Notify(dialog, LVN_COLUMNCLICK, -1, n);
    return true;
  }
  if (verb == u"click" && words.size() == 2) {
    int id = ButtonId(run->dialog, words[1]);
    if (id == 0) return (*why = "this dialog has no such button"), false;
    Press(dialog, id);
    return true;
  }
  if (verb == u"key" && words.size() == 2) {
    if (words[1] == u"Esc") {
      ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return true;
    }
    if (words[1] == u"Return") {
      // Enter presses the default button; without one the dialog gets IDOK.
      LRESULT def = ::SendMessageW(dialog, DM_GETDEFID, 0, 0);
      int id = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : IDOK;
      Press(dialog, id);
      return true;
    }
    return (*why = "unknown key"), false;
  }
  if (verb == u"type" && words.size() >= 2) {
    std::u16string text = words[1];
    for (std::size_t i = 2; i < words.size(); ++i) text += u" " + words[i];
    HWND focus = ::GetFocus();
    if (focus == nullptr || ::GetParent(focus) != dialog) {
      return (*why = "nothing in the dialog has the focus"), false;
    }
    ::SendMessageW(focus, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
    return true;
  }
  if (verb == u"expect-rows" && chooser) {
    HWND list = List(dialog);
    const int count = ListView_GetItemCount(list);
    bool same = count == static_cast<int>(words.size()) - 1;
    for (int row = 0; same && row < count; ++row) {
      LVITEMW item = {};
      item.mask = LVIF_PARAM;
      item.iItem = row;
      same = ListView_GetItem(list, &item) && ToInt(words[row + 1], &n) && item.lParam == n;
    }
    if (!same) return (*why = "the rows differ"), false;
    return true;
  }
  if (verb == u"expect-ok" && chooser && words.size() == 2 &&
      (words[1] == u"on" || words[1] == u"off")) {
    bool enabled = ::IsWindowEnabled(::GetDlgItem(dialog, IDOK)) != FALSE;
    if (enabled != (words[1] == u"on")) return (*why = "OK is not as expected"), false;
    return true;
  }
  if (verb == u"expect-sign" && run->dialog == AutopilotDialog::kKeyUse && words.size() == 2 &&
      (words[1] == u"on" || words[1] == u"off")) {
    bool enabled = ::IsWindowEnabled(::GetDlgItem(dialog, IDC_QM_ANSWER1)) != FALSE;
    if (enabled != (words[1] == u"on")) return (*why = "Sign is not as expected"), false;
    return true;
  }
  if (verb == u"scroll" && words.size() == 2 && words[1] == u"end") {
    HWND text = ::GetDlgItem(dialog, IDC_QM_REVIEW_TEXT);
    if (text == nullptr || !::IsWindowVisible(text)) {
      return (*why = "this dialog shows no text to review"), false;
    }
    // As the scroll bar's own end would; the edit control tells the dialog.
    ::SendMessageW(text, WM_VSCROLL, SB_BOTTOM, 0);
    return true;
  }
  if (verb == u"wait" && words.size() == 2 && ToInt(words[1], &n)) {
    run->resume_at = ::GetTickCount() + static_cast<DWORD>(n);
    return true;
  }
  *why = "not a step for this dialog";
  return false;
}

}  // namespace

std::unique_ptr<AutopilotRun> AutopilotFromEnvironment(AutopilotDialog dialog) {
  std::string path = platform::win::EnvironmentUtf8(L"QUILLMARK_DIALOG_AUTOPILOT");
  if (path.empty()) return nullptr;
  Bytes bytes;
  if (!ReadWholeFile(path, &bytes)) {
    std::fprintf(stderr, "autopilot: cannot read %s\n", path.c_str());
    return nullptr;
  }
  auto run = std::make_unique<AutopilotRun>();
  run->dialog = dialog;
  std::u16string text = Utf8ToUtf16Lossy(AsChars(bytes));
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    std::u16string line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == u'\r' || line.back() == u' ')) line.pop_back();
    std::size_t first = line.find_first_not_of(u' ');
    if (first != std::u16string::npos && line[first] != u'#')
      run->steps.push_back(line.substr(first));
    start = end + 1;
  }
  return run;
}

void StartAutopilot(HWND dialog, AutopilotRun* run) {
  if (run == nullptr || run->failed) return;
  ::SetTimer(dialog, kTimerId, kStepMilliseconds, nullptr);
}

bool AutopilotTimer(HWND dialog, UINT message, WPARAM wparam, AutopilotRun* run) {
  if (message != WM_TIMER || wparam != kTimerId) return false;
  if (run == nullptr || run->failed || run->next >= run->steps.size()) {
    ::KillTimer(dialog, kTimerId);
    return true;
  }
  if (run->resume_at != 0 && static_cast<LONG>(::GetTickCount() - run->resume_at) < 0) return true;
  run->resume_at = 0;
  const std::u16string step = run->steps[run->next++];
  std::vector<std::u16string> words = SplitWords(step);
  std::string why;
  if (!words.empty() && Perform(dialog, run, words, &why)) return true;
  run->failed = true;
  ::KillTimer(dialog, kTimerId);
  std::fprintf(stderr, "autopilot: %s: %s\n", Utf16ToUtf8Lossy(step).c_str(), why.c_str());
  ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  return true;
}

}  // namespace quillmark::platform::ui::win
