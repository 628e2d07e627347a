// Windows: hardware tokens are reached through their vendors' providers
// (CSPs), which CryptAcquireContextW opens by name like any other provider;
// there is no list of PKCS#11 modules, no token catalog and no token
// provider of our own. The catalog is empty and the calls that manage
// modules or write to tokens fail with kNotOnWindows as their reason.
#include "platform/keys/token_catalog.h"
#include "platform/keys/token_modules.h"
#include "platform/keys/token_provider.h"

namespace quillmark::platform {

namespace {

constexpr char kNotOnWindows[] =
    "not supported on Windows: tokens are used through their vendors' cryptographic providers";

}  // namespace

std::shared_ptr<KeyProviderBackend> TokenKeyProvider() { return nullptr; }

// No token logins are kept by this process: the vendors' providers keep
// their own.
KeyLoginScope::KeyLoginScope() = default;
KeyLoginScope::~KeyLoginScope() = default;
bool KeyLoginsKept() { return false; }
void EndKeyLogins() {}

std::string TokenFlagNames(std::uint64_t flags) {
  // The PKCS#11 token flags (CKF_*), for entries read elsewhere.
  static constexpr struct {
    std::uint64_t flag;
    const char* name;
  } kNames[] = {
      {0x1, "rng"},
      {0x2, "write-protected"},
      {0x4, "login-required"},
      {0x8, "user-pin-initialized"},
      {0x100, "protected-authentication-path"},
      {0x400, "token-initialized"},
      {0x10000, "user-pin-count-low"},
      {0x20000, "user-pin-final-try"},
      {0x40000, "user-pin-locked"},
      {0x80000, "user-pin-to-be-changed"},
  };
  std::string names;
  for (const auto& n : kNames) {
    if ((flags & n.flag) == 0) continue;
    if (!names.empty()) names += ' ';
    names += n.name;
  }
  return names;
}

std::vector<TokenEntry> ListTokens(std::vector<std::string>* /*failures*/) { return {}; }

TokenSyncReport SyncTokenCertificates() {
  // The vendors' providers put their tokens' certificates into MY
  // themselves (certificate propagation).
  return TokenSyncReport();
}

void PropagateTokenCertificates() {}

bool StoreCertificateOnToken(const std::string& /*serial*/, const std::string& /*pin*/,
                             ByteSpan /*der*/, ByteSpan /*id*/, const std::string& /*label*/,
                             std::string* why) {
  if (why != nullptr) *why = kNotOnWindows;
  return false;
}

std::vector<TokenModule> TokenModules(std::string* /*why*/) { return {}; }
std::vector<TokenModule> UserTokenModules(std::string* /*why*/) { return {}; }

bool AddUserTokenModule(const TokenModule& /*module*/, std::string* why) {
  if (why != nullptr) *why = kNotOnWindows;
  return false;
}

bool RemoveUserTokenModule(const std::string& /*path*/, std::string* why) {
  if (why != nullptr) *why = kNotOnWindows;
  return false;
}

bool CheckTokenModule(const std::string& /*path*/, std::string* why) {
  if (why != nullptr) *why = kNotOnWindows;
  return false;
}

std::vector<TokenModule> ParseTokenModules(const std::string& /*text*/, std::string* why) {
  if (why != nullptr) *why = kNotOnWindows;
  return {};
}

}  // namespace quillmark::platform
