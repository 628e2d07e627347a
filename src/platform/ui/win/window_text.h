// Small helpers for the Windows dialogs: texts in and out of controls.
#ifndef QUILLMARK_PLATFORM_UI_WIN_WINDOW_TEXT_H_
#define QUILLMARK_PLATFORM_UI_WIN_WINDOW_TEXT_H_

#include <windows.h>

#include <string>
#include <string_view>

namespace quillmark::platform::ui::win {

inline const wchar_t* W(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// Sets the text of control |id| when |text| is not empty (the resource's own
// text stays otherwise).
void SetTextIfAny(HWND dialog, int id, const std::u16string& text);

// Shows the origin in control |id|, or hides the control for a local caller.
void ShowOrigin(HWND dialog, int id, const std::u16string& origin);

// Makes the common controls (the list view) available; once per process.
void InitCommonControlsOnce();

}  // namespace quillmark::platform::ui::win

#endif  // QUILLMARK_PLATFORM_UI_WIN_WINDOW_TEXT_H_
