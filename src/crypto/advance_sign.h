// AdvanceSign: a byte string signed into the self-built SignedData package
// (signed_data.h) with a certificate of RSA or SM2 kind, handed back as
// line-wrapped Base64 text. Only the hashing and signing of the content are
// left to the certificate's key provider.
//
// The signer is selected in "MY", and with a sign mode of kOnlySm2 or more
// also in the SM2 store the query names, by the SM2 forms of the selection
// protocol (certs/selection.h): the query's sign mode is the preference
// between certificates signed with SM2 and others; a DN in server mode is the
// first subject match; the key rule applies as the query says.
//
// A certificate signed with SM2 (IsSm2Certificate) signs through its private
// key with the SM3-over-Z||M hash and gives an SM2 package naming SM3; any
// other signs with the hash of the options' digest OID (SHA-1 or MD5 for a
// package the builder takes) and gives an RSA package naming that digest.
// The signature covers the data bytes exactly; attached packages carry the
// same bytes. Packages at or above the compression threshold become a
// compression frame before encoding, attached or detached. On success *text
// holds the Base64 text and |signer_info|, when given, the signer's five
// field texts; both are untouched by a failure.
//
// Statuses, in the order of the steps:
//   kErrEmptyInput           no output given
//   kErrStoreOpen            "MY" or the SM2 store cannot be opened
//   kErrNoSm2Store           a sign mode of 2 or more and no SM2 store named
//                            (before any certificate is looked at)
//   kErrCertNotFound         no signer selected
//   kErrCertTypeQuery        the signer's kind cannot be told
//   signing                  RSA: kErrNoPrivateKeyProperty, kErrNoProperty,
//                            kErrKeyDeviceNotFound; SM2: kErrKeyDeviceNotFound;
//                            both: kErrHashCreate, kErrHashData, kErrHashSign
//                            (also an SM2 signature not 64 bytes long),
//                            kErrKeyDeviceCancelled, kErrKeyDeviceTimeout
//   building                 kErrBadAlgorithm, kErrDerEncode, kErrMemoryCopy
//   kErrBase64Encode, kErrNoMemory
// Only the steps that open the key container (kErrKeyDeviceNotFound) and sign
// the hash (kErrHashSign and the key-device statuses) carry a platform code,
// the failing call's last error.
//
//   Bytes text;
//   Status status = AdvanceSign(data, {.dn = u"CN=Li Si", .sign_mode = 2, .sm2_store = u"SM2"},
//                               {.detached = false}, texts, &text, &info);
#ifndef QUILLMARK_CRYPTO_ADVANCE_SIGN_H_
#define QUILLMARK_CRYPTO_ADVANCE_SIGN_H_

#include <cstdint>
#include <string_view>

#include "certs/cert_info.h"
#include "certs/choose_cert_dlg.h"
#include "certs/signer_query.h"
#include "common/bytes.h"
#include "common/status.h"
#include "crypto/sign_options.h"
#include "platform/store/cert_context.h"

namespace quillmark::crypto {

// IsSm2Certificate's answers.
inline constexpr int kRsaCertificate = 1;
inline constexpr int kSm2Certificate = 2;

// The hash algorithm identifier SM2 certificates sign with: SM3 over Z||M.
inline constexpr std::uint32_t kSm2HashAlgId = 0x800F;

// The query's sign mode is 1 to 4 (kOnlyNotSm2 ... kPreferSm2); the SM2
// forms apply whatever the query says about them.
Status AdvanceSign(ByteSpan content, const certs::SignerQuery& signer, const SignOptions& options,
                   const certs::ChooserTexts& texts, Bytes* text, certs::CertInfoSet* signer_info);

// kSm2Certificate when |cert| was signed with SM2 (certs::IsSm2Signed),
// kRsaCertificate otherwise, kErrEmptyInput for no certificate.
int IsSm2Certificate(const platform::CertContext* cert);

// The two signing steps below let std::bad_alloc pass to their caller.

// The RSA signature of |content| with the hash of |digest_oid|, by the key
// that |cert|'s key-provider property names, most significant byte first.
Status RsaSignContent(const platform::CertContext& cert, std::string_view digest_oid,
                      ByteSpan content, Bytes* signature);

// The SM2 signature of |content| with the hash |hash_algid| (kSm2HashAlgId),
// by |cert|'s private key: 64 bytes, r then s, each most significant byte
// first. A provider signature of another length is refused (kErrHashSign).
Status Sm2SignContent(const platform::CertContext& cert, std::uint32_t hash_algid, ByteSpan content,
                      Bytes* signature);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_ADVANCE_SIGN_H_
