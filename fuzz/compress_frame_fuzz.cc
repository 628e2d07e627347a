// The gzip frame: expanding arbitrary bytes never crashes and leaves them
// untouched on failure; the C export honours its capacity protocol; a
// compressed buffer expands back to what it was.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/bytes.h"
#include "encoding/compress_frame.h"
#include "encoding/mem_compress.h"

using quillmark::Bytes;
namespace enc = quillmark::encoding;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes original(data, data + size);

  Bytes buf = original;
  if (!enc::ExpandFrame(&buf) && buf != original) std::abort();

  // The capacity given is a small window with guard bytes after it: nothing
  // may be written past it, and the size reported is the size needed.
  if (size > 0) {
    constexpr int kCapacity = 256;
    std::vector<unsigned char> dst(kCapacity + 16, 0xA5);
    int dst_len = kCapacity;
    const int status = mem_uncompress(data, static_cast<int>(size), dst.data(), &dst_len);
    for (int i = kCapacity; i < kCapacity + 16; ++i) {
      if (dst[i] != 0xA5) std::abort();
    }
    if (status == 0 && dst_len > kCapacity) std::abort();
    if (status == -5 && dst_len <= kCapacity) std::abort();
    if (status == 0) {
      Bytes expanded = original;
      if (!enc::ExpandFrame(&expanded) || expanded != Bytes(dst.data(), dst.data() + dst_len)) {
        std::abort();
      }
    }
  }

  Bytes packed = original;
  if (enc::CompressFrame(&packed, 0) != !original.empty()) std::abort();
  if (!original.empty() && (!enc::ExpandFrame(&packed) || packed != original)) std::abort();
  return 0;
}
