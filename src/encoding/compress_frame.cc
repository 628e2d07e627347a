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
// it once to the size asked for. Replaces |*buf| on success.
bool Rewrite(Bytes* buf, std::int64_t first_capacity, Transform transform,
             bool stop_on_data_error) {
  const int src_len = static_cast<int>(buf->size());
  int capacity = static_cast<int>(std::min<std::int64_t>(first_capacity, INT_MAX));
  try {
    Bytes out(static_cast<std::size_t>(capacity));
    int out_len = capacity;
    int rc = transform(buf->data(), src_len, out.data(), &out_len);
    if (rc == kZDataError && stop_on_data_error) return false;
    if (rc == kZBufError) {
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

}  // namespace

bool CompressFrame(Bytes* buf, int threshold) {
  if (buf == nullptr || buf->empty() || buf->size() > INT_MAX) return false;
  if (static_cast<std::int64_t>(buf->size()) < threshold) return false;
  return Rewrite(buf, static_cast<std::int64_t>(buf->size()) + 20, mem_compress, false);
}

bool ExpandFrame(Bytes* buf) {
  if (buf == nullptr || buf->empty() || buf->size() > INT_MAX) return false;
  return Rewrite(buf, 2 * static_cast<std::int64_t>(buf->size()), mem_uncompress, true);
}

}  // namespace quillmark::encoding
