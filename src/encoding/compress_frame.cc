#include "encoding/compress_frame.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <new>

#include "encoding/mem_compress.h"

namespace quillmark::encoding {
namespace {

constexpr int kZOk = 0;
constexpr int kZDataError = -3;
constexpr int kZBufError = -5;

// The most deflate makes of one byte (mem_compress.h).
constexpr std::int64_t kMaxDeflateRatio = 1032;

using Transform = int (*)(const unsigned char*, int, unsigned char*, int*);

// Runs |transform| on |*buf| into a buffer of |first_capacity| bytes, growing
// it once to the size asked for when that is at most |max_capacity|.
// Replaces |*buf| on success.
bool Rewrite(Bytes* buf, std::int64_t first_capacity, std::int64_t max_capacity,
             Transform transform, bool stop_on_data_error) {
  const int src_len = static_cast<int>(buf->size());
  max_capacity = std::min<std::int64_t>(max_capacity, INT_MAX);
  int capacity = static_cast<int>(std::min(first_capacity, max_capacity));
  try {
    Bytes out(static_cast<std::size_t>(capacity));
    int out_len = capacity;
    int rc = transform(buf->data(), src_len, out.data(), &out_len);
    if (rc == kZDataError && stop_on_data_error) return false;
    if (rc == kZBufError) {
      if (out_len > max_capacity) return false;
      out.resize(static_cast<std::size_t>(out_len));
      rc = transform(buf->data(), src_len, out.data(), &out_len);
    }
    if (rc != kZOk) return false;
    out.resize(static_cast<std::size_t>(out_len));
    buf->swap(out);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// The content length a frame declares in its last four bytes (0 when there
// are fewer than a frame's minimum of 19).
std::uint64_t DeclaredLength(const Bytes& frame) {
  if (frame.size() < 19) return 0;
  const std::uint8_t* p = frame.data() + frame.size() - 4;
  return static_cast<std::uint64_t>(p[0]) | static_cast<std::uint64_t>(p[1]) << 8 |
         static_cast<std::uint64_t>(p[2]) << 16 | static_cast<std::uint64_t>(p[3]) << 24;
}

// Room for the frame of |n| bytes whatever they hold: deflate's worst case
// (stored blocks, five bytes per block of at least 16 KiB, as zlib's own
// bound allows) plus the header and trailer, so the first pass always fits.
std::int64_t CompressedBound(std::size_t n) {
  const std::int64_t size = static_cast<std::int64_t>(n);
  return size + (size >> 12) + (size >> 14) + (size >> 25) + 13 + 18;
}

}  // namespace

bool CompressFrame(Bytes* buf, int threshold) {
  if (buf == nullptr || buf->empty() || buf->size() > INT_MAX) return false;
  if (static_cast<std::int64_t>(buf->size()) < threshold) return false;
  return Rewrite(buf, CompressedBound(buf->size()), INT_MAX, mem_compress, false);
}

bool ExpandFrame(Bytes* buf, std::size_t max_output) {
  if (buf == nullptr || buf->empty() || buf->size() > INT_MAX) return false;
  if (DeclaredLength(*buf) > max_output) return false;
  const std::int64_t limit = static_cast<std::int64_t>(std::min<std::size_t>(max_output, INT_MAX));
  // A correct frame inflates to exactly what it declares, so that is the one
  // buffer to make. A frame declaring more than deflate can make of its size
  // is refused by mem_uncompress before anything is inflated; nothing is
  // made for it beyond a small first buffer.
  const std::int64_t size = static_cast<std::int64_t>(buf->size());
  const std::int64_t declared = static_cast<std::int64_t>(DeclaredLength(*buf));
  const std::int64_t first = declared <= kMaxDeflateRatio * size ? declared : 2 * size;
  return Rewrite(buf, first, limit, mem_uncompress, true);
}

}  // namespace quillmark::encoding
