// SignMessage: a byte string signed as PKCS#7 SignedData with a certificate
// of the current user's "MY" store, handed back as line-wrapped Base64 text.
//
// The signer is selected in "MY" alone (certs/selection.h), so only
// certificates with a private key are eligible (the query's key rule may ask
// for signature keys): by DN (no DN: the chooser; in server mode a DN is
// resolved without a dialog), or by serial list and issuer DN, retried with
// the issuer DN reversed.
//
// The signature carries the signer's certificate, no authenticated
// attributes, and the digest algorithm the options name, as given (an OID
// the platform does not know fails in the signing call). Attached signatures
// hold the content and are compressed into a compression frame when their
// DER reaches the compression threshold; detached ones hold no content and
// are never compressed. On success *text holds the Base64 text and
// |signer_info|, when given, the signer's five field texts; both are
// untouched by a failure.
//
// Statuses:
//   kErrEmptyInput           no output given (nothing is opened)
//   kErrStoreOpen            "MY" cannot be opened
//   kErrCertNotFound         no signer: nothing matched, the chooser was
//                            dismissed, or no serial number matched
//   kErrNoMemory, kErrBase64Encode
//   kErrPrivateKeyNotFound, kErrMessageNotRecognised, kErrInvalidSignature,
//   kErrBadAlgorithm, kErrSignFailed
//                            the signing call failed (message_errors.h);
//                            only these carry a platform code, the call's
//                            last error
//
//   Bytes text;
//   Status status = SignMessage(data, {.dn = u"CN=Li Si"}, {.detached = true}, texts, &text,
//                               &info);
#ifndef QUILLMARK_CRYPTO_SIGN_MESSAGE_H_
#define QUILLMARK_CRYPTO_SIGN_MESSAGE_H_

#include "certs/cert_info.h"
#include "certs/choose_cert_dlg.h"
#include "certs/signer_query.h"
#include "common/bytes.h"
#include "common/status.h"
#include "crypto/sign_options.h"

namespace quillmark::crypto {

Status SignMessage(ByteSpan content, const certs::SignerQuery& signer, const SignOptions& options,
                   const certs::ChooserTexts& texts, Bytes* text, certs::CertInfoSet* signer_info);

// The same for content the caller gives up: it is released (left empty) as
// soon as the signature is made, so that it is gone before the compression
// and the text need their memory. A failure up to and including the signing
// call leaves it as it was; one after it (the text) finds it released.
Status SignMessage(Bytes&& content, const certs::SignerQuery& signer, const SignOptions& options,
                   const certs::ChooserTexts& texts, Bytes* text, certs::CertInfoSet* signer_info);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_SIGN_MESSAGE_H_
