// The first message of a connection and the decision whether to serve it.
//
//   extension -> host  {"origin":"https://bank.example"}       ("ui" is ignored)
//   host -> extension  {"ready":true,"origin":"https://bank.example"}
//                   or {"error":"...","refused":"insecure-origin"|"denied"|"bad-hello"|
//                                               "too-many-controls"|"home"}
//
// An origin is served when the origin rules allow it (com/origin_rules.h;
// opaque origins never are), one of its kMaxControlsPerOrigin slots is free
// (control_slots.h), and the user's or the administrator's decision
// (com/origin_store.h) says "always", or, with no decision, when the user
// answers the consent dialog with Allow once or Always allow. Always and Deny
// are written to the user's origins.json. A consent dialog the user cancelled
// is refused as "denied" with "consent":"cancelled" added, so that the
// extension can count cancels. The consent dialog names the origin; nothing
// of the control exists before the answer.
//
// What goes to the page never holds a local path: a problem with a file is
// told in general words, and the details go to |log| for the host's log.
#ifndef QUILLMARK_HOST_ADMISSION_H_
#define QUILLMARK_HOST_ADMISSION_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/os/process_slot.h"
#include "platform/ui/dialog_host.h"

namespace quillmark::host {

struct Admission {
  bool admitted = false;
  std::string origin;            // the origin as given, when it could be read
  std::string refused;           // "insecure-origin", "denied", "bad-hello", ...
  std::string error;             // one line for the page
  bool cancelled = false;        // refused because the consent dialog was cancelled
  std::vector<std::string> log;  // lines for the host's log (paths allowed)
  platform::ProcessSlot slot;    // held while the control runs
};

// Reads the hello message and decides. The consent dialog, when one is
// needed, goes through |dialogs|; the slots are kept below |home| (the
// Quillmark home folder).
Admission Admit(std::string_view hello, const std::string& home, platform::ui::DialogHost& dialogs);

// The answer to the hello: ready, or the refusal.
std::string AdmissionAnswer(const Admission& admission);

}  // namespace quillmark::host

#endif  // QUILLMARK_HOST_ADMISSION_H_
