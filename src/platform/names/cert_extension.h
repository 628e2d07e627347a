// Certificate extensions as text: CryptFormatObject's one-line renderings.
// (CertFindExtension, which finds the extension to render, is declared in
// cert_context.h.)
//
// |struct_type| is the extension's dotted OID and |encoded| its value (the
// contents of extnValue). Every text is one line, parts separated by ", ":
//
//   2.5.29.15 key usage      the names of the bits set, then the value bytes
//                            in hex: "Digital Signature, Non-Repudiation, Key
//                            Encipherment (e0)". Names: Digital Signature,
//                            Non-Repudiation, Key Encipherment, Data
//                            Encipherment, Key Agreement, Certificate
//                            Signing, "Off-line CRL Signing, CRL Signing" for
//                            the CRL bit, Encipher Only, Decipher Only. With
//                            no bit set only "(00)" remains.
//   2.5.29.19 basic          "Subject Type=End Entity, Path Length
//             constraints    Constraint=None"; "Subject Type=CA"; the length
//                            as a decimal number when present.
//   2.5.29.37 extended key   "Client Authentication (1.3.6.1.5.5.7.3.2),
//             usage          Secure Email (1.3.6.1.5.5.7.3.4)"; an OID with
//                            no name here is "Unknown Key Usage (1.2.3.4)".
//   2.5.29.14 subject key    the identifier in spaced lower-case hex
//             identifier     ("8f 3a 01").
//   2.5.29.35 authority key  "KeyID=8f 3a 01", then ", Certificate Issuer="
//             identifier     and the names, ", Certificate SerialNumber=" and
//                            the serial's bytes in hex, as present.
//   2.5.29.17, 2.5.29.18     general names: "RFC822 Name=a@b.cn", "DNS
//   alternative names        Name=b.cn", "URL=http://b.cn/", "IP
//                            Address=10.0.0.1" (IPv6: eight groups of
//                            lower-case hex, "2001:db8:0:0:0:0:0:1"),
//                            "Directory Address=CN=x, O=y" (the name as
//                            CertNameToStrW writes it), "Registered
//                            ID=1.2.3", "Other Name:Principal Name=u@b.cn"
//                            for a user principal name and "Other
//                            Name:1.2.3=<hex of the value>" for others;
//                            X.400 and EDI names as "X400Address=<hex>" and
//                            "EDI Party Name=<hex>".
//   2.5.29.31 CRL            each point as "[1]CRL Distribution Point: "
//             distribution   followed by "Distribution Point Name: Full Name:
//             points         URL=http://b.cn/ca.crl" (or "Distribution Point
//                            Name: Name Relative To CRL Issuer: CN=x"),
//                            "Reason Flags=Key Compromise, CA Compromise
//                            (60)" and "CRL Issuer: <names>", as present.
//   2.5.29.32 certificate    each policy as "[1]Certificate Policy: Policy
//             policies       Identifier=1.2.3" ("All Issuance Policies" for
//                            anyPolicy), each of its qualifiers as "[1,1]Policy
//                            Qualifier Info: Policy Qualifier Id=CPS,
//                            Qualifier=http://b.cn/cps"; a user notice
//                            qualifier is "Policy Qualifier Id=User Notice,
//                            Qualifier=" followed by "Notice Reference:
//                            Organization=Org, Notice Number=1, 2" and
//                            "Notice Text=..." as present. Other qualifiers
//                            are their DER in hex.
//
// Any other OID, and a value of the OIDs above that does not decode as its
// type (or has bytes after it), is its value in spaced lower-case hex.
#ifndef QUILLMARK_PLATFORM_NAMES_CERT_EXTENSION_H_
#define QUILLMARK_PLATFORM_NAMES_CERT_EXTENSION_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "platform/names/cert_name.h"

namespace quillmark::platform {

// Format string types; only the one-line form (0) is offered.
inline constexpr std::uint32_t kCryptFormatStrSingleLine = 0;

// String form. |encoding| must be X509_ASN_ENCODING (with or without
// PKCS_7_ASN_ENCODING) and |format_str_type| 0, else false with
// kErrorInvalidParameter; |format_type| is not used.
bool CryptFormatObject(std::uint32_t encoding, std::uint32_t format_type,
                       std::uint32_t format_str_type, std::string_view struct_type,
                       ByteSpan encoded, std::u16string* out);

// Buffer form, sizes in bytes counting the terminating zero character.
// Without |out| the size is stored in |*out_bytes|. With |out|, |*out_bytes|
// is the buffer's size: the text and terminator are written when they fit,
// otherwise the call fails with kErrorMoreData; either way |*out_bytes| ends
// holding the size needed.
bool CryptFormatObject(std::uint32_t encoding, std::uint32_t format_type,
                       std::uint32_t format_str_type, std::string_view struct_type,
                       ByteSpan encoded, char16_t* out, std::uint32_t* out_bytes);

// Spaced lower-case hex of bytes ("8f 3a 01").
std::u16string HexSpacedLower(ByteSpan bytes);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_NAMES_CERT_EXTENSION_H_
