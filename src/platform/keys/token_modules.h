// Which PKCS#11 modules the token provider asks for tokens.
//
// The list is the p11-kit proxy module (every module registered with
// p11-kit) followed by the modules the user added, kept one per line in
// <home>/tokens/modules:
//
//   /usr/lib/vendor/libvendor-pkcs11.so sm2-mechanism=0x80000301
//
// An optional "sm2-mechanism=N" (decimal or 0x hex) names the vendor
// mechanism the module signs SM2 with (C_Sign over e = SM3(Z || M), giving
// r || s); modules without it sign no SM2 keys. Blank lines and lines
// starting with '#' are ignored.
//
// When the environment variable QUILLMARK_TOKEN_MODULES is set, it names a
// file of the same form that replaces the whole list (no p11-kit proxy, no
// user modules); set but empty, there are no modules at all. Tests use it so
// that no real token is ever touched.
#ifndef QUILLMARK_PLATFORM_KEYS_TOKEN_MODULES_H_
#define QUILLMARK_PLATFORM_KEYS_TOKEN_MODULES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillmark::platform {

inline constexpr char kTokenModulesEnv[] = "QUILLMARK_TOKEN_MODULES";
inline constexpr char kP11KitProxyModule[] = "p11-kit-proxy.so";

struct TokenModule {
  std::string path;
  std::optional<std::uint64_t> sm2_mechanism;
};

// The modules to ask, in order. |why| (may be null) gets a one-line reason
// when a list file cannot be read or holds a line that is not understood;
// the lines that were understood are still returned.
std::vector<TokenModule> TokenModules(std::string* why = nullptr);

// The modules the user added (<home>/tokens/modules), whatever the
// environment says.
std::vector<TokenModule> UserTokenModules(std::string* why = nullptr);

// Adds |module| to the user's list or, when its path is there already,
// replaces that line; the file is written atomically. False with a reason.
bool AddUserTokenModule(const TokenModule& module, std::string* why);

// Removes the module with |path| from the user's list. False with a reason
// (also when it is not there).
bool RemoveUserTokenModule(const std::string& path, std::string* why);

// Whether |path| loads as a PKCS#11 module; false with a one-line reason.
bool CheckTokenModule(const std::string& path, std::string* why);

// Parses a list file's text; lines not understood are named in |why|.
std::vector<TokenModule> ParseTokenModules(const std::string& text, std::string* why);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_TOKEN_MODULES_H_
