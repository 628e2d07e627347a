// The key-provider steps that the operations signing or checking bare
// content share (RawSign/RawVerify and the Advance flows): reading a
// certificate's key-provider property, opening the container it names,
// hashing data, signing the hash, and opening the provider that checks
// signatures with imported public keys.
//
// Each step returns kOk or the status of its own failure; the step that
// failed has left the platform's last error in place (platform/last_error.h).
// The hashing and signing steps also carry that error as the status's
// platform code; a caller that reports no code for them drops it.
//
//   platform::KeyProvInfo info;
//   Status status = ReadKeyProvInfo(*cert, &info);     // kErrNoPrivateKeyProperty, kErrNoProperty
//   platform::ProvHandle prov;
//   status = OpenKeyContainer(info, &prov);            // kErrKeyDeviceNotFound
//   platform::HashHandle hash;
//   status = HashData(prov.get(), platform::CertOIDToAlgId(oid), data, &hash);
//   Bytes signature;
//   status = SignHash(*hash, info.key_spec, &signature);  // least significant byte first
#ifndef QUILLMARK_CRYPTO_PROVIDER_STEPS_H_
#define QUILLMARK_CRYPTO_PROVIDER_STEPS_H_

#include <cstdint>

#include "common/bytes.h"
#include "common/status.h"
#include "platform/keys/hash.h"
#include "platform/keys/key_provider.h"
#include "platform/store/cert_context.h"

namespace quillmark::crypto {

// |number| with the thread's last error as its platform code.
Status WithLastError(int number);

// The key-provider property of |cert|, found by walking its properties.
// kErrNoPrivateKeyProperty when the certificate carries none; kErrNoProperty
// when it is there but cannot be read.
int ReadKeyProvInfo(const platform::CertContext& cert, platform::KeyProvInfo* info);

// Opens the container of the provider that |info| names, always as
// kProvRsaFull and with flags 0, whatever type the property records.
// kErrKeyDeviceNotFound when it cannot be opened.
int OpenKeyContainer(const platform::KeyProvInfo& info, platform::ProvHandle* prov);

// A hash object of |algid| over |data| in |prov|. A null |prov| (no provider
// could be opened) fails like a provider without keys. kErrHashCreate (also
// for an |algid| of 0) or kErrHashData.
Status HashData(platform::CryptProv* prov, std::uint32_t algid, ByteSpan data,
                platform::HashHandle* hash);

// Signs the finished |hash| with the container's key of |key_spec|; the
// signature is in the provider's byte order. kErrHashSign.
Status SignHash(platform::CryptHash& hash, std::uint32_t key_spec, Bytes* signature);

// The status of a failed signing call for the platform error it left: a key
// device that reports the user's cancel (kErrKeyDeviceCancelled) or a
// time-out (kErrKeyDeviceTimeout), else kErrHashSign.
int SignFailureStatus(std::uint32_t platform_error);

// The provider that checks signatures: the default container of the
// enhanced provider, created when it cannot be opened, and made afresh when
// creating finds one already there. A creation that fails for another reason
// leaves *prov empty and is not an error here (importing a key then fails);
// kErrKeyDeviceNotFound when making it afresh fails.
int OpenVerifyingProvider(platform::ProvHandle* prov);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_PROVIDER_STEPS_H_
