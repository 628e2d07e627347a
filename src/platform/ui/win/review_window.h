// The review of a key use for a web page, as a Win32 dialog from resource
// 205: our own lines (the page's origin, the action, the key's owner), the
// review pane (review_pane.h), Sign and Cancel. Sign stays disabled until the
// end of the text has been shown; Cancel has the focus and is the default,
// so Enter alone uses no key.
#ifndef QUILLMARK_PLATFORM_UI_WIN_REVIEW_WINDOW_H_
#define QUILLMARK_PLATFORM_UI_WIN_REVIEW_WINDOW_H_

#include <windows.h>

#include <string>

#include "platform/ui/key_use.h"
#include "platform/ui/win/autopilot.h"

namespace quillmark::platform::ui::win {

struct ReviewWindow {
  std::u16string origin;
  const KeyUseReview* review = nullptr;
  bool confirmed = false;  // Sign was pressed
  bool modal = true;
  bool filled = false;     // the dialog has its texts
  bool end_shown = false;  // the end of the text has been in view
  AutopilotRun* autopilot = nullptr;
};

// Shows the dialog and waits; true when the person pressed Sign.
bool RunReview(HWND owner, const std::u16string& origin, const KeyUseReview& review,
               AutopilotRun* autopilot);

// Creates the dialog without waiting (|state| must outlive it); null when it
// cannot be made. Closing it destroys it.
HWND CreateReviewWindow(HWND owner, ReviewWindow* state);

}  // namespace quillmark::platform::ui::win

#endif  // QUILLMARK_PLATFORM_UI_WIN_REVIEW_WINDOW_H_
