#include "platform/os/secret_input.h"

#include <fcntl.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace quillmark::platform {

namespace {

constexpr size_t kMaxPassword = 4096;

// Reads one line from |fd| a byte at a time, so nothing after the newline is
// taken from a shared descriptor.
bool ReadLine(int fd, std::string* line) {
  std::string text;
  text.reserve(kMaxPassword + 1);  // no reallocation leaves copies behind
  for (;;) {
    char c;
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      WipeSecret(&text);
      return false;
    }
    if (n == 0 || c == '\n') break;
    if (text.size() == kMaxPassword) {
      WipeSecret(&text);
      return false;
    }
    text.push_back(c);
  }
  if (!text.empty() && text.back() == '\r') text.pop_back();
  WipeSecret(line);
  line->swap(text);
  return true;
}

}  // namespace

void WipeSecret(std::string* text) {
  if (!text->empty()) ::explicit_bzero(text->data(), text->size());
  text->clear();
}

void WipeSecret(Bytes* bytes) {
  if (!bytes->empty()) ::explicit_bzero(bytes->data(), bytes->size());
  bytes->clear();
}

bool ReadPasswordFromFd(int fd, std::string* password) {
  if (fd < 0) return false;
  return ReadLine(fd, password);
}

bool ReadSecretLine(int fd, std::string* secret) {
  if (fd < 0) return false;
  struct termios saved;
  if (::isatty(fd) != 1 || ::tcgetattr(fd, &saved) != 0) return ReadLine(fd, secret);
  struct termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  bool ok = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0 && ReadLine(fd, secret);
  ::tcsetattr(fd, TCSAFLUSH, &saved);
  return ok;
}

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

bool PromptPassword(const char* prompt, std::string* password) {
  int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct termios saved;
  if (::tcgetattr(fd, &saved) != 0) {
    ::close(fd);
    return false;
  }
  struct termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  (void)!::write(fd, prompt, ::strlen(prompt));
  bool ok = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0 && ReadLine(fd, password);
  ::tcsetattr(fd, TCSAFLUSH, &saved);
  ::close(fd);
  return ok;
}

}  // namespace quillmark::platform
