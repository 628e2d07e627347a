#include "platform/os/dialog_program.h"

#include <cstdlib>

#include "platform/os/executable_path.h"

namespace quillmark::platform {

std::string DialogProgramPath() {
  const char* env = std::getenv("QUILLMARK_DIALOG");
  if (env != nullptr && *env != '\0') return env;
  return ProgramBesideThisOne("quillmark-dialog");
}

}  // namespace quillmark::platform
