#include "platform/os/home.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "common/no_destructor.h"
#include "platform/os/files.h"

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

}  // namespace

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
  return !path.empty() && MakeDirectories(path, 0700) ? path : std::string();
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
