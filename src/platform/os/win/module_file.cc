#include "platform/os/win/module_file.h"

namespace quillmark::platform::win {

bool ModuleFileName(HMODULE module, std::wstring* path) {
  // Long paths can exceed MAX_PATH: the call truncates and says so by
  // filling the buffer, so it is retried with a larger one.
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 6; ++attempt) {
    DWORD n = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return false;
    if (n < buffer.size()) {
      buffer.resize(n);
      *path = std::move(buffer);
      return true;
    }
    buffer.resize(buffer.size() * 4);
  }
  return false;
}

}  // namespace quillmark::platform::win
