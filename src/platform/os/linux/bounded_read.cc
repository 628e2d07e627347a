#include "platform/os/bounded_read.h"
#include "platform/os/effect_audit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace quillmark::platform {
namespace {

constexpr std::size_t kChunk = 1 << 16;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

BoundedRead ReadFileAtMost(const std::string& path, std::uint64_t max_size, Bytes* out) {
  NoteEffect(Effect::kFileRead, path);
  // O_NONBLOCK keeps open() from waiting on a FIFO and O_NOCTTY keeps a
  // terminal from becoming ours; neither matters once the file is known to
  // be regular.
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) return BoundedRead::kCannotOpen;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return BoundedRead::kReadFailed;
  if (!S_ISREG(st.st_mode)) return BoundedRead::kNotRegular;
  if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > max_size) {
    return BoundedRead::kTooLarge;
  }

  // Read until the end, but never more than max_size + 1 bytes: one byte
  // past the bound tells a file that grew from one that did not. The buffer
  // is sized once for the file as fstat saw it plus that byte, so a file that
  // did not change is read without being moved; one that grew meanwhile
  // grows the buffer as it needs.
  const std::uint64_t keep = max_size == UINT64_MAX ? max_size : max_size + 1;
  Bytes data;
  data.resize(static_cast<std::size_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(st.st_size) + 1, keep)));
  std::size_t filled = 0;
  for (;;) {
    const std::uint64_t room = keep - filled;
    if (room == 0) break;
    if (filled == data.size()) {
      data.resize(filled + static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, room)));
    }
    const std::size_t want = data.size() - filled;
    const ssize_t n = ::read(fd.get(), data.data() + filled, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      return BoundedRead::kReadFailed;
    }
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  if (filled > max_size) return BoundedRead::kTooLarge;
  data.resize(filled);
  *out = std::move(data);
  return BoundedRead::kOk;
}

}  // namespace quillmark::platform
