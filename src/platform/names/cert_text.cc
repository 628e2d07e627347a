#include "platform/names/cert_text.h"

#include <cstdio>

#include "common/hex.h"

namespace quillmark::platform {

std::u16string FormatCertTimeText(const CertTime& t) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02dGMT", t.year, t.month, t.day,
                        t.hour, t.minute, t.second);
  std::u16string out;
  for (int i = 0; i < n && i < static_cast<int>(sizeof buf); ++i) out.push_back(buf[i]);
  return out;
}

std::u16string FormatSerialText(ByteSpan serial_lsb_first) {
  std::u16string out;
  out.reserve(serial_lsb_first.size() * 5 / 2);
  size_t digits = 0;
  for (size_t i = serial_lsb_first.size(); i-- > 0;) {
    std::uint8_t b = serial_lsb_first[i];
    for (char16_t d : {kHexDigitsUpper[b >> 4], kHexDigitsUpper[b & 0x0F]}) {
      if (digits > 0 && digits % 4 == 0) out.push_back(u' ');
      out.push_back(d);
      ++digits;
    }
  }
  return out;
}

}  // namespace quillmark::platform
