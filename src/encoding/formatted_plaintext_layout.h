// The byte layout of a formatted plaintext, read and written without copying
// its entries.
//
// An encoded formatted plaintext is a form section followed by a file section:
//
//   T1, then per form item: L, the L item bytes
//   T2, then per file:      E, N, the N name bytes, the C content bytes
//
// Every number is a number field: exactly 8 ASCII decimal digits, zero-padded
// ("%08d"), so it holds 0 to 99999999. E = N + C + 8, T1 is the sum of L + 8
// over the items and T2 the sum of E + 8 over the files. An empty section is
// the single field "00000000"; the empty container is zero bytes.
//
// ScanFormattedPlaintext applies the decoding rules (which bytes count as a
// formatted plaintext, and where decoding stops) and reports where the
// entries lie; FormattedPlaintext::Decompose and the plain-text buffer
// operations are both built on it, so they always agree on what is valid.
#ifndef QUILLMARK_ENCODING_FORMATTED_PLAINTEXT_LAYOUT_H_
#define QUILLMARK_ENCODING_FORMATTED_PLAINTEXT_LAYOUT_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/bytes.h"

namespace quillmark::encoding {

inline constexpr std::size_t kNumberFieldSize = 8;
inline constexpr std::uint64_t kMaxNumberField = 99999999;

// Bytes one entry occupies in its section, its length fields included.
constexpr std::uint64_t FormEntrySize(std::uint64_t item_size) { return item_size + 8; }
constexpr std::uint64_t FileEntrySize(std::uint64_t name_size, std::uint64_t content_size) {
  return name_size + content_size + 16;
}

// Whether an entry may stand in a container: non-empty strings, and an entry
// small enough that it alone fits its section's total field. Larger entries
// could never be encoded, so they are refused when added.
constexpr bool FormItemFits(std::uint64_t item_size) {
  return item_size > 0 && item_size <= kMaxNumberField - 8;
}
constexpr bool FileFits(std::uint64_t name_size, std::uint64_t content_size) {
  return name_size > 0 && content_size > 0 && name_size <= kMaxNumberField &&
         content_size <= kMaxNumberField &&
         FileEntrySize(name_size, content_size) <= kMaxNumberField;
}

// The most content a file named with `name_size` bytes may hold and still
// fit FileFits: the section total counts the name and both length fields too.
constexpr std::uint64_t MaxFileContentSize(std::uint64_t name_size) {
  return name_size >= kMaxNumberField - 16 ? 0 : kMaxNumberField - 16 - name_size;
}

// Encoded size of a container whose sections hold `form_total` and
// `file_total` entry bytes: zero when both are empty, else both total fields
// plus the entries.
constexpr std::uint64_t EncodedSize(std::uint64_t form_total, std::uint64_t file_total) {
  return form_total == 0 && file_total == 0 ? 0 : 2 * kNumberFieldSize + form_total + file_total;
}

// Writes `value` (at most kMaxNumberField) as a number field at `out`.
void WriteNumberField(std::uint64_t value, std::uint8_t* out);

// The value of the 8 bytes at `in`: their decimal value when all are ASCII
// digits, else 0. Inline and branch-light: a take validates every field of
// the buffer each time.
inline std::uint64_t ReadNumberField(const std::uint8_t* in) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t v;
    std::memcpy(&v, in, sizeof v);  // first digit in the lowest byte
    // Each byte must be 0x30..0x39: high nibble 3, and adding 6 to the low
    // nibble must not carry into it.
    constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL, kThrees = 0x3030303030303030ULL;
    if ((v & kHigh) != kThrees || ((v + 0x0606060606060606ULL) & kHigh) != kThrees) return 0;
    v = ((v & 0x0F0F0F0F0F0F0F0FULL) * 2561) >> 8;      // pairs of digits
    v = ((v & 0x00FF00FF00FF00FFULL) * 6553601) >> 16;  // groups of four
    return (((v & 0x0000FFFF0000FFFFULL) * 42949672960001ULL) >> 32) & 0xFFFFFFFFULL;
  } else {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < kNumberFieldSize; ++i) {
      unsigned digit = static_cast<unsigned>(in[i]) - '0';
      if (digit > 9) return 0;
      value = value * 10 + digit;
    }
    return value;
  }
}

// Where one section's entries lie in the scanned bytes. Entries of a section
// are contiguous and each one is already in its canonical encoding, so a
// section can be copied as one block.
struct SectionLayout {
  std::size_t begin = 0;      // offset of the first entry
  std::size_t first_end = 0;  // offset just past the first entry (begin when empty)
  std::size_t end = 0;        // offset just past the last entry (begin when empty)
  std::size_t count = 0;      // number of entries
  std::uint64_t total = 0;    // sum of the entry sizes: the section's total when re-encoded
};

struct FormattedPlaintextLayout {
  SectionLayout form;
  SectionLayout files;
};

// Decides whether `bytes` is a formatted plaintext and, if so, where its
// entries lie. Returns 0 and fills *layout, kErrEmptyInput for zero bytes, or
// kFailed when the bytes are not a formatted plaintext (*layout is then
// unspecified). Bytes after the point where decoding ends are ignored.
//
// The rules, with "remaining" counted from the current position to the end:
//   1. If the first 8 bytes are "00000000" they are skipped and there is no
//      form section; otherwise the form section comes first.
//   2. The first total (T1, or T2 without a form section) must not be 0 and
//      must not exceed the bytes remaining from its own field.
//   3. Form entries: a length field of 0 ends the section; an entry running
//      past the end fails; an item that FormItemFits refuses fails. The
//      section also ends when no bytes or exactly 8 bytes remain after an
//      entry, or when the sum of the entries before that test equals T1.
//      Afterwards, 0 or exactly 8 bytes remaining (whatever they hold) end
//      decoding successfully; otherwise T2 follows with the rules of 2.
//   4. File entries: E = 0 ends decoding successfully; an entry running past
//      the end fails; N must not exceed E - 8; a file that FileFits refuses
//      (empty name or content) fails. Decoding ends successfully when no
//      bytes remain after an entry or the sum of the entries equals T2.
// A number field that would run past the end of the bytes fails.
int ScanFormattedPlaintext(ByteSpan bytes, FormattedPlaintextLayout* layout);

}  // namespace quillmark::encoding

#endif  // QUILLMARK_ENCODING_FORMATTED_PLAINTEXT_LAYOUT_H_
