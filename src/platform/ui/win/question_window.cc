#include "platform/ui/win/question_window.h"

#include "platform/os/win/module_handle.h"
#include "platform/ui/win/dialog_ids.h"
#include "platform/ui/win/window_text.h"

namespace quillmark::platform::ui::win {

namespace {

constexpr int kAnswerIds[3] = {IDC_QM_ANSWER1, IDC_QM_ANSWER2, IDC_QM_ANSWER3};
// Answers end the dialog with 100 + their index: 0 and -1 are what
// DialogBoxParamW returns when it fails.
constexpr int kFirstAnswer = 100;

// Line ends as the edit control shows them: "\r\n".
std::u16string EditLines(const std::u16string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) out.push_back(u'\r');
    out.push_back(text[i]);
  }
  return out;
}

INT_PTR CALLBACK QuestionProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* q = reinterpret_cast<const Question*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  if (q != nullptr && AutopilotTimer(dialog, message, wparam, q->autopilot)) return TRUE;
  switch (message) {
    case WM_INITDIALOG: {
      q = reinterpret_cast<const Question*>(lparam);
      ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
      if (!q->title.empty()) ::SetWindowTextW(dialog, W(q->title));
      ShowOrigin(dialog, IDC_QM_ORIGIN, q->origin);
      SetTextIfAny(dialog, IDC_QM_PROMPT, q->prompt);
      ::SetDlgItemTextW(dialog, IDC_QM_TEXT, W(EditLines(q->text)));
      for (int i = 0; i < 3; ++i) {
        HWND button = ::GetDlgItem(dialog, kAnswerIds[i]);
        if (q->answers[i].empty()) {
          ::ShowWindow(button, SW_HIDE);
        } else {
          ::SetWindowTextW(button, W(q->answers[i]));
        }
      }
      HWND focus = ::GetDlgItem(dialog, IDCANCEL);
      if (q->no_default) {
        ::SendMessageW(dialog, DM_SETDEFID, 0, 0);
        focus = ::GetDlgItem(dialog, IDC_QM_TEXT);
      } else if (q->default_answer >= 0 && q->default_answer < 3) {
        ::SendMessageW(dialog, DM_SETDEFID, kAnswerIds[q->default_answer], 0);
        focus = ::GetDlgItem(dialog, kAnswerIds[q->default_answer]);
      } else {
        ::SendMessageW(dialog, DM_SETDEFID, IDCANCEL, 0);
      }
      ::SetFocus(focus);
      StartAutopilot(dialog, q->autopilot);
      return FALSE;
    }
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:  // Enter with no default button: not an answer
          return TRUE;
        case IDCANCEL:
          ::EndDialog(dialog, -1);
          return TRUE;
        case IDC_QM_ANSWER1:
        case IDC_QM_ANSWER2:
        case IDC_QM_ANSWER3:
          ::EndDialog(dialog, kFirstAnswer + (LOWORD(wparam) - IDC_QM_ANSWER1));
          return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

int AskQuestion(HWND owner, const Question& question) {
  INT_PTR rc = ::DialogBoxParamW(platform::win::ThisModule(), MAKEINTRESOURCEW(IDD_QM_QUESTION),
                                 owner, QuestionProc, reinterpret_cast<LPARAM>(&question));
  return rc >= kFirstAnswer && rc < kFirstAnswer + 3 ? static_cast<int>(rc - kFirstAnswer) : -1;
}

}  // namespace quillmark::platform::ui::win
