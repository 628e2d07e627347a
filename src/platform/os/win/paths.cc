#include "platform/os/paths.h"

#include <windows.h>

#include <vector>

#include "platform/os/win/wide.h"

namespace quillmark::platform {

namespace {

bool IsSeparatorUnit(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

bool PathHasSeparator(std::u16string_view path) {
  for (char16_t c : path) {
    if (IsSeparatorUnit(c)) return true;
  }
  return false;
}

std::u16string_view PathFileName(std::u16string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsSeparatorUnit(path[i - 1])) return path.substr(i);
  }
  return path;
}

bool MakeAbsolutePath(std::u16string_view path, std::u16string* absolute) {
  // "C:\x" and "\\server\share" are complete; "\x" (the current drive) and
  // "C:x" (a drive's own working folder) are not, and GetFullPathNameW
  // resolves them as the file dialogs would.
  const bool drive = path.size() >= 3 && path[1] == u':' && IsSeparatorUnit(path[2]);
  const bool unc = path.size() >= 2 && IsSeparatorUnit(path[0]) && IsSeparatorUnit(path[1]);
  if (drive || unc) {
    absolute->assign(path);
    return true;
  }
  std::wstring wide = win::Wide(path);
  DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return false;
  std::vector<wchar_t> buffer(size);
  DWORD n = ::GetFullPathNameW(wide.c_str(), size, buffer.data(), nullptr);
  if (n == 0 || n >= size) return false;
  *absolute = win::Utf16(std::wstring_view(buffer.data(), n));
  return true;
}

std::u16string GetTempPathW() {
  wchar_t buffer[MAX_PATH + 2];
  DWORD n = ::GetTempPathW(MAX_PATH + 2, buffer);
  if (n == 0 || n > MAX_PATH + 1) return u"C:\\Windows\\Temp\\";
  std::u16string path = win::Utf16(std::wstring_view(buffer, n));
  if (!IsSeparatorUnit(path.back())) path.push_back(u'\\');
  return path;
}

}  // namespace quillmark::platform
