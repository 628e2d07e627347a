#include "platform/os/process_slot.h"

#include <cstdio>

namespace quillmark::platform {

std::string ProcessSlotFileName(int index) {
  char name[8];
  std::snprintf(name, sizeof name, "@%02d", index);
  return name;
}

ProcessSlot::~ProcessSlot() { Release(); }

ProcessSlot::ProcessSlot(ProcessSlot&& other) noexcept
    : handle_(other.handle_), index_(other.index_) {
  other.handle_ = kNone;
  other.index_ = -1;
}

ProcessSlot& ProcessSlot::operator=(ProcessSlot&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = other.handle_;
    index_ = other.index_;
    other.handle_ = kNone;
    other.index_ = -1;
  }
  return *this;
}

}  // namespace quillmark::platform
