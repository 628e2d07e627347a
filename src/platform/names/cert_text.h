// The two field texts of a certificate that are plain formatting: validity
// times and serial numbers, as the control shows them to the page.
#ifndef QUILLMARK_PLATFORM_NAMES_CERT_TEXT_H_
#define QUILLMARK_PLATFORM_NAMES_CERT_TEXT_H_

#include <cstdint>
#include <string>

#include "common/bytes.h"

namespace quillmark::platform {

// A broken-down UTC time, as FileTimeToSystemTime would give it, plus the
// same instant in seconds since 1970-01-01T00:00:00Z.
struct CertTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  std::int64_t unix_seconds = 0;
};

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

#endif  // QUILLMARK_PLATFORM_NAMES_CERT_TEXT_H_
