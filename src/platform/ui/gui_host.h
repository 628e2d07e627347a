// A dialog host that shows desktop windows through quillmark-dialog, one
// helper process per dialog, talking the line protocol of gui_protocol.h on
// the helper's standard input and output.
//
// The helper is $QUILLMARK_DIALOG when set, else quillmark-dialog beside the
// running program. The chooser's helper stays up across View and column
// clicks: each answers the chooser's caller, who asks again with the updated
// request, which the same window then shows. Any other answer closes it.
//
// When no display is reachable, the helper is missing, cannot start, dies or
// answers something that is not an answer to the question, the dialog is
// answered as Cancel (a message box as OK) and one line on standard error
// says why. Nothing waits on a helper that is gone: the end of its output
// ends the exchange, and answer lines are bounded. A PIN read from the
// helper is wiped once passed on.
#ifndef QUILLMARK_PLATFORM_UI_GUI_HOST_H_
#define QUILLMARK_PLATFORM_UI_GUI_HOST_H_

#include <memory>
#include <string>

#include "platform/ui/dialog_host.h"
#include "platform/ui/gui_protocol.h"

namespace quillmark::platform::ui {

// Whether a desktop window can be shown: $DISPLAY, $WAYLAND_DISPLAY or
// $QT_QPA_PLATFORM set and not empty. On Windows (where the rest of this
// header is not built): whether the process runs on the interactive window
// station.
bool DesktopDisplayReachable();

class GuiDialogHost : public DialogHost {
 public:
  // |helper|: the helper program; empty finds it as described above.
  explicit GuiDialogHost(std::string helper = {});
  ~GuiDialogHost() override;
  GuiDialogHost(const GuiDialogHost&) = delete;
  GuiDialogHost& operator=(const GuiDialogHost&) = delete;

  // The helper program this host runs (empty when none was found).
  const std::string& helper() const { return helper_; }

 protected:
  ChooserReply AskChooser(const ChooserRequest& request) override;
  FileReply AskOpen(const OpenFileRequest& request) override;
  FileReply AskSave(const SaveFileRequest& request) override;
  void AskMessage(const MessageRequest& request) override;
  ConsentReply AskConsent(const ConsentRequest& request) override;
  KeyUseReply AskKeyUse(const KeyUseRequest& request) override;
  PinReply AskPinEntry(const PinRequest& request) override;

 public:
  class Helper;  // one running helper process

 private:
  // Sends |line| to |*helper| (first started when null) and reads its
  // answer. False, after one line on standard error, when there is none;
  // |*helper| is then gone.
  bool Ask(std::unique_ptr<Helper>* helper, const std::string& line, DialogKind kind,
           gui::Answer* answer);

  std::string helper_;
  std::unique_ptr<Helper> chooser_;  // the chooser left open by View or a sort
};

}  // namespace quillmark::platform::ui

#endif  // QUILLMARK_PLATFORM_UI_GUI_HOST_H_
