// Digital envelopes: a byte string encrypted for one recipient as PKCS#7
// EnvelopedData and handed over as line-wrapped Base64 text, and the reverse
// with a private key of the current user.
//
// EncryptEnvelope takes the recipient from the other people's stores
// (user_stores.h: the query's DN, separator and server mode);
// EncryptFileForCertificate takes it from a Base64 certificate the caller
// supplies; DecryptEnvelope finds the key in "MY". The content cipher is the
// one |symmetric_oid| names, passed on as given (platform/message.h lists the
// ciphers; RC4 is the control's default). Envelopes are never compressed.
//
// Statuses:
//   kErrEmptyInput           no output given (nothing is opened)
//   kErrStoreOpen            a store cannot be opened
//   kErrCertNotFound         no recipient: nothing matched or the chooser
//                            was dismissed
//   kErrBase64Decode, kErrBase64Encode, kErrNoMemory
//   kErrCertContext          the certificate text decodes to bytes that are
//                            not a certificate (EncryptFileForCertificate)
//   kErrPrivateKeyNotFound, kErrMessageNotRecognised, kErrInvalidSignature,
//   kErrBadAlgorithm, kErrEncryptFailed / kErrDecryptFailed
//                            the message call failed (message_errors.h);
//                            only these carry a platform code, the call's
//                            last error
//
//   Bytes text;
//   certs::CertInfoSet info;
//   Status status = EncryptEnvelope(data, {.dn = u"CN=张三"}, platform::kOidRc4, texts, &text,
//                                   &info);
//   ...
//   Bytes content;
//   status = DecryptEnvelope(text, &content, &info);
#ifndef QUILLMARK_CRYPTO_ENVELOPE_H_
#define QUILLMARK_CRYPTO_ENVELOPE_H_

#include <string_view>

#include "certs/cert_info.h"
#include "certs/choose_cert_dlg.h"
#include "certs/signer_query.h"
#include "common/bytes.h"
#include "common/status.h"

namespace quillmark::crypto {

// Envelopes |content| for the recipient |recipient| selects (no DN: the user
// chooses). On success *text holds the Base64 text and |recipient_info|,
// when given, the recipient's five field texts.
Status EncryptEnvelope(ByteSpan content, const certs::SignerQuery& recipient,
                       std::string_view symmetric_oid, const certs::ChooserTexts& texts,
                       Bytes* text, certs::CertInfoSet* recipient_info);

// Opens the Base64 envelope |text| with the key of a recipient certificate in
// "MY". On success *content holds the content and |recipient_info|, when
// given, the field texts of the certificate whose key opened it; *content is
// untouched by a failure.
Status DecryptEnvelope(ByteSpan text, Bytes* content, certs::CertInfoSet* recipient_info);

// Envelopes |content| for the certificate whose DER |certificate_text| holds
// in Base64. No store is opened and no field texts are produced.
Status EncryptFileForCertificate(ByteSpan content, ByteSpan certificate_text,
                                 std::string_view symmetric_oid, Bytes* text);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_ENVELOPE_H_
