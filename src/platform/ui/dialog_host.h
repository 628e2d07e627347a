// Dialogs the control shows: the certificate chooser, the Open and Save
// dialogs and message boxes, behind one interface with several hosts (a
// script, the terminal, nothing at all, later a desktop window). For a page
// in a browser there are two more: the consent to serve its origin, and the
// confirmation before a private key is used on its behalf. Keys on a token,
// and software keys kept encrypted, ask for their PIN or passphrase.
//
// A host only shows and asks; what the answers mean is the caller's. The
// chooser in particular is asked again and again by its caller until the
// answer closes it: View and a click on a column header leave it open, so the
// caller handles them (writes and opens the certificate, re-sorts the rows)
// and asks again with the updated request:
//
//   ChooserRequest req = ...;             // texts and rows in candidate order
//   for (;;) {
//     ChooserAnswer a = host.ChooseCertificate(req);
//     if (a.action == ChooserAnswer::Action::kChoose) return a.item;
//     if (a.action == ChooserAnswer::Action::kCancel) return -1;
//     if (a.action == ChooserAnswer::Action::kView) {
//       req.selected = a.item;            // -1: View with no row selected
//       ViewCertificate(a.item);          // may call host.MessageBox(...)
//     } else {                            // kSort
//       SortRows(&req.display_order, a.column);
//     }
//   }
//
// Every question a host answers is recorded as a DialogReport (kind, texts,
// rows in candidate order, answer), which a front end takes with
// TakeReports() after each call of the control to tell what was shown.
//
// The base class checks every answer against its request, whatever the host:
// a chooser answer naming no row of the request counts as Cancel; the Save
// dialog appends the default extension to a name without one; a relative
// path is made absolute against the working folder (file dialogs answer with
// full paths); a path longer than 1023 UTF-16 units is a dialog error (the
// file-name buffer holds 1024 units with the terminator). When memory runs
// out, the chooser is cancelled and a file dialog reports an error.
//
// Caller origin: a host serving a web page is given the page's origin
// (SetCallerOrigin). Every report then names it, hosts show it, and every use
// of a private key needs the person's word first (ConfirmKeyUse, key_use.h).
// Each member call starts with BeginCall; the control then stages what its
// key would sign (StageKeyUse) right before it hands the bytes to the engine.
// Within the call, a confirmation, or a pick in a chooser that carried the
// staged review, covers later uses of that same key only. Without an origin
// nothing changes: keys are used without asking, as a local program expects.
#ifndef QUILLMARK_PLATFORM_UI_DIALOG_HOST_H_
#define QUILLMARK_PLATFORM_UI_DIALOG_HOST_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/key_use.h"

namespace quillmark::platform::ui {

enum class DialogKind { kChooser, kOpen, kSave, kMessage, kConsent, kConfirm, kPin };

// "chooser", "open", "save", "message", "consent", "confirm", "pin".
std::string_view DialogKindName(DialogKind kind);

// One candidate certificate in the chooser.
struct ChooserRow {
  std::u16string subject;    // subject display name
  std::u16string issuer;     // issuer display name
  std::u16string not_after;  // validity-end text
  int item = 0;              // item data: the candidate's index in the candidate list
  // Which certificate the row is, to know its key again when it is used: the
  // issuer Name DER and the serial number as FormatSerialText writes it.
  Bytes issuer_der = {};
  std::u16string serial = {};
};

struct ChooserRequest {
  std::u16string title;
  std::u16string prompt;
  std::array<std::u16string, 3> columns;  // subject, issuer, validity-end headers
  std::array<std::u16string, 3> buttons;  // OK, Cancel, View
  std::u16string notice;
  std::vector<ChooserRow> rows;            // in candidate order
  std::vector<std::size_t> display_order;  // indices into rows, top to bottom; empty: as rows
  int selected = -1;                       // item data of the selected row; -1: none
  std::u16string origin;                   // the web page that asked; empty for a local caller
  // For a web origin: what the chosen certificate's key will sign. A chooser
  // that carries it is the review pane (picking a row confirms the key use);
  // its texts above are then the page's words and are shown framed as such.
  std::optional<KeyUseReview> review;
};

struct ChooserAnswer {
  enum class Action {
    kChoose,  // OK with the row |item| selected: the dialog closes
    kCancel,  // Cancel or the close box: the dialog closes
    kView,    // View with the row |item| selected (-1: none); the dialog stays
    kSort,    // a click on the header of |column| (0, 1, 2); the dialog stays
  };
  Action action = Action::kCancel;
  int item = -1;
  int column = -1;
};

struct OpenFileRequest {
  std::u16string title;
  std::u16string filter;             // e.g. u"*.*"
  std::u16string initial_path = {};  // preset in the file-name box; may be empty
};

struct SaveFileRequest {
  std::u16string title;
  std::u16string filter;
  std::u16string default_name;  // preset in the file-name box; may be empty
  std::u16string default_ext;   // appended to a name without extension; may be empty
};

struct FileAnswer {
  enum class Outcome { kOk, kCancel, kError };
  Outcome outcome = Outcome::kCancel;
  std::u16string path;  // kOk only
};

struct MessageRequest {
  std::u16string text;
  std::u16string caption;
};

inline constexpr int kIdOk = 1;

// Whether the page of |origin| may drive a control at all.
struct ConsentRequest {
  std::u16string origin;
};

enum class ConsentAnswer {
  kAllowOnce,  // this connection only
  kAlways,     // this and later connections; remembered by the caller
  kDeny,       // refused; remembered by the caller
  kCancel,     // closed without an answer: refused this time only
};

struct KeyUseRequest {
  std::u16string origin;
  KeyUseReview review = {};  // what the review pane shows, owner included
};

// The PIN of a token, or the passphrase of a software key kept encrypted.
struct PinRequest {
  std::u16string label;     // the token's label, or the name of the key
  int tries_left = -1;      // before the PIN locks; -1 when the token does not say
  bool passphrase = false;  // a software key's passphrase rather than a token PIN
};

struct PinAnswer {
  bool entered = false;  // false: cancelled (or no way to ask)
  std::string pin;       // UTF-8; the caller wipes it (WipeSecret) once used
};

// What one dialog showed and the answer it got. A PIN never appears here.
struct DialogReport {
  DialogKind kind = DialogKind::kMessage;
  std::u16string title;                   // chooser, open, save
  std::u16string prompt;                  // chooser
  std::array<std::u16string, 3> columns;  // chooser
  std::array<std::u16string, 3> buttons;  // chooser
  std::u16string notice;                  // chooser
  std::vector<ChooserRow> rows;           // chooser, in candidate order (by item data)
  std::u16string filter;                  // open, save
  std::u16string default_name;            // save
  std::u16string default_ext;             // save
  std::u16string text;                    // message
  std::u16string caption;                 // message
  std::u16string origin;                  // every kind, when a web page asked
  std::u16string action;                  // confirm
  std::vector<std::u16string> files;      // confirm: the file names (text holds the review text)
  // confirm, and a chooser that carried the review: exactly what was shown.
  std::optional<KeyUseReview> review;
  std::u16string label;     // pin
  int tries_left = -1;      // pin
  bool passphrase = false;  // pin
  // "choose 1", "cancel", "view", "view 1", "sort 2", "open /tmp/x",
  // "save /tmp/y.cry", "error", "ok", "allow", "always", "deny", "confirm", "pin" (the PIN
  // itself is never kept); for an answer that did
  // not fit the dialog, the answer as it was given.
  std::u16string answer;
  bool taken_as_cancel = false;  // the answer did not fit and counted as Cancel
};

// |path| with "." and |ext| appended when |ext| is not empty and the file name
// of |path| holds no '.'.
std::u16string ApplyDefaultExtension(std::u16string_view path, std::u16string_view ext);

class DialogHost {
 public:
  virtual ~DialogHost();

  ChooserAnswer ChooseCertificate(const ChooserRequest& request);
  FileAnswer OpenFile(const OpenFileRequest& request);
  FileAnswer SaveFile(const SaveFileRequest& request);
  int MessageBox(const MessageRequest& request);  // always kIdOk
  ConsentAnswer AskOriginConsent(const ConsentRequest& request);
  // Asks for a PIN or passphrase; an empty entry counts as Cancel.
  PinAnswer AskPin(const PinRequest& request);

  // The web page this host serves; empty (the default) for a local caller.
  void SetCallerOrigin(std::u16string origin) { caller_origin_ = std::move(origin); }
  const std::u16string& caller_origin() const { return caller_origin_; }

  // Starts a member call on behalf of the caller: what was staged and
  // confirmed before no longer counts.
  void BeginCall();

  // What the key of this call would sign or open: |review| as the control
  // made it from |content|, the very bytes it hands to the engine (empty for
  // decryption). A later stage replaces an earlier one. Only kept while
  // there is a caller origin; a local caller pays nothing.
  void StageKeyUse(KeyUseReview review, ByteSpan content);
  bool has_staged_key_use() const { return staged_.has_value(); }

  // Asked by a backend right before it uses a private key (key_use.h).
  // True: go on. Always true without a caller origin. With one: false when
  // the use names no certificate, for a signature when nothing was staged,
  // or when |use.content| is given and is not the staged content; true when
  // this call already confirmed the same key (issuer and serial number);
  // else the person is asked now, with the staged review and the key's owner.
  bool ConfirmKeyUse(const KeyUse& use);

  // The reports recorded since the last call, oldest first; clears them.
  std::vector<DialogReport> TakeReports();

 protected:
  // What a host answered. |unfit|, when not empty, is an answer given that
  // does not belong to this kind of dialog; the dialog then counts as
  // cancelled and the report shows |unfit|.
  struct ChooserReply {
    ChooserAnswer answer;
    std::u16string unfit;
  };
  struct FileReply {
    FileAnswer answer;
    std::u16string unfit;
  };

  virtual ChooserReply AskChooser(const ChooserRequest& request) = 0;
  virtual FileReply AskOpen(const OpenFileRequest& request) = 0;
  virtual FileReply AskSave(const SaveFileRequest& request) = 0;
  virtual void AskMessage(const MessageRequest& request) = 0;
  // Consent and key-use confirmation. |unfit| as above; an unfit answer
  // counts as Cancel.
  struct ConsentReply {
    ConsentAnswer answer = ConsentAnswer::kCancel;
    std::u16string unfit;
  };
  struct KeyUseReply {
    bool confirmed = false;
    std::u16string unfit;
  };
  virtual ConsentReply AskConsent(const ConsentRequest& request) = 0;
  virtual KeyUseReply AskKeyUse(const KeyUseRequest& request) = 0;
  // PIN entry; the origin, when there is one, is caller_origin().
  struct PinReply {
    PinAnswer answer;
    std::u16string unfit;
  };
  virtual PinReply AskPinEntry(const PinRequest& request) = 0;

 private:
  void Record(DialogReport report);

  struct StagedKeyUse {
    KeyUseReview review;
    Bytes content;
  };
  // A key this call may use without asking again.
  struct ConfirmedKey {
    Bytes issuer_der;
    std::u16string serial;
  };
  bool AlreadyConfirmed(const CertContext& cert) const;

  std::vector<DialogReport> reports_;
  std::u16string caller_origin_;
  std::optional<StagedKeyUse> staged_;
  std::vector<ConfirmedKey> confirmed_keys_;
};

// A host that shows nothing: every dialog is cancelled, message boxes are
// confirmed, consent and key use are refused.
class NoDialogHost : public DialogHost {
 protected:
  ChooserReply AskChooser(const ChooserRequest& request) override;
  FileReply AskOpen(const OpenFileRequest& request) override;
  FileReply AskSave(const SaveFileRequest& request) override;
  void AskMessage(const MessageRequest& request) override;
  ConsentReply AskConsent(const ConsentRequest& request) override;
  KeyUseReply AskKeyUse(const KeyUseRequest& request) override;
  PinReply AskPinEntry(const PinRequest& request) override;
};

}  // namespace quillmark::platform::ui

#endif  // QUILLMARK_PLATFORM_UI_DIALOG_HOST_H_
