#include "platform/os/win/wide.h"

#include <windows.h>

#include <vector>

#include "common/unicode.h"

namespace quillmark::platform::win {

std::wstring Wide(std::string_view utf8) { return Wide(Utf8ToUtf16Lossy(utf8)); }

std::wstring Wide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

std::u16string Utf16(std::wstring_view wide) {
  return std::u16string(reinterpret_cast<const char16_t*>(wide.data()), wide.size());
}

std::string Utf8(std::wstring_view wide) { return Utf16ToUtf8Lossy(Utf16(wide)); }

std::string EnvironmentUtf8(const wchar_t* name) {
  DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::string();
  std::vector<wchar_t> value(size);
  DWORD n = ::GetEnvironmentVariableW(name, value.data(), size);
  if (n == 0 || n >= size) return std::string();
  return Utf8(std::wstring_view(value.data(), n));
}

}  // namespace quillmark::platform::win
