// Certificates with their private keys brought in from files: a PKCS#12
// file, or a certificate file (DER or PEM) with a key file (PKCS#8 or
// traditional, PEM or DER, possibly encrypted). Keys must be RSA or SM2 and
// must belong to the certificate.
//
// ImportCertificateWithKey puts the key into the container of the software
// provider named "Quillmark-<THUMBPRINT>", the key-provider property into the
// store and then the certificate. Importing a certificate that is there
// already replaces its key file and property by rename (the key of the other
// spec goes last), so a process killed at any moment, or signing at the same
// time, finds either the old complete pair or the new one; a first import
// killed midway leaves no certificate. A failed import leaves no container
// it created behind.
#ifndef QUILLMARK_PLATFORM_KEYS_KEY_IMPORT_H_
#define QUILLMARK_PLATFORM_KEYS_KEY_IMPORT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::platform {

enum class ImportError {
  kNone,
  kNotPkcs12,         // bytes are not a PKCS#12 file
  kWrongPassword,     // MAC or key decryption fails with the password given
  kPkcs12Unreadable,  // a PKCS#12 whose contents cannot be decoded
  kNoPrivateKey,      // a PKCS#12 or key file without a private key
  kNoCertificate,     // a PKCS#12 without a certificate
  kNotCertificate,    // the certificate file holds no certificate
  kUnsupportedKey,    // a key that is neither RSA nor SM2
  kKeyMismatch,       // the key does not belong to the certificate
  kKeyStoreFailed,    // the container could not be written
  kCertStoreFailed,   // the store could not be written
};

// A certificate and its key. The key bytes are wiped when the object goes.
struct CertificateWithKey {
  CertificateWithKey() = default;
  ~CertificateWithKey();
  CertificateWithKey(const CertificateWithKey&) = delete;
  CertificateWithKey& operator=(const CertificateWithKey&) = delete;

  Bytes cert_der;
  Bytes pkcs8_der;  // PrivateKeyInfo DER
};

// |password| is UTF-8.
ImportError ReadPkcs12(ByteSpan data, std::string_view password, CertificateWithKey* out);

// Reads the key, then picks the certificate of |cert_data| (which may hold
// several, e.g. a chain) whose public key is the key's.
ImportError ReadCertificateAndKey(ByteSpan cert_data, ByteSpan key_data, std::string_view password,
                                  CertificateWithKey* out);

ImportError ImportCertificateWithKey(const CertStore& store, const CertificateWithKey& in,
                                     std::uint32_t key_spec, CertContextPtr* added);

struct ImportOptions {
  std::uint32_t key_spec = kAtKeyExchange;
  // Not empty: the key is kept encrypted under this passphrase (UTF-8), and
  // its use asks for it (software_keys.h).
  std::string_view protect_passphrase;
};
ImportError ImportCertificateWithKey(const CertStore& store, const CertificateWithKey& in,
                                     const ImportOptions& options, CertContextPtr* added);

// Whether a certificate in any store of the current user names the software
// provider's container |container| with |key_spec| (0: any spec), into
// |*in_use|; false when the home folder cannot be used.
bool SoftwareContainerInUse(std::u16string_view container, std::uint32_t key_spec, bool* in_use);

// Deletes the software provider's container |container| when no
// certificate in any store of the current user names it any more (the last
// step of removing a certificate). Sets |*deleted| when it went; false when
// the stores cannot be read or the container cannot be deleted.
bool DeleteContainerIfUnused(std::u16string_view container, bool* deleted);

// The container name an import of the certificate with |thumbprint| uses.
std::u16string ImportContainerName(const std::string& thumbprint);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_KEY_IMPORT_H_
