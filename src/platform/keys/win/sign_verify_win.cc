// Windows signing and checking: CryptSignHashW / CryptVerifySignatureW of
// the system. The system writes and reads RSA signatures least significant
// byte first, the order sign_verify.h gives, so they pass through unchanged.
#include "platform/keys/sign_verify.h"

#include <new>

#include "platform/keys/win/key_provider_win.h"
#include "platform/os/effect_audit.h"
#include "platform/os/last_error.h"
#include "platform/store/win/cert_context_win.h"
#include "platform/ui/dialog_factory.h"

namespace quillmark::platform {

namespace {

bool Fail(std::uint32_t error) {
  SetLastError(error);
  return false;
}

}  // namespace

bool CryptSignHashW(CryptHash& hash, std::uint32_t key_spec, std::u16string_view /*description*/,
                    std::uint32_t flags, Bytes* signature) {
  if (flags != 0) return Fail(kNteBadFlags);
  // A verification context has no container, so no key to sign with.
  signature->clear();
  if (!hash.prov || hash.prov->verify_only) return Fail(kNteNoKey);
  // A web page's caller may use the key only with the user's word. The hash
  // alone says nothing of the text: what was staged for the call is shown.
  try {
    if (!ui::CurrentDialogHost().ConfirmKeyUse({.action = ui::KeyUseAction::kSign,
                                                .key_owner = hash.prov->key_owner.get(),
                                                .content = {}})) {
      return Fail(kScardWCancelledByUser);
    }
  } catch (const std::bad_alloc&) {
    return Fail(kNteNoMemory);
  }
  NoteEffect(Effect::kKeyUse);
  DWORD size = 0;
  if (!::CryptSignHashW(hash.handle, key_spec, nullptr, 0, nullptr, &size)) {
    TakeSystemLastError();
    return false;
  }
  signature->resize(size);
  if (!::CryptSignHashW(hash.handle, key_spec, nullptr, 0, signature->data(), &size)) {
    TakeSystemLastError();
    return false;
  }
  signature->resize(size);
  return true;
}

bool CryptVerifySignatureW(CryptHash& hash, ByteSpan signature, const CryptKey& key,
                           std::u16string_view /*description*/, std::uint32_t flags) {
  if (flags != 0) return Fail(kNteBadFlags);
  if (!::CryptVerifySignatureW(hash.handle, signature.data(), static_cast<DWORD>(signature.size()),
                               key.handle, nullptr, 0)) {
    TakeSystemLastError();
    return false;
  }
  return true;
}

}  // namespace quillmark::platform
