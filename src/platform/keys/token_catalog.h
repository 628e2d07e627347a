// What the inserted tokens hold, and the propagation of their certificates
// into the current user's "MY" store.
//
// A certificate on a token is propagated when it has a CKA_ID and the token
// shows a key object with the same CKA_ID (or keeps its private keys behind
// the PIN): it is added to MY with a key-provider property naming the token
// provider, the container "SERIAL/ID" (token_provider.h) and the exchange key
// spec. A propagated certificate stays in MY when its token is pulled.
#ifndef QUILLMARK_PLATFORM_KEYS_TOKEN_CATALOG_H_
#define QUILLMARK_PLATFORM_KEYS_TOKEN_CATALOG_H_

#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace quillmark::platform {

struct TokenObjectEntry {
  std::string kind;      // "certificate", "private-key", "public-key"
  std::string key_type;  // "RSA", "EC" or the CKK_ number in hex; empty for a certificate
  std::string id_hex;    // CKA_ID
  std::string label;     // CKA_LABEL
  Bytes der;             // a certificate's DER
};

struct TokenEntry {
  std::string module;  // the module's path
  std::string label;
  std::string serial;
  std::string manufacturer;
  std::string model;
  std::uint64_t flags = 0;                // CK_TOKEN_INFO flags
  std::vector<TokenObjectEntry> objects;  // the objects shown without a PIN
};

// The flag names of |flags|, space separated ("login-required rng ...").
std::string TokenFlagNames(std::uint64_t flags);

// Every token of every module. Modules that cannot be loaded are named, one
// line each, in |failures|.
std::vector<TokenEntry> ListTokens(std::vector<std::string>* failures);

struct TokenSyncReport {
  int tokens = 0;                     // tokens looked at
  int added = 0;                      // certificates added to MY or given a new property
  int unchanged = 0;                  // certificates already in MY as propagated
  std::vector<std::string> failures;  // modules that could not be loaded, MY not writable
};

// Propagates the certificates of every inserted token into MY now.
TokenSyncReport SyncTokenCertificates();

// Propagates only when the set of inserted tokens (module, slot, serial)
// differs from the one this process saw last; cheap otherwise. Called when
// MY is opened for a member call.
void PropagateTokenCertificates();

// Writes a certificate object (CKA_ID |id|, CKA_LABEL |label|) onto the
// token with |serial|, logged in with |pin| for the write. For setting up
// tokens from scripts and tests; false with a one-line reason.
bool StoreCertificateOnToken(const std::string& serial, const std::string& pin, ByteSpan der,
                             ByteSpan id, const std::string& label, std::string* why);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_TOKEN_CATALOG_H_
