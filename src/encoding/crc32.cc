#include "encoding/crc32.h"

#include <zlib.h>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QM_CRC32_CLMUL 1
#endif

namespace quillmark::encoding {
namespace {

#if defined(QM_CRC32_CLMUL)

// Bit-reflected powers of x modulo the polynomial that move a 128-bit lane
// forward by 2048 bits (four 512-bit registers), 512 bits (four lanes) and
// 128 bits (one lane), the constant of the 64-bit step, then the polynomial
// and its Barrett quotient.
alignas(16) constexpr std::uint64_t kFold16[2] = {0x011542778a, 0x01322d1430};
alignas(16) constexpr std::uint64_t kFold4[2] = {0x0154442bd4, 0x01c6e41596};
alignas(16) constexpr std::uint64_t kFold1[2] = {0x01751997d0, 0x00ccaa009e};
alignas(16) constexpr std::uint64_t kFold64[2] = {0x0163cd6124, 0x0000000000};
alignas(16) constexpr std::uint64_t kBarrett[2] = {0x01db710641, 0x01f7011641};

#define QM_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))
#define QM_VCLMUL_TARGET __attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1")))

enum class Engine { kTable, kClmul, kWideClmul };

Engine DetectEngine() {
  if (!__builtin_cpu_supports("pclmul") || !__builtin_cpu_supports("sse4.1")) {
    return Engine::kTable;
  }
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq")) {
    return Engine::kWideClmul;
  }
  return Engine::kClmul;
}

Engine CurrentEngine() {
  static const Engine engine = DetectEngine();
  return engine;
}

QM_CLMUL_TARGET inline __m128i Load(const std::uint8_t* q) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

QM_CLMUL_TARGET inline __m128i Constant(const std::uint64_t* k) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(k));
}

// Multiplies both halves of |acc| by the folding constants in |k| and adds
// the next 16 bytes of data.
QM_CLMUL_TARGET inline __m128i Fold(__m128i acc, __m128i k, __m128i next) {
  __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
  __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// Folds four consecutive lanes into one, then the remaining |len| bytes (a
// multiple of 16) at |p|, and reduces to the complemented 32-bit value.
QM_CLMUL_TARGET std::uint32_t FinishLanes(__m128i x1, __m128i x2, __m128i x3, __m128i x4,
                                          const std::uint8_t* p, std::size_t len) {
  __m128i k = Constant(kFold1);
  x1 = Fold(x1, k, x2);
  x1 = Fold(x1, k, x3);
  x1 = Fold(x1, k, x4);
  while (len >= 16) {
    x1 = Fold(x1, k, Load(p));
    p += 16;
    len -= 16;
  }

  // 128 bits down to 64.
  const __m128i mask32 = _mm_setr_epi32(-1, 0, -1, 0);
  x2 = _mm_clmulepi64_si128(x1, k, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kFold64));
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, mask32);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x00), x2);

  // Barrett reduction to 32 bits.
  k = Constant(kBarrett);
  x2 = _mm_and_si128(x1, mask32);
  x2 = _mm_clmulepi64_si128(x2, k, 0x10);
  x2 = _mm_and_si128(x2, mask32);
  x2 = _mm_clmulepi64_si128(x2, k, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

// Folds |len| bytes (at least 64, a multiple of 16) into the complemented
// running value |state| and returns the new complemented value.
QM_CLMUL_TARGET std::uint32_t FoldClmul(std::uint32_t state, const std::uint8_t* p,
                                        std::size_t len) {
  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(state)));
  __m128i x2 = Load(p + 16);
  __m128i x3 = Load(p + 32);
  __m128i x4 = Load(p + 48);
  p += 64;
  len -= 64;
  const __m128i k = Constant(kFold4);
  while (len >= 64) {
    x1 = Fold(x1, k, Load(p));
    x2 = Fold(x2, k, Load(p + 16));
    x3 = Fold(x3, k, Load(p + 32));
    x4 = Fold(x4, k, Load(p + 48));
    p += 64;
    len -= 64;
  }
  return FinishLanes(x1, x2, x3, x4, p, len);
}

QM_VCLMUL_TARGET inline __m512i Load512(const std::uint8_t* q) {
  return _mm512_loadu_si512(reinterpret_cast<const void*>(q));
}

// Fold on four lanes at once.
QM_VCLMUL_TARGET inline __m512i Fold512(__m512i acc, __m512i k, __m512i next) {
  __m512i lo = _mm512_clmulepi64_epi128(acc, k, 0x00);
  __m512i hi = _mm512_clmulepi64_epi128(acc, k, 0x11);
  return _mm512_ternarylogic_epi64(lo, hi, next, 0x96);  // three-way xor
}

// As FoldClmul for at least 256 bytes, 64 bytes per instruction.
QM_VCLMUL_TARGET std::uint32_t FoldWideClmul(std::uint32_t state, const std::uint8_t* p,
                                             std::size_t len) {
  __m512i z0 = _mm512_xor_si512(Load512(p),
                                _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(state))));
  __m512i z1 = Load512(p + 64);
  __m512i z2 = Load512(p + 128);
  __m512i z3 = Load512(p + 192);
  p += 256;
  len -= 256;
  __m512i k = _mm512_maskz_broadcast_i32x4(0xFFFF, Constant(kFold16));
  while (len >= 256) {
    z0 = Fold512(z0, k, Load512(p));
    z1 = Fold512(z1, k, Load512(p + 64));
    z2 = Fold512(z2, k, Load512(p + 128));
    z3 = Fold512(z3, k, Load512(p + 192));
    p += 256;
    len -= 256;
  }
  k = _mm512_maskz_broadcast_i32x4(0xFFFF, Constant(kFold4));
  z0 = Fold512(z0, k, z1);
  z0 = Fold512(z0, k, z2);
  z0 = Fold512(z0, k, z3);
  while (len >= 64) {
    z0 = Fold512(z0, k, Load512(p));
    p += 64;
    len -= 64;
  }
  return FinishLanes(_mm512_maskz_extracti32x4_epi32(0xFF, z0, 0),
                     _mm512_maskz_extracti32x4_epi32(0xFF, z0, 1),
                     _mm512_maskz_extracti32x4_epi32(0xFF, z0, 2),
                     _mm512_maskz_extracti32x4_epi32(0xFF, z0, 3), p, len);
}

#endif  // QM_CRC32_CLMUL

}  // namespace

bool Crc32IsAccelerated() {
#if defined(QM_CRC32_CLMUL)
  return CurrentEngine() != Engine::kTable;
#else
  return false;
#endif
}

std::uint32_t Crc32Update(std::uint32_t crc, ByteSpan data) {
  const std::uint8_t* p = data.data();
  std::size_t len = data.size();
#if defined(QM_CRC32_CLMUL)
  if (len >= 64) {
    const std::size_t bulk = len & ~std::size_t{15};
    switch (CurrentEngine()) {
      case Engine::kWideClmul:
        crc = bulk >= 256 ? ~FoldWideClmul(~crc, p, bulk) : ~FoldClmul(~crc, p, bulk);
        break;
      case Engine::kClmul:
        crc = ~FoldClmul(~crc, p, bulk);
        break;
      case Engine::kTable:
        return static_cast<std::uint32_t>(crc32_z(crc, p, len));
    }
    p += bulk;
    len -= bulk;
  }
#endif
  if (len == 0) return crc;
  return static_cast<std::uint32_t>(crc32_z(crc, p, len));
}

}  // namespace quillmark::encoding
