// The home folder's rule on Linux, for the home itself and for every folder
// and file the stores and keys read below it: a folder where a folder is
// expected and a regular file where a file is, owned by this user and
// writable by no one else. Whoever may write there could plant a certificate
// to be trusted or a key to be used, or a FIFO to make every reader wait.
#ifndef QUILLMARK_PLATFORM_OS_LINUX_HOME_RULE_H_
#define QUILLMARK_PLATFORM_OS_LINUX_HOME_RULE_H_

#include <sys/stat.h>

#include <string>

namespace quillmark::platform {

// Why the entry |path| below (or at) |home|, as |st| describes it (an lstat
// or an fstat), fails the rule: one line, "refusing home folder HOME: PATH is
// writable by others (mode 0777); run chmod 700 PATH"; empty when it passes.
std::string HomeRuleProblem(const std::string& home, const std::string& path, const struct stat& st,
                            bool folder);

// Opens the regular file |path| below |home| for reading without following a
// link and without blocking, and fstats it into |*st|: a FIFO, device,
// folder or link is refused at once, never read, and so is a file that fails
// the rule. The descriptor (close-on-exec), or -1 with errno set (EACCES for
// a refusal, ELOOP for a link) and |*problem| set to the one-line reason when
// one is known (left alone for a missing file).
int OpenHomeFile(const std::string& home, const std::string& path, struct stat* st,
                 std::string* problem);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_LINUX_HOME_RULE_H_
