#include "platform/os/shell_viewer_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "platform/os/home.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {

constexpr char kRuntimeFolderName[] = "/quillmark-view";
constexpr char kHomeFolderName[] = "/view";
constexpr char kStem[] = "view-";
constexpr int kNameAttempts = 8;

bool Fail(std::uint32_t error) {
  SetLastError(error);
  return false;
}

// A folder others cannot put anything into: the user's, not writable by
// group or others (links are followed: $XDG_RUNTIME_DIR may be one).
bool ClosedParent(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The private folder itself: a real folder, the user's, mode 0700 or less.
bool PrivateFolder(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

// Removes the viewer files in |folder| last changed before |now| - lifetime.
// Entries are looked at without following links, and only names of ours go.
void RemoveOldFiles(const std::string& folder) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (dir == nullptr) return;
  const int fd = ::dirfd(dir.get());
  const std::time_t oldest = std::time(nullptr) - kViewerFileLifetimeSeconds;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string_view name = entry->d_name;
    if (!name.starts_with(kStem)) continue;
    struct stat st;
    if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) {
      continue;
    }
    if (st.st_mtime < oldest) ::unlinkat(fd, entry->d_name, 0);
  }
}

bool RandomStem(std::string* stem) {
  unsigned char bytes[8];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return false;
  static constexpr char kHex[] = "0123456789abcdef";
  *stem = kStem;
  for (unsigned char b : bytes) {
    stem->push_back(kHex[b >> 4]);
    stem->push_back(kHex[b & 0x0F]);
  }
  return true;
}

bool WriteAll(int fd, ByteSpan data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool PrepareViewerFolder(std::string* folder) {
  std::string path;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/' && ClosedParent(runtime)) {
    path = std::string(runtime) + kRuntimeFolderName;
  } else {
    std::string home = QuillmarkHome();
    if (home.empty()) return Fail(kErrorFileNotFound);
    if (!ClosedParent(home)) return Fail(kErrorAccessDenied);
    path = home + kHomeFolderName;
  }
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return Fail(kErrorAccessDenied);
  if (!PrivateFolder(path)) return Fail(kErrorAccessDenied);
  RemoveOldFiles(path);
  *folder = std::move(path);
  return true;
}

bool CreateViewerFile(const std::string& folder, std::string_view suffix, ByteSpan data,
                      std::string* path) {
  if (suffix.find('/') != std::string_view::npos || suffix.find('\0') != std::string_view::npos) {
    return Fail(kErrorInvalidParameter);
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string stem;
    if (!RandomStem(&stem)) return Fail(kErrorAccessDenied);
    std::string candidate = folder + "/" + stem + std::string(suffix);
    const int fd =
        ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return Fail(kErrorAccessDenied);
    }
    const bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, data);
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
      ::unlink(candidate.c_str());
      return Fail(kErrorAccessDenied);
    }
    *path = std::move(candidate);
    return true;
  }
  return Fail(kErrorFileExists);
}

}  // namespace quillmark::platform
