#include "platform/os/shell.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "common/ascii.h"
#include "common/unicode.h"
#include "platform/os/dialog_program.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {

bool Fail(std::uint32_t error) {
  SetLastError(error);
  return false;
}

bool HasDesktop() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') return true;
  }
  return false;
}

// The full path of an executable called |name| on $PATH, or empty.
std::string FindOnPath(const std::string& name) {
  const char* env = std::getenv("PATH");
  std::string path = env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin";
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t colon = path.find(':', pos);
    std::string dir =
        path.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + name;
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (colon == std::string::npos) break;
    pos = colon + 1;
  }
  return std::string();
}

// Whether |file| names a certificate by its extension (.cer, .crt, .der).
bool IsCertificateFile(const std::string& file) {
  std::size_t dot = file.rfind('.');
  if (dot == std::string::npos || file.find('/', dot) != std::string::npos) return false;
  std::u16string ext(file.begin() + static_cast<std::ptrdiff_t>(dot), file.end());
  return EqualsIgnoringAsciiCase(ext, u".cer") || EqualsIgnoringAsciiCase(ext, u".crt") ||
         EqualsIgnoringAsciiCase(ext, u".der");
}

// Whether the desktop names a program for certificate files: `xdg-mime query
// default application/pkix-cert` prints one. Without xdg-mime nobody can
// tell, and xdg-open is given the file as before.
bool DesktopHasCertificateHandler() {
  std::string program = FindOnPath("xdg-mime");
  if (program.empty()) return true;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return true;
  pid_t child = ::fork();
  if (child < 0) {
    ::close(out[0]);
    ::close(out[1]);
    return true;
  }
  if (child == 0) {
    int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      ::dup2(null_fd, 0);
      ::dup2(null_fd, 2);
    }
    ::dup2(out[1], 1);
    char query[] = "query", dflt[] = "default", type[] = "application/pkix-cert";
    char* argv[] = {program.data(), query, dflt, type, nullptr};
    ::execv(argv[0], argv);
    ::_exit(127);
  }
  ::close(out[1]);
  std::string printed;
  char buf[512];
  for (ssize_t n; printed.size() < 4096;) {
    n = ::read(out[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    printed.append(buf, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  int wstatus = 0;
  while (::waitpid(child, &wstatus, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(wstatus) || WEXITSTATUS(wstatus) == 127) return true;
  return printed.find_first_not_of(" \t\r\n") != std::string::npos;
}

// quillmark-dialog, when it is there and may be run.
std::string CertificateViewer() {
  std::string viewer = DialogProgramPath();
  struct stat st;
  if (viewer.empty() || ::stat(viewer.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      ::access(viewer.c_str(), X_OK) != 0) {
    return std::string();
  }
  return viewer;
}

bool IsOpenVerb(std::u16string_view verb) {
  return verb.empty() || EqualsIgnoringAsciiCase(verb, u"open");
}

void WriteErrno(int fd, int error) {
  ssize_t ignored = ::write(fd, &error, sizeof error);
  (void)ignored;
}

// The handler's process: standard streams on /dev/null, the given folder,
// then exec. Reports its errno on |status_fd| when it cannot start.
[[noreturn]] void ExecHandler(char* const* argv, const char* dir, int status_fd) {
  int null_fd = ::open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    ::dup2(null_fd, 0);
    ::dup2(null_fd, 1);
    ::dup2(null_fd, 2);
    if (null_fd > 2) ::close(null_fd);
  }
  if (dir != nullptr && ::chdir(dir) != 0) {
    WriteErrno(status_fd, errno);
    ::_exit(127);
  }
  ::execv(argv[0], argv);
  WriteErrno(status_fd, errno);
  ::_exit(127);
}

// The first child starts the handler in a new session and leaves at once, so
// the handler is never our child and never needs waiting for.
[[noreturn]] void StartHandlerInNewSession(char* const* argv, const char* dir, int status_fd) {
  ::setsid();
  pid_t grandchild = ::fork();
  if (grandchild < 0) {
    WriteErrno(status_fd, errno);
    ::_exit(1);
  }
  if (grandchild == 0) ExecHandler(argv, dir, status_fd);
  ::_exit(0);
}

// Runs |argv| detached from this process. The status pipe closes on a
// successful exec; otherwise it carries the errno. 0 or the error to report.
std::uint32_t RunDetached(std::vector<char*>& argv, const char* dir) {
  int status_pipe[2];
  if (::pipe2(status_pipe, O_CLOEXEC) != 0) return kErrorNotEnoughMemory;
  pid_t child = ::fork();
  if (child < 0) {
    ::close(status_pipe[0]);
    ::close(status_pipe[1]);
    return kErrorNotEnoughMemory;
  }
  if (child == 0) {
    ::close(status_pipe[0]);
    StartHandlerInNewSession(argv.data(), dir, status_pipe[1]);
  }
  ::close(status_pipe[1]);
  int wstatus = 0;
  while (::waitpid(child, &wstatus, 0) < 0 && errno == EINTR) {
  }
  int exec_errno = 0;
  ssize_t n;
  while ((n = ::read(status_pipe[0], &exec_errno, sizeof exec_errno)) < 0 && errno == EINTR) {
  }
  ::close(status_pipe[0]);
  if (n > 0) return exec_errno == ENOMEM ? kErrorNotEnoughMemory : kErrorNoAssociation;
  return 0;
}

}  // namespace

bool ShellExecuteExW(const ShellExecuteInfo& info) {
  if (!IsOpenVerb(info.verb)) return Fail(kErrorNoAssociation);
  std::string file, directory;
  if (info.file.empty() || !Utf16ToUtf8(info.file, &file) ||
      !Utf16ToUtf8(info.directory, &directory)) {
    return Fail(kErrorInvalidParameter);
  }
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) return Fail(kErrorFileNotFound);
  if (!HasDesktop()) return Fail(kErrorNoAssociation);
  std::string program = FindOnPath("xdg-open");
  // A certificate file the desktop has no program for goes to our own viewer.
  std::string view_option;
  if (IsCertificateFile(file) && (program.empty() || !DesktopHasCertificateHandler())) {
    std::string viewer = CertificateViewer();
    if (!viewer.empty()) {
      program = viewer;
      view_option = "--view";
    }
  }
  if (program.empty()) return Fail(kErrorNoAssociation);
  // A relative name starting with '-' would read as an option.
  if (file[0] == '-') file = "./" + file;

  // Everything the children need is prepared before forking.
  std::vector<char*> argv = {program.data()};
  if (!view_option.empty()) argv.push_back(view_option.data());
  argv.push_back(file.data());
  argv.push_back(nullptr);
  const char* dir = directory.empty() ? nullptr : directory.c_str();
  if (std::uint32_t error = RunDetached(argv, dir)) return Fail(error);
  return true;
}

}  // namespace quillmark::platform
