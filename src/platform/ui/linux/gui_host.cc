#include "platform/ui/gui_host.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/os/dialog_program.h"
#include "platform/os/secret_input.h"

namespace quillmark::platform::ui {

namespace {

// How long a helper may take to end once its input is closed.
constexpr int kExitGraceMillis = 3000;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

std::string FindHelper() { return DialogProgramPath(); }

void Say(DialogKind kind, const std::string& why) {
  std::fprintf(stderr, "quillmark: the %s dialog was cancelled: %s\n",
               std::string(DialogKindName(kind)).c_str(), why.c_str());
}

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::u16string WithNumber(std::string_view word, int n) {
  return Ascii(std::string(word) + " " + std::to_string(n));
}

// The answer as the report shows it when it does not belong to the dialog.
std::u16string AnswerText(const gui::Answer& a) {
  using A = gui::Answer::Action;
  switch (a.action) {
    case A::kChoose:
      return WithNumber("choose", a.item);
    case A::kView:
      return WithNumber("view", a.item);
    case A::kSort:
      return WithNumber("sort", a.column);
    case A::kOpen:
      return u"open " + a.path;
    case A::kSave:
      return u"save " + a.path;
    case A::kOk:
      return u"ok";
    case A::kAllow:
      return u"allow";
    case A::kAlways:
      return u"always";
    case A::kDeny:
      return u"deny";
    case A::kConfirm:
      return u"confirm";
    case A::kPin:
      return u"pin";
    case A::kCancel:
      break;
  }
  return u"cancel";
}

bool RowExists(const ChooserRequest& request, int item) {
  for (const ChooserRow& row : request.rows) {
    if (row.item == item) return true;
  }
  return false;
}

}  // namespace

bool DesktopDisplayReachable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    if (!Env(name).empty()) return true;
  }
  return false;
}

// One helper process on one end of a socket pair, which is its standard
// input and output. Sending never raises SIGPIPE.
class GuiDialogHost::Helper {
 public:
  static std::unique_ptr<Helper> Start(const std::string& path, std::string* error) {
    if (path.empty()) {
      *error = "the dialog helper quillmark-dialog was not found";
      return nullptr;
    }
    if (::access(path.c_str(), X_OK) != 0) {
      *error = "the dialog helper " + path + " is missing or not executable";
      return nullptr;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
      *error = std::string("no socket for the dialog helper: ") + std::strerror(errno);
      return nullptr;
    }
    pid_t pid = ::fork();
    if (pid < 0) {
      *error = std::string("the dialog helper could not start: ") + std::strerror(errno);
      ::close(fds[0]);
      ::close(fds[1]);
      return nullptr;
    }
    if (pid == 0) {
      // The child: the socket becomes standard input and output, standard
      // error stays, nothing else is inherited.
      if (::dup2(fds[1], 0) < 0 || ::dup2(fds[1], 1) < 0) ::_exit(127);
      ::close_range(3, ~0U, 0);
      char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
      ::execv(path.c_str(), argv);
      ::_exit(127);
    }
    ::close(fds[1]);
    return std::unique_ptr<Helper>(new Helper(pid, fds[0]));
  }

  ~Helper() {
    WipeBuffer();
    ::close(fd_);
    Reap();
  }

  // False with |why| when the helper takes no more input (it has ended).
  bool Send(const std::string& line, std::string* why) {
    std::string framed = line + "\n";
    std::size_t done = 0;
    while (done < framed.size()) {
      ssize_t n = ::send(fd_, framed.data() + done, framed.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        *why = EndText();
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // One line without its end. False with |why| at the end of the helper's
  // output, on a read error, or for a line over the limit.
  bool ReadLine(std::string* line, std::string* why) {
    for (;;) {
      std::size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        line->assign(buffer_, 0, end);
        std::memset(buffer_.data(), 0, end + 1);
        buffer_.erase(0, end + 1);
        return true;
      }
      if (buffer_.size() > gui::kMaxAnswerLine) {
        *why = "the dialog helper answered a line over 64 KiB";
        return false;
      }
      char chunk[4096];
      ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // A helper that ends without reading everything sent resets the socket.
        *why = n < 0 && errno != ECONNRESET
                   ? std::string("reading the dialog helper failed: ") + std::strerror(errno)
                   : EndText();
        return false;
      }
      buffer_.append(chunk, static_cast<std::size_t>(n));
      std::memset(chunk, 0, sizeof chunk);
    }
  }

 private:
  Helper(pid_t pid, int fd) : pid_(pid), fd_(fd) { buffer_.reserve(gui::kMaxAnswerLine + 8192); }

  void WipeBuffer() { std::memset(buffer_.data(), 0, buffer_.size()); }

  // Waits for the helper to end, for a bounded time; then ends it.
  bool Reap(int* status = nullptr) {
    if (pid_ <= 0) return true;
    int s = 0;
    for (int waited = 0;; waited += 10) {
      pid_t r = ::waitpid(pid_, &s, WNOHANG);
      if (r == pid_ || (r < 0 && errno != EINTR)) break;
      if (waited >= kExitGraceMillis) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &s, 0);
        break;
      }
      ::usleep(10000);
    }
    pid_ = 0;
    if (status != nullptr) *status = s;
    return true;
  }

  // Why the helper's output ended.
  std::string EndText() {
    int status = 0;
    Reap(&status);
    if (WIFSIGNALED(status)) {
      return "the dialog helper crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
      return "the dialog helper could not be started";
    }
    if (WIFEXITED(status)) {
      return "the dialog helper ended without an answer (exit status " +
             std::to_string(WEXITSTATUS(status)) + ")";
    }
    return "the dialog helper ended without an answer";
  }

  pid_t pid_;
  int fd_;
  std::string buffer_;
};

GuiDialogHost::GuiDialogHost(std::string helper)
    : helper_(helper.empty() ? FindHelper() : std::move(helper)) {}

GuiDialogHost::~GuiDialogHost() = default;

bool GuiDialogHost::Ask(std::unique_ptr<Helper>* helper, const std::string& line, DialogKind kind,
                        gui::Answer* answer) {
  std::string why;
  if (*helper == nullptr) {
    if (!DesktopDisplayReachable()) {
      Say(kind, "no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset)");
      return false;
    }
    *helper = Helper::Start(helper_, &why);
    if (*helper == nullptr) {
      Say(kind, why);
      return false;
    }
  }
  std::string text;
  bool ok = (*helper)->Send(line, &why) && (*helper)->ReadLine(&text, &why);
  if (ok && !gui::DecodeAnswer(text, answer, &why)) {
    why = "the dialog helper answered garbage (" + why + ")";
    ok = false;
  }
  WipeSecret(&text);
  if (!ok) {
    helper->reset();
    Say(kind, why);
  }
  return ok;
}

GuiDialogHost::ChooserReply GuiDialogHost::AskChooser(const ChooserRequest& request) {
  ChooserReply reply;
  gui::Answer a;
  if (!Ask(&chooser_, gui::EncodeChooser(request, caller_origin()), DialogKind::kChooser, &a)) {
    return reply;
  }
  using A = gui::Answer::Action;
  bool stays = false;
  switch (a.action) {
    case A::kChoose:
      reply.answer = {ChooserAnswer::Action::kChoose, a.item, -1};
      if (!RowExists(request, a.item)) reply.unfit = AnswerText(a);
      break;
    case A::kView:
      reply.answer = {ChooserAnswer::Action::kView, a.item, -1};
      stays = a.item == -1 || RowExists(request, a.item);
      if (!stays) reply.unfit = AnswerText(a);
      break;
    case A::kSort:
      reply.answer = {ChooserAnswer::Action::kSort, -1, a.column};
      stays = a.column >= 0 && a.column <= 2;
      if (!stays) reply.unfit = AnswerText(a);
      break;
    case A::kCancel:
      break;
    default:
      reply.unfit = AnswerText(a);
      break;
  }
  if (!reply.unfit.empty()) reply.answer = ChooserAnswer();
  if (!stays) chooser_.reset();
  return reply;
}

GuiDialogHost::FileReply GuiDialogHost::AskOpen(const OpenFileRequest& request) {
  FileReply reply;
  std::unique_ptr<Helper> helper;
  gui::Answer a;
  if (!Ask(&helper, gui::EncodeOpen(request, caller_origin()), DialogKind::kOpen, &a)) {
    return reply;
  }
  if (a.action == gui::Answer::Action::kOpen) {
    reply.answer = {FileAnswer::Outcome::kOk, a.path};
  } else if (a.action != gui::Answer::Action::kCancel) {
    reply.unfit = AnswerText(a);
  }
  return reply;
}

GuiDialogHost::FileReply GuiDialogHost::AskSave(const SaveFileRequest& request) {
  FileReply reply;
  std::unique_ptr<Helper> helper;
  gui::Answer a;
  if (!Ask(&helper, gui::EncodeSave(request, caller_origin()), DialogKind::kSave, &a)) {
    return reply;
  }
  if (a.action == gui::Answer::Action::kSave) {
    reply.answer = {FileAnswer::Outcome::kOk, a.path};
  } else if (a.action != gui::Answer::Action::kCancel) {
    reply.unfit = AnswerText(a);
  }
  return reply;
}

void GuiDialogHost::AskMessage(const MessageRequest& request) {
  std::unique_ptr<Helper> helper;
  gui::Answer a;
  Ask(&helper, gui::EncodeMessage(request, caller_origin()), DialogKind::kMessage, &a);
}

GuiDialogHost::ConsentReply GuiDialogHost::AskConsent(const ConsentRequest& request) {
  ConsentReply reply;
  std::unique_ptr<Helper> helper;
  gui::Answer a;
  if (!Ask(&helper, gui::EncodeConsent(request), DialogKind::kConsent, &a)) return reply;
  using A = gui::Answer::Action;
  if (a.action == A::kAllow) {
    reply.answer = ConsentAnswer::kAllowOnce;
  } else if (a.action == A::kAlways) {
    reply.answer = ConsentAnswer::kAlways;
  } else if (a.action == A::kDeny) {
    reply.answer = ConsentAnswer::kDeny;
  } else if (a.action != A::kCancel) {
    reply.unfit = AnswerText(a);
  }
  return reply;
}

GuiDialogHost::KeyUseReply GuiDialogHost::AskKeyUse(const KeyUseRequest& request) {
  KeyUseReply reply;
  std::unique_ptr<Helper> helper;
  gui::Answer a;
  if (!Ask(&helper, gui::EncodeKeyUse(request), DialogKind::kConfirm, &a)) return reply;
  if (a.action == gui::Answer::Action::kConfirm) {
    reply.confirmed = true;
  } else if (a.action != gui::Answer::Action::kCancel) {
    reply.unfit = AnswerText(a);
  }
  return reply;
}

GuiDialogHost::PinReply GuiDialogHost::AskPinEntry(const PinRequest& request) {
  PinReply reply;
  std::unique_ptr<Helper> helper;
  gui::Answer a;
  if (!Ask(&helper, gui::EncodePin(request, caller_origin()), DialogKind::kPin, &a)) {
    return reply;
  }
  if (a.action == gui::Answer::Action::kPin) {
    reply.answer.entered = true;
    reply.answer.pin = a.pin;  // a copy: a moved short string keeps its bytes
  } else if (a.action != gui::Answer::Action::kCancel) {
    reply.unfit = AnswerText(a);
  }
  WipeSecret(&a.pin);
  return reply;
}

}  // namespace quillmark::platform::ui
