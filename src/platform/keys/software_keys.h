// The software key provider: containers as folders under <home>/keys/.
//
//   keys/<CONTAINER>/            mode 0700
//   keys/<CONTAINER>/exchange.pem   PKCS#8 PEM of the exchange key, mode 0600
//   keys/<CONTAINER>/signature.pem  the same for the signature key
//   keys/<CONTAINER>/<SPEC>.pub     for a key kept encrypted (encrypted PKCS#8
//                                   PEM in <SPEC>.pem): its public key, PEM
//
// A key kept encrypted shows its public half without a passphrase; its first
// use asks for the passphrase through the current dialog host (kind "pin",
// passphrase, labelled with the container name). A wrong passphrase fails
// with kErrorInvalidPassword, a cancelled dialog with kScardWCancelledByUser.
// The decrypted key is kept while a KeyLoginScope lives (token_provider.h).
//
// A container name is stored as its UTF-8 text and must be usable as one
// folder name (not empty, no '/', not "." or ".."); otherwise the calls fail
// with kNteBadKeysetParam. The home folder is read when a container is
// opened, created or deleted.
#ifndef QUILLMARK_PLATFORM_KEYS_SOFTWARE_KEYS_H_
#define QUILLMARK_PLATFORM_KEYS_SOFTWARE_KEYS_H_

#include <memory>
#include <string>

#include "platform/keys/key_provider_internal.h"

namespace quillmark::platform {

std::shared_ptr<KeyProviderBackend> SoftwareKeyProvider();

// Drops the keys decrypted with their passphrase (see KeyLoginScope).
void ForgetUnlockedSoftwareKeys();

// "exchange" or "signature"; empty for any other spec.
std::string KeySpecName(std::uint32_t spec);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_SOFTWARE_KEYS_H_
