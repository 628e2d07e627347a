#include "encoding/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

namespace quillmark::encoding {
namespace {

TEST(Crc32, MatchesZlibForEveryLengthOffsetAndStartValue) {
  std::mt19937 rng(1);
  Bytes data(4096 + 64);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  for (std::size_t offset = 0; offset < 17; ++offset) {
    for (std::size_t len = 0; len <= 700; ++len) {
      const std::uint32_t start = len % 3 == 0 ? 0 : static_cast<std::uint32_t>(rng());
      ASSERT_EQ(Crc32Update(start, ByteSpan(data.data() + offset, len)),
                crc32(start, data.data() + offset, static_cast<uInt>(len)))
          << "offset " << offset << " length " << len;
    }
  }
  EXPECT_EQ(Crc32Update(0, AsBytes("123456789")), 0xCBF43926u);
  EXPECT_EQ(Crc32Update(0, AsBytes("abc")), 0x352441C2u);
}

TEST(Crc32, PiecesGiveTheValueOfTheWhole) {
  std::mt19937 rng(2);
  Bytes data((1 << 20) + 13);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng() % 7);  // long runs, repeats
  const std::uint32_t whole = Crc32Update(0, data);
  EXPECT_EQ(whole, crc32(0, data.data(), static_cast<uInt>(data.size())));
  std::uint32_t running = 0;
  for (std::size_t off = 0; off < data.size();) {
    std::size_t piece = std::min<std::size_t>(1 + rng() % 40000, data.size() - off);
    running = Crc32Update(running, ByteSpan(data.data() + off, piece));
    off += piece;
  }
  EXPECT_EQ(running, whole);
}

}  // namespace
}  // namespace quillmark::encoding
