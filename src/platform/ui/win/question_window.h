// Dialog 204: a question with up to three answers and Cancel, above a
// read-only text (the origin asking, or what is about to be signed).
// Used for the origin consent and the key-use confirmation.
#ifndef QUILLMARK_PLATFORM_UI_WIN_QUESTION_WINDOW_H_
#define QUILLMARK_PLATFORM_UI_WIN_QUESTION_WINDOW_H_

#include <windows.h>

#include <array>
#include <string>

#include "platform/ui/win/autopilot.h"

namespace quillmark::platform::ui::win {

struct Question {
  std::u16string title;
  std::u16string origin;
  std::u16string prompt;
  std::u16string text;                    // shown read-only; may span lines
  std::array<std::u16string, 3> answers;  // empty: that button is hidden
  int default_answer = -1;                // 0..2, or -1: Cancel (consent: none)
  bool no_default = false;                // Enter alone does nothing
  AutopilotRun* autopilot = nullptr;      // steps performed on the dialog, or none
};

// 0, 1 or 2 for the answer pressed; -1 for Cancel, Esc or the close box, and
// when the dialog cannot be shown.
int AskQuestion(HWND owner, const Question& question);

}  // namespace quillmark::platform::ui::win

#endif  // QUILLMARK_PLATFORM_UI_WIN_QUESTION_WINDOW_H_
