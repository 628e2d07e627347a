// AdvanceVerifyAttached and AdvanceVerifyDetached: a received self-built
// SignedData package (signed_data.h), as line-wrapped Base64 text, checked
// against its content (attached) or the caller's data (detached) with the
// public key of the certificate it carries, and that certificate's chain
// checked against the user's CA and ROOT stores with every check
// (certs::kMaskAll).
//
// The text is decoded and, when it holds a compression frame, expanded. The
// package names its own digest algorithm (SHA-1 or MD5); only RSA packages
// are taken, so an SM2 package is refused as not signedData. On success
// |signer_info|, when given, holds the signer's five field texts, and the
// attached form hands back the content.
//
// Statuses, in the order of the steps:
//   kErrEmptyInput           no text, or no content output (attached)
//   kErrBase64Decode, kErrNoMemory
//   limits                   kErrMessageNotRecognised with kCryptEOssError
//                            (the one refusal with another platform code):
//                            a package with more certificates, digest
//                            algorithms, CRLs or signer infos than any PKCS#7
//                            message may carry (msg::kMaxMessageItems), or a
//                            message inside it, refused before it is parsed
//   parsing                  kErrBerDecode, kErrNotSignedData,
//                            kErrBadAlgorithm, kErrCertContext, and
//                            kErrInvalidSignature for an attached package
//                            given to the detached form
//   checking                 kErrKeyDeviceNotFound, kErrPublicKeyImport,
//                            kErrHashCreate, kErrHashData, kErrSignatureCheck
//   chain statuses           VerifyCertificateChain's, unchanged
// On any other failure the platform code is the error number itself.
//
//   Bytes content;
//   Status status = AdvanceVerifyAttached(text, &content, &info);
//   status = AdvanceVerifyDetached(text, data, &info);
#ifndef QUILLMARK_CRYPTO_ADVANCE_VERIFY_H_
#define QUILLMARK_CRYPTO_ADVANCE_VERIFY_H_

#include <cstdint>
#include <string_view>

#include "certs/cert_info.h"
#include "common/bytes.h"
#include "common/status.h"
#include "platform/store/cert_context.h"

namespace quillmark::crypto {

// *content receives the signed content, replaced only on success.
Status AdvanceVerifyAttached(ByteSpan text, Bytes* content, certs::CertInfoSet* signer_info);

// |data| is what the detached package's signature must cover.
Status AdvanceVerifyDetached(ByteSpan text, ByteSpan data, certs::CertInfoSet* signer_info);

// Checks the RSA |signature| (most significant byte first) of |data| with
// the hash of |digest_oid| against |cert|'s public key. kOk when it belongs;
// std::bad_alloc passes to the caller.
int RsaVerifyContent(ByteSpan data, const platform::CertContext& cert, std::string_view digest_oid,
                     ByteSpan signature);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_ADVANCE_VERIFY_H_
