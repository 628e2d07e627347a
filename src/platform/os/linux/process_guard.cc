#include "platform/os/process_guard.h"

#include <sys/resource.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace quillmark::platform {

bool DisableCoreDumps() {
  struct rlimit none = {0, 0};
  bool ok = ::setrlimit(RLIMIT_CORE, &none) == 0;
#if defined(__linux__)
  ok = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 && ok;
#endif
  return ok;
}

}  // namespace quillmark::platform
