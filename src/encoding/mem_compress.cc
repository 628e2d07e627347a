#include "encoding/mem_compress.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "encoding/crc32.h"

namespace quillmark::encoding {
namespace {

constexpr int kBlockSize = 16384;
constexpr int kHeaderSize = 10;
constexpr int kTrailerSize = 8;
constexpr int kMinFrameSize = kHeaderSize + 1 + kTrailerSize;
// Deflate cannot expand one byte to more than 1032 (two bits per match of
// 258 bytes); a frame declaring more than this many bytes per source byte is
// not a correct frame.
constexpr std::int64_t kMaxDeflateRatio = 1032;
constexpr unsigned char kHeader[kHeaderSize] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0x0B};

constexpr std::uint8_t kFlagHeaderCrc = 0x02;
constexpr std::uint8_t kFlagExtra = 0x04;
constexpr std::uint8_t kFlagName = 0x08;
constexpr std::uint8_t kFlagComment = 0x10;
constexpr std::uint8_t kFlagReserved = 0xE0;

struct DeflateEnder {
  void operator()(z_stream* s) const { deflateEnd(s); }
};
struct InflateEnder {
  void operator()(z_stream* s) const { inflateEnd(s); }
};

// Places a stream's output in the caller's buffer. The output is cut into
// 16 KiB blocks counted from |base|; a block lands in dst only when its end
// lies within the capacity. Every block below the last such boundary is
// produced in place; the rest passes through one work buffer and only a final
// partial block that still fits is copied out.
class BlockPlacer {
 public:
  BlockPlacer(unsigned char* dst, std::int64_t capacity, std::int64_t base, unsigned char* work)
      : dst_(dst), capacity_(capacity), pos_(base), work_(work), work_start_(base) {
    direct_end_ = capacity >= base ? base + (capacity - base) / kBlockSize * kBlockSize : base;
  }

  // Aims the stream's output at the next place: all the rest of the in-place
  // region at once (a stream that sees its whole output in one call runs
  // fastest), else the work buffer.
  void Aim(z_stream* zs) {
    if (pos_ < direct_end_) {
      in_work_ = false;
      out_ = dst_ + pos_;
      zs->avail_out = static_cast<uInt>(direct_end_ - pos_);
    } else {
      if (!in_work_ || work_fill_ == kBlockSize) {
        FlushWork();
        work_start_ = pos_;
      }
      in_work_ = true;
      out_ = work_ + work_fill_;
      zs->avail_out = static_cast<uInt>(kBlockSize - work_fill_);
    }
    zs->next_out = out_;
  }

  // Accounts for what the stream wrote since Aim; returns those bytes.
  ByteSpan Advance(const z_stream& zs) {
    const std::size_t produced = static_cast<std::size_t>(zs.next_out - out_);
    pos_ += static_cast<std::int64_t>(produced);
    if (in_work_) work_fill_ += static_cast<int>(produced);
    return ByteSpan(out_, produced);
  }

  // Copies the block held in the work buffer out if it fits, and empties the
  // buffer. Called when the buffer is full and once at the end.
  void FlushWork() {
    if (work_fill_ > 0 && work_start_ + work_fill_ <= capacity_) {
      std::memcpy(dst_ + work_start_, work_, static_cast<std::size_t>(work_fill_));
    }
    work_fill_ = 0;
  }

  std::int64_t position() const { return pos_; }

 private:
  unsigned char* dst_;
  std::int64_t capacity_;
  std::int64_t pos_;
  std::int64_t direct_end_;
  unsigned char* work_;
  std::int64_t work_start_;
  int work_fill_ = 0;
  bool in_work_ = false;
  unsigned char* out_ = nullptr;
};

// The capacity the caller really offers: nothing without a buffer.
std::int64_t UsableCapacity(const unsigned char* dst, int dst_len) {
  return dst == nullptr || dst_len < 0 ? 0 : dst_len;
}

std::unique_ptr<unsigned char[]> NewWorkBuffer() {
  return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[kBlockSize]);
}

// Returns the length of the gzip header at the start of |p| (|n| bytes
// available), or -1 when it is not a deflate member's header or its fields
// run past |n|.
int HeaderLength(const unsigned char* p, int n) {
  if (n < kHeaderSize || p[0] != 0x1F || p[1] != 0x8B || p[2] != 8) return -1;
  const std::uint8_t flags = p[3];
  if (flags & kFlagReserved) return -1;
  int off = kHeaderSize;
  if (flags & kFlagExtra) {
    if (n - off < 2) return -1;
    const int extra_len = p[off] | (p[off + 1] << 8);
    off += 2;
    if (n - off < extra_len) return -1;
    off += extra_len;
  }
  for (std::uint8_t text_flag : {kFlagName, kFlagComment}) {
    if ((flags & text_flag) == 0) continue;
    const void* nul = std::memchr(p + off, 0, static_cast<std::size_t>(n - off));
    if (nul == nullptr) return -1;
    off = static_cast<int>(static_cast<const unsigned char*>(nul) - p) + 1;
  }
  if (flags & kFlagHeaderCrc) {
    if (n - off < 2) return -1;
    off += 2;
  }
  return off;
}

void PutLe32(std::uint32_t v, std::int64_t at, unsigned char* dst, std::int64_t capacity) {
  for (int i = 0; i < 4; ++i, ++at) {
    if (at < capacity) dst[at] = static_cast<unsigned char>(v >> (8 * i));
  }
}

std::uint32_t GetLe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

int Compress(const unsigned char* src, int src_len, unsigned char* dst, int* dst_len) {
  if (dst_len == nullptr) return Z_DATA_ERROR;
  z_stream stream{};
  const int init =
      deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  if (init != Z_OK) return init;
  std::unique_ptr<z_stream, DeflateEnder> ender(&stream);
  if (src == nullptr || src_len <= 0) return Z_DATA_ERROR;

  const std::int64_t capacity = UsableCapacity(dst, *dst_len);
  if (capacity >= kHeaderSize + kTrailerSize) std::memcpy(dst, kHeader, kHeaderSize);
  std::unique_ptr<unsigned char[]> work = NewWorkBuffer();
  if (!work) return Z_MEM_ERROR;

  const std::uint32_t crc = Crc32Update(0, ByteSpan(src, static_cast<std::size_t>(src_len)));
  stream.next_in = const_cast<Bytef*>(src);
  stream.avail_in = static_cast<uInt>(src_len);
  BlockPlacer placer(dst, capacity, kHeaderSize, work.get());
  for (;;) {
    placer.Aim(&stream);
    const int rc = deflate(&stream, Z_FINISH);
    placer.Advance(stream);
    if (placer.position() > INT_MAX - kTrailerSize) return Z_MEM_ERROR;
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) return rc;
  }
  placer.FlushWork();

  const std::int64_t trailer = placer.position();
  PutLe32(crc, trailer, dst, capacity);
  PutLe32(static_cast<std::uint32_t>(src_len), trailer + 4, dst, capacity);
  *dst_len = static_cast<int>(trailer + kTrailerSize);
  return *dst_len > capacity ? Z_BUF_ERROR : Z_OK;
}

int Uncompress(const unsigned char* src, int src_len, unsigned char* dst, int* dst_len) {
  if (src == nullptr || src_len < kMinFrameSize || dst_len == nullptr) return Z_DATA_ERROR;
  z_stream stream{};
  const int init = inflateInit2(&stream, -MAX_WBITS);
  if (init != Z_OK) return init;
  std::unique_ptr<z_stream, InflateEnder> ender(&stream);
  std::unique_ptr<unsigned char[]> work = NewWorkBuffer();
  if (!work) return Z_MEM_ERROR;

  const int header_len = HeaderLength(src, std::min(src_len, kBlockSize));
  if (header_len < 0) return Z_DATA_ERROR;
  stream.next_in = const_cast<Bytef*>(src + header_len);
  stream.avail_in = static_cast<uInt>(src_len - header_len);

  // The trailer's length field bounds the work: no more is ever inflated
  // than the frame declares, and no more than the caller has room for.
  const std::int64_t declared = GetLe32(src + src_len - 4);
  if (declared > kMaxDeflateRatio * static_cast<std::int64_t>(src_len)) return Z_DATA_ERROR;
  const std::int64_t capacity = UsableCapacity(dst, *dst_len);
  BlockPlacer placer(dst, capacity, 0, work.get());
  std::uint32_t crc = 0;
  for (;;) {
    placer.Aim(&stream);
    const int rc = inflate(&stream, Z_FINISH);
    crc = Crc32Update(crc, placer.Advance(stream));
    if (placer.position() > declared) return Z_DATA_ERROR;
    if (placer.position() > capacity) {
      // Only the size is wanted now; the call with room checks the rest.
      placer.FlushWork();
      if (declared > INT_MAX) return Z_MEM_ERROR;
      *dst_len = static_cast<int>(declared);
      return Z_BUF_ERROR;
    }
    if (rc == Z_STREAM_END) break;
    if (rc == Z_MEM_ERROR) return Z_MEM_ERROR;
    if (rc != Z_OK && rc != Z_BUF_ERROR) return Z_DATA_ERROR;
    // Room left but no progress: the source ended inside the deflate stream.
    if (stream.avail_out != 0) return Z_DATA_ERROR;
  }
  placer.FlushWork();

  if (stream.avail_in != kTrailerSize) return Z_DATA_ERROR;
  if (GetLe32(stream.next_in) != crc) return Z_DATA_ERROR;
  if (placer.position() != declared) return Z_DATA_ERROR;
  *dst_len = static_cast<int>(placer.position());
  return Z_OK;
}

}  // namespace
}  // namespace quillmark::encoding

// The C exports: no exception may leave them, and memory exhaustion has its
// own status there (Z_MEM_ERROR). The work buffers are taken with nothrow new,
// so this catch only guards what zlib or the library may add later.
extern "C" int mem_compress(const unsigned char* src, int src_len, unsigned char* dst,
                            int* dst_len) {
  try {
    return quillmark::encoding::Compress(src, src_len, dst, dst_len);
  } catch (const std::bad_alloc&) {
    return Z_MEM_ERROR;
  }
}

extern "C" int mem_uncompress(const unsigned char* src, int src_len, unsigned char* dst,
                              int* dst_len) {
  try {
    return quillmark::encoding::Uncompress(src, src_len, dst, dst_len);
  } catch (const std::bad_alloc&) {
    return Z_MEM_ERROR;
  }
}
