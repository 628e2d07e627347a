// Vector kernels for the bulk of Base64 text laid out in full lines.
//
// Internal to the codec in base64.cc. Each kernel handles the regular part of
// the work (whole 48-byte lines when encoding; runs of 64 data characters,
// each optionally followed by one line break, when decoding), stops at the
// first irregularity and reports how far it got; the scalar code finishes.
// On machines or compilers without the needed instructions the kernels do
// nothing, so results never depend on which path ran.
#ifndef QUILLMARK_ENCODING_BASE64_SIMD_H_
#define QUILLMARK_ENCODING_BASE64_SIMD_H_

#include <cstddef>
#include <cstdint>

namespace quillmark::encoding::internal {

// Whether the kernels are in use. They start enabled when the processor has
// the instructions; tests switch them off to cover the scalar code.
bool Base64SimdEnabled();
// Returns false (and stays disabled) when asked to enable on a machine that
// cannot run the kernels.
bool SetBase64SimdEnabled(bool enabled);

// Encodes up to `lines` whole lines of 48 bytes from *in into 64 characters
// and a line feed each, advancing *in and *out. Reads at most up to in_end
// and may stop early when too few bytes follow the last line.
void EncodeLinesSimd(const std::uint8_t** in, const std::uint8_t* in_end, std::size_t lines,
                     std::uint8_t** out);

// Decodes blocks of 64 data characters (no pad, nothing outside the
// alphabet), each optionally followed by "\n" or "\r\n", advancing *p and
// *o by 64 (plus the break) and 48 per block. Stops before the first block
// that is not clean or when fewer than 64 bytes remain. Stores up to 52
// bytes at the output position of every block it examines, committed or not.
void DecodeLinesSimd(const std::uint8_t** p, const std::uint8_t* end, std::uint8_t** o);

}  // namespace quillmark::encoding::internal

#endif  // QUILLMARK_ENCODING_BASE64_SIMD_H_
