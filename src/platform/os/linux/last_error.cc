#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {
thread_local std::uint32_t g_last_error = kErrorSuccess;
}  // namespace

std::uint32_t GetLastError() { return g_last_error; }

void SetLastError(std::uint32_t error) { g_last_error = error; }

}  // namespace quillmark::platform
