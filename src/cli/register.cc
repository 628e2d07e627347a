// quillmark register | unregister: the module's self-registration, through
// the same exports an installer calls: in the registry of the home folder on
// Linux, where the command's own library is the module; on Windows in the
// system's registry, by the exports of quillmark.dll beside the command.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/home_check.h"
#include "com/registration.h"
#include "control/guids.h"
#include "platform/automation/automation_server.h"
#include "platform/os/home.h"

namespace quillmark::cli {
namespace {

// Accepts an optional "--home DIR"; false on anything else.
bool ReadHomeOption(Args args) {
  if (args.empty()) return true;
  if (args.size() != 2 || args[0] != "--home" || args[1].empty()) return false;
  platform::SetQuillmarkHome(std::string(args[1]));
  return true;
}

int Report(const char* verb, control::HRESULT hr) {
  if (hr != control::S_OK) {
    std::fprintf(stderr, "quillmark %s: failed (0x%08X)\n", verb, static_cast<unsigned>(hr));
    return 1;
  }
  std::string clsid(control::kClsidText.begin(), control::kClsidText.end());
  std::printf("%sed LydraCorvaneQuillmark %s\n", verb, clsid.c_str());
  return 0;
}

control::HRESULT CallRegistration(bool register_it) {
  const std::string module = platform::ServerModuleToRegister();
  if (module.empty()) return register_it ? DllRegisterServer() : DllUnregisterServer();
  return platform::CallServerRegistration(module, register_it);
}

}  // namespace

int RunRegister(Args args) {
  if (!ReadHomeOption(args)) {
    std::fputs("usage: quillmark register [--home DIR]\n", stderr);
    return 2;
  }
  if (!HomeFolderIsSafe()) return 1;
  return Report("register", CallRegistration(true));
}

int RunUnregister(Args args) {
  if (!ReadHomeOption(args)) {
    std::fputs("usage: quillmark unregister [--home DIR]\n", stderr);
    return 2;
  }
  if (!HomeFolderIsSafe()) return 1;
  return Report("unregister", CallRegistration(false));
}

}  // namespace quillmark::cli
