#include "platform/os/files.h"
#include "platform/os/effect_audit.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <random>

#include "platform/os/paths.h"
#include "platform/os/win/handle.h"
#include "platform/os/win/wide.h"

namespace quillmark::platform {

namespace {

using win::ScopedHandle;
using win::Wide;

// Temporaries are named ".tmp-<pid>-XXXXXX" after the process writing them.
constexpr std::string_view kTempPrefix = ".tmp-";

// As on Linux: a temporary whose writer is gone goes once it is this old,
// one whose writer cannot be told only after a day. In 100 ns units.
constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::uint64_t kDeadWriterAge = 2 * kTicksPerSecond;
constexpr std::uint64_t kOrphanAge = 24ull * 60 * 60 * kTicksPerSecond;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::uint64_t Ticks(const FILETIME& t) {
  return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

std::uint64_t Now() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}

bool Attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  return ::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, data) != FALSE;
}

// A file (not a folder, not a device) opened for reading.
ScopedHandle OpenRegularForRead(const std::string& path) {
  ScopedHandle file(::CreateFileW(Wide(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) return ScopedHandle();
  return file;
}

bool FileSize(HANDLE file, std::uint64_t* size) {
  LARGE_INTEGER li;
  if (!::GetFileSizeEx(file, &li) || li.QuadPart < 0) return false;
  *size = static_cast<std::uint64_t>(li.QuadPart);
  return true;
}

// Reads into |data| until it is full or the file ends; the count read.
std::size_t ReadInto(HANDLE file, std::uint8_t* data, std::size_t size, bool* failed) {
  std::size_t done = 0;
  *failed = false;
  while (done < size) {
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - done, 1 << 20));
    DWORD got = 0;
    if (!::ReadFile(file, data + done, want, &got, nullptr)) {
      *failed = true;
      break;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

bool WriteAll(HANDLE file, ByteSpan data) {
  std::size_t done = 0;
  while (done < data.size()) {
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1 << 20));
    DWORD put = 0;
    if (!::WriteFile(file, data.data() + done, want, &put, nullptr) || put == 0) return false;
    done += put;
  }
  return true;
}

// The writer's process id in a temporary's name; 0 when the name carries none.
DWORD WriterOf(std::string_view name) {
  name.remove_prefix(kTempPrefix.size());
  std::size_t dash = name.find('-');
  if (dash == std::string_view::npos || dash == 0) return 0;
  unsigned long pid = 0;
  auto [end, ec] = std::from_chars(name.data(), name.data() + dash, pid);
  if (ec != std::errc() || end != name.data() + dash || pid == 0) return 0;
  return static_cast<DWORD>(pid);
}

bool ProcessIsGone(DWORD pid) {
  ScopedHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!process.valid()) return ::GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
  return ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

// The folder part of |path|: up to its last separator; "." without one.
std::string FolderOf(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  // "C:\x" keeps "C:\", "\x" keeps "\".
  if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

std::string RandomText(std::size_t n) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device random;  // rand_s: the system's random source
  std::string text;
  for (std::size_t i = 0; i < n; ++i) text.push_back(kChars[random() % (sizeof kChars - 1)]);
  return text;
}

}  // namespace

void CrashPoint() {
  const char* stop_at = std::getenv("QUILLMARK_TEST_CRASH_AT");
  if (stop_at == nullptr) return;
  static std::atomic<long> reached{0};
  if (reached.fetch_add(1) + 1 == std::strtol(stop_at, nullptr, 10)) {
    ::TerminateProcess(::GetCurrentProcess(), 137);
  }
}

bool IsTemporaryFileName(std::string_view name) {
  return name.size() > kTempPrefix.size() && name.substr(0, kTempPrefix.size()) == kTempPrefix;
}

int RemoveStaleTemporaries(const std::string& dir) {
  int removed = 0;
  const std::uint64_t now = Now();
  for (const std::string& name : ListDirectory(dir)) {
    if (!IsTemporaryFileName(name)) continue;
    std::string path = dir + "\\" + name;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!Attributes(path, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      continue;  // ours are plain files
    }
    const std::uint64_t written = Ticks(data.ftLastWriteTime);
    const std::uint64_t age = now > written ? now - written : 0;
    DWORD writer = WriterOf(name);
    bool stale = age >= kOrphanAge || (writer != 0 && writer != ::GetCurrentProcessId() &&
                                       age >= kDeadWriterAge && ProcessIsGone(writer));
    if (stale && ::DeleteFileW(Wide(path).c_str())) ++removed;
  }
  return removed;
}

bool ReadWholeFile(const std::string& path, Bytes* out) {
  NoteEffect(Effect::kFileRead, path);
  ScopedHandle file = OpenRegularForRead(path);
  std::uint64_t size = 0;
  if (!file.valid() || !FileSize(file.get(), &size)) return false;
  Bytes data;
  data.reserve(static_cast<std::size_t>(size));
  std::uint8_t chunk[65536];
  for (;;) {
    bool failed = false;
    std::size_t n = ReadInto(file.get(), chunk, sizeof chunk, &failed);
    if (failed) return false;
    data.insert(data.end(), chunk, chunk + n);
    if (n < sizeof chunk) break;
  }
  *out = std::move(data);
  return true;
}

bool ReadSecretFile(const std::string& path, std::size_t max_size, Bytes* out) {
  ScopedHandle file = OpenRegularForRead(path);
  std::uint64_t size = 0;
  if (!file.valid() || !FileSize(file.get(), &size) || size > max_size) return false;
  // One byte more than the size shows a file that grew while it was read.
  Bytes data(static_cast<std::size_t>(size) + 1);
  bool failed = false;
  std::size_t done = ReadInto(file.get(), data.data(), data.size(), &failed);
  if (failed || done > size || done > max_size) {
    ::SecureZeroMemory(data.data(), data.size());
    return false;
  }
  ::SecureZeroMemory(data.data() + done, data.size() - done);
  data.resize(done);  // shrinking keeps the buffer: nothing is copied
  if (!out->empty()) ::SecureZeroMemory(out->data(), out->size());
  out->swap(data);
  if (!data.empty()) ::SecureZeroMemory(data.data(), data.size());
  return true;
}

// |mode| has no meaning here: the new file takes the default ACL of its
// folder, which below the user's profile gives access to the user (and the
// system and administrators) alone.
bool WriteFileAtomically(const std::string& path, ByteSpan data, unsigned /*mode*/) {
  NoteEffect(Effect::kFileWrite, path);
  std::string dir = FolderOf(path);
  RemoveStaleTemporaries(dir);
  std::string prefix = dir;
  if (!win::IsSeparator(prefix.back())) prefix.push_back('\\');
  prefix += std::string(kTempPrefix) + std::to_string(::GetCurrentProcessId()) + "-";
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string tmp = prefix + RandomText(6);
    std::wstring wide_tmp = Wide(tmp);
    ScopedHandle file(::CreateFileW(wide_tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return false;
    }
    bool ok = WriteAll(file.get(), data) && ::FlushFileBuffers(file.get());
    ok = file.Close() && ok;
    if (ok) CrashPoint();
    // Replaces the target in one step; WRITE_THROUGH returns once the
    // rename is on the disk, as the folder sync does on Linux.
    if (ok && ::MoveFileExW(wide_tmp.c_str(), Wide(path).c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      CrashPoint();
      return true;
    }
    ::DeleteFileW(wide_tmp.c_str());
    return false;
  }
  return false;
}

// Renames are written through (MOVEFILE_WRITE_THROUGH): nothing is left to flush.
void SyncDirectory(const std::string& /*dir*/) {}

bool RemoveFile(const std::string& path) {
  bool gone = ::DeleteFileW(Wide(path).c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND ||
              ::GetLastError() == ERROR_PATH_NOT_FOUND;
  CrashPoint();
  return gone;
}

// |mode| has no meaning here either (see WriteFileAtomically).
bool MakeDirectories(const std::string& path, unsigned /*mode*/) {
  if (path.empty()) return false;
  if (IsDirectory(path)) return true;
  // Each prefix ending before a separator, then the whole path; the drive
  // ("C:") or the server and share of a UNC path are never created.
  std::size_t start = 1;
  if (path.size() >= 2 && path[1] == ':') start = 3;
  if (path.size() >= 2 && win::IsSeparator(path[0]) && win::IsSeparator(path[1])) {
    std::size_t server_end = path.find_first_of("\\/", 2);
    std::size_t share_end =
        server_end == std::string::npos ? server_end : path.find_first_of("\\/", server_end + 1);
    start = share_end == std::string::npos ? path.size() : share_end + 1;
  }
  for (std::size_t pos = start; pos <= path.size(); ++pos) {
    if (pos == path.size() || win::IsSeparator(path[pos])) {
      std::string prefix = path.substr(0, pos);
      if (prefix.empty() || win::IsSeparator(prefix.back())) continue;
      if (!::CreateDirectoryW(Wide(prefix).c_str(), nullptr) &&
          ::GetLastError() != ERROR_ALREADY_EXISTS && !IsDirectory(prefix)) {
        return false;
      }
    }
  }
  return IsDirectory(path);
}

bool IsDirectory(const std::string& path) {
  DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RegularFileSize(const std::string& path, std::uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!Attributes(path, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return false;
  }
  *size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool IsRegularFile(const std::string& path) {
  std::uint64_t size;
  return RegularFileSize(path, &size);
}

std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  std::wstring pattern = Wide(path);
  if (pattern.empty()) return names;
  if (!win::IsSeparator(pattern.back())) pattern.push_back(L'\\');
  pattern.push_back(L'*');
  WIN32_FIND_DATAW entry;
  win::ScopedFind find(::FindFirstFileW(pattern.c_str(), &entry));
  if (!find.valid()) return names;
  do {
    std::wstring_view name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(win::Utf8(name));
  } while (::FindNextFileW(find.get(), &entry));
  std::sort(names.begin(), names.end());
  return names;
}

bool MakeTemporaryDirectory(const std::string& prefix, std::string* path) {
  std::string base = win::Utf8(Wide(GetTempPathW()));
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string candidate = base + prefix + RandomText(6);
    if (::CreateDirectoryW(Wide(candidate).c_str(), nullptr)) {
      *path = std::move(candidate);
      return true;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool RemoveTree(const std::string& path) {
  std::wstring wide = Wide(path);
  DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    ::SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ::DeleteFileW(wide.c_str()) != FALSE;
  // A junction or a folder link is removed itself, never followed.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    for (const std::string& name : ListDirectory(path)) RemoveTree(path + "\\" + name);
  }
  return ::RemoveDirectoryW(wide.c_str()) != FALSE;
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace quillmark::platform
