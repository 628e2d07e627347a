// The two field texts of a certificate that are plain formatting: validity
// times and serial numbers, as the control shows them to the page.
#ifndef QUILLMARK_PLATFORM_CERT_TEXT_H_
#define QUILLMARK_PLATFORM_CERT_TEXT_H_

#include <string>

#include "common/bytes.h"
#include "platform/cert_context.h"

namespace quillmark::platform {

// "YYYY-MM-DD hh:mm:ssGMT" in UTC, e.g. "2018-02-05 08:30:00GMT" (22
// characters for four-digit years).
std::u16string FormatCertTimeText(const CertTime& time);

// Serial number bytes given least significant first (CertContext::serial())
// written most significant first as two upper-case hex digits each, with one
// space after every four digits and none at the end: bytes 01 23 45 67 89
// (most significant first) give "0123 4567 89". Every byte is written,
// however long the serial number is.
std::u16string FormatSerialText(ByteSpan serial_lsb_first);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_CERT_TEXT_H_
