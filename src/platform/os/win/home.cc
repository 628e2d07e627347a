#include "platform/os/home.h"

#include <windows.h>

#include "common/no_destructor.h"
#include "platform/os/files.h"
#include "platform/os/win/wide.h"

namespace quillmark::platform {

namespace {

std::string& HomeOverride() {
  static NoDestructor<std::string> path;
  return *path;
}

// Why |path| may not hold private state; empty when it may (or is missing).
// A folder link (junction or symbolic link) is refused: the state would live
// wherever it points. The folder's access is left to its ACL, which below
// %APPDATA% the user alone holds.
std::string FolderProblem(const std::string& home, const std::string& path) {
  DWORD attributes = ::GetFileAttributesW(win::Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::string();
  std::string lead = "refusing home folder " + home + ": ";
  if (path != home) lead += path + " is ";
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return lead + "not a folder";
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return lead + "a link to another folder";
  return std::string();
}

}  // namespace

std::string HomeFolderProblemAt(const std::string& path) {
  for (const char* sub : {"", "\\stores", "\\keys"}) {
    std::string problem = FolderProblem(path, path + sub);
    if (!problem.empty()) return problem;
  }
  return std::string();
}

std::string HomeFolderProblem() {
  std::string path = QuillmarkHomePath();
  return path.empty() ? std::string() : HomeFolderProblemAt(path);
}

std::string UserHomeDirectory() { return win::EnvironmentUtf8(L"USERPROFILE"); }

std::string QuillmarkHome() {
  std::string path = QuillmarkHomePath();
  if (path.empty() || !MakeDirectories(path, 0700)) return std::string();
  return HomeFolderProblemAt(path).empty() ? path : std::string();
}

std::string QuillmarkHomePath() {
  std::string path = HomeOverride();
  if (path.empty()) path = win::EnvironmentUtf8(L"QUILLMARK_HOME");
  if (path.empty()) {
    std::string appdata = win::EnvironmentUtf8(L"APPDATA");
    if (appdata.empty()) return std::string();
    while (!appdata.empty() && win::IsSeparator(appdata.back())) appdata.pop_back();
    path = appdata + "\\Quillmark";
  }
  // "C:\" keeps its separator; any other trailing one goes.
  while (path.size() > 1 && win::IsSeparator(path.back()) &&
         !(path.size() == 3 && path[1] == ':')) {
    path.pop_back();
  }
  return path;
}

void SetQuillmarkHome(const std::string& path) { HomeOverride() = path; }

}  // namespace quillmark::platform
