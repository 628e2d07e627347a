// Reading keys and certificates off a token: the public key of a CKA_ID and
// the token's certificate objects. Only the token code includes this.
#ifndef QUILLMARK_PLATFORM_KEYS_TOKEN_OBJECTS_H_
#define QUILLMARK_PLATFORM_KEYS_TOKEN_OBJECTS_H_

#include <string>
#include <vector>

#include "common/bytes.h"
#include "platform/keys/pkcs11_module.h"
#include "platform/openssl/openssl_ptr.h"

namespace quillmark::platform::p11 {

// The public key with CKA_ID |id|: from the public-key object, else from the
// certificate object. Null when the token shows neither.
ossl::PkeyPtr PublicKeyOf(const Session& session, const Bytes& id);

// The public half of the private key |object| where the token shows it (RSA
// modulus and exponent); null otherwise.
ossl::PkeyPtr PublicHalfOfPrivateKey(const Session& session, CK_OBJECT_HANDLE object);

struct TokenCertificate {
  Bytes id;   // CKA_ID
  Bytes der;  // CKA_VALUE
  std::string label;
};

// Every X.509 certificate object the session sees (at most |limit|).
std::vector<TokenCertificate> CertificatesOn(const Session& session, std::size_t limit = 256);

// Key objects the session sees: class, CKA_ID, key type, label.
struct TokenKey {
  CK_OBJECT_CLASS object_class = CKO_PRIVATE_KEY;
  Bytes id;
  CK_KEY_TYPE key_type = CKK_RSA;
  std::string label;
};
std::vector<TokenKey> KeysOn(const Session& session, std::size_t limit = 256);

// The token's info; false when the slot holds none now.
bool TokenInfoOf(const Module& module, CK_SLOT_ID slot, CK_TOKEN_INFO* info);

}  // namespace quillmark::platform::p11

#endif  // QUILLMARK_PLATFORM_KEYS_TOKEN_OBJECTS_H_
