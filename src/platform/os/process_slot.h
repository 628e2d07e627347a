// One of a fixed number of places that processes of the same kind share,
// held until the process ends or the slot is dropped.
//
//   ProcessSlot slot;
//   switch (ProcessSlot::Take(dir, 16, &slot, &error)) { ... }
//
// The folder |dir| (created private if missing; refused when it is not a
// folder of this user that only this user may write) holds |count| lock
// files. A process takes the first one no other process holds; the system
// lets go of a process's locks when it ends, however it ends, so a killed
// process frees its slot and nothing is left to clean up. Linux: flock() on
// the files; Windows: the files opened without sharing.
#ifndef QUILLMARK_PLATFORM_OS_PROCESS_SLOT_H_
#define QUILLMARK_PLATFORM_OS_PROCESS_SLOT_H_

#include <cstdint>
#include <string>

namespace quillmark::platform {

enum class SlotStatus {
  kTaken,    // *slot holds a slot now
  kAllBusy,  // every slot is held by another process
  kError,    // the folder or a lock file could not be used; *error says why
};

class ProcessSlot {
 public:
  ProcessSlot() = default;
  ~ProcessSlot();
  ProcessSlot(ProcessSlot&& other) noexcept;
  ProcessSlot& operator=(ProcessSlot&& other) noexcept;
  ProcessSlot(const ProcessSlot&) = delete;
  ProcessSlot& operator=(const ProcessSlot&) = delete;

  // Takes a free slot of |count| (1 to 100) in |dir|.
  static SlotStatus Take(const std::string& dir, int count, ProcessSlot* slot, std::string* error);

  bool held() const { return handle_ != kNone; }
  // Which slot is held (0 to count-1), -1 when none.
  int index() const { return index_; }
  // Lets the slot go now.
  void Release();

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;  // a file descriptor or a HANDLE
  int index_ = -1;
};

// The name of slot |index|'s lock file: "@" and two digits. No name made by
// an encoding of text into file names (letters, digits, '.', '-', '_', '+',
// '(' and ')') starts with '@'.
std::string ProcessSlotFileName(int index);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_PROCESS_SLOT_H_
