// quillmark session: drives one control instance from JSON lines on standard
// input, one answer line per request on standard output (protocol in
// com/session.h).
#include <cstdio>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/home_check.h"
#include "com/class_factory.h"
#include "com/session.h"
#include "platform/os/home.h"
#include "platform/os/standard_streams.h"
#include "platform/ui/dialog_factory.h"

namespace quillmark::cli {
namespace {

constexpr char kUsage[] =
    "usage: quillmark session [--home DIR] [--ui script:FILE|terminal|gui|none]\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

enum class LineRead { kLine, kTooLong, kEnd };

// Reads one line without its '\n' into |line|, keeping at most |max_length|
// bytes: a longer line is read on to its end and dropped (kTooLong, |line|
// empty). kEnd at the end of input with nothing read.
LineRead ReadLine(std::FILE* in, std::size_t max_length, std::string* line) {
  line->clear();
  int c;
  bool any = false;
  bool too_long = false;
  while ((c = std::getc(in)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (too_long) continue;
    if (line->size() == max_length) {
      too_long = true;
      std::string().swap(*line);
      continue;
    }
    line->push_back(static_cast<char>(c));
  }
  if (!any) return LineRead::kEnd;
  return too_long ? LineRead::kTooLong : LineRead::kLine;
}

}  // namespace

int RunSession(Args args) {
  platform::UseBinaryStandardStreams();
  std::string home;
  std::string ui = platform::ui::DialogHostSpecFromEnvironment();
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--home" && i + 1 < args.size()) {
      home = std::string(args[++i]);
      if (home.empty()) return Usage();
    } else if (args[i] == "--ui" && i + 1 < args.size()) {
      ui = std::string(args[++i]);
    } else {
      return Usage();
    }
  }
  if (!home.empty()) platform::SetQuillmarkHome(home);
  if (!HomeFolderIsSafe()) return 1;

  std::unique_ptr<platform::ui::DialogHost> host;
  std::string error;
  if (!platform::ui::CreateDialogHost(ui, &host, &error)) {
    std::fprintf(stderr, "quillmark session: %s\n", error.c_str());
    return 2;
  }
  platform::ui::SetCurrentDialogHost(std::move(host));

  com::ClassFactoryRef factory;
  com::ControlPtr instance;
  control::HRESULT hr = com::GetClassObject(control::kClsidLydraCorvaneQuillmark,
                                            control::kIidIClassFactory, &factory);
  if (hr == control::S_OK) {
    hr = factory->CreateInstance(nullptr, control::kIidILydraCorvaneQuillmark, &instance);
  }
  if (hr != control::S_OK) {
    std::fprintf(stderr, "quillmark session: cannot create the control (0x%08X)\n",
                 static_cast<unsigned>(hr));
    return 1;
  }

  com::Session session(instance.get());
  std::string line;
  for (;;) {
    const LineRead read = ReadLine(stdin, com::kMaxRequestLine, &line);
    if (read == LineRead::kEnd) break;
    std::string answer =
        read == LineRead::kTooLong ? com::Session::LineTooLongAnswer() : session.Answer(line);
    answer.push_back('\n');
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    std::fflush(stdout);
  }
  instance.reset();
  platform::ui::SetCurrentDialogHost(nullptr);
  return 0;
}

}  // namespace quillmark::cli
