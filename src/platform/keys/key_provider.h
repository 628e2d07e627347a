// Key providers: named providers holding containers of private keys.
//
// CryptAcquireContextW opens a container of a provider by name, creates it
// (kCryptNewKeyset) or deletes it (kCryptDeleteKeyset). Without a container
// name it opens a verification context: no private keys, only public keys
// imported with CryptImportPublicKeyInfo; such a context always opens, with
// flags 0 or kCryptVerifyContext.
//
// The software provider keeps each container as the folder
// <home>/keys/<CONTAINER>/ (mode 0700) with one PKCS#8 PEM file per key,
// "exchange.pem" and "signature.pem" (mode 0600). It answers to its own name
// and to the two provider names that callers traditionally ask for; an empty
// provider name means the software provider too. Its containers hold RSA and
// SM2 keys.
//
// Every function returns false (or leaves the handle empty) on failure and
// then sets the thread's last error (platform/last_error.h) to the platform's
// value: kNteBadKeyset for a missing container, kNteExists for one that is
// already there, kNteKeysetNotDef for an unknown provider, and so on.
// Handles release themselves; the Release/Destroy calls only make the moment
// explicit. A hash or key keeps its provider alive, so handles may be dropped
// in any order.
#ifndef QUILLMARK_PLATFORM_KEYS_KEY_PROVIDER_H_
#define QUILLMARK_PLATFORM_KEYS_KEY_PROVIDER_H_

#include <cstdint>
#include <memory>
#include <string_view>

#include "common/bytes.h"
#include "platform/store/cert_context.h"  // kProvRsaFull, kAtKeyExchange, kAtSignature

namespace quillmark::platform {

// CryptAcquireContextW flags.
inline constexpr std::uint32_t kCryptNewKeyset = 0x8;
inline constexpr std::uint32_t kCryptDeleteKeyset = 0x10;
inline constexpr std::uint32_t kCryptMachineKeyset = 0x20;
inline constexpr std::uint32_t kCryptSilent = 0x40;
inline constexpr std::uint32_t kCryptVerifyContext = 0xF0000000;

inline constexpr std::u16string_view kSoftwareProviderName = u"Quillmark Software Provider";
inline constexpr std::u16string_view kMsEnhancedProviderName =
    u"Microsoft Enhanced Cryptographic Provider v1.0";
inline constexpr std::u16string_view kMsBaseProviderName =
    u"Microsoft Base Cryptographic Provider v1.0";

// Error values of the key and hash calls beyond those in last_error.h.
inline constexpr std::uint32_t kNteBadHash = 0x80090002;
inline constexpr std::uint32_t kNteBadKey = 0x80090003;
inline constexpr std::uint32_t kNteBadData = 0x80090005;
inline constexpr std::uint32_t kNteBadFlags = 0x80090009;
inline constexpr std::uint32_t kNteBadType = 0x8009000A;
inline constexpr std::uint32_t kNteBadHashState = 0x8009000C;
inline constexpr std::uint32_t kNteNoMemory = 0x8009000E;
inline constexpr std::uint32_t kNteBadPublicKey = 0x80090015;
inline constexpr std::uint32_t kNteKeysetNotDef = 0x80090019;
inline constexpr std::uint32_t kNteProvTypeNoMatch = 0x8009001B;
inline constexpr std::uint32_t kNteFail = 0x80090020;
// A wrong passphrase for a software key kept encrypted.
inline constexpr std::uint32_t kErrorInvalidPassword = 86;  // ERROR_INVALID_PASSWORD

class CryptProv;
class CryptKey;
struct CryptProvFree {
  void operator()(CryptProv* p) const noexcept;
};
struct CryptKeyFree {
  void operator()(CryptKey* k) const noexcept;
};
using ProvHandle = std::unique_ptr<CryptProv, CryptProvFree>;
using KeyHandle = std::unique_ptr<CryptKey, CryptKeyFree>;

// Whether |provider| names the software provider (its own name, the two
// traditional names, or empty).
bool IsSoftwareProviderName(std::u16string_view provider);

// Opens, creates or deletes a container. |container| empty: a verification
// context. |provider| empty: the software provider. On success *prov holds
// the context, except after kCryptDeleteKeyset, which leaves it empty.
// |prov_type| must be kProvRsaFull (kNteProvTypeNoMatch otherwise), whatever
// kind of key the container holds.
bool CryptAcquireContextW(ProvHandle* prov, std::u16string_view container,
                          std::u16string_view provider, std::uint32_t prov_type,
                          std::uint32_t flags);
void CryptReleaseContext(ProvHandle prov);

// Makes a new key pair for |key_spec| in the context's container, replacing
// the key of that spec if there was one.
bool GenerateRsaKeyPair(CryptProv& prov, std::uint32_t key_spec, unsigned bits);
bool GenerateSm2KeyPair(CryptProv& prov, std::uint32_t key_spec);

// Stores a private key given as PKCS#8 PrivateKeyInfo DER (RSA or SM2) under
// |key_spec|, replacing the key of that spec if there was one.
bool ImportPrivateKeyInfo(CryptProv& prov, std::uint32_t key_spec, ByteSpan pkcs8_der);

// The same, the key kept encrypted under |passphrase| (UTF-8, not empty):
// its use asks for the passphrase (software_keys.h).
bool ImportProtectedPrivateKeyInfo(CryptProv& prov, std::uint32_t key_spec, ByteSpan pkcs8_der,
                                   std::string_view passphrase);

// The SubjectPublicKeyInfo DER of the container's key of |key_spec|.
// |encoding_type| must include X509_ASN_ENCODING (1).
bool CryptExportPublicKeyInfo(CryptProv& prov, std::uint32_t key_spec, std::uint32_t encoding_type,
                              Bytes* spki_der);

// Imports a public key from SubjectPublicKeyInfo DER into the context, for
// CryptVerifySignatureW. RSA and SM2 (id-ecPublicKey on the SM2 curve) keys.
bool CryptImportPublicKeyInfo(CryptProv& prov, std::uint32_t encoding_type, ByteSpan spki_der,
                              KeyHandle* key);
void CryptDestroyKey(KeyHandle key);

// Removes the container's key of |key_spec| (true also when it had none).
bool RemoveContainerKey(CryptProv& prov, std::uint32_t key_spec);

// Whether the container of an open context holds a key of |key_spec|.
bool HasContainerKey(CryptProv& prov, std::uint32_t key_spec);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_KEYS_KEY_PROVIDER_H_
