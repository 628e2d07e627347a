// A dialog host that asks on a terminal: it prints each dialog and reads the
// answer as one line.
//
//   chooser   rows numbered by item data, in display order, '*' on the
//             selected one; "N" or "choose N" chooses, "v [N]" or "view [N]"
//             views, "s C" or "sort C" sorts by column C, "c" or "cancel"
//             cancels, an empty line chooses the selected row
//   Open      a path to an existing file; an empty line cancels
//   Save      a path (its folder must exist; an existing file needs "y" to be
//             replaced); an empty line takes the default name, or cancels
//             when there is none; "-" cancels
//   message   the text, then any line
//   consent   the origin; "a" allows once, "always" allows for good, "d"
//             denies, an empty line cancels
//   key use   the origin and what is to be signed; "y" or "sign" goes on,
//             anything else cancels
//   PIN       the token's label (or the key's name) and the tries left; the
//             PIN is read without echo; an empty line cancels
// An Open dialog with a preset path takes it on an empty line ("-" cancels).
// With a caller origin, every dialog first names it.
//
// A line that does not fit is answered with a hint and asked again. End of
// input, or no terminal at all, cancels (and confirms a message box).
// Every text that comes from a page (or is typed back) is shown with its
// control characters made visible, never written raw (terminal_text.h).
#ifndef QUILLMARK_PLATFORM_UI_TERMINAL_HOST_H_
#define QUILLMARK_PLATFORM_UI_TERMINAL_HOST_H_

#include <memory>
#include <string>

#include "platform/ui/dialog_host.h"

namespace quillmark::platform::ui {

class TerminalDialogHost : public DialogHost {
 public:
  // Reads answers from |in_fd| and writes to |out_fd|; closes them when
  // destroyed if |owns_fds|. A negative descriptor means there is no terminal.
  TerminalDialogHost(int in_fd, int out_fd, bool owns_fds);
  ~TerminalDialogHost() override;
  TerminalDialogHost(const TerminalDialogHost&) = delete;
  TerminalDialogHost& operator=(const TerminalDialogHost&) = delete;

  // A host on the controlling terminal (/dev/tty); without one, a host whose
  // every dialog is cancelled.
  static std::unique_ptr<TerminalDialogHost> OnControllingTerminal();

 protected:
  ChooserReply AskChooser(const ChooserRequest& request) override;
  FileReply AskOpen(const OpenFileRequest& request) override;
  FileReply AskSave(const SaveFileRequest& request) override;
  void AskMessage(const MessageRequest& request) override;
  ConsentReply AskConsent(const ConsentRequest& request) override;
  KeyUseReply AskKeyUse(const KeyUseRequest& request) override;
  PinReply AskPinEntry(const PinRequest& request) override;

 private:
  bool available() const { return in_fd_ >= 0 && out_fd_ >= 0; }
  // Our own texts, as they are.
  void Print(std::string_view text);
  // Anything from a page or typed by the user: on one line, with every
  // control made visible (terminal_text.h).
  void Print(std::u16string_view text);
  // The same for texts that may span lines (the notice, a message).
  void PrintLines(std::u16string_view text);
  // A UTF-8 path, shown as Print shows a page's text.
  void PrintPath(const std::string& path);
  // "== Title (filter) ==" above an Open or Save question.
  void PrintFileDialogHeading(std::u16string_view title, std::u16string_view filter);
  // What a key would sign or open: the action, the whole text, its files and
  // a warning when hidden characters were made visible.
  void PrintReview(const KeyUseReview& review);
  // One line without its end; false at end of input.
  bool ReadLine(std::string* line);

  int in_fd_;
  int out_fd_;
  bool owns_fds_;
};

}  // namespace quillmark::platform::ui

#endif  // QUILLMARK_PLATFORM_UI_TERMINAL_HOST_H_
