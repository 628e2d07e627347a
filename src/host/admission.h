// The first message of a connection and the decision whether to serve it.
//
//   extension -> host  {"origin":"https://bank.example"}       ("ui" is ignored)
//   host -> extension  {"ready":true,"origin":"https://bank.example"}
//                   or {"error":"...","refused":"insecure-origin"|"denied"|"bad-hello"}
//
// An origin is served when the origin rules allow it (com/origin_rules.h)
// and the user's or the administrator's decision (com/origin_store.h) says
// "always", or, with no decision, when the user answers the consent dialog
// with Allow once or Always allow. Always and Deny are written to the user's
// origins.json. The consent dialog names the origin; nothing of the control
// exists before the answer.
#ifndef QUILLMARK_HOST_ADMISSION_H_
#define QUILLMARK_HOST_ADMISSION_H_

#include <string>
#include <string_view>

#include "platform/ui/dialog_host.h"

namespace quillmark::host {

struct Admission {
  bool admitted = false;
  std::string origin;   // the origin as given, when it could be read
  std::string refused;  // "insecure-origin", "denied" or "bad-hello"
  std::string error;    // one line for the page
};

// Reads the hello message and decides. The consent dialog, when one is
// needed, goes through |dialogs|.
Admission Admit(std::string_view hello, platform::ui::DialogHost& dialogs);

// The answer to the hello: ready, or the refusal.
std::string AdmissionAnswer(const Admission& admission);

}  // namespace quillmark::host

#endif  // QUILLMARK_HOST_ADMISSION_H_
