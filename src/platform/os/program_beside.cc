#include <string>
#include <string_view>

#include "platform/os/executable_path.h"

namespace quillmark::platform {

std::string ProgramBesideThisOne(std::string_view name) {
  std::string self;
  if (!ExecutablePath(&self)) return std::string();
#ifdef _WIN32
  const std::size_t separator = self.find_last_of("\\/");
  constexpr std::string_view kSuffix = ".exe";
#else
  const std::size_t separator = self.rfind('/');
  constexpr std::string_view kSuffix = "";
#endif
  if (separator == std::string::npos) return std::string();
  return self.substr(0, separator + 1) + std::string(name) + std::string(kSuffix);
}

}  // namespace quillmark::platform
