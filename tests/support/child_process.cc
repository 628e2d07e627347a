#include "support/child_process.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace quillmark::testing {

ChildPipes SpawnWithPipes(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env) {
  if (argv.empty()) std::abort();
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int in[2], out[2];
  // Close-on-exec, so that a later child does not keep this child's input
  // open (the child's own ends are dup2()ed to 0 and 1, which clears it).
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) std::abort();
  ChildPipes child;
  child.pid = ::fork();
  if (child.pid < 0) std::abort();
  if (child.pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::close(in[0]);
    ::close(in[1]);
    ::close(out[0]);
    ::close(out[1]);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  child.to_child = in[1];
  child.from_child = out[0];
  return child;
}

}  // namespace quillmark::testing
