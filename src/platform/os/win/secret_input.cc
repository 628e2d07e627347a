#include "platform/os/secret_input.h"

#include <io.h>
#include <windows.h>

#include <cstring>

#include "platform/os/win/handle.h"
#include "platform/os/win/wide.h"

namespace quillmark::platform {

namespace {

constexpr std::size_t kMaxPassword = 4096;

// Reads one line from CRT descriptor |fd| a byte at a time, so nothing after
// the newline is taken from a shared descriptor.
bool ReadLine(int fd, std::string* line) {
  std::string text;
  text.reserve(kMaxPassword + 1);  // no reallocation leaves copies behind
  for (;;) {
    char c;
    int n = ::_read(fd, &c, 1);
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

// Turns the console's echo off while it lives, and back on.
class ConsoleEchoOff {
 public:
  explicit ConsoleEchoOff(HANDLE input) : input_(input) {
    active_ = ::GetConsoleMode(input_, &saved_) &&
              ::SetConsoleMode(input_, (saved_ & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT);
  }
  ~ConsoleEchoOff() {
    if (active_) ::SetConsoleMode(input_, saved_);
  }
  ConsoleEchoOff(const ConsoleEchoOff&) = delete;
  ConsoleEchoOff& operator=(const ConsoleEchoOff&) = delete;

 private:
  HANDLE input_;
  DWORD saved_ = 0;
  bool active_ = false;
};

// One line typed at the console, as UTF-8, read as UTF-16 so no code page
// is in the way.
bool ReadConsoleLine(HANDLE input, std::string* line) {
  std::wstring typed(kMaxPassword + 2, L'\0');
  std::size_t filled = 0;
  bool ended = false;
  while (!ended && filled < typed.size()) {
    DWORD got = 0;
    if (!::ReadConsoleW(input, typed.data() + filled, static_cast<DWORD>(typed.size() - filled),
                        &got, nullptr) ||
        got == 0) {
      break;
    }
    for (DWORD i = 0; i < got; ++i) {
      if (typed[filled + i] == L'\n') ended = true;
    }
    filled += got;
  }
  std::size_t end = typed.find(L'\n');
  if (end == std::wstring::npos) end = filled;
  if (end > 0 && typed[end - 1] == L'\r') --end;
  bool ok = ended && end <= kMaxPassword;
  if (ok) {
    std::string text = win::Utf8(std::wstring_view(typed.data(), end));
    WipeSecret(line);
    line->swap(text);
    WipeSecret(&text);
  }
  ::SecureZeroMemory(typed.data(), typed.size() * sizeof(wchar_t));
  return ok;
}

}  // namespace

void WipeSecret(std::string* text) {
  if (!text->empty()) ::SecureZeroMemory(text->data(), text->size());
  text->clear();
}

void WipeSecret(Bytes* bytes) {
  if (!bytes->empty()) ::SecureZeroMemory(bytes->data(), bytes->size());
  bytes->clear();
}

bool ReadPasswordFromFd(int fd, std::string* password) {
  if (fd < 0) return false;
  return ReadLine(fd, password);
}

bool ReadSecretLine(int fd, std::string* secret) {
  if (fd < 0) return false;
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  DWORD mode;
  if (!::_isatty(fd) || handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) {
    return ReadLine(fd, secret);
  }
  ConsoleEchoOff quiet(handle);
  return ReadConsoleLine(handle, secret);
}

bool StdinIsTerminal() { return ::_isatty(0) != 0; }

bool PromptPassword(const char* prompt, std::string* password) {
  win::ScopedHandle input(::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
  win::ScopedHandle output(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
  if (!input.valid() || !output.valid()) return false;
  std::wstring text = win::Wide(std::string_view(prompt, std::strlen(prompt)));
  DWORD written;
  ::WriteConsoleW(output.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  bool ok;
  {
    ConsoleEchoOff quiet(input.get());
    ok = ReadConsoleLine(input.get(), password);
  }
  ::WriteConsoleW(output.get(), L"\r\n", 2, &written, nullptr);  // the Enter not echoed
  return ok;
}

}  // namespace quillmark::platform
