// Choosing the dialog host, and the host the control's dialogs go through.
//
// A host is named by a text: "script:FILE" (answers from FILE, see
// script_host.h), "terminal" (the controlling terminal, see
// terminal_host.h), "none" (nothing is shown: every dialog is cancelled,
// message boxes are confirmed) or "gui" (the desktop dialogs of
// quillmark-dialog, see gui_host.h). On Windows "gui" and "terminal" both
// name the system's own dialogs (win/win32_host.h).
//
// The current host starts as "none", so that nothing ever waits for a person
// by accident; front ends set it from their options or from $QUILLMARK_UI.
// Like the control itself, it is meant for one thread.
#ifndef QUILLMARK_PLATFORM_UI_DIALOG_FACTORY_H_
#define QUILLMARK_PLATFORM_UI_DIALOG_FACTORY_H_

#include <memory>
#include <string>
#include <string_view>

#include "platform/ui/dialog_host.h"

namespace quillmark::platform::ui {

// Makes the host |spec| names. False with a one-line |error| when the text
// names no host, the script cannot be read, or the host is not available.
bool CreateDialogHost(std::string_view spec, std::unique_ptr<DialogHost>* host, std::string* error);

// $QUILLMARK_UI, or "none" when it is unset or empty.
std::string DialogHostSpecFromEnvironment();

// The host dialogs go through now.
DialogHost& CurrentDialogHost();

// Replaces the current host; null goes back to "none".
void SetCurrentDialogHost(std::unique_ptr<DialogHost> host);

}  // namespace quillmark::platform::ui

#endif  // QUILLMARK_PLATFORM_UI_DIALOG_FACTORY_H_
