#include "encoding/base64.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "common/status.h"
#include "encoding/base64_simd.h"

namespace quillmark::encoding {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kLineChars = 64;
constexpr std::size_t kLineBytes = 48;  // input bytes that fill one line

// Encoding: every 12-bit value maps to its two characters, so three input
// bytes take two lookups.
constexpr std::array<std::uint8_t, 2 * 4096> MakePairTable() {
  std::array<std::uint8_t, 2 * 4096> t{};
  for (int i = 0; i < 4096; ++i) {
    t[2 * i] = static_cast<std::uint8_t>(kAlphabet[i >> 6]);
    t[2 * i + 1] = static_cast<std::uint8_t>(kAlphabet[i & 63]);
  }
  return t;
}
constexpr auto kPairs = MakePairTable();

// Decoding, careful path: the value of each byte, kPad for '=', kSkip for
// everything else.
constexpr std::uint8_t kPad = 64;
constexpr std::uint8_t kSkip = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeValueTable() {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t) v = kSkip;
  for (int i = 0; i < 64; ++i)
    t[static_cast<std::uint8_t>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
  t['='] = kPad;
  return t;
}
constexpr auto kValue = MakeValueTable();

// Decoding, fast path: one table per position in a group, holding the value
// already shifted into place, so OR-ing four entries gives the group's 24
// bits. Anything but the 64 data characters (the pad included) sets kBad,
// which sends the group to the careful path.
constexpr std::uint32_t kBad = 0x01000000;

constexpr std::array<std::uint32_t, 4 * 256> MakeGroupTables() {
  std::array<std::uint32_t, 4 * 256> t{};
  for (int pos = 0; pos < 4; ++pos) {
    for (int c = 0; c < 256; ++c) {
      std::uint8_t v = kValue[c];
      t[pos * 256 + c] = v < 64 ? static_cast<std::uint32_t>(v) << (18 - 6 * pos) : kBad;
    }
  }
  return t;
}
constexpr auto kGroup = MakeGroupTables();

inline std::uint64_t LoadBigEndian64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

// Writes the low 24 bits of v most significant byte first, plus one byte of
// scratch after them (the caller keeps a byte of room and overwrites it next).
inline void Store24Plus1(std::uint8_t* o, std::uint32_t v) {
  std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                       static_cast<std::uint8_t>(v), 0};
  std::memcpy(o, b, 4);
}

inline void PutPair(std::uint8_t* o, std::uint32_t twelve_bits) {
  std::memcpy(o, &kPairs[2 * twelve_bits], 2);
}

// Six input bytes to eight characters; reads eight input bytes.
inline void EncodeSixFromEight(const std::uint8_t* in, std::uint8_t* o) {
  std::uint64_t v = LoadBigEndian64(in);
  PutPair(o, static_cast<std::uint32_t>(v >> 52) & 0xFFF);
  PutPair(o + 2, static_cast<std::uint32_t>(v >> 40) & 0xFFF);
  PutPair(o + 4, static_cast<std::uint32_t>(v >> 28) & 0xFFF);
  PutPair(o + 6, static_cast<std::uint32_t>(v >> 16) & 0xFFF);
}

inline void EncodeThree(const std::uint8_t* in, std::uint8_t* o) {
  std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
  PutPair(o, v >> 12);
  PutPair(o + 2, v & 0xFFF);
}

// Encodes `n` bytes (a multiple of 3) without any line breaks. Returns the
// position after the last character written.
inline std::uint8_t* EncodeRun(const std::uint8_t* in, std::size_t n, const std::uint8_t* in_end,
                               std::uint8_t* o) {
  const std::uint8_t* stop = in + n;
  while (stop - in >= 6 && in_end - in >= 8) {
    EncodeSixFromEight(in, o);
    in += 6;
    o += 8;
  }
  while (in != stop) {
    EncodeThree(in, o);
    in += 3;
    o += 4;
  }
  return o;
}

// Decodes the group at p into bytes at o (writing one scratch byte after
// them). Returns false, with nothing committed, if the group holds any byte
// other than the 64 data characters.
inline bool DecodeGroupFast(const std::uint8_t* p, std::uint8_t* o) {
  std::uint32_t v = kGroup[p[0]] | kGroup[256 + p[1]] | kGroup[512 + p[2]] | kGroup[768 + p[3]];
  Store24Plus1(o, v);
  return (v & kBad) == 0;
}

// Decodes 64 characters into 48 bytes at o (plus one scratch byte). The
// output is only meaningful when every character was a data character; the
// caller commits it only on true.
inline bool DecodeLineFast(const std::uint8_t* p, std::uint8_t* o) {
  std::uint32_t bad = 0;
  for (int g = 0; g < 16; ++g, p += 4, o += 3) {
    std::uint32_t v = kGroup[p[0]] | kGroup[256 + p[1]] | kGroup[512 + p[2]] | kGroup[768 + p[3]];
    bad |= v;
    Store24Plus1(o, v);
  }
  return (bad & kBad) == 0;
}

// Resizes *out to n bytes, preferring a fresh buffer over growing one whose
// old contents would be copied. Leaves *out untouched if memory runs out.
bool ResizeForOverwrite(Bytes* out, std::size_t n) {
  try {
    if (out->capacity() < n) {
      Bytes fresh(n);
      out->swap(fresh);
    } else {
      out->resize(n);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

std::size_t Base64EncodedSize(std::size_t n) {
  constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
  std::size_t groups = n / 3 + (n % 3 != 0);
  if (groups > kMax / 4) return kMax;
  std::size_t chars = groups * 4;
  if (chars == 0) return 1;
  std::size_t breaks = 1 + (chars - 1) / kLineChars;
  if (chars > kMax - breaks) return kMax;
  return chars + breaks;
}

int Base64Encode(ByteSpan in, Bytes* out) {
  const std::size_t size = Base64EncodedSize(in.size());
  if (size == std::numeric_limits<std::size_t>::max() || size > out->max_size() ||
      !ResizeForOverwrite(out, size)) {
    return kErrNoMemory;
  }
  const std::uint8_t* ip = in.data();
  const std::uint8_t* const in_end = ip + in.size();
  std::uint8_t* o = out->data();

  const std::uint8_t* const lines_end = ip + in.size() / kLineBytes * kLineBytes;
  internal::EncodeLinesSimd(&ip, in_end, in.size() / kLineBytes, &o);
  for (std::size_t lines = static_cast<std::size_t>(lines_end - ip) / kLineBytes; lines > 0;
       --lines) {
    o = EncodeRun(ip, kLineBytes, in_end, o);
    *o++ = '\n';
    ip += kLineBytes;
  }

  const std::size_t rest = static_cast<std::size_t>(in_end - ip);
  if (rest != 0 || in.empty()) {
    const std::size_t whole = rest - rest % 3;
    o = EncodeRun(ip, whole, in_end, o);
    ip += whole;
    if (rest % 3 == 1) {
      PutPair(o, std::uint32_t{ip[0]} << 4);
      o[2] = '=';
      o[3] = '=';
      o += 4;
    } else if (rest % 3 == 2) {
      std::uint32_t v = (std::uint32_t{ip[0]} << 10) | (std::uint32_t{ip[1]} << 2);
      PutPair(o, v >> 6);
      o[2] = static_cast<std::uint8_t>(kAlphabet[v & 63]);
      o[3] = '=';
      o += 4;
    }
    *o++ = '\n';
  }
  return kOk;
}

int Base64Decode(ByteSpan text, Bytes* out) {
  // Every three bytes produced consume at least four bytes of text; the fast
  // paths store up to 16 bytes more than they commit.
  const std::size_t bound = text.size() / 4 * 3 + 16;
  if (!ResizeForOverwrite(out, bound)) {
    out->clear();
    return kErrNoMemory;
  }
  const std::uint8_t* p = text.data();
  const std::uint8_t* const end = p + text.size();
  std::uint8_t* const o_begin = out->data();
  std::uint8_t* o = o_begin;
  const bool simd = internal::Base64SimdEnabled();

  for (;;) {
    // Here p stands at a group boundary, where bytes outside the alphabet can
    // be dropped without changing how the following characters group.
    while (p != end && kValue[*p] == kSkip) ++p;
    if (simd) {
      internal::DecodeLinesSimd(&p, end, &o);
    } else {
      while (end - p >= static_cast<std::ptrdiff_t>(kLineChars) && DecodeLineFast(p, o)) {
        p += kLineChars;
        o += kLineBytes;
        while (p != end && kValue[*p] == kSkip) ++p;
      }
    }
    while (end - p >= 4 && DecodeGroupFast(p, o)) {
      p += 4;
      o += 3;
    }
    if (p == end) break;

    // Careful path: gather the next four significant characters one byte at
    // a time and decode them by where the pad stands.
    std::uint8_t v[4];
    int n = 0;
    while (p != end && n < 4) {
      std::uint8_t c = kValue[*p++];
      if (c != kSkip) v[n++] = c;
    }
    if (n == 0) break;
    if (n < 4) {
      out->clear();
      return kErrBase64Decode;
    }
    if (v[0] == kPad || v[1] == kPad || (v[2] == kPad && v[3] != kPad)) {
      o = o_begin;  // misplaced pad: an empty result, not an error
      break;
    }
    *o++ = static_cast<std::uint8_t>((v[0] << 2) | (v[1] >> 4));
    if (v[2] == kPad) break;
    *o++ = static_cast<std::uint8_t>((v[1] << 4) | (v[2] >> 2));
    if (v[3] == kPad) break;
    *o++ = static_cast<std::uint8_t>((v[2] << 6) | v[3]);
  }
  out->resize(static_cast<std::size_t>(o - o_begin));
  return kOk;
}

}  // namespace quillmark::encoding
