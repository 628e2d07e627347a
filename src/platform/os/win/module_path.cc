#include "platform/os/module_path.h"

#include <windows.h>

#include "platform/os/win/module_file.h"
#include "platform/os/win/module_handle.h"
#include "platform/os/win/wide.h"

namespace quillmark::platform {

bool GetModuleFileNameW(std::u16string* path) {
  HMODULE module = win::ThisModule();
  std::wstring name;
  if (module == nullptr || !win::ModuleFileName(module, &name)) return false;
  *path = win::Utf16(name);
  return true;
}

}  // namespace quillmark::platform
