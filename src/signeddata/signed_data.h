// The self-built PKCS#7 SignedData package: one signer, its certificate
// embedded, no attributes and no CRLs, the signature computed over the
// content bytes themselves.
//
//   ContentInfo { signedData, [0] SignedData {
//     1, SET { {digestAlg, NULL} }, { data [, [0] OCTET STRING content] },
//     [0] certificate, SET { SignerInfo {
//       1, { issuer Name, serial }, {digestAlg, NULL}, {signatureAlg, NULL},
//       OCTET STRING signature } } } }
//
// BuildRsaSignedData writes rsaEncryption with SHA-1 or MD5 and the RSA
// signature most significant byte first; BuildEcSignedData writes
// ecdsa-with-SHA1 (SHA-1 only) and the DER ECDSA signature; BuildSm2SignedData writes SM2 with
// SM3 and the signature as SEQUENCE { INTEGER r, INTEGER s }. The parser
// takes RSA packages only (an SM2 package is not signedData to it).
//
// Statuses (common/status.h):
//   builders  kErrDerEncode       a template step failed, or an SM2 signature
//                                 that is not 64 bytes
//             kErrBadAlgorithm    a digest OID the builder does not take
//             kErrMemoryCopy      the package cannot be copied out
//   parser    kErrBerDecode       not the package's shape, bytes after the
//                                 package, or a length running past the input
//                                 (refused before anything is copied for it)
//             kErrNotSignedData   outer type not signedData, content type not
//                                 data, signature algorithm not rsaEncryption,
//                                 or a digest OID without 6 arcs
//             kErrBadAlgorithm    a 6-arc digest OID other than MD5 or SHA-1
//             kErrInvalidSignature  content present where none was asked for
//             kErrCertContext     the embedded certificate does not parse
//             kErrNoMemory
// On failure the outputs are left empty.
//
//   Bytes package;
//   int status = BuildRsaSignedData(/*detached=*/false, content, *cert, "1.3.14.3.2.26",
//                                   signature, &package);
//   ParsedSignedData parsed;
//   status = ParseRsaSignedData(package, /*want_content=*/true, &parsed);
#ifndef QUILLMARK_SIGNEDDATA_SIGNED_DATA_H_
#define QUILLMARK_SIGNEDDATA_SIGNED_DATA_H_

#include <string>
#include <string_view>

#include "common/bytes.h"
#include "platform/store/cert_context.h"

namespace quillmark::signeddata {

inline constexpr std::string_view kSha1Oid = "1.3.14.3.2.26";
inline constexpr std::string_view kMd5Oid = "1.2.840.113549.2.5";
inline constexpr std::string_view kSm3Oid = "1.2.156.10197.1.401";

// |digest_oid| must be kSha1Oid or kMd5Oid; |signature| is the RSA signature
// most significant byte first. |detached| leaves the content out.
int BuildRsaSignedData(bool detached, ByteSpan content, const platform::CertContext& cert,
                       std::string_view digest_oid, ByteSpan signature, Bytes* package);

// |digest_oid| must be kSha1Oid; |signature| is the DER ECDSA-Sig-Value.
int BuildEcSignedData(bool detached, ByteSpan content, const platform::CertContext& cert,
                      std::string_view digest_oid, ByteSpan signature, Bytes* package);

// |digest_oid| must be kSm3Oid; |signature| is r then s, 32 bytes each, most
// significant byte first (any other length is refused with kErrDerEncode).
// Each becomes an INTEGER in its shortest positive form: 00 in front when the
// top bit is set, zero bytes in front dropped.
int BuildSm2SignedData(bool detached, ByteSpan content, const platform::CertContext& cert,
                       std::string_view digest_oid, ByteSpan signature, Bytes* package);

struct ParsedSignedData {
  Bytes content;                         // empty when the package carries none
  platform::CertContextPtr certificate;  // the first embedded certificate
  std::string digest_oid;                // kMd5Oid or kSha1Oid
  Bytes signature;                       // the encryptedDigest octets
};

// Takes |package| apart. With |want_content| the embedded content (possibly
// none) is returned; without it, a package that carries content is refused
// with kErrInvalidSignature (a detached verification given an attached
// package). The signer is identified by the embedded certificate alone.
int ParseRsaSignedData(ByteSpan package, bool want_content, ParsedSignedData* out);

}  // namespace quillmark::signeddata

#endif  // QUILLMARK_SIGNEDDATA_SIGNED_DATA_H_
