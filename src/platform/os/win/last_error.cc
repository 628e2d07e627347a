#include "platform/os/last_error.h"

#include <windows.h>

namespace quillmark::platform {

// The thread's own last error of the system: a value a Win32 call of any
// backend leaves is what callers read, with nothing copied between the two.
std::uint32_t GetLastError() { return ::GetLastError(); }

void SetLastError(std::uint32_t error) { ::SetLastError(error); }

}  // namespace quillmark::platform
