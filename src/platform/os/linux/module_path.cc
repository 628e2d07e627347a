#include "platform/os/module_path.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <memory>

#include "common/unicode.h"

namespace quillmark::platform {

bool GetModuleFileNameW(std::u16string* path) {
  Dl_info info{};
  // Any function of the library names its file.
  if (dladdr(reinterpret_cast<void*>(&GetModuleFileNameW), &info) == 0 ||
      info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
    return false;
  }
  std::unique_ptr<char, decltype(&free)> resolved(realpath(info.dli_fname, nullptr), &free);
  if (resolved == nullptr) return false;
  return Utf8ToUtf16(resolved.get(), path);
}

}  // namespace quillmark::platform
