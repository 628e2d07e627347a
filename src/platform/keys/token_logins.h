// Sessions on tokens and the user's login on them, shared by every
// container of the token provider. Only the token code includes this.
//
// Logins::Run gives an operation a session on the token with a serial,
// logged in as the user when asked: the PIN is asked through the current
// dialog host at the first login and wiped once given to the token. The
// session and its login stay while a KeyLoginScope lives (token_provider.h),
// else they end with the operation; a token pulled in between is noticed and
// its session dropped.
#ifndef QUILLMARK_PLATFORM_KEYS_TOKEN_LOGINS_H_
#define QUILLMARK_PLATFORM_KEYS_TOKEN_LOGINS_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/keys/pkcs11_module.h"

namespace quillmark::platform::p11 {

// What an operation returns when its session is no longer logged in (the
// token was pulled and put back, or another program logged it out): Run
// logs in again once.
inline constexpr std::uint32_t kLoginLost = 0xFFFFFFFF;

// Where a token is: its module, its slot, and the module's SM2 mechanism.
struct TokenRef {
  std::shared_ptr<Module> module;
  CK_SLOT_ID slot = 0;
  std::optional<std::uint64_t> sm2_mechanism;
};

// The inserted token with |serial|: 0 or kScardENoSmartcard.
std::uint32_t FindToken(const std::string& serial, TokenRef* ref);

class Logins {
 public:
  static Logins& Instance();

  using Operation = std::function<std::uint32_t(const Session&, const TokenRef&)>;

  // Runs |op| on a session of the token |serial|, logged in as the user when
  // |login| is true; 0 or a platform error value (the login's or |op|'s).
  std::uint32_t Run(const std::string& serial, bool login, const Operation& op);

  void AddScope();
  // The last scope gone, every token is logged out and every session closed.
  void RemoveScope();
  bool Kept();
  void EndAll();

 private:
  struct Open {
    TokenRef token;
    Session session;
    bool logged_in = false;  // or needs no login
    bool by_pin = false;     // logged in with C_Login (the session shows the user state)
  };
  using OpenMap = std::map<std::string, Open>;

  static bool StillOpen(const Open& open);
  static std::uint32_t Begin(const std::string& serial, bool login, Open* open);
  static std::uint32_t LogIn(Open* open);
  void Drop(OpenMap::iterator it);
  void DropAll();

  std::mutex mu_;
  int scopes_ = 0;
  OpenMap open_;
};

}  // namespace quillmark::platform::p11

#endif  // QUILLMARK_PLATFORM_KEYS_TOKEN_LOGINS_H_
