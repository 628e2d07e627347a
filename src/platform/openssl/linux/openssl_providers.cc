#include "platform/openssl/openssl_providers.h"

#include <openssl/provider.h>

namespace quillmark::platform {

bool LoadLegacyProvider() {
  // Loading a provider by hand turns off the automatic loading of the default
  // one, so the default provider is loaded explicitly first. Unloading both
  // at exit lets OpenSSL's own clean-up (which runs later) tear them down.
  struct Loaded {
    Loaded()
        : base(OSSL_PROVIDER_load(nullptr, "default")),
          legacy(OSSL_PROVIDER_load(nullptr, "legacy")) {}
    ~Loaded() {
      if (legacy != nullptr) OSSL_PROVIDER_unload(legacy);
      if (base != nullptr) OSSL_PROVIDER_unload(base);
    }
    OSSL_PROVIDER* base;
    OSSL_PROVIDER* legacy;
  };
  static const Loaded loaded;  // initialised once, thread-safely
  return loaded.base != nullptr && loaded.legacy != nullptr;
}

}  // namespace quillmark::platform
