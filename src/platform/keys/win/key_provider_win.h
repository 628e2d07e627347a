// Windows: the system handles behind provider, key and hash handles. For the
// Windows backends of keys, chain and message, which hand them to the real
// CryptoAPI calls. Not for use above platform/.
#ifndef QUILLMARK_PLATFORM_KEYS_WIN_KEY_PROVIDER_WIN_H_
#define QUILLMARK_PLATFORM_KEYS_WIN_KEY_PROVIDER_WIN_H_

#include <windows.h>

#include <wincrypt.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "platform/keys/hash.h"
#include "platform/keys/key_provider.h"
#include "platform/store/cert_context.h"

namespace quillmark::platform {

// One acquired HCRYPTPROV, released when the last handle, key or hash that
// uses it goes.
struct SystemProv {
  SystemProv() = default;
  ~SystemProv() {
    if (handle != 0) ::CryptReleaseContext(handle, 0);
  }
  SystemProv(const SystemProv&) = delete;
  SystemProv& operator=(const SystemProv&) = delete;

  HCRYPTPROV handle = 0;
  bool verify_only = false;  // a verification context: no private keys
  // The certificate whose key this handle was opened for
  // (CryptAcquireCertificatePrivateKey) or found to hold
  // (CryptKeyMatchesCertificate), named when the key is about to be used;
  // null for a container opened by name and never matched.
  CertContextPtr key_owner;
};

class CryptProv {
 public:
  std::shared_ptr<SystemProv> prov;
};

class CryptKey {
 public:
  ~CryptKey() {
    if (handle != 0) ::CryptDestroyKey(handle);
  }
  std::shared_ptr<SystemProv> prov;
  HCRYPTKEY handle = 0;
};

class CryptHash {
 public:
  ~CryptHash() {
    if (handle != 0) ::CryptDestroyHash(handle);
  }
  std::shared_ptr<SystemProv> prov;
  HCRYPTHASH handle = 0;
};

// The HCRYPTPROV / HCRYPTKEY / HCRYPTHASH behind a handle, valid while it is.
HCRYPTPROV SystemProvHandle(const CryptProv& prov);
HCRYPTKEY SystemKeyHandle(const CryptKey& key);
HCRYPTHASH SystemHashHandle(const CryptHash& hash);

// The system provider that a provider name callers use stands for, and its
// type. The names of the software provider (empty, its own and the two
// traditional ones) and the system's AES provider all stand for the
// system's "Microsoft Enhanced RSA and AES Cryptographic Provider"
// (PROV_RSA_AES), which also has the SHA-2 hashes; any other name is a
// vendor's provider, taken as it is with the type it is registered with
// (PROV_RSA_FULL when it is not registered).
void SystemProviderFor(std::u16string_view provider, std::wstring* name, DWORD* type);

// The PRIVATEKEYBLOB of a PKCS#8 PrivateKeyInfo of an RSA key, with the
// algorithm of |key_spec|. 0, kNteBadAlgId for another kind of key, or
// kNteBadData. The caller wipes |blob|.
std::uint32_t PrivateKeyBlobFromPkcs8(ByteSpan pkcs8_der, std::uint32_t key_spec, Bytes* blob);

// The PKCS#8 PrivateKeyInfo DER of an exported PRIVATEKEYBLOB. 0 or the
// system's error. The caller wipes |pkcs8_der|.
std::uint32_t Pkcs8FromPrivateKeyBlob(ByteSpan blob, Bytes* pkcs8_der);

// Overwrites |secret| and empties it.
void Wipe(Bytes* secret);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_WIN_KEY_PROVIDER_WIN_H_
