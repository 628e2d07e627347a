// RawSign and RawVerify: a bare RSA signature of a byte string (hash, then
// the hash signed with the certificate's private key), with no PKCS#7
// structure, carried as line-wrapped Base64 text of the signature value most
// significant byte first, as PKCS#1 writes it. The key providers take and
// give the value least significant byte first; the byte order is reversed on
// the way out and on the way in.
//
// RawSign selects the signer in "MY" as SignMessage does (the query's key
// rule may ask for signature keys) and signs with the key its key-provider
// property names. RawVerify selects the signer among "CA", "ROOT" and
// "AddressBOOK" as an envelope selects its recipient (user_stores.h), checks its chain with every
// check (kMaskAll), and checks the signature with the certificate's public key. The hash algorithm
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
// Only kErrPublicKeyImport to kErrSignatureCheck carry a platform code, the
// failing call's last error.
//
//   Bytes text;
//   Status status = RawSign(data, {.dn = u"CN=Li Si"}, "1.3.14.3.2.26", texts, &text, &info);
//   status = RawVerify(text, data, {.dn = u"CN=Li Si"}, "1.3.14.3.2.26", texts, &info);
#ifndef QUILLMARK_CRYPTO_RAW_SIGNATURE_H_
#define QUILLMARK_CRYPTO_RAW_SIGNATURE_H_

#include <string_view>

#include "certs/cert_info.h"
#include "certs/choose_cert_dlg.h"
#include "certs/signer_query.h"
#include "common/bytes.h"
#include "common/status.h"

namespace quillmark::crypto {

// Signs |content| (which may be empty) with the signer |query| selects (no
// DN: the user chooses). *text receives the Base64 text of the signature on
// success and is untouched by a failure.
Status RawSign(ByteSpan content, const certs::SignerQuery& query, std::string_view digest_oid,
               const certs::ChooserTexts& texts, Bytes* text, certs::CertInfoSet* signer_info);

// Checks the Base64 signature |signature_text| over |plain| with the
// certificate |query| selects among the other people's stores. kOk when the
// signature is valid.
Status RawVerify(ByteSpan signature_text, ByteSpan plain, const certs::SignerQuery& query,
                 std::string_view digest_oid, const certs::ChooserTexts& texts,
                 certs::CertInfoSet* signer_info);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_RAW_SIGNATURE_H_
