#include "platform/os/dialog_program.h"

#include "platform/os/executable_path.h"
#include "platform/os/win/wide.h"

namespace quillmark::platform {

// Windows draws its dialogs itself (platform/ui/win), so nothing here starts
// this program; the path is still formed the same way, with the program's
// ".exe" name, for a build that ships it.
std::string DialogProgramPath() {
  std::string env = win::EnvironmentUtf8(L"QUILLMARK_DIALOG");
  if (!env.empty()) return env;
  std::string self;
  if (!ExecutablePath(&self)) return std::string();
  std::size_t slash = self.find_last_of("\\/");
  if (slash == std::string::npos) return std::string();
  return self.substr(0, slash + 1) + "quillmark-dialog.exe";
}

}  // namespace quillmark::platform
