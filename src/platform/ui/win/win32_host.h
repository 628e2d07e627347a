// The dialog host of Windows desktops: the system's own windows.
//
//   chooser   dialog 202 with a list view, 206 for a web page
//             (chooser_window.h)
//   Open/Save GetOpenFileNameW / GetSaveFileNameW with the request's filter
//             ("*.*", or "Description|pattern|..." pairs) and a 1024-unit
//             name buffer; Save asks before replacing a file. A name filled
//             in beforehand (by a web page, perhaps) starts with the focus
//             on Cancel: Enter alone never takes it
//   message   MessageBoxW with OK
//   consent   dialog 204: Allow once / Always allow / Deny, none of them the
//             default, so Enter alone answers nothing; Esc cancels
//   key use   dialog 205, the review (review_window.h): the origin, the
//             action, the key's owner and the whole text; Sign only once the
//             text's end has been shown, Cancel the default
//   PIN       dialog 203: the label, a masked field, the tries left
// Every window names the page's origin first when there is one. A dialog
// that cannot be shown (no desktop, no resources) answers Cancel, a file
// dialog that fails an error, and a message box counts as confirmed.
#ifndef QUILLMARK_PLATFORM_UI_WIN_WIN32_HOST_H_
#define QUILLMARK_PLATFORM_UI_WIN_WIN32_HOST_H_

#include <memory>

#include "platform/ui/dialog_host.h"

namespace quillmark::platform::ui::win {
struct AutopilotRun;
}  // namespace quillmark::platform::ui::win

namespace quillmark::platform::ui {

// With $QUILLMARK_DIALOG_AUTOPILOT set, its steps are performed on each
// dialog (win/autopilot.h).
class Win32DialogHost : public DialogHost {
 public:
  Win32DialogHost();
  ~Win32DialogHost() override;
  Win32DialogHost(const Win32DialogHost&) = delete;
  Win32DialogHost& operator=(const Win32DialogHost&) = delete;

 protected:
  ChooserReply AskChooser(const ChooserRequest& request) override;
  FileReply AskOpen(const OpenFileRequest& request) override;
  FileReply AskSave(const SaveFileRequest& request) override;
  void AskMessage(const MessageRequest& request) override;
  ConsentReply AskConsent(const ConsentRequest& request) override;
  KeyUseReply AskKeyUse(const KeyUseRequest& request) override;
  PinReply AskPinEntry(const PinRequest& request) override;

 private:
  // The chooser's steps go on across View and header clicks, until it closes.
  std::unique_ptr<win::AutopilotRun> chooser_autopilot_;
};

}  // namespace quillmark::platform::ui

#endif  // QUILLMARK_PLATFORM_UI_WIN_WIN32_HOST_H_
