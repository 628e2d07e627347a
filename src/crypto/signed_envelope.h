// Signed envelopes: a byte string signed with a certificate of the current
// user, then the DER SignedData enveloped whole for one recipient (a nested
// message), handed over as line-wrapped Base64 text; and the reverse, which
// also checks the signer against the user's CA and ROOT stores.
//
// SignAndEncryptEnvelope opens "CA", "ROOT", "AddressBOOK" and "MY" in this
// order, selects the signer in "MY" by the signer's query (as SignMessage
// does) and then the recipient by the recipient's (user_stores.h). The
// signature carries the signer's certificate and no authenticated
// attributes; the digest and the content cipher are passed on as given.
// Nothing is compressed.
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
//                            only these carry a platform code
//   kErrSignerNoSubject      the inner message names no signer certificate
//   kErrIssuerNotFound, kErrCertSignatureFaulty, kErrCertExpired,
//   kErrCertRevoked, kErrChainFailed, ...
//                            the chain check's status, unchanged
//
//   SignedEnvelope made;
//   Status status = SignAndEncryptEnvelope(data, {.dn = u"CN=Li Si"}, {.dn = u"CN=张三"},
//                                          {.digest_oid = sha1, .symmetric_oid = rc4}, texts,
//                                          &made);
//   ...
//   status = DecryptAndVerifyEnvelope(made.text, &content, &signer, &recipient);
#ifndef QUILLMARK_CRYPTO_SIGNED_ENVELOPE_H_
#define QUILLMARK_CRYPTO_SIGNED_ENVELOPE_H_

#include <string_view>

#include "certs/cert_info.h"
#include "certs/choose_cert_dlg.h"
#include "certs/signer_query.h"
#include "common/bytes.h"
#include "common/status.h"

namespace quillmark::crypto {

struct EnvelopeAlgorithms {
  std::string_view digest_oid = {};
  std::string_view symmetric_oid = {};
};

// What SignAndEncryptEnvelope makes: the Base64 text and the signer's and
// the recipient's field texts.
struct SignedEnvelope {
  Bytes text;
  certs::CertInfoSet signer;
  certs::CertInfoSet recipient;
};

// A query without DN means none: the user chooses. *made is replaced only
// on success.
Status SignAndEncryptEnvelope(ByteSpan content, const certs::SignerQuery& signer,
                              const certs::SignerQuery& recipient,
                              const EnvelopeAlgorithms& algorithms,
                              const certs::ChooserTexts& texts, SignedEnvelope* made);

// On success *content holds the signed content and the two sets, when given,
// the signer's field texts and those of the certificate whose key opened the
// envelope; *content is untouched by a failure.
Status DecryptAndVerifyEnvelope(ByteSpan text, Bytes* content, certs::CertInfoSet* signer_info,
                                certs::CertInfoSet* recipient_info);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_SIGNED_ENVELOPE_H_
