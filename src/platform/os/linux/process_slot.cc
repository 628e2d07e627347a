#include "platform/os/process_slot.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/os/files.h"

namespace quillmark::platform {

namespace {

SlotStatus Fail(std::string* error, std::string message) {
  if (error != nullptr) *error = std::move(message);
  return SlotStatus::kError;
}

}  // namespace

void ProcessSlot::Release() {
  if (handle_ != kNone) ::close(static_cast<int>(handle_));  // drops the lock
  handle_ = kNone;
  index_ = -1;
}

SlotStatus ProcessSlot::Take(const std::string& dir, int count, ProcessSlot* slot,
                             std::string* error) {
  slot->Release();
  if (count < 1 || count > 100) return Fail(error, "a slot count is 1 to 100");
  if (!MakeDirectories(dir, 0700)) return Fail(error, "cannot create the folder " + dir);
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return Fail(error, dir + " is not a folder");
  }
  if (st.st_uid != ::geteuid()) return Fail(error, dir + " belongs to another user");
  if ((st.st_mode & 022) != 0) return Fail(error, dir + " may be written by others");
  for (int i = 0; i < count; ++i) {
    std::string path = dir + "/" + ProcessSlotFileName(i);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Fail(error, "cannot open " + path + ": " + std::strerror(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      slot->handle_ = fd;
      slot->index_ = i;
      return SlotStatus::kTaken;
    }
    int lock_errno = errno;
    ::close(fd);
    if (lock_errno != EWOULDBLOCK) {
      return Fail(error, "cannot lock " + path + ": " + std::strerror(lock_errno));
    }
  }
  return SlotStatus::kAllBusy;
}

}  // namespace quillmark::platform
