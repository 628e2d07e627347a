#include "platform/os/executable_path.h"

#include "platform/os/win/module_file.h"
#include "platform/os/win/wide.h"

namespace quillmark::platform {

bool ExecutablePath(std::string* path) {
  std::wstring name;
  if (!win::ModuleFileName(nullptr, &name)) return false;
  *path = win::Utf8(name);
  return true;
}

}  // namespace quillmark::platform
