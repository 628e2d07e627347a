// Name rendering: CertNameToStrW over the DER of a Name, and the simple
// display name CertGetNameStringW picks from one.
//
// Failing calls set the thread's last error (last_error.h).
#ifndef QUILLMARK_PLATFORM_NAMES_CERT_NAME_H_
#define QUILLMARK_PLATFORM_NAMES_CERT_NAME_H_

#include <cstdint>
#include <string>

#include "common/bytes.h"

namespace quillmark::platform {

// Encoding types. Every call accepts X509_ASN_ENCODING with or without
// PKCS_7_ASN_ENCODING; anything else fails with kErrorInvalidParameter.
inline constexpr std::uint32_t kX509AsnEncoding = 0x00000001;
inline constexpr std::uint32_t kPkcs7AsnEncoding = 0x00010000;
inline constexpr std::uint32_t kDefaultEncoding = kX509AsnEncoding | kPkcs7AsnEncoding;

// CertNameToStrW string types and flags.
inline constexpr std::uint32_t kCertSimpleNameStr = 1;  // values only
inline constexpr std::uint32_t kCertOidNameStr = 2;     // dotted OIDs as keys
inline constexpr std::uint32_t kCertX500NameStr = 3;    // CN=..., O=...
inline constexpr std::uint32_t kCertNameStrCrlfFlag = 0x08000000;

// Renders an encoded Name.
//
// kCertX500NameStr: RDNs in encoded order separated by ", " (by "\r\n" with
// kCertNameStrCrlfFlag), attributes of one RDN by " + ", each KEY=value with
// the usual short keys (CN, O, OU, E, ...) and "OID.<dotted>" for others.
// kCertOidNameStr writes every key as a dotted OID; kCertSimpleNameStr writes
// values only. Values of a string type are decoded to UTF-16; other values
// are "#" and the upper-case hex of their DER. A value is quoted when it is
// empty, has leading or trailing white space or holds one of , + = " \r \n
// < > # ; — inside quotes a '"' is doubled.
//
// Buffer form, as the platform: returns the number of characters including
// the terminator; with |out| it writes at most |out_chars| characters (the
// text truncated and terminated when it does not fit). A Name that cannot be
// decoded gives 0 (kCryptEOssError).
std::uint32_t CertNameToStrW(std::uint32_t encoding, ByteSpan name_der, std::uint32_t str_type,
                             char16_t* out, std::uint32_t out_chars);
// String form: false when the Name cannot be decoded.
bool CertNameToStrW(std::uint32_t encoding, ByteSpan name_der, std::uint32_t str_type,
                    std::u16string* out);

// The simple display name of an encoded Name: the first CN, else the first
// OU, else the first O, else the first E, unquoted; empty when there is none
// or the Name cannot be decoded.
std::u16string SimpleDisplayName(ByteSpan name_der);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_NAMES_CERT_NAME_H_
