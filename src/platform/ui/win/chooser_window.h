// The certificate chooser as a Win32 dialog from resource 202: the request's
// title, prompt, notice and button texts, and a list view of the rows in
// display order with the three column headers.
//
// For a web page (an origin) it is resource 206: our own line "Requested by
// the page at ORIGIN" on top, and the texts the page set (title, prompt,
// notice, the buttons' labels) inside a frame labelled as the page's words.
// When the request carries the review of the key use, the review pane
// (review_pane.h) shows the text, and OK also waits until the text's end
// has been shown.
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
  bool filled = false;                // the dialog has its texts
  bool end_shown = false;             // the review's text end has been in view (or no review)
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
