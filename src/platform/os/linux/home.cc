#include "platform/os/home.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "common/no_destructor.h"
#include "platform/os/files.h"
#include "platform/os/linux/home_rule.h"

namespace quillmark::platform {

namespace {

std::string& HomeOverride() {
  static NoDestructor<std::string> path;
  return *path;
}

std::string EnvOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

// Why |path| may not hold private state; empty when it may (or is missing).
std::string FolderProblem(const std::string& home, const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::string();
  return HomeRuleProblem(home, path, st, /*folder=*/true);
}

}  // namespace

std::string HomeRuleProblem(const std::string& home, const std::string& path, const struct stat& st,
                            bool folder) {
  std::string lead = "refusing home folder " + home + ": ";
  if (path != home) lead += path + " is ";
  if (folder && !S_ISDIR(st.st_mode)) return lead + "not a folder";
  if (!folder && !S_ISREG(st.st_mode)) return lead + "not a regular file";
  if (st.st_uid != ::geteuid()) {
    return lead + "owned by another user (uid " + std::to_string(st.st_uid) + ")";
  }
  unsigned mode = st.st_mode & 07777;
  if ((mode & 022) == 0) return std::string();
  char octal[8];
  std::snprintf(octal, sizeof octal, "%04o", mode);
  const char* who = (mode & 002) != 0 ? "others" : "group";
  return lead + "writable by " + who + " (mode " + octal + "); run chmod " +
         (folder ? "700 " : "go-w ") + path;
}

int OpenHomeFile(const std::string& home, const std::string& path, struct stat* st,
                 std::string* problem) {
  // O_NONBLOCK keeps open() from waiting on a FIFO, O_NOCTTY a terminal from
  // becoming ours, O_NOFOLLOW a link from leading elsewhere (ELOOP).
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno == ELOOP) {
      *problem = "refusing home folder " + home + ": " + path + " is a symbolic link";
    }
    return -1;
  }
  std::string why;
  if (::fstat(fd, st) != 0) {
    why = "refusing home folder " + home + ": " + path + " cannot be examined";
  } else {
    why = HomeRuleProblem(home, path, *st, /*folder=*/false);
  }
  if (why.empty()) return fd;
  ::close(fd);
  *problem = std::move(why);
  errno = EACCES;
  return -1;
}

std::string HomeFolderProblemAt(const std::string& path) {
  for (const char* sub : {"", "/stores", "/keys", "/store-index"}) {
    std::string problem = FolderProblem(path, path + sub);
    if (!problem.empty()) return problem;
  }
  return std::string();
}

std::string HomeFolderProblem() {
  std::string path = QuillmarkHomePath();
  if (path.empty()) return std::string();
  std::string problem = HomeFolderProblemAt(path);
  if (!problem.empty()) return problem;
  // Once per command: every store folder and key container as well.
  for (const char* sub : {"/stores/", "/keys/"}) {
    const std::string folder = path + sub;
    for (const std::string& name : ListDirectory(folder.substr(0, folder.size() - 1))) {
      struct stat st;
      if (::lstat((folder + name).c_str(), &st) != 0 || S_ISREG(st.st_mode)) continue;
      problem = HomeRuleProblem(path, folder + name, st, /*folder=*/true);
      if (!problem.empty()) return problem;
    }
  }
  return std::string();
}

std::string UserHomeDirectory() {
  std::string home = EnvOrEmpty("HOME");
  if (!home.empty()) return home;
  if (const struct passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    return pw->pw_dir;
  }
  return std::string();
}

std::string QuillmarkHome() {
  std::string path = QuillmarkHomePath();
  if (path.empty() || !MakeDirectories(path, 0700)) return std::string();
  return HomeFolderProblemAt(path).empty() ? path : std::string();
}

std::string QuillmarkHomePath() {
  std::string path = HomeOverride();
  if (path.empty()) path = EnvOrEmpty("QUILLMARK_HOME");
  if (path.empty()) {
    std::string xdg = EnvOrEmpty("XDG_DATA_HOME");
    if (!xdg.empty()) {
      path = xdg + "/quillmark";
    } else {
      std::string home = UserHomeDirectory();
      if (home.empty()) return std::string();
      path = home + "/.local/share/quillmark";
    }
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

void SetQuillmarkHome(const std::string& path) { HomeOverride() = path; }

}  // namespace quillmark::platform
