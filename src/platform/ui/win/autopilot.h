// Scripted use of the Windows dialogs, for tests without a person, as
// quillmark-dialog takes it on Linux: $QUILLMARK_DIALOG_AUTOPILOT names a
// file of steps, one a line, performed on the real controls one at a time
// (a step every 50 ms) once the dialog is up:
//
//   select ITEM        select the chooser row whose item data is ITEM
//   pick SUBJECT       select the chooser row whose subject is SUBJECT
//   double ITEM        double-click the row whose item data is ITEM
//   header C           click the header of column C
//   click NAME         press the button NAME (ok, cancel, view, allow,
//                      always, deny, sign, close)
//   key KEY            press Esc or Return
//   type TEXT          type TEXT into the control that has the focus
//   expect-rows A B .. the chooser shows these items, top to bottom
//   expect-ok on|off   the chooser's OK button is enabled or not
//   expect-sign on|off the review's Sign button is enabled or not
//   scroll end         scroll the review's text to its end
//   wait MS            pause
//
// Blank lines and lines starting with '#' are skipped. Each dialog starts at
// the first step, except the chooser, which goes on where it was after View
// or a header click (the helper's window stays up there too). A step that
// cannot be performed or an expectation that fails closes the dialog as
// Cancel, with one line on standard error ("shot" is one: no screenshots
// here). Steps that run out leave the dialog to a person.
#ifndef QUILLMARK_PLATFORM_UI_WIN_AUTOPILOT_H_
#define QUILLMARK_PLATFORM_UI_WIN_AUTOPILOT_H_

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace quillmark::platform::ui::win {

enum class AutopilotDialog { kChooser, kConsent, kKeyUse, kPin };

struct AutopilotRun {
  AutopilotDialog dialog = AutopilotDialog::kChooser;
  std::vector<std::u16string> steps;
  std::size_t next = 0;
  DWORD resume_at = 0;  // GetTickCount() before which "wait" holds
  bool failed = false;
};

// A run over the steps of $QUILLMARK_DIALOG_AUTOPILOT, or null when it is
// unset or cannot be read (a line on standard error says so).
std::unique_ptr<AutopilotRun> AutopilotFromEnvironment(AutopilotDialog dialog);

// Starts |run| (may be null: nothing happens) on a dialog just made; the
// dialog's procedure passes its WM_TIMER messages to AutopilotTimer.
void StartAutopilot(HWND dialog, AutopilotRun* run);

// True when |message| was the autopilot's timer and has been handled.
bool AutopilotTimer(HWND dialog, UINT message, WPARAM wparam, AutopilotRun* run);

}  // namespace quillmark::platform::ui::win

#endif  // QUILLMARK_PLATFORM_UI_WIN_AUTOPILOT_H_
