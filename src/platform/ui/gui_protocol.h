// The line protocol between the desktop dialog host (gui_host.h) and its
// helper program, quillmark-dialog. Both sides use this file, so the shapes
// cannot drift apart.
//
// One helper process shows one dialog. Every message is one line of compact
// JSON (UTF-8, ended by '\n') on the helper's standard input (requests) and
// standard output (answers). A request names its kind and carries its texts;
// "origin", when a web page asked, is shown by every window:
//
//   {"kind":"chooser","origin":O,"title":T,"prompt":P,"columns":[S,I,E],
//    "buttons":[OK,CANCEL,VIEW],"notice":N,
//    "rows":[{"item":2,"subject":S,"issuer":I,"notAfter":E},...],  (display order)
//    "selected":ITEM or -1, "review":REVIEW}   ("review" only when it carries one)
//   {"kind":"open","origin":O,"title":T,"filter":F,"initialPath":P}
//   {"kind":"save","origin":O,"title":T,"filter":F,"defaultName":N,"defaultExt":X}
//   {"kind":"message","origin":O,"text":T,"caption":C}
//   {"kind":"consent","origin":O}
//   {"kind":"confirm","origin":O,REVIEW's members,
//    "owner":{"subject":S,"issuer":I,"serial":N,"notAfter":E}}
//   {"kind":"pin","origin":O,"label":L,"triesLeft":N or -1,"passphrase":B}
//
// where REVIEW (key_use.h) is
//
//   {"action":"sign"|"decrypt","text":T,"textUnits":N,"bytes":N,"hidden":N,
//    "notText":B,"files":[{"name":F,"size":N},...]}
//
// Answers, one per request:
//
//   {"action":"choose","item":N}  {"action":"view","item":N or -1}
//   {"action":"sort","column":C}  {"action":"open","path":P}
//   {"action":"save","path":P}    {"action":"ok"}
//   {"action":"allow"}  {"action":"always"}  {"action":"deny"}
//   {"action":"confirm"}  {"action":"pin","pin":TEXT}  {"action":"cancel"}
//
// The chooser alone stays open after answering: after "view" and "sort" the
// helper waits for the updated chooser request (rows in the new display
// order, the selection) and redraws; after any other answer the host closes
// the helper's input and the helper ends. The helper never sorts by itself.
// A line longer than the reader's limit, or that does not parse as its side
// expects, ends the exchange: the host then answers Cancel.
#ifndef QUILLMARK_PLATFORM_UI_GUI_PROTOCOL_H_
#define QUILLMARK_PLATFORM_UI_GUI_PROTOCOL_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "common/json.h"
#include "platform/ui/dialog_host.h"

namespace quillmark::platform::ui::gui {

// Longest answer line the host reads (a path or a PIN is far shorter).
inline constexpr std::size_t kMaxAnswerLine = std::size_t{64} << 10;
// Longest request line the helper reads: a review of the longest text a web
// page may have signed (kMaxReviewedTextUnits, at most 3 bytes each in
// UTF-8) with room for its file list, or a chooser with many rows.
inline constexpr std::size_t kMaxRequestLine = std::size_t{64} << 20;

// A request as the helper reads it. Only the part |kind| names is filled;
// the chooser's rows are in display order (display_order stays empty).
struct Request {
  DialogKind kind = DialogKind::kMessage;
  std::u16string origin;
  ChooserRequest chooser;
  OpenFileRequest open;
  SaveFileRequest save;
  MessageRequest message;
  KeyUseRequest key_use;  // its origin is |origin| too
  PinRequest pin;
};

std::string EncodeChooser(const ChooserRequest& request, std::u16string_view origin);
std::string EncodeOpen(const OpenFileRequest& request, std::u16string_view origin);
std::string EncodeSave(const SaveFileRequest& request, std::u16string_view origin);
std::string EncodeMessage(const MessageRequest& request, std::u16string_view origin);
std::string EncodeConsent(const ConsentRequest& request);
std::string EncodeKeyUse(const KeyUseRequest& request);

// Members of the object |w| is writing: a review's counts ("textUnits",
// "bytes", "hidden", "notText"), and a key's owner as "owner":{"subject",
// "issuer","serial","notAfter"}. The session's dialog reports write them
// the same way.
void WriteReviewCounts(json::Writer* w, const KeyUseReview& review);
void WriteKeyOwner(json::Writer* w, const KeyOwner& owner);
std::string EncodePin(const PinRequest& request, std::u16string_view origin);

// False with a short |error| for a line that is not a request.
bool DecodeRequest(std::string_view line, Request* request, std::string* error);

struct Answer {
  enum class Action {
    kChoose,
    kView,
    kSort,
    kOpen,
    kSave,
    kOk,
    kAllow,
    kAlways,
    kDeny,
    kConfirm,
    kPin,
    kCancel,
  };
  Action action = Action::kCancel;
  int item = -1;        // choose, view
  int column = -1;      // sort
  std::u16string path;  // open, save
  std::string pin;      // pin, UTF-8; wiped by whoever holds it
};

// The answer's line. For a PIN the caller wipes the returned text once sent.
std::string EncodeAnswer(const Answer& answer);

// False with |error| for a line that is not an answer. Every copy of a PIN
// made while decoding is wiped; |answer->pin| is the caller's to wipe.
bool DecodeAnswer(std::string_view line, Answer* answer, std::string* error);

}  // namespace quillmark::platform::ui::gui

#endif  // QUILLMARK_PLATFORM_UI_GUI_PROTOCOL_H_
