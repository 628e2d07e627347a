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

}  // namespace

bool CompressFrame(Bytes* buf, int threshold) {
  if (buf == nullptr || buf->empty() || buf->size() > INT_MAX) return false;
  if (static_cast<std::int64_t>(buf->size()) < threshold) return false;
  return Rewrite(buf, static_cast<std::int64_t>(buf->size()) + 20, INT_MAX, mem_compress, false);
}

bool ExpandFrame(Bytes* buf, std::size_t max_output) {
  if (buf == nullptr || buf->empty() || buf->size() > INT_MAX) return false;
  if (DeclaredLength(*buf) > max_output) return false;
  const std::int64_t limit = static_cast<std::int64_t>(std::min<std::size_t>(max_output, INT_MAX));
  return Rewrite(buf, 2 * static_cast<std::int64_t>(buf->size()), limit, mem_uncompress, true);
}

}  // namespace quillmark::encoding
