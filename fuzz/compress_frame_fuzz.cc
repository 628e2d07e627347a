// The gzip frame: expanding arbitrary bytes never crashes and leaves them
// untouched on failure; the C export honours its capacity protocol and the
// trailer's length; a compressed buffer expands back to what it was.
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

// The most ExpandFrame may produce here: enough for every frame the fuzzer
// makes from inputs of its usual sizes, small enough to stay fast.
constexpr std::size_t kMaxOutput = 1 << 20;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes original(data, data + size);

  Bytes buf = original;
  if (!enc::ExpandFrame(&buf, kMaxOutput) && buf != original) std::abort();

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
    // What fits is exactly what the trailer declares.
    if (status == 0 && size >= 19) {
      const std::uint32_t declared = static_cast<std::uint32_t>(data[size - 4]) |
                                     static_cast<std::uint32_t>(data[size - 3]) << 8 |
                                     static_cast<std::uint32_t>(data[size - 2]) << 16 |
                                     static_cast<std::uint32_t>(data[size - 1]) << 24;
      if (declared != static_cast<std::uint32_t>(dst_len)) std::abort();
    }
    if (status == 0) {
      Bytes expanded = original;
      if (!enc::ExpandFrame(&expanded, kMaxOutput) ||
          expanded != Bytes(dst.data(), dst.data() + dst_len)) {
        std::abort();
      }
    }
  }

  Bytes packed = original;
  if (enc::CompressFrame(&packed, 0) != !original.empty()) std::abort();
  if (!original.empty() && original.size() <= kMaxOutput &&
      (!enc::ExpandFrame(&packed, kMaxOutput) || packed != original)) {
    std::abort();
  }
  return 0;
}
