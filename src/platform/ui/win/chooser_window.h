// The certificate chooser as a Win32 dialog from resource 202: the request's
// title, prompt, notice and button texts, the caller's origin on top, and a
// list view of the rows in display order with the three column headers.
//
// OK is enabled only while a row is selected; a double click on a row is OK;
// View and a click on a column header close the dialog with kView or kSort,
// and the caller asks again with the updated request (dialog_host.h).
#ifndef QUILLMARK_PLATFORM_UI_WIN_CHOOSER_WINDOW_H_
#define QUILLMARK_PLATFORM_UI_WIN_CHOOSER_WINDOW_H_

#include <windows.h>

#include <string>

#include "platform/ui/dialog_host.h"
#include "platform/ui/win/autopilot.h"

namespace quillmark::platform::ui::win {

struct ChooserWindow {
  const ChooserRequest* request = nullptr;
  std::u16string origin;  // empty: a local caller
  ChooserAnswer answer;   // Cancel until the user answers
  bool modal = true;
  AutopilotRun* autopilot = nullptr;  // steps performed on the dialog, or none
};

// Shows the dialog and waits for the answer; |autopilot| (may be null)
// performs its steps on it.
ChooserAnswer RunChooser(HWND owner, const ChooserRequest& request, const std::u16string& origin,
                         AutopilotRun* autopilot);

// Creates the dialog without waiting (|state| must outlive the window);
// null when it cannot be made. The caller destroys it with DestroyWindow.
HWND CreateChooserWindow(HWND owner, ChooserWindow* state);

}  // namespace quillmark::platform::ui::win

#endif  // QUILLMARK_PLATFORM_UI_WIN_CHOOSER_WINDOW_H_
