// Inside the key providers: the backend interface behind CryptAcquireContextW
// and the objects behind the provider, key and hash handles. Only the key,
// hash, signing and issuing code of platform/ includes this.
//
// A backend is one provider: it opens, creates and deletes containers. An open
// container hands out the public half of its keys and signs finished digests;
// a hardware token would do the signing on the token and report a user cancel
// as kScardWCancelledByUser or a time-out as kScardETimeout, which the signing
// call passes on unchanged as the last error.
#ifndef QUILLMARK_PLATFORM_KEYS_KEY_PROVIDER_INTERNAL_H_
#define QUILLMARK_PLATFORM_KEYS_KEY_PROVIDER_INTERNAL_H_

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "platform/keys/key_provider.h"
#include "platform/openssl/openssl_ptr.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context.h"

namespace quillmark::platform {

enum class KeyKind { kRsa, kSm2, kEc };

// The kind of an RSA or SM2 key; false for any other key. These are the keys
// the providers import and check signatures with.
bool KindOfKey(const EVP_PKEY* key, KeyKind* kind);

// The same, and kEc for any other EC key: a token may hold ECDSA keys and
// sign with them (the signature, least significant byte first, is then the
// DER ECDSA-Sig-Value reversed), though no provider imports one.
bool SignerKindOfKey(const EVP_PKEY* key, KeyKind* kind);

class KeyContainer {
 public:
  virtual ~KeyContainer() = default;
  // The public half of the key of |spec|; kNteNoKey when there is none.
  virtual std::uint32_t GetPublicKey(std::uint32_t spec, ossl::PkeyPtr* out) = 0;
  // The public half of the key of |spec| as SubjectPublicKeyInfo DER.
  // Containers that can give it without encoding the key anew override this.
  virtual std::uint32_t GetPublicKeyInfo(std::uint32_t spec, Bytes* spki_der);
  // Signs a finished digest with the key of |spec|. RSA: PKCS#1 v1.5 over the
  // DigestInfo of |md| and |digest|, most significant byte first. SM2: |digest|
  // is e = SM3(Z || M) and the result is the DER SEQUENCE { r, s }.
  virtual std::uint32_t SignDigest(std::uint32_t spec, const EVP_MD* md, ByteSpan digest,
                                   Bytes* signature) = 0;
  // Stores |key| (a private key) as the key of |spec|.
  virtual std::uint32_t PutPrivateKey(std::uint32_t spec, EVP_PKEY* key) = 0;
  // Stores |key| as the key of |spec|, encrypted under |passphrase|.
  // Containers that cannot keep keys encrypted keep the default, which fails
  // with kNteBadAlgId.
  virtual std::uint32_t PutProtectedPrivateKey(std::uint32_t spec, EVP_PKEY* key,
                                               std::string_view passphrase) {
    (void)spec;
    (void)key;
    (void)passphrase;
    return kNteBadAlgId;
  }
  // Removes the key of |spec|; 0 also when there was none. Containers that
  // cannot remove single keys keep the default, which fails with kNteBadAlgId.
  virtual std::uint32_t RemovePrivateKey(std::uint32_t spec) {
    (void)spec;
    return kNteBadAlgId;
  }
  // Unwraps a key encrypted to the key of |spec| with RSA PKCS#1 v1.5 (the
  // key transport of an envelope); kNteBadData when it does not decrypt.
  // Containers that cannot do this keep the default, which fails with
  // kNteBadAlgId.
  virtual std::uint32_t DecryptKeyTransport(std::uint32_t spec, ByteSpan wrapped, Bytes* key) {
    (void)spec;
    (void)wrapped;
    (void)key;
    return kNteBadAlgId;
  }
};

class KeyProviderBackend {
 public:
  virtual ~KeyProviderBackend() = default;
  // Each returns 0 or the platform error value.
  virtual std::uint32_t OpenContainer(const std::string& name,
                                      std::unique_ptr<KeyContainer>* out) = 0;
  virtual std::uint32_t CreateContainer(const std::string& name,
                                        std::unique_ptr<KeyContainer>* out) = 0;
  virtual std::uint32_t DeleteContainer(const std::string& name) = 0;
};

// Makes |backend| answer to |name| (compared without regard to ASCII case)
// for the rest of the process, ahead of the built-in names.
void RegisterKeyProviderBackend(std::u16string_view name,
                                std::shared_ptr<KeyProviderBackend> backend);

// What a provider handle holds; shared by the handle, its keys and hashes.
struct ProviderState {
  std::unique_ptr<KeyContainer> container;          // null for a verification context
  std::vector<std::shared_ptr<EVP_PKEY>> imported;  // public keys imported so far
  // The certificate the container's key was opened for or matched against
  // (CryptAcquireCertificatePrivateKey, CryptKeyMatchesCertificate): whose
  // key a use from a web page names. Null for a container opened by name.
  CertContextPtr key_owner;
};

// Remembers |cert| as the owner of the key in |state|.
void SetKeyOwner(ProviderState* state, const CertContext& cert);

class CryptProv {
 public:
  std::shared_ptr<ProviderState> state;
};

class CryptKey {
 public:
  std::shared_ptr<ProviderState> prov;
  std::shared_ptr<EVP_PKEY> pkey;
  KeyKind kind = KeyKind::kRsa;
};

// A hash object: the plain digest of the data and, for kCalgSm3, one
// e = SM3(Z || M) digest per SM2 public key known when it was created.
class CryptHash {
 public:
  struct Sm2Digest {
    Bytes point;  // the key's uncompressed public point
    ossl::MdCtxPtr ctx;
  };

  std::shared_ptr<ProviderState> prov;
  std::uint32_t algid = 0;
  const EVP_MD* md = nullptr;
  ossl::MdCtxPtr plain;
  std::vector<Sm2Digest> sm2;
  bool finished = false;

  // Finishes the hash and gives the digest to sign or verify with |key|: for
  // an SM2 key the e of that key (kNteBadKey if the hash has none for it, and
  // kNteBadAlgId unless the hash is kCalgSm3), for an RSA key the plain digest.
  // 0 or an error value.
  std::uint32_t DigestFor(const EVP_PKEY* key, Bytes* digest);
  // Finishes the hash and gives its kHpHashVal.
  std::uint32_t Value(Bytes* digest);
};

// Wraps an owned EVP_PKEY for sharing.
std::shared_ptr<EVP_PKEY> SharePkey(ossl::PkeyPtr key);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_KEY_PROVIDER_INTERNAL_H_
