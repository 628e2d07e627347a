#include "platform/os/executable_path.h"

#include <limits.h>
#include <stdlib.h>

#include <memory>

namespace quillmark::platform {

bool ExecutablePath(std::string* path) {
  std::unique_ptr<char, decltype(&free)> resolved(realpath("/proc/self/exe", nullptr), &free);
  if (resolved == nullptr) return false;
  *path = resolved.get();
  return true;
}

}  // namespace quillmark::platform
