#include "encoding/compress_frame.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "encoding/mem_compress.h"
#include "support/test_dirs.h"

namespace quillmark::encoding {
namespace {

constexpr int kBlock = 16384;
constexpr std::uint8_t kSentinel = 0xEE;

Bytes RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

// Words, numbers, punctuation and line breaks: compresses like a document.
Bytes TextLike(std::size_t n, unsigned seed) {
  static const char* const kWords[] = {"payment", "account", "the",  "signature", "of",
                                       "bank",    "amount",  "date", "reference", "and"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += kWords[rng() % 10];
    switch (rng() % 8) {
      case 0:
        s += " " + std::to_string(rng() % 100000) + " ";
        break;
      case 1:
        s += ", ";
        break;
      case 2:
        s += ".\n";
        break;
      default:
        s += ' ';
    }
  }
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

// The frame built directly with zlib: the fixed header, the raw deflate
// stream fed in 16 KiB pieces, CRC-32 and length.
Bytes ReferenceFrame(ByteSpan data) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, -1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes frame = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0x0B};
  std::uint8_t out[kBlock];
  auto drain = [&](int flush) {
    int rc;
    do {
      zs.next_out = out;
      zs.avail_out = sizeof out;
      rc = deflate(&zs, flush);
      frame.insert(frame.end(), out, out + (sizeof out - zs.avail_out));
    } while (zs.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
  };
  for (std::size_t off = 0; off < data.size(); off += kBlock) {
    std::size_t piece = std::min<std::size_t>(kBlock, data.size() - off);
    zs.next_in = const_cast<Bytef*>(data.data() + off);
    zs.avail_in = static_cast<uInt>(piece);
    drain(Z_NO_FLUSH);
  }
  drain(Z_FINISH);
  deflateEnd(&zs);
  std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, data.data(), data.size()));
  std::uint32_t len = static_cast<std::uint32_t>(data.size());
  for (std::uint32_t v : {crc, len}) {
    for (int i = 0; i < 4; ++i) frame.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  return frame;
}

// mem_compress through the two-call protocol.
Bytes Compress(ByteSpan data) {
  int size = 0;
  EXPECT_EQ(mem_compress(data.data(), static_cast<int>(data.size()), nullptr, &size), Z_BUF_ERROR);
  Bytes frame(static_cast<std::size_t>(size));
  int len = size;
  EXPECT_EQ(mem_compress(data.data(), static_cast<int>(data.size()), frame.data(), &len), Z_OK);
  EXPECT_EQ(len, size);
  return frame;
}

// mem_uncompress into a buffer of exactly |capacity| bytes.
int Uncompress(ByteSpan frame, int capacity, Bytes* out) {
  out->assign(static_cast<std::size_t>(capacity), kSentinel);
  int len = capacity;
  int rc = mem_uncompress(frame.data(), static_cast<int>(frame.size()), out->data(), &len);
  if (rc == Z_OK) out->resize(static_cast<std::size_t>(len));
  return rc;
}

// |frame| with its trailer's length field replaced.
Bytes WithDeclaredLength(Bytes frame, std::uint32_t declared) {
  for (int i = 0; i < 4; ++i) {
    frame[frame.size() - 4 + i] = static_cast<std::uint8_t>(declared >> (8 * i));
  }
  return frame;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, ByteSpan data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

TEST(MemCompress, AbcFrameHasFixedHeaderCrcAndLength) {
  Bytes frame = Compress(AsBytes("abc"));
  ASSERT_GE(frame.size(), 19u);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 10),
            (Bytes{0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B}));
  EXPECT_EQ(Bytes(frame.end() - 8, frame.end()),
            (Bytes{0xC2, 0x41, 0x24, 0x35, 0x03, 0x00, 0x00, 0x00}));
  EXPECT_EQ(frame, ReferenceFrame(AsBytes("abc")));
}

TEST(MemCompress, RefusesMissingSourceAndLength) {
  const unsigned char src[] = "abc";
  unsigned char dst[64];
  int len = sizeof dst;
  EXPECT_EQ(mem_compress(nullptr, 3, dst, &len), Z_DATA_ERROR);
  EXPECT_EQ(mem_compress(src, 0, dst, &len), Z_DATA_ERROR);
  EXPECT_EQ(mem_compress(src, -1, dst, &len), Z_DATA_ERROR);
  EXPECT_EQ(mem_compress(src, INT_MIN, dst, &len), Z_DATA_ERROR);
  EXPECT_EQ(len, static_cast<int>(sizeof dst));
  EXPECT_EQ(mem_compress(src, 3, dst, nullptr), Z_DATA_ERROR);
}

// Which bytes of a frame may land in a buffer of |capacity| bytes: the
// header when the capacity reaches 18, each 16 KiB piece of deflate data
// whose end fits, and each trailer byte that fits.
Bytes ExpectedPartialFrame(const Bytes& frame, int capacity) {
  Bytes expected(static_cast<std::size_t>(capacity), kSentinel);
  const int deflate_len = static_cast<int>(frame.size()) - 18;
  for (int i = 0; i < capacity; ++i) {
    bool written;
    if (i < 10) {
      written = capacity >= 18;
    } else if (i < 10 + deflate_len) {
      int block_end = std::min(10 + ((i - 10) / kBlock + 1) * kBlock, 10 + deflate_len);
      written = block_end <= capacity;
    } else {
      written = true;
    }
    if (written) expected[i] = frame[i];
  }
  return expected;
}

TEST(MemCompress, ShortCapacityReportsSizeAndWritesOnlyWholePiecesInside) {
  for (const Bytes& data :
       {RandomBytes(3 * kBlock + 500, 1), TextLike(200000, 2), Bytes{'a', 'b', 'c'}}) {
    const Bytes frame = ReferenceFrame(data);
    const int total = static_cast<int>(frame.size());
    for (int capacity : {0, 9, 10, 17, 18, 19, 10 + kBlock - 1, 10 + kBlock, 10 + 2 * kBlock + 3,
                         total - 9, total - 8, total - 4, total - 1}) {
      if (capacity < 0 || capacity >= total) continue;
      SCOPED_TRACE("size " + std::to_string(data.size()) + " capacity " + std::to_string(capacity));
      Bytes dst(static_cast<std::size_t>(capacity), kSentinel);
      int len = capacity;
      EXPECT_EQ(mem_compress(data.data(), static_cast<int>(data.size()), dst.data(), &len),
                Z_BUF_ERROR);
      EXPECT_EQ(len, total);
      EXPECT_EQ(dst, ExpectedPartialFrame(frame, capacity));
    }
    Bytes exact(frame.size());
    int len = total;
    EXPECT_EQ(mem_compress(data.data(), static_cast<int>(data.size()), exact.data(), &len), Z_OK);
    EXPECT_EQ(exact, frame);
  }
}

TEST(MemCompress, NullDestinationOrNegativeCapacityIsNeverWritten) {
  const Bytes data = TextLike(5000, 3);
  const int total = static_cast<int>(ReferenceFrame(data).size());
  int len = 1 << 20;  // a capacity claimed for a buffer that is not there
  EXPECT_EQ(mem_compress(data.data(), 5000, nullptr, &len), Z_BUF_ERROR);
  EXPECT_EQ(len, total);
  Bytes dst(64, kSentinel);
  len = -1;
  EXPECT_EQ(mem_compress(data.data(), 5000, dst.data(), &len), Z_BUF_ERROR);
  EXPECT_EQ(len, total);
  EXPECT_EQ(dst, Bytes(64, kSentinel));
}

TEST(MemCompress, RoundTripsAcrossPieceBoundaries) {
  for (std::size_t n :
       {1, 2, 255, 16383, 16384, 16385, 2 * 16384, 3 * 16384 + 1, 100000, 1 << 20}) {
    for (const Bytes& data : {RandomBytes(n, static_cast<unsigned>(n)), TextLike(n, 7)}) {
      SCOPED_TRACE("size " + std::to_string(n));
      const Bytes frame = Compress(data);
      EXPECT_EQ(frame, ReferenceFrame(data));
      Bytes back;
      ASSERT_EQ(Uncompress(frame, static_cast<int>(n), &back), Z_OK);
      EXPECT_EQ(back, data);
    }
  }
}

TEST(MemUncompress, ShortCapacityReportsSizeAndWritesOnlyWholeBlocksInside) {
  for (const Bytes& data : {TextLike(5 * kBlock + 123, 4), TextLike(4 * kBlock, 5)}) {
    const Bytes frame = Compress(data);
    const int total = static_cast<int>(data.size());
    for (int capacity :
         {0, 1, kBlock - 1, kBlock, kBlock + 1, 3 * kBlock + 77, total - kBlock, total - 1}) {
      SCOPED_TRACE("size " + std::to_string(total) + " capacity " + std::to_string(capacity));
      Bytes out;
      ASSERT_EQ(Uncompress(frame, capacity, &out), Z_BUF_ERROR);
      Bytes expected(static_cast<std::size_t>(capacity), kSentinel);
      const int whole = capacity / kBlock * kBlock;
      std::copy(data.begin(), data.begin() + whole, expected.begin());
      EXPECT_EQ(out, expected);
      int len = capacity;
      mem_uncompress(frame.data(), static_cast<int>(frame.size()), out.data(), &len);
      EXPECT_EQ(len, total);
    }
    Bytes out;
    ASSERT_EQ(Uncompress(frame, total + 1000, &out), Z_OK);
    EXPECT_EQ(out, data);
  }
  // A null destination is capacity 0 whatever the length claims.
  const Bytes frame = Compress(TextLike(1000, 6));
  int len = 1 << 20;
  EXPECT_EQ(mem_uncompress(frame.data(), static_cast<int>(frame.size()), nullptr, &len),
            Z_BUF_ERROR);
  EXPECT_EQ(len, 1000);
  len = -5;
  Bytes dst(16, kSentinel);
  EXPECT_EQ(mem_uncompress(frame.data(), static_cast<int>(frame.size()), dst.data(), &len),
            Z_BUF_ERROR);
  EXPECT_EQ(len, 1000);
  EXPECT_EQ(dst, Bytes(16, kSentinel));
}

TEST(MemUncompress, RefusesWhatIsNotOneCompleteCorrectFrame) {
  const Bytes data = TextLike(40000, 8);
  const Bytes good = Compress(data);
  auto with = [&](auto edit) {
    Bytes f = good;
    edit(f);
    return f;
  };
  struct Case {
    const char* name;
    Bytes frame;
  } cases[] = {
      {"empty", {}},
      {"18 bytes", Bytes(good.begin(), good.begin() + 18)},
      {"bad magic", with([](Bytes& f) { f[1] = 0x8C; })},
      {"method 7", with([](Bytes& f) { f[2] = 7; })},
      {"reserved flag 5", with([](Bytes& f) { f[3] = 0x20; })},
      {"reserved flag 7", with([](Bytes& f) { f[3] = 0x80; })},
      {"crc byte 0", with([](Bytes& f) { f[f.size() - 8] ^= 1; })},
      {"crc byte 3", with([](Bytes& f) { f[f.size() - 5] ^= 0x80; })},
      {"extra byte after trailer", with([](Bytes& f) { f.push_back(0); })},
      {"frame twice", with([&](Bytes& f) { f.insert(f.end(), good.begin(), good.end()); })},
      {"trailer one short", Bytes(good.begin(), good.end() - 1)},
      {"no trailer", Bytes(good.begin(), good.end() - 8)},
      {"stream cut in half", Bytes(good.begin(), good.begin() + good.size() / 2)},
      {"corrupt deflate data", with([](Bytes& f) { f[10] = 0xFF; })},
      {"name never ends", with([](Bytes& f) {
         f[3] = 0x08;
         f.resize(200);
         std::fill(f.begin() + 10, f.end(), 'n');
       })},
      {"extra field too long", with([](Bytes& f) {
         f[3] = 0x04;
         f[10] = 0xFF;
         f[11] = 0xFF;
       })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(data.size() + 10);
    int len = static_cast<int>(out.size());
    EXPECT_EQ(mem_uncompress(c.frame.empty() ? nullptr : c.frame.data(),
                             static_cast<int>(c.frame.size()), out.data(), &len),
              Z_DATA_ERROR);
  }
  Bytes out(data.size());
  int len = static_cast<int>(out.size());
  EXPECT_EQ(mem_uncompress(nullptr, static_cast<int>(good.size()), out.data(), &len), Z_DATA_ERROR);
  EXPECT_EQ(mem_uncompress(good.data(), -1, out.data(), &len), Z_DATA_ERROR);
  EXPECT_EQ(mem_uncompress(good.data(), INT_MIN, out.data(), &len), Z_DATA_ERROR);
  EXPECT_EQ(mem_uncompress(good.data(), static_cast<int>(good.size()), out.data(), nullptr),
            Z_DATA_ERROR);
  // The length field must match what inflates, as the CRC must: a frame
  // declaring one byte fewer or more, or a length far off, is refused.
  for (std::int64_t declared : {std::int64_t{0}, std::int64_t{1}, std::int64_t(data.size()) - 1,
                                std::int64_t(data.size()) + 1, std::int64_t{1} << 30}) {
    SCOPED_TRACE("declared " + std::to_string(declared));
    Bytes wrong_length = WithDeclaredLength(good, static_cast<std::uint32_t>(declared));
    ASSERT_EQ(Uncompress(wrong_length, static_cast<int>(data.size()) + kBlock, &out), Z_DATA_ERROR);
    Bytes buf = wrong_length;
    EXPECT_FALSE(ExpandFrame(&buf, std::size_t{1} << 31));
    EXPECT_EQ(buf, wrong_length);
  }
}

// Rebuilds a frame's header with the optional fields a gzip tool may write.
Bytes WithHeaderFields(const Bytes& plain_frame, const Bytes& extra, const std::string& name,
                       const std::string& comment, bool header_crc) {
  Bytes f(plain_frame.begin(), plain_frame.begin() + 10);
  f[3] = static_cast<std::uint8_t>((extra.empty() ? 0 : 0x04) | (name.empty() ? 0 : 0x08) |
                                   (comment.empty() ? 0 : 0x10) | (header_crc ? 0x02 : 0));
  if (!extra.empty()) {
    f.push_back(static_cast<std::uint8_t>(extra.size()));
    f.push_back(static_cast<std::uint8_t>(extra.size() >> 8));
    f.insert(f.end(), extra.begin(), extra.end());
  }
  for (const std::string* text : {&name, &comment}) {
    if (text->empty()) continue;
    f.insert(f.end(), text->begin(), text->end());
    f.push_back(0);
  }
  if (header_crc) {
    auto crc = crc32(0, f.data(), static_cast<uInt>(f.size()));
    f.push_back(static_cast<std::uint8_t>(crc));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
  }
  f.insert(f.end(), plain_frame.begin() + 10, plain_frame.end());
  return f;
}

TEST(MemUncompress, SkipsOptionalHeaderFieldsWithinTheFirstPiece) {
  const Bytes data = TextLike(30000, 9);
  const Bytes plain = Compress(data);
  struct Case {
    Bytes extra;
    std::string name, comment;
    bool hcrc;
  } cases[] = {
      {{'A', 'B', 2, 0, 'x', 'y'}, "", "", false}, {{}, "report.txt", "", false},
      {{}, "", "signed on Monday", false},         {{}, "", "", true},
      {{'Q', 'M', 0, 0}, "a.p7", "comment", true}, {{}, std::string(16000, 'n'), "", false},
  };
  for (const Case& c : cases) {
    Bytes framed = WithHeaderFields(plain, c.extra, c.name, c.comment, c.hcrc);
    SCOPED_TRACE("flags " + std::to_string(framed[3]) + " name length " +
                 std::to_string(c.name.size()));
    Bytes out;
    ASSERT_EQ(Uncompress(framed, static_cast<int>(data.size()), &out), Z_OK);
    EXPECT_EQ(out, data);
  }
  // Fields must end within the first 16 KiB of the source.
  Bytes long_name = WithHeaderFields(plain, {}, std::string(17000, 'n'), "", false);
  Bytes out;
  EXPECT_EQ(Uncompress(long_name, static_cast<int>(data.size()), &out), Z_DATA_ERROR);
}

TEST(MemUncompress, OutputLongerThanAnIntIsRefused) {
  // One fully flushed deflate piece of 1 MiB of zeros, repeated 2049 times,
  // then the final block: 2 GiB + 1 MiB of output from about 2 MiB.
  z_stream zs{};
  ASSERT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  const Bytes zeros(1 << 20, 0);
  Bytes piece(8192), tail(64);
  zs.next_in = const_cast<Bytef*>(zeros.data());
  zs.avail_in = static_cast<uInt>(zeros.size());
  zs.next_out = piece.data();
  zs.avail_out = static_cast<uInt>(piece.size());
  ASSERT_EQ(deflate(&zs, Z_FULL_FLUSH), Z_OK);
  ASSERT_EQ(zs.avail_in, 0u);
  piece.resize(piece.size() - zs.avail_out);
  zs.next_out = tail.data();
  zs.avail_out = static_cast<uInt>(tail.size());
  ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  tail.resize(tail.size() - zs.avail_out);
  deflateEnd(&zs);

  Bytes frame = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0x0B};
  for (int i = 0; i < 2049; ++i) frame.insert(frame.end(), piece.begin(), piece.end());
  frame.insert(frame.end(), tail.begin(), tail.end());
  frame.insert(frame.end(), 8, 0);
  // Declaring its true length (2049 MiB) it is refused once the output
  // passes the capacity, long before 2 GiB are inflated.
  frame = WithDeclaredLength(frame, 2049u << 20);
  int len = 0;
  EXPECT_EQ(mem_uncompress(frame.data(), static_cast<int>(frame.size()), nullptr, &len),
            Z_MEM_ERROR);
  Bytes buf = frame;
  EXPECT_FALSE(ExpandFrame(&buf, SIZE_MAX));
  EXPECT_EQ(buf, frame);
  // Declaring less, it fails once the output passes what it declared, and
  // the caller's capacity then plays no part.
  for (std::uint32_t declared : {0u, 1u << 20}) {
    Bytes lying = WithDeclaredLength(frame, declared);
    Bytes out(4 << 20);
    len = static_cast<int>(out.size());
    EXPECT_EQ(mem_uncompress(lying.data(), static_cast<int>(lying.size()), out.data(), &len),
              Z_DATA_ERROR);
  }
}

// About 1 MiB of frame that inflates to 1 GiB of zeros (its CRC left 0).
Bytes GigabyteFrame() {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  const Bytes zeros(1 << 20, 0);
  Bytes piece(8192), tail(64);
  zs.next_in = const_cast<Bytef*>(zeros.data());
  zs.avail_in = static_cast<uInt>(zeros.size());
  zs.next_out = piece.data();
  zs.avail_out = static_cast<uInt>(piece.size());
  EXPECT_EQ(deflate(&zs, Z_FULL_FLUSH), Z_OK);
  piece.resize(piece.size() - zs.avail_out);
  zs.next_out = tail.data();
  zs.avail_out = static_cast<uInt>(tail.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  tail.resize(tail.size() - zs.avail_out);
  deflateEnd(&zs);
  Bytes frame = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0x0B};
  for (int i = 0; i < 1024; ++i) frame.insert(frame.end(), piece.begin(), piece.end());
  frame.insert(frame.end(), tail.begin(), tail.end());
  frame.insert(frame.end(), 8, 0);
  return WithDeclaredLength(frame, 1u << 30);
}

TEST(MemUncompress, WorkIsBoundedByTheCapacityAndTheDeclaredLength) {
  const Bytes frame = GigabyteFrame();
  ASSERT_LT(frame.size(), 2u << 20);
  // A small window: the size needed is the declared length, found without
  // inflating the rest (its wrong CRC is never reached).
  for (int capacity : {0, 4096, 1 << 20}) {
    SCOPED_TRACE("capacity " + std::to_string(capacity));
    Bytes out(static_cast<std::size_t>(capacity) + 16, kSentinel);
    int len = capacity;
    EXPECT_EQ(mem_uncompress(frame.data(), static_cast<int>(frame.size()), out.data(), &len),
              Z_BUF_ERROR);
    EXPECT_EQ(len, 1 << 30);
    const int whole = capacity / kBlock * kBlock;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + whole), Bytes(static_cast<std::size_t>(whole), 0));
    EXPECT_EQ(Bytes(out.begin() + capacity, out.end()), Bytes(16, kSentinel));
  }
}

TEST(ExpandFrame, ContentBeyondTheCallersLimitIsLeftAlone) {
  // A frame declaring a gigabyte is refused before anything is allocated.
  const Bytes giant = GigabyteFrame();
  Bytes buf = giant;
  EXPECT_FALSE(ExpandFrame(&buf, kMaxExpandedMessage));
  EXPECT_EQ(buf, giant);

  // A correct frame expands up to the limit exactly, and not one byte beyond.
  const Bytes data = TextLike(100000, 14);
  const Bytes frame = Compress(data);
  buf = frame;
  EXPECT_FALSE(ExpandFrame(&buf, data.size() - 1));
  EXPECT_EQ(buf, frame);
  EXPECT_FALSE(ExpandFrame(&buf, 0));
  EXPECT_EQ(buf, frame);
  EXPECT_TRUE(ExpandFrame(&buf, data.size()));
  EXPECT_EQ(buf, data);

  // The first guess (twice the frame) is also cut to the limit.
  const Bytes small = TextLike(300, 15);
  Bytes framed = small;
  ASSERT_TRUE(CompressFrame(&framed, 0));
  ASSERT_GT(2 * framed.size(), small.size());
  EXPECT_TRUE(ExpandFrame(&framed, small.size()));
  EXPECT_EQ(framed, small);
}

TEST(CompressFrame, CompressesFromTheThresholdOnAndExpandsBack) {
  const Bytes data = TextLike(5000, 10);
  Bytes buf = data;
  EXPECT_FALSE(CompressFrame(&buf, 5001));
  EXPECT_EQ(buf, data);
  EXPECT_TRUE(CompressFrame(&buf, 5000));
  EXPECT_EQ(buf, ReferenceFrame(data));
  EXPECT_TRUE(
      ExpandFrame(&buf, kMaxExpandedMessage));  // content larger than twice the frame: grows once
  EXPECT_EQ(buf, data);

  Bytes noise = RandomBytes(300, 11);  // frame larger than the data
  buf = noise;
  EXPECT_TRUE(CompressFrame(&buf, -7));
  EXPECT_GT(buf.size(), noise.size());
  EXPECT_TRUE(ExpandFrame(&buf, kMaxExpandedMessage));
  EXPECT_EQ(buf, noise);

  Bytes empty;
  EXPECT_FALSE(CompressFrame(&empty, 0));
  EXPECT_FALSE(CompressFrame(nullptr, 0));
  EXPECT_FALSE(ExpandFrame(&empty, kMaxExpandedMessage));
  EXPECT_FALSE(ExpandFrame(nullptr, kMaxExpandedMessage));
}

// Megabytes of noise (whose frame is larger than the data) and of text:
// each compressed in one buffer made for the worst case, expanded in one
// buffer of the declared length, and back byte for byte.
TEST(CompressFrame, LargeContentRoundTripsInOneBufferEachWay) {
  for (const Bytes& data : {RandomBytes((3 << 20) + 7, 21), TextLike((3 << 20) + 5, 22)}) {
    Bytes buf = data;
    ASSERT_TRUE(CompressFrame(&buf, 0));
    EXPECT_EQ(buf, ReferenceFrame(data));
    ASSERT_TRUE(ExpandFrame(&buf, data.size()));
    EXPECT_EQ(buf, data);
  }
}

// The declared length sizes the expansion's buffer, so a frame that lies
// about it must still be refused and left as it was, whichever way it lies.
TEST(ExpandFrame, AFrameDeclaringAWrongLengthIsLeftAlone) {
  const Bytes data = TextLike((1 << 20) + 3, 23);
  const Bytes frame = Compress(data);
  const auto length = static_cast<std::uint32_t>(data.size());
  for (std::uint32_t declared : {length - 1, length + 1, length / 2, std::uint32_t{0},
                                 static_cast<std::uint32_t>(frame.size()) * 1033}) {
    const Bytes lying = WithDeclaredLength(frame, declared);
    Bytes buf = lying;
    EXPECT_FALSE(ExpandFrame(&buf, SIZE_MAX)) << declared;
    EXPECT_EQ(buf, lying) << declared;
  }
  Bytes buf = frame;
  EXPECT_TRUE(ExpandFrame(&buf, data.size()));
  EXPECT_EQ(buf, data);
}

TEST(ExpandFrame, LeavesAnythingButAGoodFrameAlone) {
  Bytes der = {0x30, 0x82, 0x01, 0x0A, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7,
               0x0D, 0x01, 0x07, 0x02, 0xA0, 0x82, 0x00, 0xFB, 0x30, 0x82};
  der.resize(270, 0x55);
  Bytes buf = der;
  EXPECT_FALSE(ExpandFrame(&buf, kMaxExpandedMessage));
  EXPECT_EQ(buf, der);

  Bytes frame = Compress(TextLike(70000, 12));
  frame[frame.size() - 6] ^= 0x10;  // CRC
  buf = frame;
  EXPECT_FALSE(ExpandFrame(&buf, kMaxExpandedMessage));
  EXPECT_EQ(buf, frame);
}

TEST(GzipInterop, ToolExpandsOurFramesAndWeExpandTheToolsFiles) {
#ifdef _WIN32
  GTEST_SKIP() << "the gzip command is a tool of the Linux build, which runs this test";
#endif
  testing::ScratchDir dir;
  const Bytes data = TextLike(100000, 13);

  WriteFile(dir.File("ours.gz"), Compress(data));
  ASSERT_EQ(
      testing::RunShell("gzip -dc '" + dir.File("ours.gz") + "' > '" + dir.File("ours.out") + "'"),
      0);
  EXPECT_EQ(ReadFile(dir.File("ours.out")), data);

  WriteFile(dir.File("doc.txt"), data);
  ASSERT_EQ(testing::RunShell("cd '" + dir.path() + "' && gzip -c doc.txt > named.gz && " +
                              "gzip -n -c doc.txt > plain.gz && gzip -9 -c doc.txt > best.gz"),
            0);
  for (const char* name : {"named.gz", "plain.gz", "best.gz"}) {
    SCOPED_TRACE(name);
    Bytes buf = ReadFile(dir.File(name));
    ASSERT_GT(buf.size(), 18u);
    EXPECT_EQ((buf[3] & 0x08) != 0, std::string(name) != "plain.gz") << "file name stored";
    EXPECT_TRUE(ExpandFrame(&buf, kMaxExpandedMessage));
    EXPECT_EQ(buf, data);
  }

  // Every optional header field at once, checked by the tool first.
  Bytes plain = ReadFile(dir.File("plain.gz"));
  Bytes full = WithHeaderFields(plain, {'Q', 'M', 3, 0, 1, 2, 3}, "doc.txt", "a comment", true);
  WriteFile(dir.File("full.gz"), full);
  ASSERT_EQ(testing::RunShell("gzip -t '" + dir.File("full.gz") + "'"), 0);
  Bytes out;
  ASSERT_EQ(Uncompress(full, static_cast<int>(data.size()), &out), Z_OK);
  EXPECT_EQ(out, data);
}

}  // namespace
}  // namespace quillmark::encoding
