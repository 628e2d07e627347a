#include "platform/ui/win/review_window.h"

#include "platform/os/win/module_handle.h"
#include "platform/ui/win/dialog_ids.h"
#include "platform/ui/win/review_pane.h"
#include "platform/ui/win/window_text.h"

namespace quillmark::platform::ui::win {

namespace {

void Close(HWND dialog, ReviewWindow* state, bool confirmed) {
  state->confirmed = confirmed;
  ::KillTimer(dialog, kReviewTimerId);
  if (state->modal) {
    ::EndDialog(dialog, 1);
  } else {
    ::DestroyWindow(dialog);
  }
}

// Enables Sign once the end of the text has been in view; it stays enabled.
void CheckEnd(HWND dialog, ReviewWindow* state) {
  // The control scrolls as it takes the text: only what the person can see
  // once the dialog is filled counts.
  if (!state->filled || state->end_shown || !ReviewEndShown(dialog)) return;
  state->end_shown = true;
  ::KillTimer(dialog, kReviewTimerId);
  ::EnableWindow(::GetDlgItem(dialog, IDC_QM_ANSWER1), TRUE);
}

INT_PTR CALLBACK ReviewProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<ReviewWindow*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  if (state != nullptr && AutopilotTimer(dialog, message, wparam, state->autopilot)) return TRUE;
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<ReviewWindow*>(lparam);
      ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
      const KeyUseReview& review = *state->review;
      ::SetDlgItemTextW(dialog, IDC_QM_ORIGIN, W(RequestedByLine(state->origin)));
      ::SetDlgItemTextW(dialog, IDC_QM_ACTION, W(ActionLine(review.action)));
      ::SetDlgItemTextW(dialog, IDC_QM_OWNER, W(OwnerLines(review.owner)));
      FillReviewPane(dialog, review);
      state->filled = true;
      if (review.action == KeyUseAction::kDecrypt) {
        ::SetDlgItemTextW(dialog, IDC_QM_ANSWER1, L"Decrypt");
      }
      ::SendMessageW(dialog, DM_SETDEFID, IDCANCEL, 0);
      ::SetFocus(::GetDlgItem(dialog, IDCANCEL));
      CheckEnd(dialog, state);
      if (!state->end_shown) ::SetTimer(dialog, kReviewTimerId, kReviewTimerMilliseconds, nullptr);
      StartAutopilot(dialog, state->autopilot);
      return FALSE;  // the focus is set
    }
    case WM_TIMER:
      if (state == nullptr || wparam != kReviewTimerId) break;
      CheckEnd(dialog, state);
      return TRUE;
    case WM_COMMAND:
      if (state == nullptr) break;
      if (LOWORD(wparam) == IDC_QM_REVIEW_TEXT && HIWORD(wparam) == EN_VSCROLL) {
        CheckEnd(dialog, state);
        return TRUE;
      }
      switch (LOWORD(wparam)) {
        case IDC_QM_ANSWER1:
          // A disabled button cannot be pressed; a message sent anyway is not
          // an answer either.
          if (state->end_shown) Close(dialog, state, true);
          return TRUE;
        case IDOK:  // Enter: the default button is Cancel
        case IDCANCEL:
          Close(dialog, state, false);
          return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

bool RunReview(HWND owner, const std::u16string& origin, const KeyUseReview& review,
               AutopilotRun* autopilot) {
  ReviewWindow state;
  state.origin = origin;
  state.review = &review;
  state.autopilot = autopilot;
  INT_PTR rc = ::DialogBoxParamW(platform::win::ThisModule(), MAKEINTRESOURCEW(IDD_QM_REVIEW),
                                 owner, ReviewProc, reinterpret_cast<LPARAM>(&state));
  return rc > 0 && state.confirmed;
}

HWND CreateReviewWindow(HWND owner, ReviewWindow* state) {
  state->modal = false;
  return ::CreateDialogParamW(platform::win::ThisModule(), MAKEINTRESOURCEW(IDD_QM_REVIEW), owner,
                              ReviewProc, reinterpret_cast<LPARAM>(state));
}

}  // namespace quillmark::platform::ui::win
