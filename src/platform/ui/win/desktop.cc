#include <windows.h>

#include "platform/ui/gui_host.h"

namespace quillmark::platform::ui {

// On Windows a window can be shown when the process runs on the interactive
// window station (a user's desktop), not as a service.
bool DesktopDisplayReachable() {
  HWINSTA station = ::GetProcessWindowStation();
  USEROBJECTFLAGS flags = {};
  if (station == nullptr ||
      !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
    return false;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace quillmark::platform::ui
