// RawSign and RawVerify: a bare RSA signature of a byte string (hash, then
// the hash signed with the certificate's private key), with no PKCS#7
// structure, carried as line-wrapped Base64 text of the signature value most
// significant byte first, as PKCS#1 writes it. The key providers take and
// give the value least significant byte first; the byte order is reversed on
// the way out and on the way in.
//
// RawSign selects the signer in "MY" as SignMessage does
// (signer_selection.h; |key_spec| admits only signature keys) and signs with
// the key its key-provider property names. RawVerify selects the signer among
// "CA", "ROOT" and "AddressBOOK" as an envelope selects its recipient
// (recipient_selection.h), checks its chain with every check (kMaskAll), and
// checks the signature with the certificate's public key. The hash algorithm
// is the one |digest_oid| names (CertOIDToAlgId). On success |signer_info|,
// when given, holds the signer's five field texts.
//
// Statuses:
//   kErrEmptyInput           no output (RawSign); an empty signature text
//                            or empty data (RawVerify)
//   kErrStoreOpen            a store cannot be opened
//   kErrCertNotFound         no certificate selected
//   kErrNoProperty           the key-provider property cannot be read
//   kErrKeyDeviceNotFound    the key's container, or the verifying
//                            provider, cannot be opened
//   kErrBase64Decode, kErrBase64Encode, kErrNoMemory
//   chain statuses           VerifyCertificateChain's, unchanged (RawVerify)
//   kErrPublicKeyImport      the certificate's public key cannot be imported
//   kErrHashCreate           no hash object: an OID with no algorithm, or a
//                            signer certificate without key-provider property
//   kErrHashData, kErrHashSign
//   kErrSignatureCheck       the signature does not belong to the data
// *platform_error is written, with the failing call's last error, for
// kErrPublicKeyImport to kErrSignatureCheck only.
//
//   Bytes text;
//   int status = RawSign(data, server_mode, dn, separator, &text, &info, "1.3.14.3.2.26",
//                        /*key_spec=*/false, texts, &code);
//   status = RawVerify(text, server_mode, data, dn, separator, &info, "1.3.14.3.2.26", texts,
//                      &code);
#ifndef QUILLMARK_CRYPTO_RAW_SIGNATURE_H_
#define QUILLMARK_CRYPTO_RAW_SIGNATURE_H_

#include <cstdint>
#include <string_view>

#include "certs/cert_info.h"
#include "certs/choose_cert_dlg.h"
#include "common/bytes.h"

namespace quillmark::crypto {

// Signs |content| (which may be empty) with the signer selected by |dn|
// (empty: none, the user chooses). *text receives the Base64 text of the
// signature on success and is untouched by a failure.
int RawSign(ByteSpan content, bool server_mode, std::u16string_view dn,
            std::u16string_view separator, Bytes* text, certs::CertInfoSet* signer_info,
            std::string_view digest_oid, bool key_spec, const certs::ChooserTexts& texts,
            std::uint32_t* platform_error);

// Checks the Base64 signature |signature_text| over |plain| with the
// certificate selected by |dn| among the other people's stores. kOk when the
// signature is valid.
int RawVerify(ByteSpan signature_text, bool server_mode, ByteSpan plain, std::u16string_view dn,
              std::u16string_view separator, certs::CertInfoSet* signer_info,
              std::string_view digest_oid, const certs::ChooserTexts& texts,
              std::uint32_t* platform_error);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_RAW_SIGNATURE_H_
