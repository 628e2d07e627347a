#include "encoding/formatted_plaintext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/status.h"
#include "encoding/formatted_plaintext_layout.h"
#include "encoding/plaintext_buffer.h"

namespace quillmark::encoding {
namespace {

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }
std::string S(const Bytes& b) { return std::string(b.begin(), b.end()); }

// Wire bytes written piece by piece: W("00000010|00000002ab") drops the bars.
std::string W(std::string_view pieces) {
  std::string out;
  for (char c : pieces) {
    if (c != '|') out += c;
  }
  return out;
}

struct Entries {
  std::vector<Bytes> items;
  std::vector<std::pair<Bytes, Bytes>> files;
  bool operator==(const Entries&) const = default;
};

Entries Contents(const FormattedPlaintext& c) {
  Entries e;
  for (std::size_t i = 0; i < c.FormItemCount(); ++i) {
    Bytes item;
    EXPECT_EQ(c.GetFormItem(static_cast<std::int64_t>(i), &item), kOk);
    e.items.push_back(item);
  }
  for (std::size_t i = 0; i < c.FileCount(); ++i) {
    Bytes name, content;
    EXPECT_EQ(c.GetFile(static_cast<std::int64_t>(i), &name, &content), kOk);
    e.files.emplace_back(name, content);
  }
  return e;
}

FormattedPlaintext Build(const Entries& e) {
  FormattedPlaintext c;
  for (const Bytes& item : e.items) EXPECT_EQ(c.AddFormItem(item), kOk);
  for (const auto& [name, content] : e.files) EXPECT_EQ(c.AddFile(name, content), kOk);
  return c;
}

Bytes EncodeOf(const Entries& e) {
  Bytes out;
  EXPECT_EQ(Build(e).Encode(&out), kOk);
  return out;
}

TEST(FormattedPlaintext, WorkedExamplesEncodeExactlyAndDecodeBack) {
  struct Case {
    Entries entries;
    std::string encoded;
  } cases[] = {
      {{{B("abc")}, {{B("x"), B("yz")}}}, W("00000011|00000003abc|00000019|00000011|00000001xyz")},
      {{{B("ab")}, {}}, W("00000010|00000002ab|00000000")},
      {{{}, {{B("n"), B("c")}}}, W("00000000|00000018|00000010|00000001nc")},
      {{{B("A"), B("BB")}, {{B("f1"), B("one")}, {B("f2"), B("two!")}}},
       W("00000019|00000001A|00000002BB|00000043|00000013|00000002f1one|00000014|00000002f2two!")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoded);
    Bytes out = EncodeOf(c.entries);
    EXPECT_EQ(S(out), c.encoded);
    FormattedPlaintext back;
    ASSERT_EQ(back.Decompose(B(c.encoded)), kOk);
    EXPECT_EQ(Contents(back), c.entries);
  }
  EXPECT_TRUE(EncodeOf({}).empty());
}

TEST(FormattedPlaintext, NumberFieldsReadDigitsOnlyAndWriteEightDigits) {
  std::mt19937 rng(5);
  const char alphabet[] = "0123456789/:0123456789 \xB0\xFF";
  for (int i = 0; i < 20000; ++i) {
    std::string field(8, '0');
    for (char& c : field) c = alphabet[rng() % (sizeof alphabet - 1)];
    bool digits = field.find_first_not_of("0123456789") == std::string::npos;
    std::uint64_t want = digits ? std::stoull(field) : 0;
    ASSERT_EQ(ReadNumberField(reinterpret_cast<const std::uint8_t*>(field.data())), want) << field;
  }
  for (std::uint64_t v : {0ull, 7ull, 12345678ull, 99999999ull}) {
    std::uint8_t out[8];
    WriteNumberField(v, out);
    EXPECT_EQ(ReadNumberField(out), v);
  }
  std::uint8_t out[8];
  WriteNumberField(42, out);
  EXPECT_EQ(std::string(out, out + 8), "00000042");
}

TEST(FormattedPlaintext, ArgumentsAndIndexesAreChecked) {
  FormattedPlaintext c;
  ASSERT_EQ(c.AddFormItem(B("keep")), kOk);
  EXPECT_EQ(c.AddFormItem({}), kErrEmptyInput);
  EXPECT_EQ(c.AddFile({}, B("content")), kErrEmptyInput);
  EXPECT_EQ(c.AddFile(B("name"), {}), kErrEmptyInput);
  EXPECT_EQ(c.Decompose({}), kErrEmptyInput);
  EXPECT_EQ(c.FormItemCount(), 1u);
  EXPECT_EQ(c.FileCount(), 0u);

  Bytes out = B("old");
  EXPECT_EQ(c.Encode(nullptr), kErrEmptyInput);
  EXPECT_EQ(c.GetFormItem(0, nullptr), kErrEmptyInput);
  EXPECT_EQ(c.GetFormItem(-1, &out), kFailed);
  EXPECT_EQ(c.GetFormItem(1, &out), kFailed);
  EXPECT_EQ(c.GetFile(0, &out, &out), kFailed);
  EXPECT_EQ(c.GetFile(0, nullptr, &out), kErrEmptyInput);
  EXPECT_EQ(S(out), "old");

  c.Clear();
  EXPECT_EQ(c.FormItemCount(), 0u);
  ASSERT_EQ(c.Encode(&out), kOk);
  EXPECT_TRUE(out.empty());
}

TEST(FormattedPlaintext, BytesThatAreNotAContainerFailAndLeaveItEmpty) {
  const std::string cases[] = {
      "hello world",                                          // first field reads as 0
      "short",                                                // shorter than one field
      "00000000",                                             // no file total after the marker
      W("00000099|00000002ab|00000000"),                      // first total larger than the buffer
      W("00000000|00000099|00000010|00000001nc"),             // same in files-only mode
      W("00000000|00000018|00000010|00000000nc"),             // empty file name
      W("00000000|00000017|00000009|00000001n"),              // empty content
      W("00000000|00000018|00000010|00000003nc"),             // name longer than E - 8
      W("00000000|00000012|00000004|00000000"),               // E smaller than 8
      W("00000000|00000012|00000004|1234"),                   // E < 8 and no room for N
      W("00000000|00000018|00000011|00000001nc"),             // file entry runs past the end
      W("00000010|00000003ab"),                               // form entry runs past the end
      W("00000010|00000002ab|0000000"),                       // 7 bytes after the form section
      W("00000010|00000002ab|00000000|x"),                    // 9 bytes: T2 = 0
      W("00000010|00000002ab|00000030|00000010"),             // T2 larger than what remains
      W("00000010|00000002ab|0000001x|00000010|00000001nc"),  // T2 not digits
      W("00000013|00000000|00000002ab"),                      // zero length ends the section early
  };
  for (const std::string& bad : cases) {
    SCOPED_TRACE(bad);
    FormattedPlaintext c;
    ASSERT_EQ(c.AddFormItem(B("previous")), kOk);
    EXPECT_EQ(c.Decompose(B(bad)), kFailed);
    EXPECT_EQ(c.FormItemCount() + c.FileCount(), 0u);
  }
}

TEST(FormattedPlaintext, DecodingEndsWhereTheRulesSayAndIgnoresWhatFollows) {
  struct Case {
    std::string bytes;
    Entries entries;
  } cases[] = {
      // Form section without the trailing empty file section.
      {W("00000010|00000002ab"), {{B("ab")}, {}}},
      // The 8 bytes after the form section are not examined.
      {W("00000010|00000002ab|garbage!"), {{B("ab")}, {}}},
      // ... even when the sum has not reached T1 and they look like a length.
      {W("00000030|00000002ab|00000002cd|00000005"), {{B("ab"), B("cd")}, {}}},
      // Running out of bytes right after a file ends decoding, whatever T2 says.
      {W("00000000|00000005|00000010|00000001nc"), {{}, {{B("n"), B("c")}}}},
      {W("00000010|00000002ab|00000009|00000010|00000001nc"), {{B("ab")}, {{B("n"), B("c")}}}},
      // The running sum reaching T1 ends the section: T2 = 2 follows, and
      // "cd000000" read as E is not digits, hence 0, which ends decoding.
      {W("00000010|00000002ab|00000002cd|00000000"), {{B("ab")}, {}}},
      // A T1 that the sum never meets: the last 8 bytes end the section.
      {W("00000030|00000002ab|00000002cd|00000000"), {{B("ab"), B("cd")}, {}}},
      // Bytes after the sum reaches T2 are ignored, as are bytes after E = 0.
      {W("00000000|00000018|00000010|00000001nc|trailing junk"), {{}, {{B("n"), B("c")}}}},
      {W("00000000|00000030|00000010|00000001nc|00000000|junk"), {{}, {{B("n"), B("c")}}}},
      // A first length of 0 (or not digits) in the last 8 bytes: no entries at
      // all, which still decodes.
      {W("00000016|00000000"), {}},
      {W("00000016|abcdefgh"), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    FormattedPlaintext container;
    ASSERT_EQ(container.Decompose(B(c.bytes)), kOk);
    EXPECT_EQ(Contents(container), c.entries);
  }
}

TEST(FormattedPlaintext, EntriesKeepTheirBytesExactly) {
  Entries e;
  e.items = {Bytes{0},      Bytes{0, 0, 0},        B("00000000"),
             B("99999999"), B("00000008abcdefgh"), Bytes{0xFF, 0x00, '0', '\n'}};
  e.files = {
      {B("00000001"), Bytes{0, 0}}, {Bytes{0}, B("00000000")}, {B("\xE4\xB8\xAD.txt"), B("x")}};
  Bytes encoded = EncodeOf(e);
  FormattedPlaintext back;
  ASSERT_EQ(back.Decompose(encoded), kOk);
  EXPECT_EQ(Contents(back), e);

  // The same entries survive being added and taken one at a time.
  Bytes outgoing;
  for (const Bytes& item : e.items) ASSERT_TRUE(AppendToOutgoing(&outgoing, item).ok());
  for (const auto& [name, content] : e.files) {
    ASSERT_TRUE(AppendToOutgoing(&outgoing, name, content).ok());
  }
  EXPECT_EQ(outgoing, encoded);
  for (const Bytes& want : e.items) {
    Bytes item;
    ASSERT_TRUE(TakeFirstFormItem(&outgoing, &item).ok());
    EXPECT_EQ(item, want);
  }
  for (const auto& want : e.files) {
    Bytes name, content;
    ASSERT_TRUE(TakeFirstFile(&outgoing, &name, &content).ok());
    EXPECT_EQ(std::make_pair(name, content), want);
  }
  EXPECT_TRUE(outgoing.empty());
}

TEST(PlaintextBuffer, TakingFormItemsLeavesFilesAndTheCursorsAreIndependent) {
  Bytes received = EncodeOf({{B("A"), B("B")}, {{B("F"), B("file content")}}});
  Bytes item, name, content;

  ASSERT_TRUE(TakeFirstFormItem(&received, &item).ok());
  EXPECT_EQ(S(item), "A");
  EXPECT_EQ(received, EncodeOf({{B("B")}, {{B("F"), B("file content")}}}));
  ASSERT_TRUE(TakeFirstFormItem(&received, &item).ok());
  EXPECT_EQ(S(item), "B");
  EXPECT_EQ(S(received), W("00000000|00000029|00000021|00000001F|file content"));

  item = B("stale");
  ASSERT_TRUE(TakeFirstFormItem(&received, &item).ok());  // none left: not an error
  EXPECT_TRUE(item.empty());
  EXPECT_EQ(received, EncodeOf({{}, {{B("F"), B("file content")}}}));

  ASSERT_TRUE(TakeFirstFile(&received, &name, &content).ok());
  EXPECT_EQ(S(name), "F");
  EXPECT_EQ(S(content), "file content");
  EXPECT_TRUE(received.empty());  // nothing left: the buffer becomes absent

  // Files first, then the items.
  received = EncodeOf({{B("A"), B("B")}, {{B("F"), B("1")}, {B("G"), B("2")}}});
  ASSERT_TRUE(TakeFirstFile(&received, &name, &content).ok());
  EXPECT_EQ(S(name) + S(content), "F1");
  EXPECT_EQ(received, EncodeOf({{B("A"), B("B")}, {{B("G"), B("2")}}}));
  ASSERT_TRUE(TakeFirstFormItem(&received, &item).ok());
  EXPECT_EQ(S(item), "A");
  ASSERT_TRUE(TakeFirstFile(&received, &name, &content).ok());
  EXPECT_EQ(S(name) + S(content), "G2");
  EXPECT_EQ(S(received), W("00000009|00000001B|00000000"));
  ASSERT_TRUE(TakeFirstFile(&received, &name, &content).ok());
  EXPECT_TRUE(name.empty() && content.empty());
  EXPECT_EQ(S(received), W("00000009|00000001B|00000000"));
}

TEST(PlaintextBuffer, TakeFailuresNameTheStepAndChangeNothing) {
  Bytes received, item = B("x"), name, content;
  PlaintextResult r = TakeFirstFormItem(&received, &item);
  EXPECT_EQ(r.step, PlaintextStep::kSourceEmpty);
  EXPECT_EQ(r.status, kErrEmptyInput);
  EXPECT_TRUE(item.empty());

  received = B("hello world");
  r = TakeFirstFile(&received, &name, &content);
  EXPECT_EQ(r.step, PlaintextStep::kNotFormatted);
  EXPECT_EQ(r.status, kFailed);
  EXPECT_EQ(S(received), "hello world");

  // Valid but not canonical bytes come back canonical after a take.
  received = B(W("00000030|00000002ab|00000002cd|junk!!!!"));
  ASSERT_TRUE(TakeFirstFormItem(&received, &item).ok());
  EXPECT_EQ(S(item), "ab");
  EXPECT_EQ(S(received), W("00000010|00000002cd|00000000"));
}

TEST(PlaintextBuffer, AppendingReplacesAPlainTextAndBuildsTheCanonicalEncoding) {
  Bytes outgoing = B("hello world");  // a text set as a whole
  ASSERT_TRUE(AppendToOutgoing(&outgoing, B("ab")).ok());
  EXPECT_EQ(S(outgoing), W("00000010|00000002ab|00000000"));

  outgoing = B("00000000");  // looks like the start of a container but is not one
  ASSERT_TRUE(AppendToOutgoing(&outgoing, B("n"), B("c")).ok());
  EXPECT_EQ(S(outgoing), W("00000000|00000018|00000010|00000001nc"));
  ASSERT_TRUE(AppendToOutgoing(&outgoing, B("abc")).ok());
  ASSERT_TRUE(AppendToOutgoing(&outgoing, B("x"), B("yz")).ok());
  EXPECT_EQ(outgoing, EncodeOf({{B("abc")}, {{B("n"), B("c")}, {B("x"), B("yz")}}}));

  // Trailing bytes and a wrong total in the old buffer do not survive.
  outgoing = B(W("00000020|00000002ab|tail...."));
  ASSERT_TRUE(AppendToOutgoing(&outgoing, B("cd")).ok());
  EXPECT_EQ(S(outgoing), W("00000020|00000002ab|00000002cd|00000000"));
  outgoing = B(W("00000010|00000002ab|00000018|00000010|00000001nc|tail tail tail"));
  ASSERT_TRUE(AppendToOutgoing(&outgoing, B("cd")).ok());
  EXPECT_EQ(S(outgoing), W("00000020|00000002ab|00000002cd|00000018|00000010|00000001nc"));

  // A refused entry leaves the buffer as it was.
  const Bytes before = outgoing;
  PlaintextResult r = AppendToOutgoing(&outgoing, ByteSpan());
  EXPECT_EQ(r.step, PlaintextStep::kAddEntry);
  EXPECT_EQ(r.status, kErrEmptyInput);
  r = AppendToOutgoing(&outgoing, B("name"), ByteSpan());
  EXPECT_EQ(r.step, PlaintextStep::kAddEntry);
  EXPECT_EQ(r.status, kErrEmptyInput);
  EXPECT_EQ(outgoing, before);

  // An entry taken from the buffer itself may be appended to it.
  outgoing.shrink_to_fit();                          // so that the append has to move the buffer
  ByteSpan own = ByteSpan(outgoing).subspan(16, 2);  // "ab"
  ASSERT_TRUE(AppendToOutgoing(&outgoing, own).ok());
  ASSERT_TRUE(AppendToOutgoing(&outgoing, ByteSpan(outgoing).subspan(0, 8), B("z")).ok());
  EXPECT_EQ(outgoing,
            EncodeOf({{B("ab"), B("cd"), B("ab")}, {{B("n"), B("c")}, {B("00000030"), B("z")}}}));
}

// Entries whose encoded sizes reach the 8-digit limit. One 100 MB buffer
// serves every case.
TEST(FormattedPlaintext, SizesBeyondEightDigitsAreRefusedNeverWritten) {
  constexpr std::size_t kLargestItem = 99999991;  // L + 8 = 99999999
  Bytes big(kLargestItem + 1, 'x');
  ByteSpan all(big);

  FormattedPlaintext c;
  EXPECT_EQ(c.AddFormItem(all), kFailed);
  EXPECT_EQ(c.AddFile(all.first(1), all.subspan(0, 99999983)), kFailed);
  EXPECT_EQ(c.AddFile(all.first(99999983), all.first(1)), kFailed);
  EXPECT_EQ(c.FormItemCount() + c.FileCount(), 0u);
  ASSERT_EQ(c.AddFile(all.first(1), all.first(99999982)), kOk);  // E + 8 = 99999999
  Bytes encoded;
  ASSERT_EQ(c.Encode(&encoded), kOk);
  EXPECT_EQ(S(Bytes(encoded.begin(), encoded.begin() + 32)),
            W("00000000|99999999|99999991|00000001"));
  c.Clear();

  ASSERT_EQ(c.AddFormItem(all.first(kLargestItem)), kOk);
  ASSERT_EQ(c.Encode(&encoded), kOk);
  ASSERT_EQ(encoded.size(), 99999999u + 16);
  EXPECT_EQ(S(Bytes(encoded.begin(), encoded.begin() + 16)), W("99999999|99999991"));
  EXPECT_EQ(S(Bytes(encoded.end() - 8, encoded.end())), "00000000");

  // Each entry fits, the total does not: Encode refuses and writes nothing.
  ASSERT_EQ(c.AddFormItem(B("y")), kOk);
  Bytes untouched = B("before");
  EXPECT_EQ(c.Encode(&untouched), kFailed);
  EXPECT_EQ(S(untouched), "before");

  // The same through the outgoing buffer: the append is refused at encoding.
  PlaintextResult r = AppendToOutgoing(&encoded, B("y"));
  EXPECT_EQ(r.step, PlaintextStep::kEncode);
  EXPECT_EQ(r.status, kFailed);
  EXPECT_EQ(encoded.size(), 99999999u + 16);
  EXPECT_EQ(S(Bytes(encoded.begin(), encoded.begin() + 8)), "99999999");
  r = AppendToOutgoing(&encoded, all.first(kLargestItem + 1));
  EXPECT_EQ(r.step, PlaintextStep::kAddEntry);
  EXPECT_EQ(r.status, kFailed);

  // A length field announcing an item too large to re-encode does not decode.
  std::copy_n("99999992", 8, encoded.begin() + 8);
  EXPECT_EQ(c.Decompose(encoded), kFailed);
  Bytes item;
  EXPECT_EQ(TakeFirstFormItem(&encoded, &item).step, PlaintextStep::kNotFormatted);
}

Entries RandomEntries(std::mt19937& rng) {
  auto random_bytes = [&](std::size_t max) {
    Bytes b(1 + rng() % max);
    // Mostly digits and zeros, which look like length fields.
    for (auto& x : b)
      x = static_cast<std::uint8_t>(rng() % 3 == 0 ? rng() : "0123456789"[rng() % 10]);
    if (rng() % 4 == 0) b[rng() % b.size()] = 0;
    return b;
  };
  Entries e;
  for (std::size_t i = rng() % 6; i > 0; --i) e.items.push_back(random_bytes(40));
  for (std::size_t i = rng() % 6; i > 0; --i)
    e.files.emplace_back(random_bytes(12), random_bytes(60));
  return e;
}

TEST(FormattedPlaintext, RandomContainersRoundTripThroughEveryPath) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 400; ++round) {
    Entries e = RandomEntries(rng);
    Bytes encoded = EncodeOf(e);
    if (e.items.empty() && e.files.empty()) {
      EXPECT_TRUE(encoded.empty());
      continue;
    }
    FormattedPlaintext back;
    ASSERT_EQ(back.Decompose(encoded), kOk);
    ASSERT_EQ(Contents(back), e);

    // Appending in a random interleaving gives the same bytes.
    Bytes outgoing;
    std::size_t i = 0, f = 0;
    while (i < e.items.size() || f < e.files.size()) {
      if (f == e.files.size() || (i < e.items.size() && rng() % 2)) {
        ASSERT_TRUE(AppendToOutgoing(&outgoing, e.items[i++]).ok());
      } else {
        ASSERT_TRUE(AppendToOutgoing(&outgoing, e.files[f].first, e.files[f].second).ok());
        ++f;
      }
    }
    ASSERT_EQ(outgoing, encoded);

    // Taking in a random interleaving yields every entry in order, and every
    // intermediate buffer is the encoding of what is left.
    Entries left = e;
    while (!outgoing.empty()) {
      Bytes item, name, content;
      if (rng() % 2) {
        ASSERT_TRUE(TakeFirstFormItem(&outgoing, &item).ok());
        if (!left.items.empty()) {
          ASSERT_EQ(item, left.items.front());
          left.items.erase(left.items.begin());
        }
      } else {
        ASSERT_TRUE(TakeFirstFile(&outgoing, &name, &content).ok());
        if (!left.files.empty()) {
          ASSERT_EQ(std::make_pair(name, content), left.files.front());
          left.files.erase(left.files.begin());
        }
      }
      ASSERT_EQ(outgoing, EncodeOf(left));
    }
  }
}

// Whatever the bytes, decoding either fails cleanly or gives a container
// whose encoding decodes to itself, and the in-place take agrees with the
// container's view of the same bytes.
void CheckArbitraryBytes(const Bytes& bytes) {
  FormattedPlaintext c;
  int status = c.Decompose(bytes);
  Bytes received = bytes, item;
  PlaintextResult take = TakeFirstFormItem(&received, &item);
  if (status != kOk) {
    ASSERT_EQ(c.FormItemCount() + c.FileCount(), 0u);
    ASSERT_FALSE(take.ok());
    ASSERT_EQ(received, bytes);
    return;
  }
  ASSERT_TRUE(take.ok());
  Entries e = Contents(c);
  Bytes encoded;
  ASSERT_EQ(c.Encode(&encoded), kOk);
  if (!encoded.empty()) {
    FormattedPlaintext again;
    ASSERT_EQ(again.Decompose(encoded), kOk);
    ASSERT_EQ(Contents(again), e);
  }
  if (!e.items.empty()) {
    ASSERT_EQ(item, e.items.front());
    e.items.erase(e.items.begin());
  }
  ASSERT_EQ(received, EncodeOf(e));
}

TEST(FormattedPlaintext, ArbitraryAndDamagedBytesNeverBreakDecoding) {
  std::mt19937 rng(77);
  for (int round = 0; round < 3000; ++round) {
    Bytes bytes;
    switch (round % 4) {
      case 0: {  // garbage, mostly digits
        bytes.resize(rng() % 80);
        for (auto& x : bytes) x = static_cast<std::uint8_t>(rng() % 4 ? '0' + rng() % 10 : rng());
        break;
      }
      case 1: {  // a valid encoding cut short
        bytes = EncodeOf(RandomEntries(rng));
        if (!bytes.empty()) bytes.resize(rng() % bytes.size());
        break;
      }
      case 2: {  // a valid encoding with one byte changed, often to a digit
        bytes = EncodeOf(RandomEntries(rng));
        if (!bytes.empty()) {
          bytes[rng() % bytes.size()] =
              static_cast<std::uint8_t>(rng() % 2 ? '0' + rng() % 10 : rng());
        }
        break;
      }
      case 3: {  // a valid encoding with bytes appended
        bytes = EncodeOf(RandomEntries(rng));
        for (std::size_t k = rng() % 20; k > 0; --k) bytes.push_back('0' + rng() % 10);
        break;
      }
    }
    if (bytes.empty()) continue;
    SCOPED_TRACE(S(bytes));
    CheckArbitraryBytes(bytes);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace quillmark::encoding
