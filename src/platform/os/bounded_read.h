// Reading a file whose name came from outside, with a bound on its size.
//
// ReadFileAtMost refuses anything but a regular file (a folder, a FIFO, a
// device such as /dev/zero) without reading it and without waiting on it,
// refuses a file whose size is above the bound before reading a byte, and
// never keeps more than the bound plus one byte, so a file that grows while
// it is read fails instead of being read forever.
#ifndef QUILLMARK_PLATFORM_OS_BOUNDED_READ_H_
#define QUILLMARK_PLATFORM_OS_BOUNDED_READ_H_

#include <cstdint>
#include <string>

#include "common/bytes.h"

namespace quillmark::platform {

// ERROR_FILE_TOO_LARGE: the platform's code for a file above a size limit.
inline constexpr std::uint32_t kErrorFileTooLarge = 223;

enum class BoundedRead {
  kOk,
  kCannotOpen,  // missing, no permission, ...
  kNotRegular,  // a folder, FIFO, socket or device
  kTooLarge,    // more than the bound, at the start or while read
  kReadFailed,
};

// Reads the whole regular file at |path| into |*out| when it holds at most
// |max_size| bytes; |*out| is left alone on any failure.
BoundedRead ReadFileAtMost(const std::string& path, std::uint64_t max_size, Bytes* out);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_BOUNDED_READ_H_
