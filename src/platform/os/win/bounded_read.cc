#include "platform/os/bounded_read.h"
#include "platform/os/effect_audit.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/os/win/handle.h"
#include "platform/os/win/wide.h"

namespace quillmark::platform {

BoundedRead ReadFileAtMost(const std::string& path, std::uint64_t max_size, Bytes* out) {
  NoteEffect(Effect::kFileRead, path);
  std::wstring wide = win::Wide(path);
  // A folder cannot be opened as a file at all; it is told apart first so
  // that it is refused as what it is.
  DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return BoundedRead::kNotRegular;
  }
  win::ScopedHandle file(::CreateFileW(wide.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return BoundedRead::kCannotOpen;
  // Pipes, consoles and devices such as NUL are refused before any read.
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) return BoundedRead::kNotRegular;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return BoundedRead::kReadFailed;
  if (static_cast<std::uint64_t>(size.QuadPart) > max_size) return BoundedRead::kTooLarge;

  // As on Linux: never more than max_size + 1 bytes, so a file that grew
  // while it was read fails instead of being read on.
  const std::uint64_t keep = max_size == UINT64_MAX ? max_size : max_size + 1;
  Bytes data(static_cast<std::size_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(size.QuadPart) + 1, keep)));
  std::size_t filled = 0;
  for (;;) {
    const std::uint64_t room = keep - filled;
    if (room == 0) break;
    if (filled == data.size()) {
      data.resize(filled + static_cast<std::size_t>(std::min<std::uint64_t>(1 << 16, room)));
    }
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(data.size() - filled, 1 << 20));
    DWORD got = 0;
    if (!::ReadFile(file.get(), data.data() + filled, want, &got, nullptr)) {
      return BoundedRead::kReadFailed;
    }
    if (got == 0) break;
    filled += got;
  }
  if (filled > max_size) return BoundedRead::kTooLarge;
  data.resize(filled);
  *out = std::move(data);
  return BoundedRead::kOk;
}

}  // namespace quillmark::platform
