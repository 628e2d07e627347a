#include "platform/ui/win/chooser_window.h"

#include <commctrl.h>

#include "platform/os/win/module_handle.h"
#include "platform/ui/win/dialog_ids.h"
#include "platform/ui/win/review_pane.h"
#include "platform/ui/win/window_text.h"

namespace quillmark::platform::ui::win {

namespace {

constexpr int kColumnWidths[3] = {130, 130, 62};  // dialog units

// The item data of the selected row, or -1.
int SelectedItem(HWND list) {
  int index = ListView_GetNextItem(list, -1, LVNI_SELECTED);
  if (index < 0) return -1;
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = index;
  if (!ListView_GetItem(list, &item)) return -1;
  return static_cast<int>(item.lParam);
}

// Whether OK may close the dialog: a row is selected and, with a review,
// the text's end has been shown.
bool CanChoose(HWND dialog, const ChooserWindow* state) {
  return state->end_shown && SelectedItem(::GetDlgItem(dialog, IDC_QM_LIST)) >= 0;
}

void UpdateOk(HWND dialog, const ChooserWindow* state) {
  ::EnableWindow(::GetDlgItem(dialog, IDOK), CanChoose(dialog, state));
}

void CheckEnd(HWND dialog, ChooserWindow* state) {
  // The control scrolls as it takes the text: only what the person can see
  // once the dialog is filled counts.
  if (!state->filled || state->end_shown || !ReviewEndShown(dialog)) return;
  state->end_shown = true;
  ::KillTimer(dialog, kReviewTimerId);
  UpdateOk(dialog, state);
}

int Template(const ChooserWindow* state) {
  return state->origin.empty() ? IDD_QM_CHOOSER : IDD_QM_CHOOSER_WEB;
}

void Close(HWND dialog, ChooserWindow* state, ChooserAnswer answer) {
  ::KillTimer(dialog, kReviewTimerId);
  state->answer = answer;
  if (state->modal) {
    ::EndDialog(dialog, 1);
  } else {
    ::DestroyWindow(dialog);
  }
}

void FillList(HWND dialog, const ChooserRequest& request) {
  HWND list = ::GetDlgItem(dialog, IDC_QM_LIST);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
  for (int c = 0; c < 3; ++c) {
    RECT width = {0, 0, kColumnWidths[c], 0};
    ::MapDialogRect(dialog, &width);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.cx = width.right;
    column.iSubItem = c;
    column.pszText = const_cast<wchar_t*>(W(request.columns[c]));
    ListView_InsertColumn(list, c, &column);
  }
  const std::size_t count =
      request.display_order.empty() ? request.rows.size() : request.display_order.size();
  for (std::size_t n = 0; n < count; ++n) {
    const std::size_t r = request.display_order.empty() ? n : request.display_order[n];
    if (r >= request.rows.size()) continue;
    const ChooserRow& row = request.rows[r];
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = static_cast<int>(n);
    item.pszText = const_cast<wchar_t*>(W(row.subject));
    item.lParam = row.item;
    int index = ListView_InsertItem(list, &item);
    if (index < 0) continue;
    ListView_SetItemText(list, index, 1, const_cast<wchar_t*>(W(row.issuer)));
    ListView_SetItemText(list, index, 2, const_cast<wchar_t*>(W(row.not_after)));
    if (row.item == request.selected) {
      ListView_SetItemState(list, index, LVIS_SELECTED | LVIS_FOCUSED,
                            LVIS_SELECTED | LVIS_FOCUSED);
      ListView_EnsureVisible(list, index, FALSE);
    }
  }
}

// Resource 206: our line naming the page, its texts in the frame, and the
// review pane or nothing in its place.
void ShowWebTexts(HWND dialog, const ChooserRequest& request, const std::u16string& origin) {
  ::SetDlgItemTextW(dialog, IDC_QM_ORIGIN, W(RequestedByLine(origin)));
  ::SetDlgItemTextW(dialog, IDC_QM_PAGE_FRAME, W(u"Text from the page at " + origin));
  ::SetDlgItemTextW(dialog, IDC_QM_PAGE_TITLE, W(request.title));
  if (request.review.has_value()) {
    FillReviewPane(dialog, *request.review);
  } else {
    for (int id : {IDC_QM_LENGTH, IDC_QM_WARNING, IDC_QM_REVIEW_TEXT}) {
      ::ShowWindow(::GetDlgItem(dialog, id), SW_HIDE);
    }
  }
}

INT_PTR CALLBACK ChooserProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<ChooserWindow*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  if (state != nullptr && AutopilotTimer(dialog, message, wparam, state->autopilot)) return TRUE;
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<ChooserWindow*>(lparam);
      ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
      const ChooserRequest& request = *state->request;
      if (state->origin.empty()) {
        if (!request.title.empty()) ::SetWindowTextW(dialog, W(request.title));
        ShowOrigin(dialog, IDC_QM_ORIGIN, state->origin);
      } else {
        ShowWebTexts(dialog, request, state->origin);
      }
      SetTextIfAny(dialog, IDC_QM_PROMPT, request.prompt);
      SetTextIfAny(dialog, IDC_QM_NOTICE, request.notice);
      SetTextIfAny(dialog, IDOK, request.buttons[0]);
      SetTextIfAny(dialog, IDCANCEL, request.buttons[1]);
      SetTextIfAny(dialog, IDC_QM_VIEW, request.buttons[2]);
      FillList(dialog, request);
      state->filled = true;
      state->end_shown = !request.review.has_value() || ReviewEndShown(dialog);
      UpdateOk(dialog, state);
      if (!state->end_shown) ::SetTimer(dialog, kReviewTimerId, kReviewTimerMilliseconds, nullptr);
      ::SetFocus(::GetDlgItem(dialog, IDC_QM_LIST));
      StartAutopilot(dialog, state->autopilot);
      return FALSE;  // the focus is set
    }
    case WM_TIMER:
      if (state == nullptr || wparam != kReviewTimerId) break;
      CheckEnd(dialog, state);
      return TRUE;
    case WM_COMMAND: {
      if (state == nullptr) break;
      HWND list = ::GetDlgItem(dialog, IDC_QM_LIST);
      if (LOWORD(wparam) == IDC_QM_REVIEW_TEXT && HIWORD(wparam) == EN_VSCROLL) {
        CheckEnd(dialog, state);
        return TRUE;
      }
      switch (LOWORD(wparam)) {
        case IDOK: {
          int item = SelectedItem(list);
          if (item >= 0 && CanChoose(dialog, state))
            Close(dialog, state, {ChooserAnswer::Action::kChoose, item, -1});
          return TRUE;
        }
        case IDCANCEL:
          Close(dialog, state, {ChooserAnswer::Action::kCancel, -1, -1});
          return TRUE;
        case IDC_QM_VIEW:
          Close(dialog, state, {ChooserAnswer::Action::kView, SelectedItem(list), -1});
          return TRUE;
      }
      break;
    }
    case WM_NOTIFY: {
      if (state == nullptr || wparam != IDC_QM_LIST) break;
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->code == LVN_ITEMCHANGED) {
        UpdateOk(dialog, state);
      } else if (header->code == LVN_COLUMNCLICK) {
        const auto* view = reinterpret_cast<const NMLISTVIEW*>(lparam);
        Close(dialog, state, {ChooserAnswer::Action::kSort, -1, view->iSubItem});
      } else if (header->code == NM_DBLCLK) {
        int item = SelectedItem(header->hwndFrom);
        if (item >= 0 && CanChoose(dialog, state))
          Close(dialog, state, {ChooserAnswer::Action::kChoose, item, -1});
      }
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace

ChooserAnswer RunChooser(HWND owner, const ChooserRequest& request, const std::u16string& origin,
                         AutopilotRun* autopilot) {
  InitCommonControlsOnce();
  ChooserWindow state;
  state.request = &request;
  state.origin = origin;
  state.modal = true;
  state.autopilot = autopilot;
  INT_PTR rc = ::DialogBoxParamW(platform::win::ThisModule(), MAKEINTRESOURCEW(Template(&state)),
                                 owner, ChooserProc, reinterpret_cast<LPARAM>(&state));
  if (rc <= 0) return ChooserAnswer{};  // no dialog: Cancel
  return state.answer;
}

HWND CreateChooserWindow(HWND owner, ChooserWindow* state) {
  InitCommonControlsOnce();
  state->modal = false;
  return ::CreateDialogParamW(platform::win::ThisModule(), MAKEINTRESOURCEW(Template(state)), owner,
                              ChooserProc, reinterpret_cast<LPARAM>(state));
}

}  // namespace quillmark::platform::ui::win
