#include "encoding/base64_simd.h"

#include <atomic>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(QM_BASE64_NO_SIMD)
#define QM_BASE64_X86 1
#include <immintrin.h>
#endif

namespace quillmark::encoding::internal {

#ifdef QM_BASE64_X86
namespace {

bool CpuHasSsse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}

std::atomic<bool> g_enabled{CpuHasSsse3()};

#define QM_SSSE3 __attribute__((target("ssse3")))

// 12 bytes (read as 16) to 16 characters. Each 32-bit lane gets one group of
// three bytes s0 s1 s2 arranged as s1 s0 s2 s1, from which multiplies move
// the four 6-bit fields into the four bytes of the lane.
QM_SSSE3 inline __m128i EncodeBlock(__m128i in) {
  const __m128i spread = _mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
  in = _mm_shuffle_epi8(in, spread);
  // First and third fields: high bits of each 16-bit half, moved down.
  __m128i ac =
      _mm_mulhi_epu16(_mm_and_si128(in, _mm_set1_epi32(0x0FC0FC00)), _mm_set1_epi32(0x04000040));
  // Second and fourth fields: moved up into the high byte of each half.
  __m128i bd =
      _mm_mullo_epi16(_mm_and_si128(in, _mm_set1_epi32(0x003F03F0)), _mm_set1_epi32(0x01000010));
  __m128i v = _mm_or_si128(ac, bd);  // one 6-bit value per byte
  // Character = value + offset of its range: 0-25 +65, 26-51 +71, 52-61 -4,
  // 62 -19, 63 -16. Index 0 covers 26-51, 1-12 the values from 52 up, 13
  // the capitals.
  __m128i idx = _mm_subs_epu8(v, _mm_set1_epi8(51));
  __m128i capitals = _mm_cmpgt_epi8(_mm_set1_epi8(26), v);
  idx = _mm_or_si128(idx, _mm_and_si128(capitals, _mm_set1_epi8(13)));
  const __m128i offsets =
      _mm_setr_epi8(71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0);
  return _mm_add_epi8(v, _mm_shuffle_epi8(offsets, idx));
}

// 16 characters to 12 bytes, stored as 16 (the last four are zero). Returns
// a mask that is non-zero when any character is outside the 64 data
// characters (the pad included).
QM_SSSE3 inline __m128i DecodeBlock(__m128i in, std::uint8_t* o) {
  const __m128i nibble = _mm_set1_epi8(0x0F);
  __m128i hi = _mm_and_si128(_mm_srli_epi32(in, 4), nibble);
  __m128i lo = _mm_and_si128(in, nibble);
  // Validity: the high nibble picks one bit (2, 3, 4|6, 5|7, everything
  // else); the low nibble's entry holds the bits of the high nibbles that
  // are invalid with it.
  const __m128i hi_bit = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10,
                                       0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  const __m128i lo_bad = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                       0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  __m128i bad = _mm_and_si128(_mm_shuffle_epi8(lo_bad, lo), _mm_shuffle_epi8(hi_bit, hi));
  // Value = character + offset chosen by the high nibble; '/' shares its
  // high nibble with '+' and takes slot 1 instead.
  const __m128i offsets = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  __m128i slash = _mm_cmpeq_epi8(in, _mm_set1_epi8('/'));
  __m128i v = _mm_add_epi8(in, _mm_shuffle_epi8(offsets, _mm_add_epi8(hi, slash)));
  // Pack four 6-bit values per lane into 24 bits, then gather the three
  // bytes of each lane most significant first.
  __m128i pairs = _mm_maddubs_epi16(v, _mm_set1_epi32(0x01400140));
  __m128i lanes = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
  const __m128i gather = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_shuffle_epi8(lanes, gather));
  return bad;
}

QM_SSSE3 void EncodeLinesSsse3(const std::uint8_t** in_ptr, const std::uint8_t* in_end,
                               std::size_t lines, std::uint8_t** out_ptr) {
  const std::uint8_t* in = *in_ptr;
  std::uint8_t* o = *out_ptr;
  // The last block of a line loads 16 bytes for its 12, so a line needs
  // four readable bytes after it.
  for (; lines > 0 && in_end - in >= 52; --lines, in += 48, o += 65) {
    for (int k = 0; k < 4; ++k) {
      __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12 * k));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16 * k), EncodeBlock(block));
    }
    o[64] = '\n';
  }
  *in_ptr = in;
  *out_ptr = o;
}

QM_SSSE3 void DecodeLinesSsse3(const std::uint8_t** p_ptr, const std::uint8_t* end,
                               std::uint8_t** o_ptr) {
  const std::uint8_t* p = *p_ptr;
  std::uint8_t* o = *o_ptr;
  while (end - p >= 64) {
    __m128i bad = DecodeBlock(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), o);
    bad = _mm_or_si128(
        bad, DecodeBlock(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), o + 12));
    bad = _mm_or_si128(
        bad, DecodeBlock(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), o + 24));
    bad = _mm_or_si128(
        bad, DecodeBlock(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), o + 36));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(bad, _mm_setzero_si128())) != 0xFFFF) break;
    p += 64;
    o += 48;
    if (p != end && *p == '\r' && end - p >= 2 && p[1] == '\n') ++p;
    if (p != end && *p == '\n') ++p;
  }
  *p_ptr = p;
  *o_ptr = o;
}

}  // namespace

bool Base64SimdEnabled() { return g_enabled.load(std::memory_order_relaxed); }

bool SetBase64SimdEnabled(bool enabled) {
  bool on = enabled && CpuHasSsse3();
  g_enabled.store(on, std::memory_order_relaxed);
  return on == enabled;
}

void EncodeLinesSimd(const std::uint8_t** in, const std::uint8_t* in_end, std::size_t lines,
                     std::uint8_t** out) {
  if (Base64SimdEnabled()) EncodeLinesSsse3(in, in_end, lines, out);
}

void DecodeLinesSimd(const std::uint8_t** p, const std::uint8_t* end, std::uint8_t** o) {
  if (Base64SimdEnabled()) DecodeLinesSsse3(p, end, o);
}

#else  // no vector kernels on this platform

bool Base64SimdEnabled() { return false; }
bool SetBase64SimdEnabled(bool enabled) { return !enabled; }
void EncodeLinesSimd(const std::uint8_t**, const std::uint8_t*, std::size_t, std::uint8_t**) {}
void DecodeLinesSimd(const std::uint8_t**, const std::uint8_t*, std::uint8_t**) {}

#endif

}  // namespace quillmark::encoding::internal
