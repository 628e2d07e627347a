#include "platform/os/paths.h"

#include <unistd.h>

#include <cstdlib>

#include "common/unicode.h"

namespace quillmark::platform {

bool PathHasSeparator(std::u16string_view path) {
  return path.find(kPathSeparator) != std::u16string_view::npos;
}

std::u16string_view PathFileName(std::u16string_view path) {
  size_t slash = path.rfind(kPathSeparator);
  return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

bool MakeAbsolutePath(std::u16string_view path, std::u16string* absolute) {
  if (!path.empty() && path[0] == kPathSeparator) {
    absolute->assign(path);
    return true;
  }
  char buf[4096];
  if (::getcwd(buf, sizeof buf) == nullptr) return false;
  std::u16string cwd = Utf8ToUtf16Lossy(buf);
  if (cwd.back() != kPathSeparator) cwd.push_back(kPathSeparator);
  *absolute = cwd + std::u16string(path);
  return true;
}

std::u16string GetTempPathW() {
  const char* env = std::getenv("TMPDIR");
  std::u16string path = Utf8ToUtf16Lossy(env != nullptr && *env != '\0' ? env : "/tmp");
  if (path.back() != kPathSeparator) path.push_back(kPathSeparator);
  return path;
}

}  // namespace quillmark::platform
