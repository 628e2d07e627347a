// SignMessage and SignMessageBySerial: a byte string signed as PKCS#7
// SignedData with a certificate of the current user's "MY" store, handed
// back as line-wrapped Base64 text.
//
// The signature carries the signer's certificate, no authenticated
// attributes, and the digest algorithm named by |digest_oid| as given (an OID
// the platform does not know fails in the signing call). Attached signatures
// hold the content and are compressed into a compression frame when their
// DER reaches |max_comp_size| bytes; detached ones hold no content and are
// never compressed. On success |signer_info|, when given, holds the signer's
// five field texts.
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
//                            only then is *platform_error written, with the
//                            call's last error
//
//   Bytes text;
//   std::uint32_t code = 0;
//   int status = SignMessage(data, server_mode, /*detached=*/false, dn, separator, &text,
//                            &info, max_comp_size, digest_oid, /*key_spec=*/false, texts, &code);
#ifndef QUILLMARK_CRYPTO_SIGN_MESSAGE_H_
#define QUILLMARK_CRYPTO_SIGN_MESSAGE_H_

#include <cstdint>
#include <string_view>

#include "certs/cert_info.h"
#include "certs/choose_cert_dlg.h"
#include "common/bytes.h"

namespace quillmark::crypto {

// The signer is selected in "MY" as signer_selection.h describes: |dn| empty
// (no DN) lets the user choose; in |server_mode| a DN is resolved without a
// dialog; |key_spec| admits only signature keys.
int SignMessage(ByteSpan content, bool server_mode, bool detached, std::u16string_view dn,
                std::u16string_view separator, Bytes* text, certs::CertInfoSet* signer_info,
                int max_comp_size, std::string_view digest_oid, bool key_spec,
                const certs::ChooserTexts& texts, std::uint32_t* platform_error);

// The signer is the certificate in "MY" with a serial number of the list
// |serial| ("0A1B 00FF") and the issuer |issuer_dn|, tried once more with the
// issuer DN reversed; an empty |serial| lets the user choose among every
// eligible certificate.
int SignMessageBySerial(ByteSpan content, bool detached, std::u16string_view serial,
                        std::u16string_view issuer_dn, Bytes* text, certs::CertInfoSet* signer_info,
                        int max_comp_size, std::string_view digest_oid, bool key_spec,
                        const certs::ChooserTexts& texts, std::uint32_t* platform_error);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_SIGN_MESSAGE_H_
