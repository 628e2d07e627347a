#include "platform/openssl/der_walk.h"

namespace quillmark::platform::der {

bool OidToText(ByteSpan content, std::string* out) {
  if (content.empty() || (content.back() & 0x80)) return false;
  std::string text;
  std::uint64_t value = 0;
  bool first = true;
  bool arc_start = true;
  for (std::uint8_t b : content) {
    if (arc_start && b == 0x80) return false;  // non-minimal arc
    if (value > (UINT64_MAX >> 7)) return false;
    value = (value << 7) | (b & 0x7F);
    arc_start = false;
    if (b & 0x80) continue;
    if (first) {
      std::uint64_t top = value < 40 ? 0 : value < 80 ? 1 : 2;
      text += std::to_string(top);
      text += '.';
      text += std::to_string(value - 40 * top);
      first = false;
    } else {
      text += '.';
      text += std::to_string(value);
    }
    value = 0;
    arc_start = true;
  }
  *out = std::move(text);
  return true;
}

}  // namespace quillmark::platform::der
