// quillmark: the command-line front of the library.
#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "platform/os/process_guard.h"

namespace {

struct Command {
  std::string_view name;
  int (*run)(quillmark::cli::Args);
  std::string_view usage;
};

constexpr Command kCommands[] = {
    {"demo", quillmark::cli::RunDemo, "demo                 round trip through the library"},
    {"store", quillmark::cli::RunStore,
     "store SUBCOMMAND ... manage certificate stores (quillmark store help)"},
    {"token", quillmark::cli::RunToken,
     "token SUBCOMMAND ... hardware tokens: list | add-module PATH | remove-module PATH | sync"},
    {"session", quillmark::cli::RunSession,
     "session [--home DIR] [--ui script:FILE|terminal|gui|none]\n"
     "                       drive one control instance with JSON lines"},
    {"register", quillmark::cli::RunRegister,
     "register [--home DIR] register the control in the registry"},
    {"unregister", quillmark::cli::RunUnregister,
     "unregister [--home DIR]\n"
     "                       remove the control's registration"},
    {"browser", quillmark::cli::RunBrowser,
     "browser install | uninstall | origins [--home DIR] [--forget ORIGIN]\n"
     "                       browser host manifests and web-origin decisions"},
    {"typelib", quillmark::cli::RunTypelib,
     "typelib [--idl|--json]\n"
     "                       the control's type library"},
};

int Usage(std::FILE* out) {
  std::fprintf(out, "usage: quillmark <command> [arguments]\n\ncommands:\n");
  for (const Command& c : kCommands) {
    std::fprintf(out, "  %.*s\n", static_cast<int>(c.usage.size()), c.usage.data());
  }
  return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(stderr);
  std::string_view name = argv[1];
  if (name == "-h" || name == "--help" || name == "help") return Usage(stdout);
  std::vector<std::string_view> args(argv + 2, argv + argc);
  // Commands that hold private keys or passwords leave no core dump behind.
  if (name == "session" || name == "store" || name == "token")
    quillmark::platform::DisableCoreDumps();
  for (const Command& c : kCommands) {
    if (c.name == name) return c.run(args);
  }
  std::fprintf(stderr, "quillmark: unknown command '%s'\n", argv[1]);
  return Usage(stderr);
}
