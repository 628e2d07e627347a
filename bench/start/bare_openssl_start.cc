// The least a program that signs with OpenSSL does before it can answer:
// start, load the default and legacy providers, write one line. The start-up
// benchmark measures quillmark-host against this.
#include <openssl/provider.h>

#include <cstdio>

int main() {
  OSSL_PROVIDER* base = OSSL_PROVIDER_load(nullptr, "default");
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  std::puts(base != nullptr && legacy != nullptr ? "ready" : "no providers");
  std::fflush(stdout);
  OSSL_PROVIDER_unload(legacy);
  OSSL_PROVIDER_unload(base);
  return 0;
}
