// A minimal DER walker for the platform layer: reads single-byte-tag TLVs
// with definite lengths, and writes OBJECT IDENTIFIER contents as dotted
// text. It never allocates except in OidToText.
#ifndef QUILLMARK_PLATFORM_OPENSSL_DER_WALK_H_
#define QUILLMARK_PLATFORM_OPENSSL_DER_WALK_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/bytes.h"

namespace quillmark::platform::der {

inline constexpr std::uint8_t kBoolean = 0x01;
inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kBitString = 0x03;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kOid = 0x06;
inline constexpr std::uint8_t kUtcTime = 0x17;
inline constexpr std::uint8_t kGeneralizedTime = 0x18;
inline constexpr std::uint8_t kSequence = 0x30;
inline constexpr std::uint8_t kSet = 0x31;

struct Tlv {
  std::uint8_t tag = 0;
  ByteSpan content;
  ByteSpan whole;  // tag, length and content
};

// Reads the TLV at the front of |*in| and advances past it. False for an
// empty input, a multi-byte tag, an indefinite or oversized length, or a
// length that runs past the input.
inline bool Next(ByteSpan* in, Tlv* out) {
  const ByteSpan s = *in;
  if (s.size() < 2 || (s[0] & 0x1F) == 0x1F) return false;
  std::size_t len = s[1];
  std::size_t header = 2;
  if (len & 0x80) {
    std::size_t octets = len & 0x7F;
    if (octets == 0 || octets > 4 || s.size() < 2 + octets) return false;
    len = 0;
    for (std::size_t i = 0; i < octets; ++i) len = (len << 8) | s[2 + i];
    header += octets;
  }
  if (len > s.size() - header) return false;
  out->tag = s[0];
  out->content = s.subspan(header, len);
  out->whole = s.subspan(0, header + len);
  *in = s.subspan(header + len);
  return true;
}

// Reads the next TLV and requires its tag.
inline bool Expect(ByteSpan* in, std::uint8_t tag, Tlv* out) {
  return Next(in, out) && out->tag == tag;
}

// Dotted text of OID content octets ("2.5.4.3"). False when malformed.
bool OidToText(ByteSpan content, std::string* out);

}  // namespace quillmark::platform::der

#endif  // QUILLMARK_PLATFORM_OPENSSL_DER_WALK_H_
