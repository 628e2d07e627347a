#include <gtest/gtest.h>
#ifndef _WIN32
#include <openssl/asn1.h>
#include <openssl/objects.h>
#endif

#include <climits>
#include <deque>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "signeddata/asn1_reader.h"
#include "signeddata/asn1_writer.h"
#include "support/test_dirs.h"

namespace quillmark::signeddata {
namespace {

std::string Hex(ByteSpan bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

Bytes FromHex(std::string_view text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    if (c == ' ') continue;
    const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c & ~0x20) - 'A' + 10;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  return out;
}

// Prints one template on a fresh writer; the hex of the finished encoding,
// or "FAIL" when the call fails or leaves an element open.
std::string PrintOnce(std::string_view format, std::span<const Asn1PrintArg> args) {
  auto writer = Asn1Writer::Create();
  if (!writer) return "NO WRITER";
  const int added = Asn1PrintArgs(*writer, format, args);
  if (added < 0 || writer->open_elements() != 0) return "FAIL";
  EXPECT_EQ(static_cast<std::size_t>(added), writer->size()) << format;
  return Hex(writer->bytes());
}

template <typename... Args>
std::string Print(std::string_view format, const Args&... args) {
  const std::array<Asn1PrintArg, sizeof...(Args)> list{Asn1PrintArg(args)...};
  return PrintOnce(format, list);
}

// OpenSSL is the oracle of the tests below that check our encodings with
// another decoder; the Windows build has no OpenSSL, and the Linux build
// runs those checks.
#ifdef _WIN32
#define SKIP_WITHOUT_OPENSSL() \
  GTEST_SKIP() << "OpenSSL is this test's oracle; the Linux build runs it"
#else
#define SKIP_WITHOUT_OPENSSL() static_cast<void>(0)

// Walks DER with OpenSSL's own decoder, recording (tag, class, constructed)
// of every element in document order. False unless every constructed
// element's content and the whole input split exactly into elements.
bool OpenSslWalk(const std::uint8_t* p, long length, std::vector<std::array<int, 3>>* seen) {
  while (length > 0) {
    const std::uint8_t* start = p;
    long content_length;
    int tag, xclass;
    const int info = ASN1_get_object(&p, &content_length, &tag, &xclass, length);
    if ((info & 0x80) || info == 0x21) return false;
    seen->push_back({tag, xclass, (info & 0x20) ? 1 : 0});
    if ((info & 0x20) && !OpenSslWalk(p, content_length, seen)) return false;
    p += content_length;
    length -= (p - start);
  }
  return length == 0;
}
#endif  // _WIN32

TEST(Asn1Print, WorkedExamplesAndPrimitiveEncodings) {
  const Bytes abc = {'a', 'b', 'c'};
  const std::array<int, 7> signed_data = {1, 2, 840, 113549, 1, 7, 2};
  const Bytes bits = {0xFF, 0xFF};
  const Bytes integer5 = FromHex("02 01 05");
  struct Case {
    std::string format;
    std::vector<Asn1PrintArg> args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"{in}", {5}, "30 05 02 01 05 05 00"},
      {"(o)", {0, abc}, "A0 05 04 03 61 62 63"},
      {"O", {signed_data}, "06 09 2A 86 48 86 F7 0D 01 07 02"},
      {"I", {Asn1Hex{"00ff"}}, "02 02 00 FF"},
      {"I", {Asn1Hex{"fff"}}, "02 02 0F FF"},
      {"I", {Asn1Hex{"ABC"}}, "02 02 0A BC"},
      {"I", {Asn1Hex{""}}, "02 00"},
      {"i", {0}, "02 01 00"},
      {"i", {127}, "02 01 7F"},
      {"i", {128}, "02 02 00 80"},
      {"i", {-1}, "02 01 FF"},
      {"i", {-128}, "02 01 80"},
      {"i", {-129}, "02 02 FF 7F"},
      {"i", {32768}, "02 03 00 80 00"},
      {"i", {INT_MAX}, "02 04 7F FF FF FF"},
      {"i", {INT_MIN}, "02 04 80 00 00 00"},
      {"e", {3}, "0A 01 03"},
      {"b", {7}, "01 01 FF"},
      {"b", {0}, "01 01 00"},
      {"[]", {}, "31 00"},
      {"PUmaM6",
       {abc, abc, abc, abc, abc, abc},
       "13 03 61 62 63 1C 03 61 62 63 1E 03 61 62 63 16 03 61 62 63 14 03 61 62 63 14 03 61 62 "
       "63"},
      {"ug",
       {"991231235959Z", "20991231235959Z"},
       "17 0D 39 39 31 32 33 31 32 33 35 39 35 39 5A 18 0F 32 30 39 39 31 32 33 31 32 33 35 39 35 "
       "39 5A"},
      {"B", {Asn1Bits{bits, 12}}, "03 03 04 FF F0"},
      {"B", {Asn1Bits{bits, 9}}, "03 03 07 FF 80"},
      {"B", {Asn1Bits{bits, 16}}, "03 03 00 FF FF"},
      {"B", {Asn1Bits{bits, 3}}, "03 02 05 E0"},
      {"B", {Asn1Bits{{}, 0}}, "03 01 00"},
      {"A", {integer5}, "02 01 05"},
      // Tag overrides: number only, number and class, high-tag form; each
      // override lasts for one element.
      {"tnn", {9}, "09 00 05 00"},
      {"To", {3, 0x80, abc}, "83 03 61 62 63"},
      {"t{}", {5}, "25 00"},
      {"T{}", {1, 0x40}, "61 00"},
      {"T{)", {1, 0x40}, "E1 00"},
      {"tn", {31}, "1F 1F 00"},
      {"tn", {200}, "1F 81 48 00"},
      {"tn", {16384}, "1F 81 80 00 00"},
      {"(n)", {40}, "BF 28 02 05 00"},
      {"T(n)", {9, 0x40, 2}, "E2 02 05 00"},  // `(` keeps its own number, takes the class
      {"tA", {9, integer5}, "02 01 05"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PrintOnce(c.format, c.args), c.expected) << c.format;
  }
  // An override alone writes nothing; it applies to the next call's element.
  auto writer = Asn1Writer::Create();
  EXPECT_EQ(Asn1Print(*writer, "T", 3, 0x80), 0);
  EXPECT_EQ(Asn1Print(*writer, "o", abc), 5);
  EXPECT_EQ(Hex(writer->bytes()), "83 03 61 62 63");
}

TEST(Asn1Print, IntegersAndOidsDecodeIdenticallyInOpenSsl) {
  SKIP_WITHOUT_OPENSSL();
#ifndef _WIN32
  std::mt19937 rng(7);
  std::vector<int> values = {0,      1,       -1,      127,      128,      255,     256,
                             -128,   -129,    -256,    -257,     32767,    32768,   -32768,
                             -32769, 8388607, 8388608, -8388608, -8388609, INT_MAX, INT_MIN};
  for (int i = 0; i < 300; ++i) values.push_back(static_cast<int>(rng()) >> (rng() % 31));
  for (int value : values) {
    auto writer = Asn1Writer::Create();
    ASSERT_GT(Asn1Print(*writer, "i", value), 0);
    const std::uint8_t* p = writer->bytes().data();
    ASN1_INTEGER* parsed = d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(writer->size()));
    ASSERT_NE(parsed, nullptr) << value;
    std::int64_t back = 0;
    EXPECT_EQ(ASN1_INTEGER_get_int64(&back, parsed), 1);
    EXPECT_EQ(back, value);
    // OpenSSL re-encodes in minimal DER: the bytes must agree.
    unsigned char* der = nullptr;
    const int der_length = i2d_ASN1_INTEGER(parsed, &der);
    EXPECT_EQ(Hex(ByteSpan(der, der_length)), Hex(writer->bytes())) << value;
    OPENSSL_free(der);
    ASN1_INTEGER_free(parsed);
  }

  const std::vector<std::vector<int>> oids = {{1, 2, 840, 113549, 1, 7, 2},
                                              {1, 3, 14, 3, 2, 26},
                                              {1, 2, 156, 10197, 1, 401},
                                              {2, 16, 840, 1, 101, 3, 4, 2, 1},
                                              {0, 0},
                                              {2, 39, 0, 127, 128, 16383, 16384},
                                              {1, 2, INT_MAX},
                                              {0, 9, 2342, 19200300, 100, 1, 25}};
  for (const std::vector<int>& arcs : oids) {
    auto writer = Asn1Writer::Create();
    ASSERT_GT(Asn1Print(*writer, "O", arcs), 0);
    const std::uint8_t* p = writer->bytes().data();
    ASN1_OBJECT* object = d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(writer->size()));
    ASSERT_NE(object, nullptr);
    char text[256];
    ASSERT_GT(OBJ_obj2txt(text, sizeof text, object, 1), 0);
    std::string expected;
    for (int arc : arcs) expected += (expected.empty() ? "" : ".") + std::to_string(arc);
    EXPECT_EQ(text, expected);
    ASN1_OBJECT_free(object);
  }
#endif
}

TEST(Asn1Print, LengthsUseTheShortestDefiniteForm) {
  const std::vector<std::pair<std::size_t, std::string>> cases = {
      {0, "04 00"},
      {127, "04 7F"},
      {128, "04 81 80"},
      {200, "04 81 C8"},
      {255, "04 81 FF"},
      {256, "04 82 01 00"},
      {65535, "04 82 FF FF"},
      {70000, "04 83 01 11 70"},
      {16777216, "04 84 01 00 00 00"},
  };
  for (const auto& [length, header] : cases) {
    const Bytes content(length, 0x5A);
    auto writer = Asn1Writer::Create();
    ASSERT_EQ(Asn1Print(*writer, "o", content), static_cast<int>(length + (header.size() + 1) / 3));
    const std::size_t header_bytes = writer->size() - length;
    EXPECT_EQ(Hex(writer->bytes().first(header_bytes)), header) << length;
  }
  // The same header rule applies to a constructed element around the content.
  const Bytes content(70000, 0);
  EXPECT_EQ(Print("{A}", content).substr(0, 11), "30 83 01 11");
}

TEST(Asn1Print, HexIntegersPackDigitsAndRefuseBadText) {
  std::string digits(256, 'f');
  std::string out = Print("I", Asn1Hex{digits});
  EXPECT_EQ(out.substr(0, 15), "02 81 80 FF FF ");
  EXPECT_EQ(Print("I", Asn1Hex{std::string(257, '1')}), "FAIL");
  EXPECT_EQ(Print("I", Asn1Hex{"0g"}), "FAIL");
  EXPECT_EQ(Print("I", Asn1Hex{"1 2"}), "FAIL");
  EXPECT_EQ(Print("I", Asn1Hex{std::string_view("12\0"
                                                "3",
                                                4)}),
            "FAIL");
  EXPECT_EQ(Print("I", Asn1Hex{"aBcDeF"}), "02 03 AB CD EF");
}

TEST(Asn1Print, NestedLongElementsAreContiguousAtEveryLevel) {
  const Bytes payload(300, 0xA5);
  auto writer = Asn1Writer::Create();
  // SEQUENCE { SET { [3] { OCTET STRING(300) } INTEGER 1 } NULL }
  ASSERT_GT(Asn1Print(*writer, "{[(o)i]n}", 3, payload, 1), 0);
  ASSERT_EQ(writer->open_elements(), 0u);
  const ByteSpan out = writer->bytes();
  // OCTET STRING: 4 + 300 = 304; [3]: 4 + 304 = 308; SET: 4 + 308 + 3 = 315;
  // SEQUENCE: 4 + 315 + 2 = 321.
  ASSERT_EQ(out.size(), 321u);
  EXPECT_EQ(Hex(out.first(16)), "30 82 01 3D 31 82 01 37 A3 82 01 30 04 82 01 2C");
  EXPECT_EQ(Hex(out.subspan(16, 300)), Hex(payload));
  EXPECT_EQ(Hex(out.subspan(316)), "02 01 01 05 00");

#ifndef _WIN32
  std::vector<std::array<int, 3>> seen;
  ASSERT_TRUE(OpenSslWalk(out.data(), static_cast<long>(out.size()), &seen));
  const std::vector<std::array<int, 3>> expected = {
      {16, V_ASN1_UNIVERSAL, 1}, {17, V_ASN1_UNIVERSAL, 1}, {3, V_ASN1_CONTEXT_SPECIFIC, 1},
      {4, V_ASN1_UNIVERSAL, 0},  {2, V_ASN1_UNIVERSAL, 0},  {5, V_ASN1_UNIVERSAL, 0}};
  EXPECT_EQ(seen, expected);
#endif
}

TEST(Asn1Print, OpenSslCommandParsesDeepLongNesting) {
  SKIP_WITHOUT_OPENSSL();
#ifndef _WIN32
  testing::ScratchDir dir;
  const Bytes payload(70000, 0x11);
  auto writer = Asn1Writer::Create();
  ASSERT_GT(Asn1Print(*writer, "{{{o}}}", payload), 0);
  const std::string path = dir.File("nested.der");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(writer->bytes().data()),
             static_cast<std::streamsize>(writer->size()));
  std::string listing;
  ASSERT_EQ(testing::RunShellCapture("openssl asn1parse -inform DER -in " + path + " | cut -c1-50",
                                     &listing),
            0);
  EXPECT_NE(listing.find("    0:d=0  hl=5 l=70015 cons: SEQUENCE"), std::string::npos) << listing;
  EXPECT_NE(listing.find("    5:d=1  hl=5 l=70010 cons: SEQUENCE"), std::string::npos) << listing;
  EXPECT_NE(listing.find("   10:d=2  hl=5 l=70005 cons: SEQUENCE"), std::string::npos) << listing;
  EXPECT_NE(listing.find("   15:d=3  hl=5 l=70000 prim: OCTET STRING"), std::string::npos)
      << listing;
#endif
}

TEST(Asn1Print, ElementsLeftOpenAcrossCallsCountTheirBytesAsTheyGrow) {
  const Bytes issuer = FromHex("30 0B 31 09 30 07 06 03 55 04 03 0C 00");
  const std::array<int, 6> sha1 = {1, 3, 14, 3, 2, 26};
  const std::array<int, 7> rsa = {1, 2, 840, 113549, 1, 1, 1};
  const Bytes signature(256, 0xC3);

  auto writer = Asn1Writer::Create();
  EXPECT_EQ(Asn1Print(*writer, "[{i", 1), 3);  // only the INTEGER is in place yet
  EXPECT_EQ(writer->open_elements(), 2u);
  EXPECT_EQ(Asn1Print(*writer, "{AI}", issuer, Asn1Hex{"00c1"}), 2 + 13 + 4);
  EXPECT_EQ(Asn1Print(*writer, "{On}", sha1), 2 + 7 + 2);
  EXPECT_EQ(Asn1Print(*writer, "{On}", rsa), 2 + 11 + 2);
  // OCTET STRING 4 + 256, then the SignerInfo and SET headers of 4 bytes each.
  EXPECT_EQ(Asn1Print(*writer, "o}]", signature), 260 + 4 + 4);
  EXPECT_EQ(writer->open_elements(), 0u);
  EXPECT_EQ(writer->size(), 3u + 19 + 11 + 15 + 268);
  EXPECT_EQ(Hex(writer->bytes().first(8)), "31 82 01 38 30 82 01 34");

  const std::string whole =
      Print("[{i{AI}{On}{On}o}]", 1, issuer, Asn1Hex{"00c1"}, sha1, rsa, signature);
  EXPECT_EQ(Hex(writer->bytes()), whole);

  // A writer's own bytes may be copied back into it, even when the buffer must grow.
  auto self = Asn1Writer::Create();
  ASSERT_GT(Asn1Print(*self, "o", Bytes(5000, 7)), 0);
  ASSERT_GT(Asn1Print(*self, "{A}", self->bytes()), 0);
  EXPECT_EQ(Hex(self->bytes().subspan(5004 + 4)), Hex(self->bytes().first(5004)));

  // Opening and closing alone: nothing is counted until the close.
  auto empty = Asn1Writer::Create();
  EXPECT_EQ(Asn1Print(*empty, "{{"), 0);
  EXPECT_EQ(Asn1Print(*empty, "}"), 2);
  EXPECT_EQ(Asn1Print(*empty, "}"), 2);
  EXPECT_EQ(Hex(empty->bytes()), "30 02 30 00");
}

TEST(Asn1Print, BufferGrowsInWholeStepsOf8192) {
  auto writer = Asn1Writer::Create();
  EXPECT_EQ(writer->capacity(), 8192u);
  ASSERT_GT(Asn1Print(*writer, "o", Bytes(8000, 1)), 0);
  EXPECT_EQ(writer->capacity(), 8192u);
  ASSERT_GT(Asn1Print(*writer, "o", Bytes(1000, 1)), 0);
  EXPECT_EQ(writer->capacity(), 16384u);
  ASSERT_GT(Asn1Print(*writer, "o", Bytes(70000, 1)), 0);
  EXPECT_EQ(writer->capacity(), 81920u);
}

TEST(Asn1Print, RejectsBadTemplatesAndValuesAndStaysFailed) {
  const Bytes byte = {1};
  const std::vector<int> one_arc = {1}, fifty_one_arcs(51, 1), first_arc_3 = {3, 1},
                         second_arc_40 = {2, 40}, negative_arc = {1, 2, -840},
                         negative_first = {-1, 2};
  struct Case {
    std::string format;
    std::vector<Asn1PrintArg> args;
  };
  const std::vector<Case> cases = {
      {"}", {}},
      {"]", {}},
      {"{}}", {}},
      {")", {}},
      {"z", {}},
      {"{i%}", {1}},
      {"(n)", {-1}},
      {"tn", {-5}},
      {"Tn", {-1, 0x80}},
      {"O", {one_arc}},
      {"O", {fifty_one_arcs}},
      {"O", {first_arc_3}},
      {"O", {second_arc_40}},
      {"O", {negative_arc}},
      {"O", {negative_first}},
      {"B", {Asn1Bits{byte, 9}}},
      {"B", {Asn1Bits{byte, -1}}},
      {"i", {1LL << 32}},
      {"i", {static_cast<long long>(INT_MIN) - 1}},
  };
  for (const Case& c : cases) {
    auto writer = Asn1Writer::Create();
    EXPECT_EQ(Asn1PrintArgs(*writer, c.format, c.args), -1) << c.format;
    EXPECT_TRUE(writer->failed()) << c.format;
    EXPECT_EQ(Asn1Print(*writer, "n"), -1) << c.format;
  }
  // Fifty arcs are still fine, and a mismatched close works when balanced.
  EXPECT_NE(Print("O", std::vector<int>(50, 1)), "FAIL");
  EXPECT_EQ(Print("{]", 0), "FAIL");  // surplus argument
  EXPECT_EQ(Print("{]"), "30 00");
}

TEST(Asn1Print, ChecksArgumentKindsBeforeWritingAnything) {
  const Bytes bytes = {1, 2};
  const std::vector<int> arcs = {1, 2};
  struct Case {
    std::string format;
    std::vector<Asn1PrintArg> args;
  };
  const std::vector<Case> cases = {
      {"i", {}},                // missing
      {"{i}", {bytes}},         // bytes for an integer
      {"o", {5}},               // integer for bytes
      {"o", {"text"}},          // text is not bytes
      {"u", {bytes}},           // bytes are not text
      {"I", {"00ff"}},          // plain text is not hex digits
      {"O", {bytes}},           // bytes are not arcs
      {"B", {bytes}},           // bytes without a bit count
      {"A", {arcs}},            // arcs are not bytes
      {"T", {1}},               // class byte missing
      {"(", {bytes}},           // tag number must be an integer
      {"nn", {1}},              // surplus
      {"in", {1, 2}},           // surplus after the last code
      {"o{i}", {bytes, 1, 2}},  // surplus in the middle of a valid run
  };
  for (const Case& c : cases) {
    auto writer = Asn1Writer::Create();
    EXPECT_EQ(Asn1PrintArgs(*writer, c.format, c.args), -1) << c.format;
    EXPECT_EQ(writer->size(), 0u) << c.format;
    EXPECT_EQ(writer->open_elements(), 0u) << c.format;
  }
}

std::unique_ptr<Asn1Reader> ReaderOf(std::string_view hex) {
  auto reader = Asn1Reader::Create(FromHex(hex));
  EXPECT_NE(reader, nullptr);
  return reader;
}

TEST(Asn1Scan, WorkedExamples) {
  int value = 0;
  EXPECT_EQ(Asn1Scan(*ReaderOf("30 03 02 01 05"), "{i}", &value), 0);
  EXPECT_EQ(value, 5);

  Bytes octets;
  EXPECT_EQ(Asn1Scan(*ReaderOf("30 03 02 01 05"), "{o}", &octets), 0);
  EXPECT_EQ(octets, Bytes{0x05});

  EXPECT_EQ(Asn1Scan(*ReaderOf("02 05 01 02 03 04 05"), "i", &value), kAsn1Malformed);

  auto reader = ReaderOf("30 03 02 01 05");
  EXPECT_EQ(Asn1Scan(*reader, "{i}", &value), 0);
  EXPECT_EQ(Asn1Scan(*reader, "("), kAsn1EndOfInput);
  int number;
  std::uint8_t class_bits;
  Bytes whole;
  EXPECT_EQ(Asn1Scan(*reader, "t", &number, &class_bits), kAsn1EndOfInput);
  EXPECT_EQ(Asn1Scan(*reader, "$", &whole), kAsn1EndOfInput);
  EXPECT_EQ(Asn1Scan(*reader, "}])"), 0);  // closes read nothing
}

TEST(Asn1Scan, HeaderLimits) {
  struct Case {
    std::string input;
    int status;
  };
  const std::vector<Case> cases = {
      {"", kAsn1EndOfInput},
      {"04", kAsn1Malformed},  // length byte missing
      {"04 80", 0},            // 0x80: no length bytes, length 0
      {"04 81 01 AA", 0},
      {"04 84 00 00 00 01 AA", 0},
      {"04 85 00 00 00 00 01 AA", kAsn1Malformed},  // five length bytes
      {"04 82 01", kAsn1Malformed},                 // length byte cut off
      {"04 84 80 00 00 00", kAsn1Malformed},        // above 2^31 - 1
      {"04 84 7F FF FF FF", kAsn1Malformed},        // legal length, content missing
      {"04 03 AA BB", kAsn1Malformed},              // content short
      {"1F 81 80 80 80 01 00", 0},                  // high tag in 5 bytes
      {"1F 81 80 80 80 80 01 00", kAsn1Malformed},  // 6 bytes
      {"1F 8F FF FF FF 7F 00", kAsn1Malformed},     // 5 bytes but beyond an int
      {"1F 81", kAsn1Malformed},                    // high tag cut off
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Asn1Scan(*ReaderOf(c.input), "x"), c.status) << c.input;
  }
  int number = 0;
  std::uint8_t class_bits = 0;
  EXPECT_EQ(Asn1Scan(*ReaderOf("BF 87 FF FF FF 7F 00"), "t", &number, &class_bits), 0);
  EXPECT_EQ(number, INT_MAX);
  EXPECT_EQ(class_bits, 0xA0);
}

TEST(Asn1Scan, ContentRules) {
  int value = 99;
  struct IntCase {
    std::string input;
    int expected;
  };
  for (const IntCase& c : std::vector<IntCase>{{"02 00", 0},
                                               {"02 01 FF", -1},
                                               {"02 02 00 80", 128},
                                               {"02 02 FF 7F", -129},
                                               {"0A 04 80 00 00 00", INT_MIN},
                                               {"02 04 7F FF FF FF", INT_MAX}}) {
    EXPECT_EQ(Asn1Scan(*ReaderOf(c.input), "i", &value), 0) << c.input;
    EXPECT_EQ(value, c.expected) << c.input;
  }

  std::uint8_t flag = 0;
  EXPECT_EQ(Asn1Scan(*ReaderOf("01 01 FF"), "b", &flag), 0);
  EXPECT_EQ(flag, 0xFF);
  EXPECT_EQ(Asn1Scan(*ReaderOf("01 01 01"), "b", &flag), kAsn1Malformed);
  EXPECT_EQ(Asn1Scan(*ReaderOf("01 02 00 00"), "b", &flag), kAsn1Malformed);

  Bytes bits;
  int bit_count = 0;
  EXPECT_EQ(Asn1Scan(*ReaderOf("03 03 04 FF FF"), "B", &bits, &bit_count), 0);
  EXPECT_EQ(Hex(bits), "FF F0");
  EXPECT_EQ(bit_count, 12);
  EXPECT_EQ(Asn1Scan(*ReaderOf("03 01 00"), "B", &bits, &bit_count), 0);
  EXPECT_EQ(bit_count, 0);
  EXPECT_TRUE(bits.empty());
  EXPECT_EQ(Asn1Scan(*ReaderOf("03 02 09 FF"), "B", &bits, &bit_count), kAsn1Malformed);
  EXPECT_EQ(Asn1Scan(*ReaderOf("03 00"), "B", &bits, &bit_count), kAsn1Malformed);
  EXPECT_EQ(Asn1Scan(*ReaderOf("03 01 03"), "B", &bits, &bit_count), kAsn1Malformed);

  std::string text;
  EXPECT_EQ(Asn1Scan(*ReaderOf("02 03 00 ab 0C"), "I", &text), 0);
  EXPECT_EQ(text, "00AB0C");
  EXPECT_EQ(Asn1Scan(*ReaderOf("17 03 61 00 62"), "u", &text), 0);
  EXPECT_EQ(text, std::string("a\0b", 3));

  std::vector<int> arcs;
  EXPECT_EQ(Asn1Scan(*ReaderOf("06 09 2A 86 48 86 F7 0D 01 07 02"), "O", &arcs), 0);
  EXPECT_EQ(arcs, (std::vector<int>{1, 2, 840, 113549, 1, 7, 2}));
  EXPECT_EQ(Asn1Scan(*ReaderOf("06 01 77"), "O", &arcs), 0);  // 119 = 2.39
  EXPECT_EQ(arcs, (std::vector<int>{2, 39}));
  for (const char* bad : {"06 00", "06 01 78", "06 02 2A 86", "06 06 2A 8F FF FF FF 7F"}) {
    EXPECT_EQ(Asn1Scan(*ReaderOf(bad), "O", &arcs), kAsn1Malformed) << bad;
  }
  for (int extra_arcs : {48, 49}) {
    Bytes oid = {0x06, static_cast<std::uint8_t>(extra_arcs + 1), 0x2A};
    oid.insert(oid.end(), extra_arcs, 0x01);
    EXPECT_EQ(Asn1Scan(*Asn1Reader::Create(oid), "O", &arcs),
              2 + extra_arcs <= 50 ? 0 : kAsn1Malformed);
  }
  EXPECT_EQ(arcs.size(), 50u);

  // `t` peeks, `$` takes the whole element, `x` skips, `n` leaves the content.
  auto reader = ReaderOf("A0 03 02 01 07 05 00 04 01 AA 30 00");
  int number = -1, last_number = -1;
  std::uint8_t class_bits = 0, last_class = 0;
  Bytes whole;
  ASSERT_EQ(Asn1Scan(*reader, "t$tnxt", &number, &class_bits, &whole, static_cast<int*>(nullptr),
                     static_cast<std::uint8_t*>(nullptr), &last_number, &last_class),
            0);
  EXPECT_EQ(number, 0);
  EXPECT_EQ(class_bits, 0xA0);
  EXPECT_EQ(Hex(whole), "A0 03 02 01 07");
  EXPECT_EQ(last_number, 16);
  EXPECT_EQ(last_class, 0x20);
  EXPECT_EQ(reader->remaining(), 2u);  // the last peek left 30 00 in place
  EXPECT_EQ(Asn1Scan(*ReaderOf("05 01 02 01 05"), "ni", &value), 0);  // NULL's content unread
  EXPECT_EQ(value, 5);
}

TEST(Asn1Scan, WrongOutputKindsFailWithoutReading) {
  int value;
  std::uint8_t byte;
  Bytes bytes;
  std::string text;
  std::vector<int> arcs;
  struct Case {
    std::string format;
    std::vector<Asn1ScanArg> outs;
  };
  const std::vector<Case> cases = {
      {"i", {}},
      {"i", {&bytes}},
      {"o", {&text}},
      {"a", {&bytes}},
      {"O", {&value}},
      {"I", {&bytes}},
      {"B", {&bytes}},
      {"t", {&value, &value}},
      {"b", {&value}},
      {"$", {&text}},
      {"x", {&value}},
      {"q", {}},
      {"{i}", {&value, &arcs}},
      {"io", {&value, &byte}},
  };
  for (const Case& c : cases) {
    auto reader = ReaderOf("02 01 05 04 01 AA");
    EXPECT_EQ(Asn1ScanArgs(*reader, c.format, c.outs), kAsn1Malformed) << c.format;
    EXPECT_EQ(reader->position(), 0u) << c.format;
  }
}

// Generates a random template with its values, the matching scan template
// and the checks that the scanned values equal the printed ones.
class RoundTrip {
 public:
  explicit RoundTrip(std::mt19937& rng) : rng_(rng) {}

  void Generate(int depth) {
    const int count = Pick(0, depth == 0 ? 6 : 4);
    for (int i = 0; i < count; ++i) Item(depth);
  }

  // The print template, cut into calls at random code boundaries.
  std::vector<std::pair<std::string, std::vector<Asn1PrintArg>>> Calls() {
    std::vector<std::pair<std::string, std::vector<Asn1PrintArg>>> calls(1);
    for (const auto& [code, args] : tokens_) {
      if (Pick(0, 3) == 0) calls.emplace_back();
      calls.back().first += code;
      calls.back().second.insert(calls.back().second.end(), args.begin(), args.end());
    }
    return calls;
  }

  std::string scan_format;
  std::vector<Asn1ScanArg> scan_outs;
  std::vector<std::function<void()>> checks;
  std::vector<std::array<int, 3>> elements;  // as OpenSSL should see them

 private:
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

  Bytes RandomBytes(int max) {
    Bytes out(Pick(0, Pick(0, 1) ? 8 : max));
    for (auto& b : out) b = static_cast<std::uint8_t>(rng_());
    return out;
  }

  // A fresh out-variable for the scan, kept at a stable address.
  template <typename T>
  T* Out() {
    return &std::get<std::deque<T>>(outs_).emplace_back();
  }

  void Token(std::string code, std::vector<Asn1PrintArg> args) {
    tokens_.emplace_back(std::move(code), std::move(args));
  }

  // Maybe overrides the next element's tag; records what a peek must show.
  void Override(int default_tag, std::uint8_t constructed_bits) {
    int number = default_tag;
    std::uint8_t class_bits = 0;
    const int choice = Pick(0, 5);
    if (choice == 0) {
      number = Pick(0, 1) ? Pick(0, 30) : Pick(31, 1 << 20);
      Token("t", {number});
    } else if (choice == 1) {
      number = Pick(0, 200);
      class_bits = static_cast<std::uint8_t>(Pick(0, 3) << 6);
      Token("T", {number, class_bits});
    }
    if (default_tag < 0) number = pending_paren_tag_;
    const int peek_class = (class_bits | constructed_bits) & 0xE0;
    elements.push_back({number, peek_class & 0xC0, (constructed_bits & 0x20) ? 1 : 0});
    if (Pick(0, 2) == 0) {
      int* number_out = Out<int>();
      std::uint8_t* class_out = Out<std::uint8_t>();
      scan_format += 't';
      scan_outs.push_back(number_out);
      scan_outs.push_back(class_out);
      checks.push_back([=] {
        EXPECT_EQ(*number_out, number);
        EXPECT_EQ(*class_out, peek_class);
      });
    }
  }

  void Item(int depth) {
    const int kind = Pick(0, depth < 4 ? 11 : 9);
    switch (kind) {
      case 0:
        IntegerItem();
        break;
      case 1:
        BooleanItem();
        break;
      case 2:
        NullItem();
        break;
      case 3:
        OctetsItem();
        break;
      case 4:
        TimeItem();
        break;
      case 5:
        BitStringItem();
        break;
      case 6:
        HexIntegerItem();
        break;
      case 7:
        OidItem();
        break;
      case 8:
      case 9:
        CopiedItem();
        break;
      default:
        ConstructedItem(depth);
        break;
    }
  }

  // An INTEGER or ENUMERATED of a small or any value.
  void IntegerItem() {
    const int value = Pick(0, 1) ? Pick(-300, 300) : static_cast<int>(rng_());
    const char code = Pick(0, 1) ? 'i' : 'e';
    Override(code == 'i' ? 2 : 10, 0);
    Token(std::string(1, code), {value});
    int* out = Out<int>();
    Scan(code, out, [=] { EXPECT_EQ(*out, value); });
  }

  // A BOOLEAN; any non-zero value is written as TRUE.
  void BooleanItem() {
    const int value = Pick(-2, 2);
    Override(1, 0);
    Token("b", {value});
    std::uint8_t* out = Out<std::uint8_t>();
    Scan('b', out, [=] { EXPECT_EQ(*out, value ? 0xFF : 0x00); });
  }

  // A NULL.
  void NullItem() {
    Override(5, 0);
    Token("n", {});
    scan_format += 'n';
  }

  // An OCTET STRING or one of the string types, read back as bytes or text.
  void OctetsItem() {
    static constexpr char kCodes[] = "oPUmaM6";
    static constexpr int kTags[] = {4, 19, 28, 30, 22, 20, 20};
    const int which = Pick(0, 6);
    const Bytes& value = stored_.emplace_back(RandomBytes(400));
    Override(kTags[which], 0);
    Token(std::string(1, kCodes[which]), {value});
    if (kCodes[which] == 'a') {
      std::string* out = Out<std::string>();
      Scan('a', out, [=, &value] { EXPECT_EQ(*out, std::string(AsChars(value))); });
    } else {
      Bytes* out = Out<Bytes>();
      Scan(Pick(0, 1) ? 'o' : '6', out, [=, &value] { EXPECT_EQ(*out, value); });
    }
  }

  // A UTCTime or GeneralizedTime of random digits.
  void TimeItem() {
    const char code = Pick(0, 1) ? 'u' : 'g';
    std::string& value = strings_.emplace_back();
    for (int i = Pick(0, 20); i > 0; --i) value += static_cast<char>(Pick('0', 'Z'));
    Override(code == 'u' ? 23 : 24, 0);
    Token(std::string(1, code), {value});
    std::string* out = Out<std::string>();
    Scan(code, out, [=, &value] { EXPECT_EQ(*out, value); });
  }

  // A BIT STRING whose unused bits are cleared on the way in.
  void BitStringItem() {
    const Bytes& value = stored_.emplace_back(RandomBytes(100));
    const int bit_count =
        value.empty() ? 0 : Pick(8 * (int(value.size()) - 1) + 1, 8 * int(value.size()));
    Bytes expected = value;
    if (!expected.empty()) expected.back() &= 0xFF << (8 * expected.size() - bit_count);
    Override(3, 0);
    Token("B", {Asn1Bits{value, bit_count}});
    Bytes* bits = Out<Bytes>();
    int* count = Out<int>();
    scan_format += 'B';
    scan_outs.push_back(bits);
    scan_outs.push_back(count);
    checks.push_back([=] {
      EXPECT_EQ(*bits, expected);
      EXPECT_EQ(*count, bit_count);
    });
  }

  // An INTEGER given as hexadecimal digits of either case.
  void HexIntegerItem() {
    static constexpr char kDigits[] = "0123456789abcdefABCDEF";
    std::string& digits = strings_.emplace_back();
    for (int i = Pick(0, Pick(0, 1) ? 6 : 256); i > 0; --i) digits += kDigits[Pick(0, 21)];
    std::string expected = digits.size() % 2 ? "0" + digits : digits;
    for (char& c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Override(2, 0);
    Token("I", {Asn1Hex{digits}});
    std::string* out = Out<std::string>();
    Scan('I', out, [=] { EXPECT_EQ(*out, expected); });
  }

  // An OBJECT IDENTIFIER of up to 50 arcs.
  void OidItem() {
    std::vector<int>& arcs = arc_values_.emplace_back();
    arcs.push_back(Pick(0, 2));
    arcs.push_back(Pick(0, 39));
    for (int i = Pick(0, 48); i > 0; --i) {
      arcs.push_back(Pick(0, 1) ? Pick(0, 200) : static_cast<int>(rng_() & 0x7FFFFFFF));
    }
    Override(6, 0);
    Token("O", {std::span<const int>(arcs)});
    std::vector<int>* out = Out<std::vector<int>>();
    Scan('O', out, [=, &arcs] { EXPECT_EQ(*out, arcs); });
  }

  // A ready-made INTEGER copied in with `A`, read back whole with `$`.
  void CopiedItem() {
    auto inner = Asn1Writer::Create();
    const int value = static_cast<int>(rng_());
    EXPECT_GT(Asn1Print(*inner, "i", value), 0);
    const Bytes& encoded = stored_.emplace_back(inner->bytes().begin(), inner->bytes().end());
    if (Pick(0, 3) == 0) Token("t", {Pick(0, 50)});  // ignored by `A`
    elements.push_back({2, 0, 0});
    Token("A", {encoded});
    Bytes* out = Out<Bytes>();
    Scan('$', out, [=, &encoded] { EXPECT_EQ(*out, encoded); });
  }

  // A constructed element with random children.
  void ConstructedItem(int depth) {
    const int shape = Pick(0, 2);
    const char open = "{[("[shape];
    char close = shape == 2 ? ')' : (Pick(0, 1) ? '}' : ']');
    if (shape == 2) pending_paren_tag_ = Pick(0, 1) ? Pick(0, 30) : Pick(31, 100000);
    Override(shape == 0 ? 16 : shape == 1 ? 17 : -1, close == ')' ? 0xA0 : 0x20);
    if (shape == 2) {
      Token("(", {pending_paren_tag_});
    } else {
      Token(std::string(1, open), {});
    }
    scan_format += "{[("[Pick(0, 2)];
    Generate(depth + 1);
    Token(std::string(1, close), {});
    scan_format += "}])"[Pick(0, 2)];
  }

  template <typename T>
  void Scan(char code, T* out, std::function<void()> check) {
    scan_format += code;
    scan_outs.push_back(out);
    checks.push_back(std::move(check));
  }

  std::mt19937& rng_;
  int pending_paren_tag_ = 0;
  std::vector<std::pair<std::string, std::vector<Asn1PrintArg>>> tokens_;
  std::deque<Bytes> stored_;
  std::deque<std::string> strings_;
  std::deque<std::vector<int>> arc_values_;
  std::tuple<std::deque<int>, std::deque<std::uint8_t>, std::deque<Bytes>, std::deque<std::string>,
             std::deque<std::vector<int>>>
      outs_;
};

TEST(Asn1RoundTrip, RandomTemplatesScanBackToTheirValues) {
  std::mt19937 rng(20240611);
  for (int iteration = 0; iteration < 400; ++iteration) {
    RoundTrip trip(rng);
    trip.Generate(0);
    auto writer = Asn1Writer::Create();
    long total = 0;
    std::string whole_format;
    for (const auto& [format, args] : trip.Calls()) {
      const int added = Asn1PrintArgs(*writer, format, args);
      ASSERT_GE(added, 0) << format;
      total += added;
      whole_format += format;
    }
    ASSERT_EQ(writer->open_elements(), 0u) << whole_format;
    EXPECT_EQ(total, static_cast<long>(writer->size())) << whole_format;

#ifndef _WIN32
    std::vector<std::array<int, 3>> seen;
    EXPECT_TRUE(OpenSslWalk(writer->bytes().data(), static_cast<long>(writer->size()), &seen))
        << whole_format;
    EXPECT_EQ(seen, trip.elements) << whole_format;
#endif

    const Bytes encoding(writer->bytes().begin(), writer->bytes().end());
    auto reader = Asn1Reader::Create(encoding);
    ASSERT_EQ(Asn1ScanArgs(*reader, trip.scan_format, trip.scan_outs), 0)
        << whole_format << " / " << trip.scan_format;
    EXPECT_EQ(reader->remaining(), 0u);
    for (const auto& check : trip.checks) check();

    // Every byte is needed: a strict prefix never scans cleanly.
    for (int i = 0; i < 8 && !encoding.empty(); ++i) {
      const std::size_t cut = rng() % encoding.size();
      auto truncated = Asn1Reader::Create(ByteSpan(encoding).first(cut));
      const int status = Asn1ScanArgs(*truncated, trip.scan_format, trip.scan_outs);
      EXPECT_TRUE(status == kAsn1Malformed || status == kAsn1EndOfInput) << cut;
    }
    if (HasFailure()) break;
  }
}

TEST(Asn1Scan, GarbageAndDamagedInputsNeverCrash) {
  std::mt19937 rng(99);
  static constexpr char kCodes[] = "{[(}])t$iebno6auBIOx";
  int value;
  std::uint8_t byte;
  Bytes bytes;
  std::string text;
  std::vector<int> arcs;
  int outcomes[3] = {0, 0, 0};
  for (int iteration = 0; iteration < 20000; ++iteration) {
    Bytes input(rng() % 48);
    for (auto& b : input) b = static_cast<std::uint8_t>(rng());
    if (iteration % 2 == 0 && !input.empty()) input[0] = "\x30\x02\x04\x06\x03\x1F\xA0"[rng() % 7];
    std::string format;
    std::vector<Asn1ScanArg> outs;
    for (int i = static_cast<int>(rng() % 10); i > 0; --i) {
      const char code = kCodes[rng() % (sizeof kCodes - 1)];
      format += code;
      switch (code) {
        case 't':
          outs.insert(outs.end(), {&value, &byte});
          break;
        case '$':
        case 'o':
        case '6':
          outs.push_back(&bytes);
          break;
        case 'i':
        case 'e':
          outs.push_back(&value);
          break;
        case 'b':
          outs.push_back(&byte);
          break;
        case 'a':
        case 'u':
        case 'I':
          outs.push_back(&text);
          break;
        case 'B':
          outs.insert(outs.end(), {&bytes, &value});
          break;
        case 'O':
          outs.push_back(&arcs);
          break;
        default:
          break;
      }
    }
    auto reader = Asn1Reader::Create(input);
    const int status = Asn1ScanArgs(*reader, format, outs);
    ASSERT_TRUE(status == 0 || status == kAsn1Malformed || status == kAsn1EndOfInput);
    ASSERT_LE(reader->position(), input.size());
    ++outcomes[-status];
  }
  // The inputs reach every outcome, so the loop exercises real parsing.
  EXPECT_GT(outcomes[0], 100);
  EXPECT_GT(outcomes[1], 100);
  EXPECT_GT(outcomes[2], 100);
}

}  // namespace
}  // namespace quillmark::signeddata
