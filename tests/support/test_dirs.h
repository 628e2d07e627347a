// Scratch folders for tests: each one is removed when the object goes.
#ifndef QUILLMARK_TESTS_SUPPORT_TEST_DIRS_H_
#define QUILLMARK_TESTS_SUPPORT_TEST_DIRS_H_

#include <string>

namespace quillmark::testing {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs a shell command line; returns its exit status (-1 if it could not run).
int RunShell(const std::string& command);

// Runs a shell command line and captures its standard output.
int RunShellCapture(const std::string& command, std::string* out);

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_SUPPORT_TEST_DIRS_H_
