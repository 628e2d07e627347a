#include "platform/ui/win/win32_host.h"

// clang-format off
#include <windows.h>
#include <commdlg.h>
// clang-format on

#include <string>
#include <vector>

#include "common/unicode.h"
#include "platform/os/secret_input.h"
#include "platform/os/win/module_handle.h"
#include "platform/ui/win/autopilot.h"
#include "platform/ui/win/chooser_window.h"
#include "platform/ui/win/dialog_ids.h"
#include "platform/ui/win/question_window.h"
#include "platform/ui/win/review_window.h"
#include "platform/ui/win/window_text.h"

namespace quillmark::platform::ui {

namespace {

using win::W;

constexpr DWORD kNameUnits = 1024;  // the file-name buffer, terminator included
constexpr int kMaxPinUnits = 256;

// The window the dialogs belong to: the calling thread's active window (the
// browser's, for a control on a page), or none.
HWND Owner() { return ::GetActiveWindow(); }

// "Description|pattern|Description|pattern" or a bare pattern ("*.*") as
// the double-NUL-terminated list the file dialogs take.
std::wstring FilterList(const std::u16string& filter) {
  std::u16string text = filter.empty() ? u"*.*" : filter;
  std::wstring list;
  if (text.find(u'|') == std::u16string::npos) {
    list = std::wstring(W(text)) + L'\0' + W(text) + L'\0';
  } else {
    for (char16_t c : text) list.push_back(c == u'|' ? L'\0' : static_cast<wchar_t>(c));
    if (list.back() != L'\0') list.push_back(L'\0');
  }
  list.push_back(L'\0');
  return list;
}

// The title with the origin after it, so a person sees who asks.
std::u16string TitleFor(const std::u16string& title, const std::u16string& origin) {
  if (origin.empty()) return title;
  return title.empty() ? origin : title + u" \u2014 " + origin;
}

// A path filled in beforehand (by a web page, perhaps) is shown but never
// taken on a single Enter: once the dialog is up the focus goes to Cancel,
// so the person has to go to the name or the files to take one.
constexpr UINT kFocusCancel = WM_APP + 1;

UINT_PTR CALLBACK PresetHook(HWND child, UINT message, WPARAM /*wparam*/, LPARAM lparam) {
  if (message == WM_NOTIFY &&
      reinterpret_cast<const NMHDR*>(lparam)->code == static_cast<UINT>(CDN_INITDONE)) {
    // After the dialog has set its own focus.
    ::PostMessageW(child, kFocusCancel, 0, 0);
  } else if (message == kFocusCancel) {
    HWND dialog = ::GetParent(child);
    ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(dialog, IDCANCEL)),
                   TRUE);
    return TRUE;
  }
  return 0;
}

FileAnswer FileDialog(bool save, const std::u16string& title, const std::u16string& filter,
                      const std::u16string& preset, const std::u16string& default_ext,
                      const std::u16string& origin) {
  FileAnswer answer;
  std::vector<wchar_t> name(kNameUnits, L'\0');
  if (preset.size() < kNameUnits) {
    std::copy(preset.begin(), preset.end(), name.begin());
  }
  std::wstring filters = FilterList(filter);
  std::u16string shown_title = TitleFor(title, origin);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = Owner();
  ofn.lpstrFilter = filters.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = kNameUnits;
  ofn.lpstrTitle = shown_title.empty() ? nullptr : W(shown_title);
  ofn.lpstrDefExt = default_ext.empty() ? nullptr : W(default_ext);
  // The working folder stays as it is: relative paths elsewhere keep their meaning.
  ofn.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
  ofn.Flags |= save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST;
  if (!preset.empty()) {
    ofn.Flags |= OFN_ENABLEHOOK | OFN_ENABLESIZING;
    ofn.lpfnHook = PresetHook;
  }
  BOOL ok = save ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn);
  if (ok) {
    answer.outcome = FileAnswer::Outcome::kOk;
    answer.path.assign(reinterpret_cast<const char16_t*>(name.data()));
  } else {
    // No extended error: the user cancelled. Anything else (a name longer
    // than the buffer, no dialog at all) is an error.
    answer.outcome =
        ::CommDlgExtendedError() == 0 ? FileAnswer::Outcome::kCancel : FileAnswer::Outcome::kError;
  }
  return answer;
}

// --- PIN (dialog 203) --------------------------------------------------------

struct PinWindow {
  const PinRequest* request;
  std::u16string origin;
  std::string pin;  // UTF-8, filled on OK
  win::AutopilotRun* autopilot;
};

std::u16string TriesText(int tries) {
  if (tries < 0) return std::u16string();
  std::string text = std::to_string(tries) + (tries == 1 ? " try left" : " tries left");
  return std::u16string(text.begin(), text.end());
}

INT_PTR CALLBACK PinProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<PinWindow*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  if (state != nullptr && win::AutopilotTimer(dialog, message, wparam, state->autopilot)) {
    return TRUE;
  }
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<PinWindow*>(lparam);
      ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
      const PinRequest& r = *state->request;
      ::SetWindowTextW(dialog, r.passphrase ? L"Passphrase" : L"PIN");
      win::ShowOrigin(dialog, IDC_QM_ORIGIN, state->origin);
      std::u16string label = (r.passphrase ? u"Passphrase for " : u"PIN for ") + r.label;
      ::SetDlgItemTextW(dialog, IDC_QM_PIN_LABEL, W(label));
      ::SetDlgItemTextW(dialog, IDC_QM_PIN_TRIES, W(TriesText(r.tries_left)));
      ::SendDlgItemMessageW(dialog, IDC_QM_PIN_EDIT, EM_LIMITTEXT, kMaxPinUnits, 0);
      ::SetFocus(::GetDlgItem(dialog, IDC_QM_PIN_EDIT));
      win::StartAutopilot(dialog, state->autopilot);
      return FALSE;
    }
    case WM_COMMAND:
      if (state == nullptr) break;
      if (LOWORD(wparam) == IDOK) {
        wchar_t typed[kMaxPinUnits + 1] = {};
        int n = ::GetDlgItemTextW(dialog, IDC_QM_PIN_EDIT, typed, kMaxPinUnits + 1);
        std::u16string text(reinterpret_cast<const char16_t*>(typed), n > 0 ? n : 0);
        state->pin = Utf16ToUtf8Lossy(text);
        ::SecureZeroMemory(typed, sizeof typed);
        ::SecureZeroMemory(text.data(), text.size() * sizeof(char16_t));
        ::SetDlgItemTextW(dialog, IDC_QM_PIN_EDIT, L"");
        ::EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

Win32DialogHost::Win32DialogHost() = default;
Win32DialogHost::~Win32DialogHost() = default;

DialogHost::ChooserReply Win32DialogHost::AskChooser(const ChooserRequest& request) {
  if (chooser_autopilot_ == nullptr) {
    chooser_autopilot_ = win::AutopilotFromEnvironment(win::AutopilotDialog::kChooser);
  }
  ChooserReply reply;
  const std::u16string& origin = request.origin.empty() ? caller_origin() : request.origin;
  reply.answer = win::RunChooser(Owner(), request, origin, chooser_autopilot_.get());
  if (reply.answer.action == ChooserAnswer::Action::kChoose ||
      reply.answer.action == ChooserAnswer::Action::kCancel) {
    chooser_autopilot_.reset();  // the next chooser starts at the first step
  }
  return reply;
}

DialogHost::FileReply Win32DialogHost::AskOpen(const OpenFileRequest& request) {
  FileReply reply;
  reply.answer =
      FileDialog(false, request.title, request.filter, request.initial_path, u"", caller_origin());
  return reply;
}

DialogHost::FileReply Win32DialogHost::AskSave(const SaveFileRequest& request) {
  FileReply reply;
  reply.answer = FileDialog(true, request.title, request.filter, request.default_name,
                            request.default_ext, caller_origin());
  return reply;
}

void Win32DialogHost::AskMessage(const MessageRequest& request) {
  std::u16string text =
      caller_origin().empty() ? request.text : caller_origin() + u"\n\n" + request.text;
  ::MessageBoxW(Owner(), W(text), W(request.caption),
                MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}

DialogHost::ConsentReply Win32DialogHost::AskConsent(const ConsentRequest& request) {
  win::Question q;
  q.title = u"Quillmark";
  q.prompt = u"This page asks to use the signing control:";
  q.text = request.origin;
  q.answers = {u"Allow once", u"Always allow", u"Deny"};
  q.no_default = true;
  auto autopilot = win::AutopilotFromEnvironment(win::AutopilotDialog::kConsent);
  q.autopilot = autopilot.get();
  ConsentReply reply;
  switch (win::AskQuestion(Owner(), q)) {
    case 0:
      reply.answer = ConsentAnswer::kAllowOnce;
      break;
    case 1:
      reply.answer = ConsentAnswer::kAlways;
      break;
    case 2:
      reply.answer = ConsentAnswer::kDeny;
      break;
    default:
      reply.answer = ConsentAnswer::kCancel;
  }
  return reply;
}

DialogHost::KeyUseReply Win32DialogHost::AskKeyUse(const KeyUseRequest& request) {
  auto autopilot = win::AutopilotFromEnvironment(win::AutopilotDialog::kKeyUse);
  KeyUseReply reply;
  reply.confirmed = win::RunReview(Owner(), request.origin, request.review, autopilot.get());
  return reply;
}

DialogHost::PinReply Win32DialogHost::AskPinEntry(const PinRequest& request) {
  auto autopilot = win::AutopilotFromEnvironment(win::AutopilotDialog::kPin);
  PinWindow state{&request, caller_origin(), {}, autopilot.get()};
  PinReply reply;
  INT_PTR rc = ::DialogBoxParamW(platform::win::ThisModule(), MAKEINTRESOURCEW(IDD_QM_PIN), Owner(),
                                 PinProc, reinterpret_cast<LPARAM>(&state));
  if (rc == IDOK && !state.pin.empty()) {
    reply.answer.entered = true;
    reply.answer.pin.swap(state.pin);
  }
  WipeSecret(&state.pin);
  return reply;
}

}  // namespace quillmark::platform::ui
