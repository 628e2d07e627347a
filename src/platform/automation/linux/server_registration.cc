#include <string>

#include "platform/automation/automation_server.h"

namespace quillmark::platform {

// libquillmark.so is both the command's library and the module: the command
// calls its own exports.
std::string ServerModuleToRegister() { return std::string(); }

std::int32_t CallServerRegistration(const std::string&, bool) {
  return static_cast<std::int32_t>(0x80004001);  // E_NOTIMPL: nothing to load here
}

}  // namespace quillmark::platform
