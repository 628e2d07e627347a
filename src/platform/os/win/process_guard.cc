#include "platform/os/process_guard.h"

#include <windows.h>

namespace quillmark::platform {

// Windows writes no core file; what takes a crashed process's memory is
// Windows Error Reporting, which first shows its fault dialog. Without that
// dialog, and with critical-error boxes off, a crash ends the process without
// a report being prepared. Attaching by other processes of the same user is
// governed by the process's ACL and is not changed here.
bool DisableCoreDumps() {
  UINT mode = ::GetErrorMode();
  ::SetErrorMode(mode | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  return (::GetErrorMode() & SEM_NOGPFAULTERRORBOX) != 0;
}

}  // namespace quillmark::platform
