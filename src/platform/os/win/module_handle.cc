#include "platform/os/win/module_handle.h"

namespace quillmark::platform::win {

HMODULE ThisModule() {
  HMODULE module = nullptr;
  // Any address inside this module names it.
  if (!::GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ThisModule), &module)) {
    return nullptr;
  }
  return module;
}

}  // namespace quillmark::platform::win
