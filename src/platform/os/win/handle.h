// Owns a Win32 kernel handle (a file, a process) and closes it.
#ifndef QUILLMARK_PLATFORM_OS_WIN_HANDLE_H_
#define QUILLMARK_PLATFORM_OS_WIN_HANDLE_H_

#include <windows.h>

namespace quillmark::platform::win {

class ScopedHandle {
 public:
  ScopedHandle() = default;
  // INVALID_HANDLE_VALUE and null both mean "no handle".
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.handle_ = nullptr;
    }
    return *this;
  }

  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // Closes now; true when there was nothing to close or it closed cleanly.
  bool Close() {
    bool ok = true;
    if (valid()) ok = ::CloseHandle(handle_) != FALSE;
    handle_ = nullptr;
    return ok;
  }

 private:
  HANDLE handle_ = nullptr;
};

// A FindFirstFileW search, closed with FindClose.
class ScopedFind {
 public:
  explicit ScopedFind(HANDLE handle) : handle_(handle) {}
  ~ScopedFind() {
    if (valid()) ::FindClose(handle_);
  }
  ScopedFind(const ScopedFind&) = delete;
  ScopedFind& operator=(const ScopedFind&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace quillmark::platform::win

#endif  // QUILLMARK_PLATFORM_OS_WIN_HANDLE_H_
