// quillmark-host: the native messaging host a browser starts for one page
// connection. It serves one control instance to one origin:
//
//   1. the hello (admission.h): origin rules, a slot of the origin's
//      (control_slots.h, held until the host ends), decisions, consent;
//   2. then each framed request is one session-protocol request
//      (com/session.h, com/web_session.h), each answered in one frame or,
//      when long, in chunks (chunking.h).
//
// The browser's arguments (the caller's extension or manifest) are ignored.
// Dialogs go through $QUILLMARK_UI (e.g. script:FILE) when it is set, else
// the desktop dialogs (gui) when a display is reachable, else none. A first message over 64 KiB is
// refused as a bad hello. A request that is not JSON gets an error answer and the connection goes
// on; a request over 64 MiB or a stream that ends inside a frame ends the host with status 1; the
// end of input (the browser closed the port) with status 0.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "com/class_factory.h"
#include "com/web_session.h"
#include "common/json.h"
#include "common/unicode.h"
#include "host/admission.h"
#include "host/chunking.h"
#include "host/framing.h"
#include "platform/os/home.h"
#include "platform/os/process_guard.h"
#include "platform/os/standard_streams.h"
#include "platform/ui/dialog_factory.h"
#include "platform/ui/gui_host.h"

namespace quillmark::host {
namespace {

void Log(const std::string& line) { std::fprintf(stderr, "quillmark-host: %s\n", line.c_str()); }

// The first message is a short object naming the origin.
constexpr std::size_t kMaxHelloSize = std::size_t{64} << 10;

std::string ErrorAnswer(std::string_view message, bool hello) {
  json::Writer w;
  w.BeginObject();
  w.Key("error");
  w.StringUtf8(message);
  if (hello) {
    w.Key("refused");
    w.StringUtf8("bad-hello");
  }
  w.EndObject();
  return w.Take();
}

// The answer to a frame that could not be read; the connection then ends.
int EndOnBadFrame(FrameStatus status, bool hello) {
  if (status == FrameStatus::kTooLong) {
    WriteFrame(stdout, ErrorAnswer(hello ? "the first message is limited to 64 KiB"
                                         : "a request is limited to 64 MiB",
                                   hello));
    Log("message over the size limit; closing");
  } else {
    WriteFrame(stdout, ErrorAnswer("the input ended inside a message", hello));
    Log("input ended inside a message; closing");
  }
  return 1;
}

void UseDialogHostFromEnvironment() {
  std::unique_ptr<platform::ui::DialogHost> dialogs;
  std::string error;
  const char* chosen = std::getenv("QUILLMARK_UI");
  std::string spec = chosen != nullptr && *chosen != '\0'      ? std::string(chosen)
                     : platform::ui::DesktopDisplayReachable() ? "gui"
                                                               : "none";
  if (!platform::ui::CreateDialogHost(spec, &dialogs, &error)) {
    Log(error + "; no dialogs will be shown");
    return;  // the current host stays "none": nothing is allowed without a person
  }
  platform::ui::SetCurrentDialogHost(std::move(dialogs));
}

int Serve() {
  platform::UseBinaryStandardStreams();
  // The control holds private keys and PINs in memory: no core file may keep them.
  platform::DisableCoreDumps();
  std::string message;
  FrameStatus status = ReadFrame(stdin, kMaxHelloSize, &message);
  if (status == FrameStatus::kEnd) return 0;
  if (status != FrameStatus::kMessage) return EndOnBadFrame(status, /*hello=*/true);

  // A home folder others may write is refused before anything is read from
  // it. The page learns only that; the reason, with its path, goes to the log.
  std::string problem = platform::HomeFolderProblem();
  std::string home = problem.empty() ? platform::QuillmarkHome() : std::string();
  if (problem.empty() && home.empty()) problem = "the home folder cannot be created";
  if (!problem.empty()) {
    Log(problem);
    json::Writer w;
    w.BeginObject();
    w.Key("error");
    w.StringUtf8("Quillmark cannot use its home folder on this computer (its log says why)");
    w.Key("refused");
    w.StringUtf8("home");
    w.EndObject();
    WriteFrame(stdout, w.Take());
    return 1;
  }

  UseDialogHostFromEnvironment();
  platform::ui::DialogHost& dialogs = platform::ui::CurrentDialogHost();
  Admission admission = Admit(message, home, dialogs);
  dialogs.TakeReports();  // the consent dialog is not the page's business
  for (const std::string& line : admission.log) Log(line);
  WriteFrame(stdout, AdmissionAnswer(admission));
  if (!admission.admitted) {
    Log("refused: " + admission.error);
    return 1;
  }

  com::ClassFactoryRef factory;
  com::ControlPtr control;
  control::HRESULT hr = com::GetClassObject(control::kClsidLydraCorvaneQuillmark,
                                            control::kIidIClassFactory, &factory);
  if (hr == control::S_OK) {
    hr = factory->CreateInstance(nullptr, control::kIidILydraCorvaneQuillmark, &control);
  }
  if (hr != control::S_OK) {
    WriteFrame(stdout, ErrorAnswer("the control cannot be created", /*hello=*/false));
    return 1;
  }

  com::WebSession session(control.get(), Utf8ToUtf16Lossy(admission.origin));
  for (;;) {
    status = ReadFrame(stdin, kMaxRequestSize, &message);
    if (status == FrameStatus::kEnd) return 0;
    if (status != FrameStatus::kMessage) return EndOnBadFrame(status, /*hello=*/false);
    json::Value id;
    std::string answer = session.Answer(message, &id);
    message.clear();
    message.shrink_to_fit();
    for (const std::string& part : SplitAnswer(std::move(answer), id)) {
      if (!WriteFrame(stdout, part)) return 1;  // the browser is gone
    }
  }
}

}  // namespace
}  // namespace quillmark::host

int main() { return quillmark::host::Serve(); }
