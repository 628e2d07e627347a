// AdvanceSign: a byte string signed into the self-built SignedData package
// (signed_data.h) with a certificate of RSA or SM2 kind, handed back as
// line-wrapped Base64 text. Only the hashing and signing of the content are
// left to the certificate's key provider.
//
// The signer is selected in "MY", and with a sign mode of 2 or more also in
// the SM2 store the page named, by the SM2 forms of the selection protocol
// (certs/selection.h) with the sign mode as preference between certificates
// signed with SM2 and others: no DN, the chooser; a DN in server mode, the
// first subject match; otherwise the DN members, retried with the DN
// reversed. |key_spec| admits only signature keys.
//
// A certificate signed with SM2 (IsSm2Certificate) signs through its private
// key with the SM3-over-Z||M hash and gives an SM2 package naming SM3; any
// other signs with the hash of |digest_oid| (SHA-1 or MD5 for a package the
// builder takes) and gives an RSA package naming that digest. The signature
// covers the data bytes exactly; attached packages carry the same bytes.
// Packages at or above |max_comp_size| bytes become a compression frame
// before encoding, attached or detached. On success |signer_info|, when
// given, holds the signer's five field texts.
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
// *platform_error is written only by the steps that open the key container
// (kErrKeyDeviceNotFound) and sign the hash (kErrHashSign and the key-device
// statuses), with the failing call's last error.
//
//   Bytes text;
//   std::uint32_t code = 0;
//   int status = AdvanceSign(data, server_mode, sign_mode, sm2_store, /*detached=*/false, dn,
//                            separator, &text, &info, max_comp_size, digest_oid,
//                            /*key_spec=*/false, texts, &code);
#ifndef QUILLMARK_CRYPTO_ADVANCE_SIGN_H_
#define QUILLMARK_CRYPTO_ADVANCE_SIGN_H_

#include <cstdint>
#include <optional>
#include <string_view>

#include "certs/cert_info.h"
#include "certs/choose_cert_dlg.h"
#include "common/bytes.h"
#include "platform/store/cert_context.h"

namespace quillmark::crypto {

// IsSm2Certificate's answers.
inline constexpr int kRsaCertificate = 1;
inline constexpr int kSm2Certificate = 2;

// The hash algorithm identifier SM2 certificates sign with: SM3 over Z||M.
inline constexpr std::uint32_t kSm2HashAlgId = 0x800F;

// |sign_mode| 1 to 4 (certs/selection.h: kOnlyNotSm2 ... kPreferSm2);
// |sm2_store| is the SM2 certificate store's name, if the page set one; an
// empty |dn| means none.
int AdvanceSign(ByteSpan content, bool server_mode, int sign_mode,
                std::optional<std::u16string_view> sm2_store, bool detached, std::u16string_view dn,
                std::u16string_view separator, Bytes* text, certs::CertInfoSet* signer_info,
                int max_comp_size, std::string_view digest_oid, bool key_spec,
                const certs::ChooserTexts& texts, std::uint32_t* platform_error);

// kSm2Certificate when |cert| was signed with SM2 (its signature algorithm
// OID starts with "1.2.156.10197.1.501"), kRsaCertificate otherwise,
// kErrEmptyInput for no certificate.
int IsSm2Certificate(const platform::CertContext* cert);

// The RSA signature of |content| with the hash of |digest_oid|, by the key
// that |cert|'s key-provider property names, most significant byte first.
int RsaSignContent(const platform::CertContext& cert, std::string_view digest_oid, ByteSpan content,
                   Bytes* signature, std::uint32_t* platform_error);

// The SM2 signature of |content| with the hash |hash_algid| (kSm2HashAlgId),
// by |cert|'s private key: 64 bytes, r then s, each most significant byte
// first. A provider signature of another length is refused (kErrHashSign).
int Sm2SignContent(const platform::CertContext& cert, std::uint32_t hash_algid, ByteSpan content,
                   Bytes* signature, std::uint32_t* platform_error);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_ADVANCE_SIGN_H_
