#include "platform/os/file_trust.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace quillmark::platform {

namespace {

std::string Octal(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

// Why |st| (of |what|) is not owned by root or this user, or may be written
// by others; empty when neither.
std::string OwnerProblem(const std::string& what, const struct stat& st, bool folder) {
  if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
    return what + " is owned by another user (uid " + std::to_string(st.st_uid) + ")";
  }
  unsigned mode = st.st_mode & 07777;
  if ((mode & 022) == 0) return std::string();
  if (folder && (mode & S_ISVTX) != 0) return std::string();  // others cannot replace the file
  return what + " is writable by " + ((mode & 002) != 0 ? "others" : "its group") + " (mode " +
         Octal(mode) + ")";
}

}  // namespace

std::string SharedFileTrustProblem(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::string();  // missing: nothing to believe
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) return path + " cannot be resolved";
  std::string file(real.get());
  if (!S_ISREG(st.st_mode)) return file + " is not a regular file";
  if (std::string problem = OwnerProblem(file, st, false); !problem.empty()) return problem;
  std::size_t slash = file.rfind('/');
  std::string folder = slash == 0 ? "/" : file.substr(0, slash);
  struct stat dir;
  if (::stat(folder.c_str(), &dir) != 0) return file + ": its folder cannot be examined";
  return OwnerProblem(file + ": its folder " + folder, dir, true);
}

}  // namespace quillmark::platform
