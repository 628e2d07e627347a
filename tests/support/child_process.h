// A child process with its standard input and output on pipes, for the tests
// that drive one of our programs through them.
//
//   ChildPipes child = SpawnWithPipes({QM_CLI_PATH, "session"}, {{"QUILLMARK_UI", "none"}});
//   ::write(child.to_child, ...);   ::read(child.from_child, ...);
//   ::close(child.to_child);        ::waitpid(child.pid, &status, 0);
//
// |env| is added to (or replaces in) the inherited environment. The child's
// standard error stays the test's. Any failure to start aborts the test
// program: nothing after it could be trusted.
#ifndef QUILLMARK_TESTS_SUPPORT_CHILD_PROCESS_H_
#define QUILLMARK_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace quillmark::testing {

struct ChildPipes {
  pid_t pid = -1;
  int to_child = -1;    // the child's standard input
  int from_child = -1;  // the child's standard output
};

ChildPipes SpawnWithPipes(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env = {});

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_SUPPORT_CHILD_PROCESS_H_
