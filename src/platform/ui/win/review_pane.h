// The review pane of the Windows dialogs: what a web page's key use will
// sign, in controls the page cannot write (dialog_ids.h), shared by the
// review window and the chooser that carries the review.
//
//   IDC_QM_LENGTH       "N characters"
//   IDC_QM_WARNING      a warning when the text holds marked escapes; hidden
//                       otherwise
//   IDC_QM_REVIEW_TEXT  the whole text, read-only, scrollable
//   IDC_QM_FILES        the files of a form, name and size; hidden when none
//
// The person must have seen the end of the text before the key may be used:
// ReviewEndShown tells whether the last line has been in view, which the
// windows check on every scroll and on a short timer (keyboard scrolling
// sends no notification).
#ifndef QUILLMARK_PLATFORM_UI_WIN_REVIEW_PANE_H_
#define QUILLMARK_PLATFORM_UI_WIN_REVIEW_PANE_H_

#include <windows.h>

#include <string>

#include "platform/ui/key_use.h"

namespace quillmark::platform::ui::win {

// The timer the windows check the text's end with.
inline constexpr UINT_PTR kReviewTimerId = 0x5152;
inline constexpr UINT kReviewTimerMilliseconds = 100;

// Our own lines: "Requested by the page at ORIGIN", the action, the key's
// owner, the length, the warning (empty when nothing is hidden), the files.
std::u16string RequestedByLine(const std::u16string& origin);
std::u16string ActionLine(KeyUseAction action);
std::u16string OwnerLines(const KeyOwner& owner);
std::u16string LengthLine(const KeyUseReview& review);
std::u16string WarningLine(const KeyUseReview& review);
std::u16string FilesLines(const KeyUseReview& review);

// Line ends as an edit control shows them: "\r\n".
std::u16string EditLines(const std::u16string& text);

// Fills the pane's controls of |dialog| from |review|.
void FillReviewPane(HWND dialog, const KeyUseReview& review);

// Whether the last line of IDC_QM_REVIEW_TEXT is in view now (true when
// the dialog has no such control).
bool ReviewEndShown(HWND dialog);

}  // namespace quillmark::platform::ui::win

#endif  // QUILLMARK_PLATFORM_UI_WIN_REVIEW_PANE_H_
