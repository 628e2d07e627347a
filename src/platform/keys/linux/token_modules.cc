#include "platform/keys/token_modules.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "common/bytes.h"
#include "platform/keys/pkcs11_module.h"
#include "platform/os/files.h"
#include "platform/os/home.h"

namespace quillmark::platform {

namespace {

constexpr std::size_t kMaxListSize = 64 * 1024;

std::string UserListPath() {
  std::string home = QuillmarkHome();
  return home.empty() ? std::string() : home + "/tokens/modules";
}

bool ParseNumber(const std::string& text, std::uint64_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != '\0') return false;
  *value = v;
  return true;
}

bool ReadList(const std::string& path, bool missing_is_empty, std::vector<TokenModule>* modules,
              std::string* why) {
  Bytes text;
  if (!IsRegularFile(path)) {
    if (missing_is_empty) return true;
    if (why != nullptr) *why = "cannot read the module list " + path;
    return false;
  }
  std::uint64_t size = 0;
  if (!RegularFileSize(path, &size) || size > kMaxListSize || !ReadWholeFile(path, &text)) {
    if (why != nullptr) *why = "cannot read the module list " + path;
    return false;
  }
  *modules = ParseTokenModules(std::string(text.begin(), text.end()), why);
  return true;
}

std::string Render(const std::vector<TokenModule>& modules) {
  std::string out;
  for (const TokenModule& m : modules) {
    out += m.path;
    if (m.sm2_mechanism.has_value()) {
      char mech[40];
      std::snprintf(mech, sizeof(mech), " sm2-mechanism=0x%llX",
                    static_cast<unsigned long long>(*m.sm2_mechanism));
      out += mech;
    }
    out += '\n';
  }
  return out;
}

bool WriteUserList(const std::vector<TokenModule>& modules, std::string* why) {
  std::string path = UserListPath();
  if (path.empty() || !MakeDirectories(path.substr(0, path.rfind('/')), 0700)) {
    *why = "cannot make the tokens folder in the home folder";
    return false;
  }
  std::string text = Render(modules);
  if (!WriteFileAtomically(path, AsBytes(text), 0600)) {
    *why = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

std::vector<TokenModule> ParseTokenModules(const std::string& text, std::string* why) {
  std::vector<TokenModule> modules;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    std::istringstream words(line);
    TokenModule module;
    if (!(words >> module.path) || module.path[0] == '#') continue;
    std::string option;
    bool understood = module.path[0] == '/' || module.path.find('/') == std::string::npos;
    while (understood && words >> option) {
      std::uint64_t mech = 0;
      if (option.rfind("sm2-mechanism=", 0) == 0 && ParseNumber(option.substr(14), &mech)) {
        module.sm2_mechanism = mech;
      } else {
        understood = false;
      }
    }
    if (!understood) {
      if (why != nullptr)
        *why = "line " + std::to_string(number) + " of the module list not understood";
      continue;
    }
    modules.push_back(std::move(module));
  }
  return modules;
}

std::vector<TokenModule> UserTokenModules(std::string* why) {
  std::vector<TokenModule> modules;
  std::string path = UserListPath();
  if (!path.empty()) ReadList(path, /*missing_is_empty=*/true, &modules, why);
  return modules;
}

std::vector<TokenModule> TokenModules(std::string* why) {
  std::vector<TokenModule> modules;
  if (const char* list = std::getenv(kTokenModulesEnv); list != nullptr) {
    if (*list != '\0') ReadList(list, /*missing_is_empty=*/false, &modules, why);
    return modules;
  }
  modules.push_back(TokenModule{kP11KitProxyModule, std::nullopt});
  for (TokenModule& m : UserTokenModules(why)) modules.push_back(std::move(m));
  return modules;
}

bool CheckTokenModule(const std::string& path, std::string* why) {
  std::shared_ptr<p11::Module> module;
  return p11::LoadModule(path, &module, why);
}

bool AddUserTokenModule(const TokenModule& module, std::string* why) {
  if (module.path.empty() || module.path[0] != '/') {
    *why = "a module is named by its absolute path";
    return false;
  }
  std::vector<TokenModule> modules = UserTokenModules(why);
  bool replaced = false;
  for (TokenModule& m : modules) {
    if (m.path == module.path) {
      m = module;
      replaced = true;
    }
  }
  if (!replaced) modules.push_back(module);
  return WriteUserList(modules, why);
}

bool RemoveUserTokenModule(const std::string& path, std::string* why) {
  std::vector<TokenModule> modules = UserTokenModules(why);
  std::size_t before = modules.size();
  std::erase_if(modules, [&](const TokenModule& m) { return m.path == path; });
  if (modules.size() == before) {
    *why = path + " is not in the module list";
    return false;
  }
  return WriteUserList(modules, why);
}

}  // namespace quillmark::platform
