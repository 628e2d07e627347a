// OpenSSL's legacy provider (RC4, RC2, old PKCS#12 ciphers), loaded on demand.
#ifndef QUILLMARK_PLATFORM_OPENSSL_OPENSSL_PROVIDERS_H_
#define QUILLMARK_PLATFORM_OPENSSL_OPENSSL_PROVIDERS_H_

namespace quillmark::platform {

// Loads OpenSSL's default and legacy providers into the default library
// context, once per process and thread-safely. False when the legacy provider
// is not installed. Both stay loaded until the process exits.
bool LoadLegacyProvider();

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OPENSSL_OPENSSL_PROVIDERS_H_
