// Signed envelopes: a byte string signed with a certificate of the current
// user, then the DER SignedData enveloped whole for one recipient (a nested
// message), handed over as line-wrapped Base64 text; and the reverse, which
// also checks the signer against the user's CA and ROOT stores.
//
// SignAndEncryptEnvelope opens "CA", "ROOT", "AddressBOOK" and "MY" in this
// order, selects the signer in "MY" (signer_selection.h; |key_spec| admits
// only signature keys) and then the recipient (recipient_selection.h). The
// signature carries the signer's certificate and no authenticated
// attributes; the digest is |digest_oid| and the content cipher
// |symmetric_oid|, both passed on as given. Nothing is compressed.
//
// DecryptAndVerifyEnvelope opens the envelope with a key in "MY", verifies
// the first signer of the inner SignedData with the certificate the message
// carries, and runs every check of certs::VerifyCertificateChain on it.
//
// Statuses:
//   kErrEmptyInput           no output given (nothing is opened)
//   kErrStoreOpen            a store cannot be opened
//   kErrCertNotFound         no signer or no recipient
//   kErrBase64Decode, kErrBase64Encode, kErrNoMemory
//   kErrPrivateKeyNotFound, kErrMessageNotRecognised, kErrInvalidSignature,
//   kErrBadAlgorithm, kErrEncryptFailed / kErrDecryptFailed
//                            the message call failed (message_errors.h);
//                            only then is *platform_error written
//   kErrSignerNoSubject      the inner message names no signer certificate
//   kErrIssuerNotFound, kErrCertSignatureFaulty, kErrCertExpired,
//   kErrCertRevoked, kErrChainFailed, ...
//                            the chain check's status, unchanged
//
//   Bytes text;
//   int status = SignAndEncryptEnvelope(data, server_mode, signer_dn, recipient_dn, separator,
//                                       &text, &signer, &recipient, digest_oid, symmetric_oid,
//                                       /*key_spec=*/false, texts, &code);
//   ...
//   status = DecryptAndVerifyEnvelope(text, &content, &signer, &recipient, &code);
#ifndef QUILLMARK_CRYPTO_SIGNED_ENVELOPE_H_
#define QUILLMARK_CRYPTO_SIGNED_ENVELOPE_H_

#include <cstdint>
#include <string_view>

#include "certs/cert_info.h"
#include "certs/choose_cert_dlg.h"
#include "common/bytes.h"

namespace quillmark::crypto {

// An empty |signer_dn| or |recipient_dn| means none: the user chooses. On
// success *text holds the Base64 text and the two sets, when given, the
// signer's and the recipient's field texts.
int SignAndEncryptEnvelope(ByteSpan content, bool server_mode, std::u16string_view signer_dn,
                           std::u16string_view recipient_dn, std::u16string_view separator,
                           Bytes* text, certs::CertInfoSet* signer_info,
                           certs::CertInfoSet* recipient_info, std::string_view digest_oid,
                           std::string_view symmetric_oid, bool key_spec,
                           const certs::ChooserTexts& texts, std::uint32_t* platform_error);

// On success *content holds the signed content and the two sets, when given,
// the signer's field texts and those of the certificate whose key opened the
// envelope; *content is untouched by a failure.
int DecryptAndVerifyEnvelope(ByteSpan text, Bytes* content, certs::CertInfoSet* signer_info,
                             certs::CertInfoSet* recipient_info, std::uint32_t* platform_error);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_SIGNED_ENVELOPE_H_
