#include "platform/keys/key_provider.h"

#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common/ascii.h"
#include "common/no_destructor.h"
#include "common/unicode.h"
#include "platform/keys/key_provider_internal.h"
#include "platform/keys/sm2.h"
#include "platform/keys/software_keys.h"
#include "platform/keys/token_provider.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {

constexpr std::uint32_t kKnownAcquireFlags =
    kCryptNewKeyset | kCryptDeleteKeyset | kCryptMachineKeyset | kCryptSilent | kCryptVerifyContext;

bool Fail(std::uint32_t error) {
  SetLastError(error);
  return false;
}

// Public keys decoded from SubjectPublicKeyInfo DER, kept per process: the
// same signers and authorities come back on every verification, and decoding
// a key costs more than checking a signature with it.
class PublicKeyCache {
 public:
  static PublicKeyCache& Instance() {
    static NoDestructor<PublicKeyCache> cache;
    return *cache;
  }

  std::shared_ptr<EVP_PKEY> Find(ByteSpan spki) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = keys_.find(std::string(AsChars(spki)));
    return it != keys_.end() ? it->second : nullptr;
  }

  void Keep(ByteSpan spki, std::shared_ptr<EVP_PKEY> key) {
    std::string name(AsChars(spki));
    std::lock_guard<std::mutex> lock(mutex_);
    if (keys_.size() >= kMaxKeys) keys_.clear();
    keys_[std::move(name)] = std::move(key);
  }

 private:
  static constexpr std::size_t kMaxKeys = 64;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<EVP_PKEY>> keys_;  // by DER
};

struct Registered {
  std::u16string name;
  std::shared_ptr<KeyProviderBackend> backend;
};

std::mutex& RegistryMutex() {
  static std::mutex mu;
  return mu;
}

std::vector<Registered>& Registry() {
  static NoDestructor<std::vector<Registered>> registry;
  return *registry;
}

std::shared_ptr<KeyProviderBackend> FindBackend(std::u16string_view name) {
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    for (const Registered& r : Registry()) {
      if (EqualsIgnoringAsciiCase(r.name, name)) return r.backend;
    }
  }
  if (IsTokenProviderName(name)) return TokenKeyProvider();
  return IsSoftwareProviderName(name) ? SoftwareKeyProvider() : nullptr;
}

KeyContainer* ContainerOf(CryptProv& prov) {
  return prov.state ? prov.state->container.get() : nullptr;
}

bool PutKey(CryptProv& prov, std::uint32_t key_spec, EVP_PKEY* key) {
  KeyContainer* container = ContainerOf(prov);
  if (container == nullptr) return Fail(kNteBadKeyset);
  if (key_spec != kAtKeyExchange && key_spec != kAtSignature) return Fail(kNteBadKey);
  if (std::uint32_t err = container->PutPrivateKey(key_spec, key)) return Fail(err);
  return true;
}

}  // namespace

std::uint32_t KeyContainer::GetPublicKeyInfo(std::uint32_t spec, Bytes* spki_der) {
  ossl::PkeyPtr key;
  if (std::uint32_t err = GetPublicKey(spec, &key)) return err;
  return ossl::EncodeDer(i2d_PUBKEY, key.get(), spki_der) ? 0 : kNteBadKey;
}

bool KindOfKey(const EVP_PKEY* key, KeyKind* kind) {
  if (key == nullptr) return false;
  if (EVP_PKEY_is_a(key, "SM2")) {
    *kind = KeyKind::kSm2;
    return true;
  }
  if (EVP_PKEY_is_a(key, "RSA")) {
    *kind = KeyKind::kRsa;
    return true;
  }
  return false;
}

bool SignerKindOfKey(const EVP_PKEY* key, KeyKind* kind) {
  if (KindOfKey(key, kind)) return true;
  if (key == nullptr || !EVP_PKEY_is_a(key, "EC")) return false;
  *kind = KeyKind::kEc;
  return true;
}

void SetKeyOwner(ProviderState* state, const CertContext& cert) {
  state->key_owner = CertCreateCertificateContext(kX509AsnEncoding, cert.der());
}

std::shared_ptr<EVP_PKEY> SharePkey(ossl::PkeyPtr key) {
  return std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free);
}

void RegisterKeyProviderBackend(std::u16string_view name,
                                std::shared_ptr<KeyProviderBackend> backend) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry().insert(Registry().begin(), Registered{std::u16string(name), std::move(backend)});
}

bool IsSoftwareProviderName(std::u16string_view provider) {
  return provider.empty() || EqualsIgnoringAsciiCase(provider, kSoftwareProviderName) ||
         EqualsIgnoringAsciiCase(provider, kMsEnhancedProviderName) ||
         EqualsIgnoringAsciiCase(provider, kMsBaseProviderName);
}

void CryptProvFree::operator()(CryptProv* p) const noexcept { delete p; }
void CryptKeyFree::operator()(CryptKey* k) const noexcept { delete k; }

bool CryptAcquireContextW(ProvHandle* prov, std::u16string_view container,
                          std::u16string_view provider, std::uint32_t prov_type,
                          std::uint32_t flags) {
  prov->reset();
  if ((flags & ~kKnownAcquireFlags) != 0) return Fail(kNteBadFlags);
  bool create = (flags & kCryptNewKeyset) != 0;
  bool remove = (flags & kCryptDeleteKeyset) != 0;
  bool verify_only = (flags & kCryptVerifyContext) == kCryptVerifyContext;
  if (create && remove) return Fail(kNteBadFlags);
  if (verify_only && (!container.empty() || create || remove)) return Fail(kNteBadFlags);
  if (prov_type != kProvRsaFull) return Fail(kNteProvTypeNoMatch);
  std::shared_ptr<KeyProviderBackend> backend = FindBackend(provider);
  if (backend == nullptr) return Fail(kNteKeysetNotDef);
  try {
    auto state = std::make_shared<ProviderState>();
    if (container.empty()) {
      // A context for public-key work only: nothing to create or delete.
      if (remove) return true;
      *prov = ProvHandle(new CryptProv{std::move(state)});
      return true;
    }
    std::string name;
    if (!Utf16ToUtf8(container, &name)) return Fail(kNteBadKeysetParam);
    std::uint32_t err = remove   ? backend->DeleteContainer(name)
                        : create ? backend->CreateContainer(name, &state->container)
                                 : backend->OpenContainer(name, &state->container);
    if (err != 0) return Fail(err);
    if (!remove) *prov = ProvHandle(new CryptProv{std::move(state)});
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(kNteNoMemory);
  }
}

void CryptReleaseContext(ProvHandle prov) { prov.reset(); }

bool GenerateRsaKeyPair(CryptProv& prov, std::uint32_t key_spec, unsigned bits) {
  if (bits < 1024 || bits > 16384) return Fail(kNteBadFlags);
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* raw = nullptr;
  if (ctx == nullptr || EVP_PKEY_keygen_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits)) <= 0 ||
      EVP_PKEY_generate(ctx.get(), &raw) <= 0) {
    return Fail(kNteFail);
  }
  ossl::PkeyPtr key(raw);
  return PutKey(prov, key_spec, key.get());
}

bool GenerateSm2KeyPair(CryptProv& prov, std::uint32_t key_spec) {
  ossl::PkeyPtr key = GenerateSm2Key();
  if (key == nullptr) return Fail(kNteFail);
  return PutKey(prov, key_spec, key.get());
}

bool ImportPrivateKeyInfo(CryptProv& prov, std::uint32_t key_spec, ByteSpan pkcs8_der) {
  const unsigned char* p = pkcs8_der.data();
  ossl::PkeyPtr key(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(pkcs8_der.size())));
  KeyKind kind;
  if (key == nullptr || p != pkcs8_der.data() + pkcs8_der.size() || !KindOfKey(key.get(), &kind)) {
    return Fail(kNteBadData);
  }
  return PutKey(prov, key_spec, key.get());
}

bool ImportProtectedPrivateKeyInfo(CryptProv& prov, std::uint32_t key_spec, ByteSpan pkcs8_der,
                                   std::string_view passphrase) {
  const unsigned char* p = pkcs8_der.data();
  ossl::PkeyPtr key(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(pkcs8_der.size())));
  KeyKind kind;
  if (key == nullptr || p != pkcs8_der.data() + pkcs8_der.size() || !KindOfKey(key.get(), &kind)) {
    return Fail(kNteBadData);
  }
  KeyContainer* container = ContainerOf(prov);
  if (container == nullptr) return Fail(kNteBadKeyset);
  if (key_spec != kAtKeyExchange && key_spec != kAtSignature) return Fail(kNteBadKey);
  if (std::uint32_t err = container->PutProtectedPrivateKey(key_spec, key.get(), passphrase)) {
    return Fail(err);
  }
  return true;
}

bool CryptExportPublicKeyInfo(CryptProv& prov, std::uint32_t key_spec, std::uint32_t encoding_type,
                              Bytes* spki_der) {
  if ((encoding_type & kX509AsnEncoding) == 0) return Fail(kErrorInvalidParameter);
  KeyContainer* container = ContainerOf(prov);
  if (container == nullptr) return Fail(kNteNoKey);
  if (std::uint32_t err = container->GetPublicKeyInfo(key_spec, spki_der)) return Fail(err);
  return true;
}

bool CryptImportPublicKeyInfo(CryptProv& prov, std::uint32_t encoding_type, ByteSpan spki_der,
                              KeyHandle* key) {
  key->reset();
  if ((encoding_type & kX509AsnEncoding) == 0) return Fail(kErrorInvalidParameter);
  if (!prov.state) return Fail(kErrorInvalidParameter);
  try {
    std::shared_ptr<EVP_PKEY> shared = PublicKeyCache::Instance().Find(spki_der);
    if (shared == nullptr) {
      const unsigned char* p = spki_der.data();
      ossl::PkeyPtr pkey(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki_der.size())));
      if (pkey == nullptr || p != spki_der.data() + spki_der.size()) return Fail(kCryptEOssError);
      shared = SharePkey(std::move(pkey));
      PublicKeyCache::Instance().Keep(spki_der, shared);
    }
    KeyKind kind;
    if (!KindOfKey(shared.get(), &kind)) return Fail(kNteBadAlgId);
    prov.state->imported.push_back(shared);
    *key = KeyHandle(new CryptKey{prov.state, std::move(shared), kind});
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(kNteNoMemory);
  }
}

void CryptDestroyKey(KeyHandle key) { key.reset(); }

bool RemoveContainerKey(CryptProv& prov, std::uint32_t key_spec) {
  KeyContainer* container = ContainerOf(prov);
  if (container == nullptr) return Fail(kNteBadKeyset);
  if (key_spec != kAtKeyExchange && key_spec != kAtSignature) return Fail(kNteBadKey);
  if (std::uint32_t err = container->RemovePrivateKey(key_spec)) return Fail(err);
  return true;
}

bool HasContainerKey(CryptProv& prov, std::uint32_t key_spec) {
  KeyContainer* container = ContainerOf(prov);
  ossl::PkeyPtr key;
  return container != nullptr && container->GetPublicKey(key_spec, &key) == 0;
}

}  // namespace quillmark::platform
