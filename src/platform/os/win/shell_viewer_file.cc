#include "platform/os/shell_viewer_file.h"

#include <windows.h>

#include <random>

#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/os/win/handle.h"
#include "platform/os/win/wide.h"

// On Windows the folder is "view" in the home folder (%APPDATA%\Quillmark),
// whose default ACL admits the user alone; a folder link there is refused.
// Files are made with CREATE_NEW, which never opens or follows what is
// already at the path.

namespace quillmark::platform {

namespace {

constexpr char kHomeFolderName[] = "\\view";
constexpr wchar_t kStem[] = L"view-";
constexpr int kNameAttempts = 8;
constexpr std::uint64_t kTicksPerSecond = 10'000'000;

bool Fail(std::uint32_t error) {
  SetLastError(error);
  return false;
}

// A real folder: not a file, not a link to somewhere else.
bool RealFolder(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

std::uint64_t Ticks(const FILETIME& t) {
  return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Removes the viewer files in |folder| last written more than the lifetime ago.
void RemoveOldFiles(const std::wstring& folder) {
  FILETIME now_time;
  ::GetSystemTimeAsFileTime(&now_time);
  const std::uint64_t now = Ticks(now_time);
  const std::uint64_t lifetime = kViewerFileLifetimeSeconds * kTicksPerSecond;
  std::wstring pattern = folder + L"\\" + kStem + L"*";
  WIN32_FIND_DATAW entry;
  win::ScopedFind find(::FindFirstFileW(pattern.c_str(), &entry));
  if (!find.valid()) return;
  do {
    if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      continue;
    }
    const std::uint64_t written = Ticks(entry.ftLastWriteTime);
    if (now > written && now - written > lifetime) {
      ::DeleteFileW((folder + L"\\" + entry.cFileName).c_str());
    }
  } while (::FindNextFileW(find.get(), &entry));
}

std::wstring RandomStem() {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::random_device random;  // rand_s: the system's random source
  std::wstring stem = kStem;
  for (int i = 0; i < 16; ++i) stem.push_back(kHex[random() & 0x0F]);
  return stem;
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

}  // namespace

bool PrepareViewerFolder(std::string* folder) {
  std::string home = QuillmarkHome();
  if (home.empty()) return Fail(kErrorFileNotFound);
  std::string path = home + kHomeFolderName;
  std::wstring wide = win::Wide(path);
  if (!::CreateDirectoryW(wide.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return Fail(kErrorAccessDenied);
  }
  if (!RealFolder(wide)) return Fail(kErrorAccessDenied);
  RemoveOldFiles(wide);
  *folder = std::move(path);
  return true;
}

bool CreateViewerFile(const std::string& folder, std::string_view suffix, ByteSpan data,
                      std::string* path) {
  if (suffix.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) {
    return Fail(kErrorInvalidParameter);
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::wstring candidate = win::Wide(folder) + L"\\" + RandomStem() + win::Wide(suffix);
    win::ScopedHandle file(::CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return Fail(kErrorAccessDenied);
    }
    const bool written = WriteAll(file.get(), data);
    const bool closed = file.Close();
    if (!written || !closed) {
      ::DeleteFileW(candidate.c_str());
      return Fail(kErrorAccessDenied);
    }
    *path = win::Utf8(candidate);
    return true;
  }
  return Fail(kErrorFileExists);
}

}  // namespace quillmark::platform
