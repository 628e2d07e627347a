#include <windows.h>

#include <string>

#include "common/unicode.h"
#include "platform/automation/automation_server.h"
#include "platform/os/executable_path.h"

namespace quillmark::platform {
namespace {

std::wstring Wide(const std::string& utf8) {
  std::u16string text = Utf8ToUtf16Lossy(utf8);
  return std::wstring(text.begin(), text.end());
}

std::int32_t HresultOfLastError() {
  const DWORD error = ::GetLastError();
  return static_cast<std::int32_t>(error == 0 ? 0x80004005u  // E_FAIL
                                              : (0x80070000u | (error & 0xFFFFu)));
}

}  // namespace

std::string ServerModuleToRegister() {
  std::string self;
  if (!ExecutablePath(&self)) return std::string();
  const std::size_t separator = self.find_last_of("\\/");
  if (separator == std::string::npos) return std::string();
  return self.substr(0, separator + 1) + "quillmark.dll";
}

std::int32_t CallServerRegistration(const std::string& module, bool register_it) {
  HMODULE library = ::LoadLibraryExW(Wide(module).c_str(), nullptr, 0);
  if (library == nullptr) return HresultOfLastError();
  using Entry = HRESULT(STDAPICALLTYPE*)();
  auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(
      ::GetProcAddress(library, register_it ? "DllRegisterServer" : "DllUnregisterServer")));
  const std::int32_t hr =
      entry != nullptr ? static_cast<std::int32_t>(entry()) : HresultOfLastError();
  ::FreeLibrary(library);
  return hr;
}

}  // namespace quillmark::platform
