#include "platform/keys/sign_verify.h"
#include "platform/os/effect_audit.h"

#include <openssl/rsa.h>

#include <algorithm>
#include <new>

#include "platform/keys/key_provider_internal.h"
#include "platform/keys/sm2.h"
#include "platform/os/last_error.h"
#include "platform/ui/dialog_factory.h"

namespace quillmark::platform {

namespace {

bool Fail(std::uint32_t error) {
  SetLastError(error);
  return false;
}

bool SignHash(CryptHash& hash, std::uint32_t key_spec, Bytes* signature) {
  KeyContainer* container = hash.prov->container.get();
  if (container == nullptr) return Fail(kNteNoKey);
  if (key_spec != kAtKeyExchange && key_spec != kAtSignature) return Fail(kNteBadKey);
  ossl::PkeyPtr pub;
  if (std::uint32_t err = container->GetPublicKey(key_spec, &pub)) return Fail(err);
  Bytes digest, sig;
  if (std::uint32_t err = hash.DigestFor(pub.get(), &digest)) return Fail(err);
  NoteEffect(Effect::kKeyUse);
  if (std::uint32_t err = container->SignDigest(key_spec, hash.md, digest, &sig)) {
    return Fail(err);
  }
  if (IsSm2Key(pub.get())) {
    Bytes raw;
    if (!Sm2SignatureFromDer(sig, &raw)) return Fail(kNteFail);
    *signature = std::move(raw);
  } else {
    std::reverse(sig.begin(), sig.end());
    *signature = std::move(sig);
  }
  return true;
}

bool VerifyHash(CryptHash& hash, ByteSpan signature, const CryptKey& key) {
  Bytes digest, sig;
  if (std::uint32_t err = hash.DigestFor(key.pkey.get(), &digest)) return Fail(err);
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.pkey.get(), nullptr));
  if (ctx == nullptr || EVP_PKEY_verify_init(ctx.get()) <= 0) return Fail(kNteFail);
  if (key.kind == KeyKind::kSm2) {
    if (!Sm2SignatureToDer(signature, &sig)) return Fail(kNteBadSignature);
  } else {
    if (EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_CTX_set_signature_md(ctx.get(), hash.md) <= 0) {
      return Fail(kNteBadAlgId);
    }
    sig.assign(signature.rbegin(), signature.rend());
  }
  if (EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), digest.data(), digest.size()) != 1) {
    return Fail(kNteBadSignature);
  }
  return true;
}

}  // namespace

bool CryptSignHashW(CryptHash& hash, std::uint32_t key_spec, std::u16string_view,
                    std::uint32_t flags, Bytes* signature) {
  if (flags != 0) return Fail(kNteBadFlags);
  try {
    // A web page's caller may use the key only with the person's word.
    const CertContext* owner = hash.prov != nullptr ? hash.prov->key_owner.get() : nullptr;
    if (!ui::CurrentDialogHost().ConfirmKeyUse(
            {.action = ui::KeyUseAction::kSign, .key_owner = owner, .content = {}})) {
      return Fail(kScardWCancelledByUser);
    }
    return SignHash(hash, key_spec, signature);
  } catch (const std::bad_alloc&) {
    return Fail(kNteNoMemory);
  }
}

bool CryptVerifySignatureW(CryptHash& hash, ByteSpan signature, const CryptKey& key,
                           std::u16string_view, std::uint32_t flags) {
  if (flags != 0) return Fail(kNteBadFlags);
  try {
    return VerifyHash(hash, signature, key);
  } catch (const std::bad_alloc&) {
    return Fail(kNteNoMemory);
  }
}

}  // namespace quillmark::platform
