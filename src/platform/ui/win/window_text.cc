#include "platform/ui/win/window_text.h"

#include <commctrl.h>

namespace quillmark::platform::ui::win {

void SetTextIfAny(HWND dialog, int id, const std::u16string& text) {
  if (!text.empty()) ::SetDlgItemTextW(dialog, id, W(text));
}

void ShowOrigin(HWND dialog, int id, const std::u16string& origin) {
  if (origin.empty()) {
    ::ShowWindow(::GetDlgItem(dialog, id), SW_HIDE);
  } else {
    ::SetDlgItemTextW(dialog, id, W(origin));
  }
}

void InitCommonControlsOnce() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    return ::InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)done;
}

}  // namespace quillmark::platform::ui::win
