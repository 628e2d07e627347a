#include "cli/home_check.h"

#include <cstdio>
#include <string>

#include "platform/os/home.h"

namespace quillmark::cli {

bool HomeFolderIsSafe() {
  std::string problem = platform::HomeFolderProblem();
  if (problem.empty()) return true;
  std::fprintf(stderr, "quillmark: %s\n", problem.c_str());
  return false;
}

}  // namespace quillmark::cli
