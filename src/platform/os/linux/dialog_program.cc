#include "platform/os/dialog_program.h"

#include <cstdlib>

#include "platform/os/executable_path.h"

namespace quillmark::platform {

std::string DialogProgramPath() {
  const char* env = std::getenv("QUILLMARK_DIALOG");
  if (env != nullptr && *env != '\0') return env;
  std::string self;
  if (!ExecutablePath(&self)) return std::string();
  std::size_t slash = self.rfind('/');
  if (slash == std::string::npos) return std::string();
  return self.substr(0, slash + 1) + "quillmark-dialog";
}

}  // namespace quillmark::platform
