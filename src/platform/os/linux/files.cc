#include "platform/os/files.h"
#include "platform/os/effect_audit.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace quillmark::platform {

namespace {

// Closes a descriptor when it goes out of scope.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, ByteSpan data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Temporaries are named ".tmp-<pid>-XXXXXX" after the process writing them.
constexpr std::string_view kTempPrefix = ".tmp-";

// A temporary whose writer is gone is removed once it is this old; one whose
// writer cannot be told (an older name without a pid, or a pid that is alive
// but may be another process by now) only after kOrphanAge.
constexpr time_t kDeadWriterAge = 2;
constexpr time_t kOrphanAge = 24 * 60 * 60;

// The writer's pid in a temporary's name; 0 when the name carries none.
pid_t WriterOf(std::string_view name) {
  name.remove_prefix(kTempPrefix.size());
  size_t dash = name.find('-');
  if (dash == std::string_view::npos || dash == 0) return 0;
  long pid = 0;
  auto [end, ec] = std::from_chars(name.data(), name.data() + dash, pid);
  if (ec != std::errc() || end != name.data() + dash || pid <= 0) return 0;
  return static_cast<pid_t>(pid);
}

bool ProcessIsGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace

void CrashPoint() {
  const char* stop_at = std::getenv("QUILLMARK_TEST_CRASH_AT");
  if (stop_at == nullptr) return;
  static std::atomic<long> reached{0};
  if (reached.fetch_add(1) + 1 == std::strtol(stop_at, nullptr, 10)) ::_exit(137);
}

bool IsTemporaryFileName(std::string_view name) {
  return name.size() > kTempPrefix.size() && name.substr(0, kTempPrefix.size()) == kTempPrefix;
}

int RemoveStaleTemporaries(const std::string& dir) {
  int removed = 0;
  time_t now = ::time(nullptr);
  for (const std::string& name : ListDirectory(dir)) {
    if (!IsTemporaryFileName(name)) continue;
    std::string path = dir + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;  // ours are files
    time_t age = now - st.st_mtime;
    pid_t writer = WriterOf(name);
    bool stale = age >= kOrphanAge || (writer != 0 && writer != ::getpid() &&
                                       age >= kDeadWriterAge && ProcessIsGone(writer));
    if (!stale) continue;
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  return removed;
}

bool ReadWholeFile(const std::string& path, Bytes* out) {
  NoteEffect(Effect::kFileRead, path);
  // O_NONBLOCK keeps open() from waiting on a FIFO; anything but a regular
  // file is refused before it is read.
  ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return false;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  Bytes data;
  data.reserve(static_cast<size_t>(st.st_size));
  std::uint8_t chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    data.insert(data.end(), chunk, chunk + n);
  }
  *out = std::move(data);
  return true;
}

bool ReadSecretFile(const std::string& path, std::size_t max_size, Bytes* out) {
  ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return false;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) > max_size) {
    return false;
  }
  // One byte more than the size shows a file that grew while it was read.
  Bytes data(static_cast<size_t>(st.st_size) + 1);
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::read(fd.get(), data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool whole = done <= static_cast<size_t>(st.st_size) && done <= max_size;
  if (!whole) {
    ::explicit_bzero(data.data(), data.size());
    return false;
  }
  ::explicit_bzero(data.data() + done, data.size() - done);
  data.resize(done);  // shrinking keeps the buffer: nothing is copied
  if (!out->empty()) ::explicit_bzero(out->data(), out->size());
  out->swap(data);
  if (!data.empty()) ::explicit_bzero(data.data(), data.size());
  return true;
}

bool WriteFileAtomically(const std::string& path, ByteSpan data, unsigned mode) {
  NoteEffect(Effect::kFileWrite, path);
  std::string dir = ".";
  if (size_t slash = path.rfind('/'); slash != std::string::npos) {
    dir = slash == 0 ? "/" : path.substr(0, slash);
  }
  RemoveStaleTemporaries(dir);
  std::string tmp = dir + "/" + std::string(kTempPrefix) + std::to_string(::getpid()) + "-XXXXXX";
  ScopedFd fd(::mkstemp(tmp.data()));
  if (fd.get() < 0) return false;
  bool ok = ::fchmod(fd.get(), static_cast<mode_t>(mode)) == 0 && WriteAll(fd.get(), data) &&
            ::fsync(fd.get()) == 0;
  ok = ::close(fd.release()) == 0 && ok;
  if (ok) CrashPoint();
  if (ok && ::rename(tmp.c_str(), path.c_str()) == 0) {
    SyncDirectory(dir);
    CrashPoint();
    return true;
  }
  ::unlink(tmp.c_str());
  return false;
}

void SyncDirectory(const std::string& dir) {
  ScopedFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

bool RemoveFile(const std::string& path) {
  bool gone = ::unlink(path.c_str()) == 0 || errno == ENOENT;
  CrashPoint();
  return gone;
}

bool MakeDirectories(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  if (IsDirectory(path)) return true;  // the common case: one stat, no mkdir calls
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') {
      std::string prefix = path.substr(0, pos);
      if (::mkdir(prefix.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) {
        return false;
      }
    }
  }
  return IsDirectory(path);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RegularFileSize(const std::string& path, std::uint64_t* size) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return names;
  while (struct dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

bool MakeTemporaryDirectory(const std::string& prefix, std::string* path) {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  tmpl += "/" + prefix + "XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) return false;
  *path = tmpl;
  return true;
}

bool RemoveTree(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode)) {
    for (const std::string& name : ListDirectory(path)) RemoveTree(path + "/" + name);
    return ::rmdir(path.c_str()) == 0;
  }
  return ::unlink(path.c_str()) == 0;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace quillmark::platform
