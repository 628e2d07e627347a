#include "platform/os/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/os/last_error.h"

namespace quillmark::platform {
namespace {

Bytes H(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
  return b;
}

Bytes ToBytes(std::uint32_t cp, std::u16string_view text) {
  Bytes out;
  std::size_t n = WideCharToMultiByte(cp, text, TextLength::kExact, &out);
  EXPECT_EQ(n, out.size());
  return out;
}

std::u16string ToText(std::uint32_t cp, const Bytes& bytes) {
  std::u16string out;
  std::size_t n = MultiByteToWideChar(cp, bytes, &out);
  EXPECT_EQ(n, out.size());
  return out;
}

TEST(CodePage, KnownByteSequencesBothWays) {
  struct Case {
    std::uint32_t cp;
    std::u16string text;
    Bytes bytes;
  } cases[] = {
      {936, u"中文", H({0xD6, 0xD0, 0xCE, 0xC4})},
      {936, u"é€", H({0xA8, 0xA6, 0x80})},
      {0, u"中文", H({0xD6, 0xD0, 0xCE, 0xC4})},  // the ANSI code page is 936
      {3, u"中文", H({0xD6, 0xD0, 0xCE, 0xC4})},
      {54936, u"中文€😀ÿ한",
       H({0xD6, 0xD0, 0xCE, 0xC4, 0xA2, 0xE3, 0x94, 0x39, 0xFC, 0x36, 0x81, 0x30, 0x8B, 0x37, 0x83,
          0x36, 0x84, 0x33})},
      {950, u"中文€", H({0xA4, 0xA4, 0xA4, 0xE5, 0xA3, 0xE1})},
      {932, u"日本語ｱ~\\", H({0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA, 0xB1, 0x7E, 0x5C})},
      {949, u"한국어", H({0xC7, 0xD1, 0xB1, 0xB9, 0xBE, 0xEE})},
      {1252, u"café Ÿ€\u0081", H({0x63, 0x61, 0x66, 0xE9, 0x20, 0x9F, 0x80, 0x81})},
      {1251, u"Привет", H({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2})},
      {20127, u"ASCII ~!", H({0x41, 0x53, 0x43, 0x49, 0x49, 0x20, 0x7E, 0x21})},
      {65001, u"中文😀é",
       H({0xE4, 0xB8, 0xAD, 0xE6, 0x96, 0x87, 0xF0, 0x9F, 0x98, 0x80, 0xC3, 0xA9})},
      {65001, std::u16string(u"a\0b", 3), H({0x61, 0x00, 0x62})},  // exact counts keep NUL
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cp);
    EXPECT_EQ(ToBytes(c.cp, c.text), c.bytes);
    EXPECT_EQ(ToText(c.cp, c.bytes), c.text);
  }
}

TEST(CodePage, EveryByteOf1252SurvivesARoundTrip) {
  Bytes all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
  std::u16string text = ToText(1252, all);
  ASSERT_EQ(text.size(), all.size());
  EXPECT_EQ(ToBytes(1252, text), all);
}

// Pure ASCII skips the conversion library; this holds only if each page
// keeps ASCII as it is, which is checked here through the library itself
// (the trailing non-ASCII unit sends the whole text through it).
TEST(CodePage, AsciiIsTheSameWithAndWithoutTheConversionLibrary) {
  Bytes ascii;
  std::u16string wide;
  for (int c = 0; c < 0x80; ++c) {
    ascii.push_back(static_cast<std::uint8_t>(c));
    wide.push_back(static_cast<char16_t>(c));
  }
  for (std::uint32_t cp :
       {936u, 54936u, 950u, 932u, 949u, 1250u, 1251u, 1253u, 1254u, 1256u, 1257u, 28591u}) {
    Bytes mixed_bytes = ascii;
    mixed_bytes.push_back(0xFF);
    EXPECT_EQ(ToText(cp, mixed_bytes).substr(0, wide.size()), wide) << cp;
    EXPECT_EQ(ToText(cp, ascii), wide) << cp;
    Bytes through_library = ToBytes(cp, wide + u"\u20AC");
    ASSERT_GT(through_library.size(), ascii.size()) << cp;
    EXPECT_EQ(Bytes(through_library.begin(), through_library.begin() + 0x80), ascii) << cp;
    EXPECT_EQ(ToBytes(cp, wide), ascii) << cp;
  }
}

TEST(CodePage, CharactersThePageCannotHoldBecomeQuestionMarks) {
  struct Case {
    std::uint32_t cp;
    std::u16string text;
    std::string bytes;
  } cases[] = {
      {936, u"a😀b", "a?b"},  // a surrogate pair is one character
      {936, u"한ÿ", "??"},
      {1252, u"a\u0100\u0080中", "a???"},  // no best-fit 'A' for U+0100
      {20127, u"café", "caf?"},
      {932, u"한", "?"},
      // Unpaired surrogates, in every page: a low one alone, a high one at
      // the end, and a pair in the wrong order.
      {65001,
       u"a\xDC00"
       u"b\xD800",
       "a?b?"},
      {65001, u"\xDC00\xD800", "??"},
      {936, u"\xD800x", "?x"},
      {54936, u"\xDFFF", "?"},
      {1252, u"\xD83D", "?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cp);
    Bytes out = ToBytes(c.cp, c.text);
    EXPECT_EQ(std::string(out.begin(), out.end()), c.bytes);
  }
  // GB18030 holds every character, supplementary ones included.
  std::u16string wide = u"😀𠀀한ÿ\uFFFD";
  EXPECT_EQ(ToText(54936, ToBytes(54936, wide)), wide);
  EXPECT_EQ(ToText(65001, ToBytes(65001, wide)), wide);
}

// What a caller learns of a lossy conversion: the used-default flag in the
// legacy pages, a failure under kWcErrInvalidChars in UTF-8; and which
// combinations each refuses.
TEST(CodePage, LossyConversionsAreReportedWhenAskedFor) {
  struct Case {
    std::uint32_t cp;
    std::u16string text;
    bool defaulted;
  } cases[] = {
      {936, u"中文 ab", false},
      {936, u"a😀b", true},
      {936, u"\xD800x", true},
      {54936, u"😀𠀀", false},
      {54936, u"\xDFFF", true},
      {1252, u"café€", false},
      {1252, u"\u0100", true},
      {20127, u"caf", false},
      {20127, u"café", true},
      {932, u"日本", false},
      {932, u"한", true},
      {0, u"中", false},
      {936, std::u16string(u"a\0b", 3), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cp);
    bool defaulted = !c.defaulted;
    Bytes out = H({7});
    const std::size_t n = WideCharToMultiByte(c.cp, c.text, TextLength::kNulTerminated, &out,
                                              {.used_default_char = &defaulted});
    EXPECT_EQ(defaulted, c.defaulted);
    // The bytes are the same as without the question.
    Bytes plain;
    EXPECT_EQ(WideCharToMultiByte(c.cp, c.text, TextLength::kNulTerminated, &plain), n);
    EXPECT_EQ(out, plain);
  }

  // UTF-8: an unpaired surrogate fails the call under the flag, anywhere in
  // the text; paired ones and NUL units convert.
  const WideCharOptions strict{.flags = kWcErrInvalidChars};
  for (std::u16string text : {std::u16string(u"a\xDC00"),
                              std::u16string(u"\xD800"
                                             u"b"),
                              std::u16string(u"\xDC00\xD800")}) {
    Bytes out = H({7});
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(65001, text, TextLength::kExact, &out, strict), 0u);
    EXPECT_EQ(GetLastError(), kErrorNoUnicodeTranslation);
    EXPECT_EQ(out, H({7}));
  }
  Bytes out;
  EXPECT_EQ(WideCharToMultiByte(65001, std::u16string(u"😀\0", 3), TextLength::kExact, &out, strict),
            5u);
  EXPECT_EQ(out, H({0xF0, 0x9F, 0x98, 0x80, 0x00}));

  // The flag is UTF-8's, the used-default flag the legacy pages'.
  bool defaulted = false;
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(936, u"a", TextLength::kExact, &out, strict), 0u);
  EXPECT_EQ(GetLastError(), kErrorInvalidFlags);
  EXPECT_EQ(
      WideCharToMultiByte(65001, u"a", TextLength::kExact, &out, {.used_default_char = &defaulted}),
      0u);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_EQ(WideCharToMultiByte(65001, u"a", TextLength::kExact, &out, {.flags = 0x08}), 0u);
  EXPECT_EQ(GetLastError(), kErrorInvalidFlags);
}

TEST(CodePage, MalformedBytesBecomeOneReplacementPerByte) {
  struct Case {
    std::uint32_t cp;
    Bytes bytes;
    std::u16string text;
  } cases[] = {
      {65001, H({0xE4, 0xB8, 0x41}), u"\uFFFD\uFFFDA"},                   // truncated sequence
      {65001, H({0xC0, 0xAF}), u"\uFFFD\uFFFD"},                          // overlong '/'
      {65001, H({0xE0, 0x80, 0xAF}), u"\uFFFD\uFFFD\uFFFD"},              // overlong, 3 bytes
      {65001, H({0xED, 0xA0, 0x80}), u"\uFFFD\uFFFD\uFFFD"},              // encoded surrogate
      {65001, H({0xF4, 0x90, 0x80, 0x80}), u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {65001, H({0x80, 0xFF, 0x61, 0xF0, 0x9F, 0x98}), u"\uFFFD\uFFFDa\uFFFD\uFFFD\uFFFD"},
      {65001, H({0xF4, 0x8F, 0xBF, 0xBF}), u"\U0010FFFF"},  // the last valid one
      {936, H({0x41, 0xFF, 0x42}), u"A\uFFFDB"},
      {936, H({0x41, 0xD6}), u"A\uFFFD"},  // lead byte at the end
      {936, H({0xD6, 0x0A, 0xD6, 0xD0}), u"\uFFFD\n中"},
      {932, H({0x82}), u"\uFFFD"},
      {949, H({0xC7, 0xD1, 0xC7}), u"한\uFFFD"},
      {20127, H({0x61, 0x80, 0xFF}), u"a\uFFFD\uFFFD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cp);
    EXPECT_EQ(ToText(c.cp, c.bytes), c.text);
  }
}

TEST(CodePage, NulTerminatedTextStopsAtTheFirstNulAndCountsTheTerminator) {
  Bytes out;
  EXPECT_EQ(
      WideCharToMultiByte(936, std::u16string(u"中\0cd", 4), TextLength::kNulTerminated, &out), 3u);
  EXPECT_EQ(out, H({0xD6, 0xD0, 0x00}));
  EXPECT_EQ(WideCharToMultiByte(65001, std::u16string(1, u'\0'), TextLength::kNulTerminated, &out),
            1u);
  EXPECT_EQ(out, H({0x00}));
  EXPECT_EQ(WideCharToMultiByte(65001, u"", TextLength::kNulTerminated, &out), 1u);
  EXPECT_EQ(WideCharToMultiByte(1252, u"abc", TextLength::kNulTerminated, &out), 4u);
  EXPECT_EQ(out, H({'a', 'b', 'c', 0}));
}

TEST(CodePage, FailuresReturnZeroSetInvalidParameterAndKeepTheOutput) {
  const Bytes some = H({0x41});
  for (std::uint32_t cp : {2u, 1200u, 12345u, 65000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(cp);
    SetLastError(kErrorSuccess);
    Bytes bytes = H({1, 2});
    EXPECT_EQ(WideCharToMultiByte(cp, u"abc", TextLength::kNulTerminated, &bytes), 0u);
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
    EXPECT_EQ(bytes, H({1, 2}));
    SetLastError(kErrorSuccess);
    std::u16string text = u"keep";
    EXPECT_EQ(MultiByteToWideChar(cp, some, &text), 0u);
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
    EXPECT_EQ(text, u"keep");
    EXPECT_FALSE(IsValidCodePage(cp));
  }
  // Empty input fails as the platform's does; success leaves the last error.
  SetLastError(kErrorSuccess);
  Bytes bytes;
  std::u16string text;
  EXPECT_EQ(WideCharToMultiByte(936, u"", TextLength::kExact, &bytes), 0u);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  SetLastError(kErrorAccessDenied);
  EXPECT_EQ(MultiByteToWideChar(65001, ByteSpan(), &text), 0u);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  SetLastError(kErrorAccessDenied);
  EXPECT_EQ(MultiByteToWideChar(936, some, &text), 1u);
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
}

TEST(CodePage, LongTextsAndConcurrentThreadsConvertAlike) {
  // Each 'ÿ' takes 4 bytes in GB18030: more than the first output guess.
  std::u16string long_text;
  std::size_t gb_size = 0;
  for (int i = 0; i < 20000; ++i) {
    long_text += (i % 3 == 0 ? u"ÿ" : i % 3 == 1 ? u"中" : u"😀");
    gb_size += i % 3 == 1 ? 2 : 4;
  }
  Bytes gb = ToBytes(54936, long_text);
  EXPECT_EQ(gb.size(), gb_size);
  EXPECT_EQ(ToText(54936, gb), long_text);

  const std::u16string samples[] = {u"中文", u"日本語", u"한국어", u"中文€"};
  const std::uint32_t pages[] = {936, 932, 949, 950};
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        std::uint32_t cp = pages[(t + i) % 4];
        const std::u16string& s = samples[(t + i) % 4];
        Bytes b;
        std::u16string back;
        WideCharToMultiByte(cp, s, TextLength::kExact, &b);
        MultiByteToWideChar(cp, b, &back);
        if (back != s) ++mismatches[static_cast<std::size_t>(t)];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace quillmark::platform
