#include "encoding/base64.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>

#include "common/status.h"
#include "encoding/base64_simd.h"
#include "platform/os/files.h"
#include "support/base64_oracle.h"
#include "support/test_dirs.h"

namespace quillmark::encoding {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }
std::string S(const Bytes& b) { return std::string(b.begin(), b.end()); }

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

// The decoding rules, one byte at a time and nothing clever.
int ReferenceDecode(ByteSpan text, Bytes* out) {
  out->clear();
  std::string g;
  for (std::uint8_t c : text) {
    if (c != '=' && kAlphabet.find(static_cast<char>(c)) == std::string_view::npos) continue;
    g += static_cast<char>(c);
    if (g.size() < 4) continue;
    if (g[0] == '=' || g[1] == '=' || (g[2] == '=' && g[3] != '=')) {
      out->clear();
      return 0;
    }
    unsigned a = kAlphabet.find(g[0]), b = kAlphabet.find(g[1]);
    unsigned c2 = g[2] == '=' ? 0 : kAlphabet.find(g[2]);
    unsigned d = g[3] == '=' ? 0 : kAlphabet.find(g[3]);
    out->push_back(static_cast<std::uint8_t>((a << 2) | (b >> 4)));
    if (g[2] == '=') return 0;
    out->push_back(static_cast<std::uint8_t>((b << 4) | (c2 >> 2)));
    if (g[3] == '=') return 0;
    out->push_back(static_cast<std::uint8_t>((c2 << 6) | d));
    g.clear();
  }
  if (!g.empty()) out->clear();
  return g.empty() ? 0 : kErrBase64Decode;
}

// Standard Base64 without line breaks, from OpenSSL.
std::string OpenSslUnbroken(const Bytes& in) { return testing::OracleBase64Unbroken(in); }

// Checks the line layout of `text` and that its characters are `unbroken`.
void ExpectLaidOut(const std::string& text, const std::string& unbroken) {
  ASSERT_FALSE(text.empty());
  ASSERT_EQ(text.back(), '\n');
  std::string joined;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t lf = text.find('\n', start);
    std::size_t len = lf - start;
    bool last = lf + 1 == text.size();
    if (!last) {
      EXPECT_EQ(len, 64u) << "line at " << start;
    }
    EXPECT_LE(len, 64u);
    EXPECT_TRUE(len > 0 || text == "\n") << "empty line at " << start;
    joined += text.substr(start, len);
    start = lf + 1;
  }
  EXPECT_EQ(joined, unbroken);
}

// Every test runs twice: with the vector kernels (where the processor has
// them) and with the scalar code alone.
class Base64Test : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (!internal::SetBase64SimdEnabled(GetParam())) GTEST_SKIP() << "no vector kernels here";
  }
  void TearDown() override { internal::SetBase64SimdEnabled(saved_); }

 private:
  bool saved_ = internal::Base64SimdEnabled();
};

INSTANTIATE_TEST_SUITE_P(Paths, Base64Test, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Vector" : "Scalar"; });

TEST_P(Base64Test, EncodeLinesOfSixtyFourWithOneFinalLineFeed) {
  struct {
    std::size_t n;
    std::size_t size;
  } cases[] = {{0, 1},   {1, 5},    {2, 5},    {3, 5},    {47, 65},   {48, 65},  {49, 70},
               {50, 70}, {95, 130}, {96, 130}, {97, 135}, {480, 650}, {481, 655}};
  std::mt19937 rng(1);
  for (auto c : cases) {
    SCOPED_TRACE(c.n);
    Bytes in = RandomBytes(rng, c.n), out;
    EXPECT_EQ(Base64EncodedSize(c.n), c.size);
    ASSERT_EQ(Base64Encode(in, &out), kOk);
    EXPECT_EQ(out.size(), c.size);
    ExpectLaidOut(S(out), OpenSslUnbroken(in));
  }
  Bytes out;
  ASSERT_EQ(Base64Encode(AsBytes("abc"), &out), kOk);
  EXPECT_EQ(S(out), "YWJj\n");
  ASSERT_EQ(Base64Encode(AsBytes("A"), &out), kOk);
  EXPECT_EQ(S(out), "QQ==\n");
  ASSERT_EQ(Base64Encode(AsBytes("AB"), &out), kOk);
  EXPECT_EQ(S(out), "QUI=\n");

  constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
  EXPECT_EQ(Base64EncodedSize(kMax), kMax);
  EXPECT_EQ(Base64EncodedSize(kMax / 4 * 3), kMax);
  EXPECT_LT(Base64EncodedSize(kMax / 4), kMax);
}

TEST_P(Base64Test, EncodeReplacesWhateverOutputHeld) {
  Bytes big(5000, 'x'), small = {1, 2};
  ASSERT_EQ(Base64Encode(AsBytes("abc"), &big), kOk);
  EXPECT_EQ(S(big), "YWJj\n");
  Bytes in(200, 0xFF);
  ASSERT_EQ(Base64Encode(in, &small), kOk);
  EXPECT_EQ(small.size(), Base64EncodedSize(200));
  EXPECT_EQ(small[0], '/');
}

TEST_P(Base64Test, DecodeGroupsByWhereThePadStands) {
  struct {
    std::string_view text;
    int status;
    std::string_view bytes;
  } cases[] = {
      {"QQ==", kOk, "A"},
      {"QUI=", kOk, "AB"},
      {"QUJD", kOk, "ABC"},
      {"QR==", kOk, "A"},                 // unused low bits are dropped
      {"QUJDQQ==QUJD", kOk, "ABCA"},      // a padded group ends decoding
      {"QUJDQQ==Q", kOk, "ABCA"},         // ... even before an incomplete group
      {"QUJDQUI=!?=\x01", kOk, "ABCAB"},  // ... and whatever else follows
      {"QQ\n=\r=", kOk, "A"},             // pads count wherever the group is split
      {"QUJDQQ=x", kOk, ""},              // lone pad third: empty result
      {"=QUJ", kOk, ""},                  // pad first
      {"Q=UJ", kOk, ""},                  // pad second
      {"QUJD=QUJQUJD", kOk, ""},          // bytes of earlier groups are dropped too
      {"QUJDQQ", kErrBase64Decode, ""},   // two characters left over
      {"QUJDQUJ", kErrBase64Decode, ""},  // three
      {"Q", kErrBase64Decode, ""},        // one
      {"=", kErrBase64Decode, ""},        // a pad is a significant character
      {"QQ=", kErrBase64Decode, ""},      // no fourth character
      {"", kOk, ""},
      {"\n\n\n", kOk, ""},
      {"\r\n \t\x7f", kOk, ""},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.text);
    Bytes text = B(c.text), out = {7, 7, 7};
    EXPECT_EQ(Base64Decode(text, &out), c.status);
    EXPECT_EQ(S(out), c.bytes);
    Bytes ref;
    EXPECT_EQ(ReferenceDecode(text, &ref), c.status);  // the reference reads the rules alike
    EXPECT_EQ(S(ref), c.bytes);
  }
}

TEST_P(Base64Test, DecodeSkipsEveryByteOutsideTheAlphabet) {
  int skipped = 0;
  for (int c = 0; c < 256; ++c) {
    if (c == '=' || kAlphabet.find(static_cast<char>(c)) != std::string_view::npos) continue;
    ++skipped;
    Bytes text = B("QU");
    text.push_back(static_cast<std::uint8_t>(c));
    text.insert(text.end(), {'J', 'D', static_cast<std::uint8_t>(c)});
    Bytes out;
    EXPECT_EQ(Base64Decode(text, &out), kOk) << c;
    EXPECT_EQ(S(out), "ABC") << c;
  }
  EXPECT_EQ(skipped, 256 - 65);

  // Whole texts broken with CR LF, with spaces, or not at all.
  std::mt19937 rng(2);
  Bytes data = RandomBytes(rng, 1000), text, out;
  ASSERT_EQ(Base64Encode(data, &text), kOk);
  std::string lf = S(text), crlf, spaced, unbroken;
  for (char ch : lf) {
    if (ch == '\n') {
      crlf += "\r\n";
    } else {
      crlf += ch;
      unbroken += ch;
      spaced += ch;
      spaced += ' ';
    }
  }
  for (const std::string* t : {&crlf, &spaced, &unbroken}) {
    ASSERT_EQ(Base64Decode(AsBytes(*t), &out), kOk);
    EXPECT_EQ(out, data);
  }
}

TEST_P(Base64Test, RoundTripsAndMatchesOpenSslAtManyLengths) {
  std::mt19937 rng(3);
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 200; ++n) lengths.push_back(n);
  for (std::size_t k : {10, 100, 1000}) {
    for (std::size_t d = 0; d < 4; ++d) {
      lengths.push_back(48 * k - d);
      lengths.push_back(48 * k + d);
    }
  }
  lengths.push_back((1 << 20) + 7);
  for (std::size_t n : lengths) {
    SCOPED_TRACE(n);
    Bytes data = RandomBytes(rng, n), text, back;
    ASSERT_EQ(Base64Encode(data, &text), kOk);
    ASSERT_EQ(text.size(), Base64EncodedSize(n));
    if (n < 5000 || n > 1000000) ExpectLaidOut(S(text), OpenSslUnbroken(data));
    ASSERT_EQ(Base64Decode(text, &back), kOk);
    ASSERT_EQ(back, data);
  }
}

// Inserts junk of one kind at random places: line breaks, other skipped
// bytes, stray pads and data characters, and sometimes cuts the text short.
Bytes Mangle(std::mt19937& rng, Bytes text) {
  static const std::string_view kJunkKinds[] = {
      "\n", "\r\n", " \t", std::string_view("\0", 1), "\x80\xff\xc3", "=", "A+/z9"};
  std::string_view junk = kJunkKinds[rng() % std::size(kJunkKinds)];
  std::size_t inserts = rng() % 4 == 0 ? 0 : rng() % (text.size() / 8 + 3);
  for (std::size_t i = 0; i < inserts; ++i) {
    std::size_t at = text.empty() ? 0 : rng() % (text.size() + 1);
    text.insert(text.begin() + static_cast<std::ptrdiff_t>(at),
                static_cast<std::uint8_t>(junk[rng() % junk.size()]));
  }
  if (rng() % 4 == 0 && !text.empty()) text.resize(rng() % text.size());
  return text;
}

TEST_P(Base64Test, DecodeAgreesWithReferenceOnMangledAndRandomText) {
  std::mt19937 rng(4);
  for (int iter = 0; iter < 4000; ++iter) {
    std::size_t n = iter % 10 == 0 ? rng() % 3000 : rng() % 300;
    Bytes data = RandomBytes(rng, n), text;
    ASSERT_EQ(Base64Encode(data, &text), kOk);
    // Half of the runs drop the line feeds so that long unbroken runs occur.
    if (iter % 2) std::erase(text, '\n');
    Bytes input = Mangle(rng, text), want, got = {1};
    int want_status = ReferenceDecode(input, &want);
    ASSERT_EQ(Base64Decode(input, &got), want_status) << S(input);
    ASSERT_EQ(got, want) << S(input);
  }
  // Bytes drawn at random, mostly from the alphabet.
  for (int iter = 0; iter < 2000; ++iter) {
    Bytes input(rng() % 400);
    for (auto& c : input) {
      c = rng() % 8 ? static_cast<std::uint8_t>(kAlphabet[rng() % 64])
                    : static_cast<std::uint8_t>(rng());
    }
    Bytes want, got;
    int want_status = ReferenceDecode(input, &want);
    ASSERT_EQ(Base64Decode(input, &got), want_status);
    ASSERT_EQ(got, want);
  }
}

TEST_P(Base64Test, DecodeAnyByteAtAnyPlaceOfALongText) {
  std::mt19937 rng(7);
  Bytes text;
  ASSERT_EQ(Base64Encode(RandomBytes(rng, 300), &text), kOk);
  std::erase(text, '\n');
  for (int c = 0; c < 256; ++c) {
    for (std::size_t at = 0; at < 140; ++at) {
      Bytes input = text, want, got;
      input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(c));
      int want_status = ReferenceDecode(input, &want);
      ASSERT_EQ(Base64Decode(input, &got), want_status) << c << " at " << at;
      ASSERT_EQ(got, want) << c << " at " << at;
    }
  }
}

TEST_P(Base64Test, DecodeEveryTruncationOfAValidText) {
  std::mt19937 rng(5);
  Bytes data = RandomBytes(rng, 170), text;
  ASSERT_EQ(Base64Encode(data, &text), kOk);
  for (std::size_t len = 0; len <= text.size(); ++len) {
    Bytes cut(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(len)), want, got;
    int want_status = ReferenceDecode(cut, &want);
    ASSERT_EQ(Base64Decode(cut, &got), want_status) << len;
    ASSERT_EQ(got, want) << len;
  }
}

TEST_P(Base64Test, InteroperatesWithOpensslCommand) {
#ifdef _WIN32
  GTEST_SKIP() << "the openssl command is a tool of the Linux build, which runs this test";
#endif
  testing::ScratchDir dir;
  std::mt19937 rng(6);
  Bytes data = RandomBytes(rng, 1000), text;
  ASSERT_EQ(Base64Encode(data, &text), kOk);
  ASSERT_TRUE(platform::WriteFileAtomically(dir.File("data.bin"), data));
  ASSERT_TRUE(platform::WriteFileAtomically(dir.File("data.b64"), text));

  std::string theirs;
  ASSERT_EQ(testing::RunShellCapture("openssl base64 -e -in " + dir.File("data.bin"), &theirs), 0);
  EXPECT_EQ(theirs, S(text));
  ASSERT_EQ(testing::RunShell("openssl base64 -d -in " + dir.File("data.b64") + " -out " +
                              dir.File("back.bin")),
            0);
  Bytes back;
  ASSERT_TRUE(platform::ReadWholeFile(dir.File("back.bin"), &back));
  EXPECT_EQ(back, data);
}

}  // namespace
}  // namespace quillmark::encoding
