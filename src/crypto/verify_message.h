// VerifyMessage and VerifyAfterwards: a Base64 PKCS#7 SignedData checked
// against its content and its first signer, whose certificate the message
// carries, and that signer checked against the user's CA and ROOT stores.
//
// The text is decoded and, when it holds a compression frame, expanded. The
// signer's chain is checked with certs::VerifyCertificateChain: VerifyMessage
// runs every check (kMaskAll); VerifyAfterwards, for signatures checked long
// after they were made, leaves out the validity period and revocation
// (kMaskAfterwards), so a signer whose certificate has expired since still
// passes. On success |signer_info|, when given, holds the signer's five
// field texts.
//
// Statuses:
//   kErrEmptyInput           no content argument in attached mode; empty
//                            content in detached mode
//   kErrBase64Decode, kErrNoMemory
//   kErrNoDetachedSource     detached mode without content
//   kErrPrivateKeyNotFound, kErrMessageNotRecognised, kErrInvalidSignature,
//   kErrBadAlgorithm, kErrVerifyFailed
//                            the verify call failed (message_errors.h); only
//                            these carry a platform code
//   kErrSignerNoSubject      the message names no signer certificate
//   kErrIssuerNotFound, kErrCertSignatureFaulty, kErrCertExpired,
//   kErrCertRevoked, kErrChainFailed, ...
//                            the chain check's status, unchanged
//
//   Bytes content;
//   Status status = VerifyMessage(text, &content, &info, /*attached=*/true);
#ifndef QUILLMARK_CRYPTO_VERIFY_MESSAGE_H_
#define QUILLMARK_CRYPTO_VERIFY_MESSAGE_H_

#include "certs/cert_info.h"
#include "common/bytes.h"
#include "common/status.h"

namespace quillmark::crypto {

// |attached|: *content receives the signed content (replaced only on
// success). Detached: *content is the data the signature must match.
Status VerifyMessage(ByteSpan text, Bytes* content, certs::CertInfoSet* signer_info, bool attached);

// An attached signature with the reduced chain check; *content receives the
// signed content on success.
Status VerifyAfterwards(ByteSpan text, Bytes* content, certs::CertInfoSet* signer_info);

// The same for a text the caller gives up: it is released (left empty) once
// decoded, before the message is opened, whatever the outcome.
Status VerifyMessage(Bytes&& text, Bytes* content, certs::CertInfoSet* signer_info, bool attached);
Status VerifyAfterwards(Bytes&& text, Bytes* content, certs::CertInfoSet* signer_info);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_VERIFY_MESSAGE_H_
