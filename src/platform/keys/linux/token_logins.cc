#include "platform/keys/token_logins.h"

#include "common/no_destructor.h"
#include "common/unicode.h"
#include "platform/keys/software_keys.h"
#include "platform/keys/token_modules.h"
#include "platform/keys/token_objects.h"
#include "platform/keys/token_provider.h"
#include "platform/os/last_error.h"
#include "platform/os/secret_input.h"
#include "platform/ui/dialog_factory.h"

namespace quillmark::platform::p11 {

namespace {

// Tokens named by a caller are looked for among this many slots at most.
constexpr std::size_t kMaxSlots = 64;

// Tries left before the PIN locks, as far as the token's flags tell.
int TriesLeft(CK_FLAGS flags) {
  if ((flags & CKF_USER_PIN_FINAL_TRY) != 0) return 1;
  return -1;
}

bool IsUserState(CK_STATE state) {
  return state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS;
}

}  // namespace

std::uint32_t FindToken(const std::string& serial, TokenRef* ref) {
  std::size_t seen = 0;
  for (const TokenModule& m : TokenModules()) {
    std::shared_ptr<Module> module;
    std::string why;
    if (!LoadModule(m.path, &module, &why)) continue;
    for (CK_SLOT_ID slot : module->SlotsWithTokens()) {
      if (++seen > kMaxSlots) return kScardENoSmartcard;
      CK_TOKEN_INFO info;
      if (!TokenInfoOf(*module, slot, &info)) continue;
      if (FixedText(info.serialNumber, sizeof(info.serialNumber)) == serial) {
        *ref = TokenRef{std::move(module), slot, m.sm2_mechanism};
        return 0;
      }
    }
  }
  return kScardENoSmartcard;
}

Logins& Logins::Instance() {
  static NoDestructor<Logins> logins;
  return *logins;
}

std::uint32_t Logins::Run(const std::string& serial, bool login, const Operation& op) {
  std::lock_guard<std::mutex> lock(mu_);
  for (int attempt = 0;; ++attempt) {
    auto it = open_.find(serial);
    if (it != open_.end() && !StillOpen(it->second)) {
      Drop(it);
      it = open_.end();
    }
    if (it == open_.end()) {
      Open fresh;
      if (std::uint32_t err = Begin(serial, login, &fresh)) return err;
      it = open_.insert_or_assign(serial, std::move(fresh)).first;
    } else if (login && !it->second.logged_in) {
      if (std::uint32_t err = LogIn(&it->second)) {
        Drop(it);
        return err;
      }
    }
    std::uint32_t err = op(it->second.session, it->second.token);
    if (err == kLoginLost || err == kScardENoSmartcard || scopes_ == 0) Drop(it);
    if (err == kLoginLost) {
      if (attempt == 0) continue;
      err = kScardENoSmartcard;
    }
    return err;
  }
}

void Logins::AddScope() {
  std::lock_guard<std::mutex> lock(mu_);
  ++scopes_;
}

void Logins::RemoveScope() {
  std::lock_guard<std::mutex> lock(mu_);
  if (--scopes_ == 0) {
    DropAll();
    ForgetUnlockedSoftwareKeys();
  }
}

bool Logins::Kept() {
  std::lock_guard<std::mutex> lock(mu_);
  return scopes_ > 0;
}

void Logins::EndAll() {
  std::lock_guard<std::mutex> lock(mu_);
  DropAll();
  ForgetUnlockedSoftwareKeys();
}

bool Logins::StillOpen(const Open& open) {
  CK_SESSION_INFO info;
  if (open.session.f()->C_GetSessionInfo(open.session.handle(), &info) != CKR_OK) return false;
  return !open.by_pin || IsUserState(info.state);
}

std::uint32_t Logins::Begin(const std::string& serial, bool login, Open* open) {
  if (std::uint32_t err = FindToken(serial, &open->token)) return err;
  if (CK_RV rv = OpenSession(open->token.module, open->token.slot, &open->session)) {
    return PlatformError(rv);
  }
  return login ? LogIn(open) : 0;
}

// Asks for the PIN (unless the token needs none or is logged in already)
// and logs the user in.
std::uint32_t Logins::LogIn(Open* open) {
  const TokenRef& token = open->token;
  CK_TOKEN_INFO info;
  if (!TokenInfoOf(*token.module, token.slot, &info)) return kScardENoSmartcard;
  CK_SESSION_INFO session_info;
  if (token.module->f()->C_GetSessionInfo(open->session.handle(), &session_info) == CKR_OK &&
      IsUserState(session_info.state)) {
    open->logged_in = open->by_pin = true;
    return 0;
  }
  if ((info.flags & CKF_USER_PIN_LOCKED) != 0) return kScardWChvBlocked;
  if ((info.flags & CKF_LOGIN_REQUIRED) == 0) {
    open->logged_in = true;
    return 0;
  }
  ui::PinRequest request;
  std::string label = FixedText(info.label, sizeof(info.label));
  if (!Utf8ToUtf16(label, &request.label)) request.label = u"?";
  request.tries_left = TriesLeft(info.flags);
  ui::PinAnswer answer = ui::CurrentDialogHost().AskPin(request);
  if (!answer.entered) {
    WipeSecret(&answer.pin);
    return kScardWCancelledByUser;
  }
  CK_RV rv = token.module->f()->C_Login(open->session.handle(), CKU_USER,
                                        reinterpret_cast<CK_UTF8CHAR*>(answer.pin.data()),
                                        answer.pin.size());
  WipeSecret(&answer.pin);
  if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) return PlatformError(rv);
  open->logged_in = open->by_pin = true;
  return 0;
}

void Logins::Drop(OpenMap::iterator it) {
  if (it->second.by_pin) it->second.session.f()->C_Logout(it->second.session.handle());
  open_.erase(it);  // closes the session
}

void Logins::DropAll() {
  while (!open_.empty()) Drop(open_.begin());
}

}  // namespace quillmark::platform::p11
