#include "platform/os/shell.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include "common/ascii.h"
#include "common/unicode.h"
#include "platform/os/last_error.h"
#include "platform/os/win/certificate_viewer.h"
#include "platform/os/win/wide.h"

namespace quillmark::platform {

namespace {

bool Fail(std::uint32_t error) {
  SetLastError(error);
  return false;
}

bool IsOpenVerb(std::u16string_view verb) {
  return verb.empty() || EqualsIgnoringAsciiCase(verb, u"open");
}

// Only well-formed UTF-16 names a file.
bool WellFormed(std::u16string_view text) {
  std::string ignored;
  return Utf16ToUtf8(text, &ignored);
}

}  // namespace

// The system's own ShellExecuteExW: the handler the user chose for the file's
// type, started as its own process and not waited for. A certificate file
// opened from a thread with an active window (the browser's, for the
// chooser's View) is shown in the system's certificate viewer in this
// process instead, owned by that window, and the call returns once the
// viewer is closed; without such a window, or without cryptui.dll, the shell
// opens it as any other file.
bool ShellExecuteExW(const ShellExecuteInfo& info) {
  if (!IsOpenVerb(info.verb)) return Fail(kErrorNoAssociation);
  if (info.file.empty() || !WellFormed(info.file) || !WellFormed(info.directory)) {
    return Fail(kErrorInvalidParameter);
  }
  std::wstring file = win::Wide(info.file);
  std::wstring directory = win::Wide(info.directory);
  if (::GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return Fail(kErrorFileNotFound);
  }
  if (HWND owner = ::GetActiveWindow(); owner != nullptr && win::IsCertificateFile(info.file) &&
                                        win::ViewCertificateFile(file, owner)) {
    return true;
  }
  SHELLEXECUTEINFOW sei = {};
  sei.cbSize = sizeof sei;
  // No message box of the shell's own: the caller reports the failure.
  sei.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  sei.lpVerb = L"open";
  sei.lpFile = file.c_str();
  sei.lpDirectory = directory.empty() ? nullptr : directory.c_str();
  sei.nShow = info.show;
  if (::ShellExecuteExW(&sei)) return true;
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Fail(kErrorFileNotFound);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return Fail(kErrorNotEnoughMemory);
    default:
      return Fail(kErrorNoAssociation);
  }
}

}  // namespace quillmark::platform
