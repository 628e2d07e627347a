// The test folders and commands for the Windows test programs: a ScratchDir
// is a fresh folder below the system's temporary folder, removed with
// everything in it when it goes; commands run through the system's command
// interpreter.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/test_dirs.h"

namespace quillmark::testing {

ScratchDir::ScratchDir() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string name = "qmtest-" + std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(::GetTickCount64()) + "-" + std::to_string(attempt);
    std::error_code ec;
    if (std::filesystem::create_directory(base / name, ec)) {
      path_ = (base / name).string();
      return;
    }
  }
  std::abort();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

int RunShell(const std::string& command) { return std::system(command.c_str()); }

int RunShellCapture(const std::string& command, std::string* out) {
  out->clear();
  FILE* p = ::_popen(command.c_str(), "rb");
  if (p == nullptr) return -1;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out->append(buf, n);
  return ::_pclose(p);
}

}  // namespace quillmark::testing
