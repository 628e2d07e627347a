#include "platform/ui/terminal_host.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/trim.h"
#include "common/unicode.h"
#include "platform/os/files.h"
#include "platform/os/secret_input.h"
#include "platform/ui/terminal_text.h"

namespace quillmark::platform::ui {

namespace {

bool ParseNumber(std::string_view s, int* n) {
  if (s.empty() || s.size() > 9) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *n = v;
  return true;
}

// Splits "word rest" at the first blank.
void Split(const std::string& line, std::string* word, std::string* rest) {
  size_t space = line.find_first_of(" \t");
  *word = line.substr(0, space);
  *rest = space == std::string::npos ? std::string() : std::string(Trim(line.substr(space)));
}

bool HasRow(const ChooserRequest& request, int item) {
  for (const ChooserRow& r : request.rows) {
    if (r.item == item) return true;
  }
  return false;
}

// A leading "~/" stands for the user's home folder.
std::string ExpandHome(std::string path) {
  const char* home = std::getenv("HOME");
  if (path.rfind("~/", 0) == 0 && home != nullptr && *home != '\0') {
    path = std::string(home) + path.substr(1);
  }
  return path;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

TerminalDialogHost::TerminalDialogHost(int in_fd, int out_fd, bool owns_fds)
    : in_fd_(in_fd), out_fd_(out_fd), owns_fds_(owns_fds) {}

TerminalDialogHost::~TerminalDialogHost() {
  if (!owns_fds_) return;
  if (in_fd_ >= 0) ::close(in_fd_);
  if (out_fd_ >= 0 && out_fd_ != in_fd_) ::close(out_fd_);
}

std::unique_ptr<TerminalDialogHost> TerminalDialogHost::OnControllingTerminal() {
  int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  return std::make_unique<TerminalDialogHost>(fd, fd, true);
}

void TerminalDialogHost::Print(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(out_fd_, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
}

void TerminalDialogHost::Print(std::u16string_view text) { Print(TerminalVisibleText(text)); }

void TerminalDialogHost::PrintLines(std::u16string_view text) {
  Print(TerminalVisibleText(text, /*lines=*/true));
}

void TerminalDialogHost::PrintReview(const KeyUseReview& review) {
  if (review.action == KeyUseAction::kDecrypt) {
    Print("Opens an envelope sent to you.\n");
    return;
  }
  Print("Signs " + std::to_string(review.byte_count) + " bytes (" +
        std::to_string(review.text_units) + " characters of text");
  if (!review.files.empty()) Print(", " + std::to_string(review.files.size()) + " files");
  Print("):\n----\n");
  PrintLines(review.text);
  Print("\n----\n");
  for (const ReviewFile& f : review.files) {
    Print("  file: ");
    Print(f.name);
    Print(" (" + std::to_string(f.size) + " bytes)\n");
  }
  if (review.not_text) Print("Warning: these bytes are not all text in the page's code page.\n");
  if (review.hidden_count > 0) {
    Print(
        "Warning: " + std::to_string(review.hidden_count) +
        " hidden or direction-changing characters are shown as \xE2\x9F\xA6U+....\xE2\x9F\xA7.\n");
  }
}

void TerminalDialogHost::PrintPath(const std::string& path) { Print(Utf8ToUtf16Lossy(path)); }

bool TerminalDialogHost::ReadLine(std::string* line) {
  line->clear();
  // Byte by byte, so that nothing past the line is taken from the terminal.
  for (;;) {
    char c;
    ssize_t n = ::read(in_fd_, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return !line->empty();
    if (c == '\n') return true;
    line->push_back(c);
  }
}

DialogHost::ChooserReply TerminalDialogHost::AskChooser(const ChooserRequest& request) {
  ChooserReply reply;
  if (!available()) return reply;
  Print("\n== ");
  Print(request.title);
  Print(" ==\n");
  if (!caller_origin().empty()) Print(caller_origin() + u" asks to choose a certificate\n");
  if (request.review.has_value()) {
    Print("Choosing a certificate here uses its key to do this:\n");
    PrintReview(*request.review);
    Print("The page's own words follow.\n");
  }
  Print(request.prompt);
  Print("\n       ");
  Print(request.columns[0] + u" | " + request.columns[1] + u" | " + request.columns[2]);
  Print("\n");
  auto print_row = [&](const ChooserRow& row) {
    std::string number = std::to_string(row.item);
    Print(row.item == request.selected ? " *[" : "  [");
    Print(number);
    Print("]");
    Print(std::string(number.size() < 3 ? 3 - number.size() : 0, ' '));
    Print(row.subject + u" | " + row.issuer + u" | " + row.not_after);
    Print("\n");
  };
  if (request.display_order.empty()) {
    for (const ChooserRow& row : request.rows) print_row(row);
  } else {
    for (size_t i : request.display_order) {
      if (i < request.rows.size()) print_row(request.rows[i]);
    }
  }
  if (!request.notice.empty()) {
    PrintLines(request.notice);
    Print("\n");
  }
  Print(u"N: " + request.buttons[0] + u"   c: " + request.buttons[1] + u"   v [N]: " +
        request.buttons[2] + u"   s 0-2: sort\n");
  for (;;) {
    Print("> ");
    std::string line, word, rest;
    if (!ReadLine(&line)) return reply;
    Split(std::string(Trim(line)), &word, &rest);
    int n;
    if (word.empty() && request.selected >= 0) {
      reply.answer = {ChooserAnswer::Action::kChoose, request.selected, -1};
    } else if ((word == "c" || word == "cancel") && rest.empty()) {
      reply.answer = {ChooserAnswer::Action::kCancel, -1, -1};
    } else if (rest.empty() && ParseNumber(word, &n) && HasRow(request, n)) {
      reply.answer = {ChooserAnswer::Action::kChoose, n, -1};
    } else if (word == "choose" && ParseNumber(rest, &n) && HasRow(request, n)) {
      reply.answer = {ChooserAnswer::Action::kChoose, n, -1};
    } else if ((word == "v" || word == "view") && rest.empty()) {
      reply.answer = {ChooserAnswer::Action::kView, request.selected, -1};
    } else if ((word == "v" || word == "view") && ParseNumber(rest, &n) && HasRow(request, n)) {
      reply.answer = {ChooserAnswer::Action::kView, n, -1};
    } else if ((word == "s" || word == "sort") && ParseNumber(rest, &n) && n <= 2) {
      reply.answer = {ChooserAnswer::Action::kSort, -1, n};
    } else {
      Print("? a row number, \"v N\", \"s 0-2\" or \"c\"\n");
      continue;
    }
    return reply;
  }
}

void TerminalDialogHost::PrintFileDialogHeading(std::u16string_view title,
                                                std::u16string_view filter) {
  Print("\n== ");
  Print(title);
  Print(" (");
  Print(filter);
  Print(") ==\n");
}

DialogHost::FileReply TerminalDialogHost::AskOpen(const OpenFileRequest& request) {
  FileReply reply;
  if (!available()) return reply;
  PrintFileDialogHeading(request.title, request.filter);
  const bool preset = !request.initial_path.empty();
  if (!caller_origin().empty()) Print(caller_origin() + u" asks to open a file\n");
  for (;;) {
    if (preset) {
      Print(u"File to open [" + request.initial_path + u"] (\"-\" cancels): ");
    } else {
      Print("File to open (empty line cancels): ");
    }
    std::string line;
    if (!ReadLine(&line)) return reply;
    std::string path = ExpandHome(std::string(Trim(line)));
    if (preset && path == "-") return reply;
    if (preset && path.empty()) path = Utf16ToUtf8Lossy(request.initial_path);
    if (path.empty()) return reply;
    if (!IsRegularFile(path)) {
      Print("No such file: ");
      PrintPath(path);
      Print("\n");
      continue;
    }
    reply.answer = {FileAnswer::Outcome::kOk, Utf8ToUtf16Lossy(path)};
    return reply;
  }
}

DialogHost::FileReply TerminalDialogHost::AskSave(const SaveFileRequest& request) {
  FileReply reply;
  if (!available()) return reply;
  PrintFileDialogHeading(request.title, request.filter);
  if (!caller_origin().empty()) Print(caller_origin() + u" asks to save a file\n");
  for (;;) {
    if (request.default_name.empty()) {
      Print("Save as (empty line cancels): ");
    } else {
      Print(u"Save as [" + request.default_name + u"] (\"-\" cancels): ");
    }
    std::string line;
    if (!ReadLine(&line)) return reply;
    std::string typed = ExpandHome(std::string(Trim(line)));
    if (typed == "-") return reply;
    std::u16string path = typed.empty() ? request.default_name : Utf8ToUtf16Lossy(typed);
    if (path.empty()) return reply;
    path = ApplyDefaultExtension(path, request.default_ext);
    std::string native = Utf16ToUtf8Lossy(path);
    if (!IsDirectory(FolderOf(native))) {
      Print("No such folder: ");
      PrintPath(FolderOf(native));
      Print("\n");
      continue;
    }
    if (IsDirectory(native)) {
      PrintPath(native);
      Print(" is a folder\n");
      continue;
    }
    if (IsRegularFile(native)) {
      PrintPath(native);
      Print(" exists. Replace it? [y/N] ");
      std::string yes;
      if (!ReadLine(&yes)) return reply;
      yes = std::string(Trim(yes));
      if (yes != "y" && yes != "Y" && yes != "yes") continue;
    }
    reply.answer = {FileAnswer::Outcome::kOk, path};
    return reply;
  }
}

DialogHost::ConsentReply TerminalDialogHost::AskConsent(const ConsentRequest& request) {
  ConsentReply reply;
  if (!available()) return reply;
  Print(u"\n== " + request.origin + u" wants to use Quillmark ==\n");
  Print("a: allow this time   always: always allow   d: deny   (empty line cancels)\n");
  for (;;) {
    Print("> ");
    std::string line;
    if (!ReadLine(&line)) return reply;
    std::string word(Trim(line));
    if (word.empty()) return reply;
    if (word == "a" || word == "allow") {
      reply.answer = ConsentAnswer::kAllowOnce;
    } else if (word == "always") {
      reply.answer = ConsentAnswer::kAlways;
    } else if (word == "d" || word == "deny") {
      reply.answer = ConsentAnswer::kDeny;
    } else {
      Print("? \"a\", \"always\" or \"d\"\n");
      continue;
    }
    return reply;
  }
}

DialogHost::KeyUseReply TerminalDialogHost::AskKeyUse(const KeyUseRequest& request) {
  KeyUseReply reply;
  if (!available()) return reply;
  const KeyUseReview& review = request.review;
  Print(u"\n== " + request.origin + u" asks to " + std::u16string(KeyUseActionName(review.action)) +
        u" with your private key ==\n");
  const KeyOwner& owner = review.owner;
  Print("Key of: ");
  Print(owner.subject);
  Print("\nIssuer: ");
  Print(owner.issuer);
  Print("\nSerial: ");
  Print(owner.serial);
  Print("   valid until: ");
  Print(owner.not_after);
  Print("\n");
  PrintReview(review);
  Print("y: go on   anything else: cancel\n> ");
  std::string line;
  if (!ReadLine(&line)) return reply;
  std::string word(Trim(line));
  reply.confirmed = word == "y" || word == "yes" || word == "sign";
  return reply;
}

DialogHost::PinReply TerminalDialogHost::AskPinEntry(const PinRequest& request) {
  PinReply reply;
  if (!available()) return reply;
  Print("\n");
  if (!caller_origin().empty()) Print(caller_origin() + u" asks to use your key\n");
  Print(request.passphrase ? "Passphrase for " : "PIN for ");
  Print(request.label);
  if (request.tries_left >= 0) {
    Print(" (" + std::to_string(request.tries_left) +
          (request.tries_left == 1 ? " try left)" : " tries left)"));
  }
  Print(": ");
  std::string pin;
  if (!ReadSecretLine(in_fd_, &pin)) {
    WipeSecret(&pin);
    return reply;
  }
  Print("\n");
  reply.answer.entered = !pin.empty();
  reply.answer.pin = std::move(pin);
  return reply;
}

void TerminalDialogHost::AskMessage(const MessageRequest& request) {
  if (!available()) return;
  Print("\n");
  if (!caller_origin().empty()) Print(caller_origin() + u" says:\n");
  if (!request.caption.empty()) {
    Print(request.caption);
    Print(": ");
  }
  PrintLines(request.text);
  Print("\n[Enter] ");
  std::string line;
  ReadLine(&line);
}

}  // namespace quillmark::platform::ui
