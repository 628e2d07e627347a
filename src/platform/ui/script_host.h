// A dialog host whose answers come from a script, one answer per line,
// consumed in order by the dialogs as they are shown:
//
//   choose N      chooser: OK with the row whose item data is N
//   cancel        chooser, Open, Save: Cancel
//   view          chooser: View with the current selection (none at first)
//   view N        chooser: select the row with item data N, then View
//   sort C        chooser: click the header of column C (0 subject, 1 issuer, 2 validity end)
//   open PATH     Open: the file PATH
//   open          Open: accept the preset path
//   save PATH     Save: the file PATH (the default extension is added to a name without one)
//   save          Save: accept the preset default name
//   ok            message box: OK
//   allow         consent: allow this connection
//   always        consent: allow, and remember it
//   deny          consent: refuse, and remember it
//   confirm       key-use confirmation: go on (any other line cancels)
//   pin TEXT      PIN or passphrase entry: TEXT (blanks around it are dropped)
//
// Blank lines and lines starting with '#' are skipped; leading and trailing
// blanks are ignored. When the script is exhausted every dialog is
// cancelled. A line that does not fit the dialog it reaches (say `open` for
// the chooser, `save` with no default name, `open` with no preset path, or an unknown word) is
// consumed, counts as Cancel and is reported as written.
//
// A message box has no answer but OK, so it never takes a line meant for
// another dialog: it consumes the next line only when that line is `ok`, and
// is confirmed in any case. Scripts may therefore leave message boxes out.
#ifndef QUILLMARK_PLATFORM_UI_SCRIPT_HOST_H_
#define QUILLMARK_PLATFORM_UI_SCRIPT_HOST_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/dialog_host.h"

namespace quillmark::platform::ui {

class ScriptDialogHost : public DialogHost {
 public:
  // A host answering from |script| (the script's text, UTF-8).
  explicit ScriptDialogHost(std::string_view script);

  // Reads the script file; null with |error| set when it cannot be read.
  static std::unique_ptr<ScriptDialogHost> FromFile(const std::string& path, std::string* error);

  // Answers not yet consumed.
  std::size_t remaining() const { return lines_.size() - next_; }

 protected:
  ChooserReply AskChooser(const ChooserRequest& request) override;
  FileReply AskOpen(const OpenFileRequest& request) override;
  FileReply AskSave(const SaveFileRequest& request) override;
  void AskMessage(const MessageRequest& request) override;
  ConsentReply AskConsent(const ConsentRequest& request) override;
  KeyUseReply AskKeyUse(const KeyUseRequest& request) override;
  PinReply AskPinEntry(const PinRequest& request) override;

 private:
  // The next answer split into its word and the rest; false when exhausted.
  bool Next(std::u16string* line, std::u16string* word, std::u16string* rest);

  std::vector<std::u16string> lines_;
  std::size_t next_ = 0;
};

}  // namespace quillmark::platform::ui

#endif  // QUILLMARK_PLATFORM_UI_SCRIPT_HOST_H_
