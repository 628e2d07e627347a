// "Quillmark Token Provider": private keys on hardware tokens (USB keys,
// smart cards) reached through PKCS#11 modules (platform/keys/token_modules.h).
//
// A container names one key on one token: "SERIAL/ID", the token's serial
// number and the key's CKA_ID in upper-case hex ("4f1a9c2e/01A2"). The
// container answers for either key spec. Its public key comes from the
// token's public-key object of that CKA_ID, or else from its certificate
// object; neither needs the PIN. Signing (C_Sign) and key transport
// decryption log the user in first: the PIN is asked through the current
// dialog host (kind "pin", the token's label, the tries left) and wiped
// once given to the token.
//
// A login lasts while a KeyLoginScope is alive (the control holds one for
// its lifetime); with none alive, each operation logs out and closes its
// session when done. When the last scope ends, every token is logged out,
// every session closed, and every software key decrypted with its
// passphrase forgotten (software_keys.h).
//
// Errors, beyond those of every provider:
//   kScardENoSmartcard      the token is not inserted (or was pulled mid-way)
//   kScardWWrongChv         the PIN was wrong (the login is not kept)
//   kScardWChvBlocked       the PIN is locked; nothing is asked
//   kScardWCancelledByUser  the PIN dialog was cancelled
#ifndef QUILLMARK_PLATFORM_KEYS_TOKEN_PROVIDER_H_
#define QUILLMARK_PLATFORM_KEYS_TOKEN_PROVIDER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace quillmark::platform {

inline constexpr std::u16string_view kTokenProviderName = u"Quillmark Token Provider";

inline constexpr std::uint32_t kScardENoSmartcard = 0x8010000C;  // SCARD_E_NO_SMARTCARD
inline constexpr std::uint32_t kScardWWrongChv = 0x8010006B;     // SCARD_W_WRONG_CHV
inline constexpr std::uint32_t kScardWChvBlocked = 0x8010006C;   // SCARD_W_CHV_BLOCKED

// "SERIAL/ID" for a token serial and a CKA_ID.
std::string TokenContainerName(std::string_view serial, ByteSpan id);

// Splits a container name; false when it is not of that form.
bool ParseTokenContainerName(std::string_view name, std::string* serial, Bytes* id);

// Whether |provider| names the token provider (ASCII case ignored).
bool IsTokenProviderName(std::u16string_view provider);

class KeyProviderBackend;
std::shared_ptr<KeyProviderBackend> TokenKeyProvider();

// Keeps token logins alive while it lives (see above).
class KeyLoginScope {
 public:
  KeyLoginScope();
  ~KeyLoginScope();
  KeyLoginScope(const KeyLoginScope&) = delete;
  KeyLoginScope& operator=(const KeyLoginScope&) = delete;
};

// Whether a KeyLoginScope is alive.
bool KeyLoginsKept();

// Logs every token out and closes every session kept for a login.
void EndKeyLogins();

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_TOKEN_PROVIDER_H_
