#include "platform/os/process_slot.h"

#include <windows.h>

#include "platform/os/files.h"
#include "platform/os/win/wide.h"

namespace quillmark::platform {

namespace {

SlotStatus Fail(std::string* error, std::string message) {
  if (error != nullptr) *error = std::move(message);
  return SlotStatus::kError;
}

}  // namespace

void ProcessSlot::Release() {
  if (handle_ != kNone) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kNone;
  index_ = -1;
}

SlotStatus ProcessSlot::Take(const std::string& dir, int count, ProcessSlot* slot,
                             std::string* error) {
  slot->Release();
  if (count < 1 || count > 100) return Fail(error, "a slot count is 1 to 100");
  if (!MakeDirectories(dir, 0700) || !IsDirectory(dir)) {
    return Fail(error, "cannot create the folder " + dir);
  }
  for (int i = 0; i < count; ++i) {
    std::string path = dir + "\\" + ProcessSlotFileName(i);
    // No sharing: a second process's open fails until this handle closes,
    // which the system does when the process ends.
    HANDLE h = ::CreateFileW(win::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      slot->handle_ = reinterpret_cast<std::intptr_t>(h);
      slot->index_ = i;
      return SlotStatus::kTaken;
    }
    DWORD code = ::GetLastError();
    if (code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION) {
      return Fail(error, "cannot open " + path + " (error " + std::to_string(code) + ")");
    }
  }
  return SlotStatus::kAllBusy;
}

}  // namespace quillmark::platform
