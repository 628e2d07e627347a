// Opening a file with the desktop's handler, as ShellExecuteExW("open") does.
//
// When a desktop session is there ($DISPLAY or $WAYLAND_DISPLAY set and not
// empty) and `xdg-open` is found on $PATH, it is started on the file as its
// own process: argv, no shell, standard streams on /dev/null, in a new
// session, and not waited for. A certificate file (.cer, .crt, .der) that the
// desktop names no program for (`xdg-mime query default
// application/pkix-cert` prints nothing), or any certificate file when there
// is no xdg-open, is shown by `quillmark-dialog --view FILE` instead, when
// that program is there (platform/os/dialog_program.h). Otherwise nothing is
// started.
//
// On Windows this is the system's ShellExecuteExW("open") without its error
// boxes: the handler the user chose for the file's type. A certificate file
// opened from a thread with an active window is shown instead by the
// system's certificate viewer (CryptUIDlgViewContext) owned by that window,
// and the call returns when the viewer is closed.
#ifndef QUILLMARK_PLATFORM_OS_SHELL_H_
#define QUILLMARK_PLATFORM_OS_SHELL_H_

#include <cstdint>
#include <string>

namespace quillmark::platform {

inline constexpr std::uint32_t kErrorNoAssociation = 1155;  // ERROR_NO_ASSOCIATION
inline constexpr int kSwShowNormal = 1;

struct ShellExecuteInfo {
  std::u16string verb;        // "open" or empty (the default verb, open)
  std::u16string file;        // the file to open
  std::u16string parameters;  // not used for documents
  std::u16string directory;   // working folder of the handler; empty: unchanged
  int show = kSwShowNormal;
};

// True when a handler was started. Otherwise false with the thread's last
// error: kErrorNoAssociation (no desktop, no xdg-open, or a verb other than
// open), kErrorFileNotFound (the file is not there), kErrorInvalidParameter
// (empty or not valid UTF-16), kErrorNotEnoughMemory (no process could be made).
bool ShellExecuteExW(const ShellExecuteInfo& info);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_SHELL_H_
