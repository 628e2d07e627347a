#include "platform/ui/dialog_factory.h"

#include <cstdlib>

#include "platform/ui/script_host.h"
#if defined(_WIN32)
#include "platform/ui/win/win32_host.h"
#else
#include "platform/ui/gui_host.h"
#include "platform/ui/terminal_host.h"
#endif

namespace quillmark::platform::ui {

namespace {

std::unique_ptr<DialogHost>& Current() {
  static std::unique_ptr<DialogHost> host = std::make_unique<NoDialogHost>();
  return host;
}

}  // namespace

bool CreateDialogHost(std::string_view spec, std::unique_ptr<DialogHost>* host,
                      std::string* error) {
  std::string message;
  std::unique_ptr<DialogHost> made;
  constexpr std::string_view kScript = "script:";
  if (spec.substr(0, kScript.size()) == kScript) {
    std::string path(spec.substr(kScript.size()));
    if (path.empty()) {
      message = "the dialog host \"script:FILE\" needs a file name";
    } else {
      made = ScriptDialogHost::FromFile(path, &message);
    }
  } else if (spec == "none") {
    made = std::make_unique<NoDialogHost>();
#if defined(_WIN32)
  } else if (spec == "gui" || spec == "terminal") {
    // The system's own windows serve both: Windows has no console dialogs.
    made = std::make_unique<Win32DialogHost>();
#else
  } else if (spec == "terminal") {
    made = TerminalDialogHost::OnControllingTerminal();
  } else if (spec == "gui") {
    made = std::make_unique<GuiDialogHost>();
#endif
  } else {
    message = "unknown dialog host \"" + std::string(spec) +
              "\" (expected script:FILE, terminal, gui or none)";
  }
  if (made == nullptr) {
    if (error != nullptr) *error = message;
    return false;
  }
  *host = std::move(made);
  return true;
}

std::string DialogHostSpecFromEnvironment() {
  const char* spec = std::getenv("QUILLMARK_UI");
  return spec != nullptr && *spec != '\0' ? std::string(spec) : std::string("none");
}

DialogHost& CurrentDialogHost() { return *Current(); }

void SetCurrentDialogHost(std::unique_ptr<DialogHost> host) {
  Current() = host != nullptr ? std::move(host) : std::make_unique<NoDialogHost>();
}

}  // namespace quillmark::platform::ui
