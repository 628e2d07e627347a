// The JSON reader and writer of the session protocol.
#include "common/json.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quillmark::json {
namespace {

Value MustParse(std::string_view text) {
  Value v;
  std::string error;
  EXPECT_TRUE(Parse(text, &v, &error)) << text << ": " << error;
  return v;
}

TEST(JsonTest, ParsesTheValueKinds) {
  Value v = MustParse(
      " {\"s\":\"a\\\"b\\\\c\\/\\b\\f\\n\\r\\t\",\"i\":-42,\"big\":9223372036854775807,"
      "\"over\":9223372036854775808,\"d\":2.5e-3,\"t\":true,\"f\":false,\"n\":null,"
      "\"a\":[1,[],{}],\"o\":{\"k\":\"\"}}\r\n");
  ASSERT_TRUE(v.is_object());
  EXPECT_EQ(v.object().size(), 10u);
  EXPECT_EQ(v.Find(u"s")->string(), u"a\"b\\c/\b\f\n\r\t");
  EXPECT_EQ(v.Find(u"i")->integer(), -42);
  EXPECT_TRUE(v.Find(u"big")->is_int());
  EXPECT_EQ(v.Find(u"big")->integer(), INT64_MAX);
  EXPECT_TRUE(v.Find(u"over")->is_double()) << "beyond int64 becomes a double";
  EXPECT_DOUBLE_EQ(v.Find(u"d")->number(), 0.0025);
  EXPECT_TRUE(v.Find(u"t")->boolean());
  EXPECT_FALSE(v.Find(u"f")->boolean());
  EXPECT_TRUE(v.Find(u"n")->is_null());
  EXPECT_EQ(v.Find(u"a")->array().size(), 3u);
  EXPECT_TRUE(v.Find(u"o")->Find(u"k")->string().empty());
  EXPECT_EQ(v.Find(u"missing"), nullptr);
  // Member order is kept.
  EXPECT_EQ(v.object().front().first, u"s");
  EXPECT_EQ(v.object().back().first, u"o");
}

TEST(JsonTest, StringsBecomeUtf16WithSurrogatesAsGiven) {
  // Raw UTF-8 of every length, and escapes.
  EXPECT_EQ(MustParse("\"A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\"").string(),
            u"A\u00E9\u4E2D\U0001F600");
  EXPECT_EQ(MustParse("\"\\u4e2D\\uD83D\\uDE00\"").string(), u"\u4E2D\U0001F600");
  // Lone and reversed surrogates stay as they are.
  std::u16string lone = MustParse("\"x\\uD800y\\uDFFF\\uDE00\\uD83D\"").string();
  EXPECT_EQ(lone, (std::u16string{u'x', 0xD800, u'y', 0xDFFF, 0xDE00, 0xD83D}));
  EXPECT_EQ(MustParse("\"\\u0000\"").string(), std::u16string(1, u'\0'));
}

TEST(JsonTest, RefusesWhatIsNotStrictJson) {
  const std::string bad[] = {
      "",
      "   ",
      "{",
      "{\"a\":1,}",
      "[1,]",
      "[,1]",
      "{\"a\" 1}",
      "{a:1}",
      "{'a':1}",
      "{\"a\":1}}",
      "{} x",
      "{}{}",
      "01",
      "-01",
      "+1",
      ".5",
      "1.",
      "1.e5",
      "1e",
      "-",
      "0x10",
      "1e400",
      "-1e400",
      "NaN",
      "Infinity",
      "tru",
      "nul",
      "True",
      "\"abc",
      "\"a\\x\"",
      "\"\\u12G4\"",
      "\"\\u12\"",
      std::string("\"a\tb\""),  // raw control character
      std::string("\"a\0b\"", 5),
      std::string("\0", 1),
      "\"\xC0\x80\"",          // overlong NUL
      "\"\xE0\x80\xAF\"",      // overlong slash
      "\"\xED\xA0\x80\"",      // an encoded surrogate
      "\"\xF4\x90\x80\x80\"",  // above U+10FFFF
      "\"\xF5\x80\x80\x80\"",
      "\"\x80\"",           // stray continuation byte
      "\"\xE4\xB8\"",       // truncated sequence
      "\xEF\xBB\xBF{}",     // byte-order mark
      "{\"a\":1,\"a\":2}",  // duplicate name
  };
  for (const std::string& text : bad) {
    Value v;
    std::string error;
    EXPECT_FALSE(Parse(text, &v, &error)) << "accepted: " << text;
    EXPECT_FALSE(error.empty());
  }
}

TEST(JsonTest, NestingIsBounded) {
  auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  Value v;
  std::string error;
  EXPECT_TRUE(Parse(nested(kMaxDepth), &v, &error)) << error;
  EXPECT_FALSE(Parse(nested(kMaxDepth + 1), &v, &error));
  // Far deeper than any stack would take: refused quickly, no crash.
  EXPECT_FALSE(Parse(std::string(1 << 20, '['), &v, &error));
  EXPECT_FALSE(Parse(std::string(1 << 20, '{'), &v, &error));
}

// {"k0":0,"k1":1,...} with |count| members, names from |name_of|.
template <typename NameOf>
std::string WideObject(int count, NameOf name_of) {
  std::string text = "{";
  for (int i = 0; i < count; ++i) {
    if (i > 0) text += ',';
    text += '"' + name_of(i) + "\":" + std::to_string(i);
  }
  return text + "}";
}

TEST(JsonTest, WideObjectsKeepEveryMemberAndFindTheDuplicate) {
  // 240,000 members (about 2.7 MB): every member kept in order, every one
  // found by name.
  constexpr int kMembers = 240000;
  auto plain = [](int i) { return "k" + std::to_string(i); };
  Value v = MustParse(WideObject(kMembers, plain));
  ASSERT_TRUE(v.is_object());
  ASSERT_EQ(v.object().size(), static_cast<std::size_t>(kMembers));
  for (int i = 0; i < kMembers; i += 9973) {
    const std::string name = plain(i);
    EXPECT_EQ(v.object()[i].first, std::u16string(name.begin(), name.end()));
    EXPECT_EQ(v.object()[i].second.integer(), i);
  }
  ASSERT_NE(v.Find(u"k239999"), nullptr);
  EXPECT_EQ(v.Find(u"k239999")->integer(), kMembers - 1);

  // Names that share a long prefix and differ only at the end, in an order
  // that is neither sorted nor reversed.
  const std::string prefix(200, 'p');
  auto shared = [&](int i) { return prefix + std::to_string((i * 7919) % 5000); };
  EXPECT_EQ(MustParse(WideObject(5000, shared)).object().size(), 5000u);

  // A duplicate is found wherever it is: the last member repeating the
  // first, one in the middle, or two names equal only as UTF-16 escapes.
  std::string error;
  std::string last_repeats_first = WideObject(kMembers, plain);
  last_repeats_first.insert(1, "\"k" + std::to_string(kMembers - 1) + "\":0,");
  for (const std::string& text :
       {last_repeats_first, std::string("{\"a\":1,\"b\":2,\"c\":3,\"b\":4,\"d\":5}"),
        std::string("{\"\\u0041\":1,\"A\":2}")}) {
    EXPECT_FALSE(Parse(text, &v, &error));
    EXPECT_NE(error.find("duplicate member name"), std::string::npos) << error;
  }
  // Equal names in different objects are no duplicates.
  EXPECT_EQ(MustParse(R"({"a":{"a":{"a":1}},"b":{"a":2}})").object().size(), 2u);
}

TEST(JsonTest, ValueCountIsBounded) {
  // kMaxValues counts the outer array and every item.
  auto zeros = [](std::size_t items) {
    std::string text = "[";
    for (std::size_t i = 0; i < items; ++i) text += i == 0 ? "0" : ",0";
    return text + "]";
  };
  Value v;
  std::string error;
  ASSERT_TRUE(Parse(zeros(kMaxValues - 1), &v, &error)) << error;
  EXPECT_EQ(v.array().size(), kMaxValues - 1);
  EXPECT_FALSE(Parse(zeros(kMaxValues), &v, &error));
  EXPECT_NE(error.find("too many values"), std::string::npos) << error;
  // Members count as well, nested ones included.
  std::string members = "{\"a\":[" + zeros(kMaxValues / 2) + "," + zeros(kMaxValues / 2) + "]}";
  EXPECT_FALSE(Parse(members, &v, &error));
  EXPECT_NE(error.find("too many values"), std::string::npos) << error;
}

TEST(JsonTest, WriterPlacesCommasAndEscapes) {
  Writer w;
  w.BeginObject();
  w.Key("a");
  w.BeginArray();
  w.Int(-1);
  w.UInt(4294967295u);
  w.BeginObject();
  w.EndObject();
  w.BeginArray();
  w.EndArray();
  w.Null();
  w.Bool(true);
  w.EndArray();
  w.Key("s");
  w.String(u"q\"\\\n\x01\x7f\u00E9");
  w.Key("u");
  w.StringUtf8("\xE4\xB8\xAD\t");
  w.EndObject();
  EXPECT_EQ(w.Take(),
            "{\"a\":[-1,4294967295,{},[],null,true],\"s\":\"q\\\"\\\\\\n\\u0001\x7f\xC3\xA9\","
            "\"u\":\"\xE4\xB8\xAD\\t\"}");
  EXPECT_EQ(Quote(std::u16string{0xD800, u'a', 0xDC00}), "\"\\uD800a\\uDC00\"");
  EXPECT_EQ(Quote(u"\U0001F600"), "\"\xF0\x9F\x98\x80\"");
}

// Any UTF-16 text, lone surrogates included, survives Quote then Parse.
TEST(JsonTest, RandomUtf16SurvivesARoundTrip) {
  std::mt19937 rng(20240601);
  const char16_t interesting[] = {0,      u'"',   u'\\',  u'/',   0x1F,   0x7F,
                                  0x80,   0x7FF,  0x800,  0xD7FF, 0xD800, 0xDBFF,
                                  0xDC00, 0xDFFF, 0xE000, 0xFEFF, 0xFFFE, 0xFFFF};
  for (int round = 0; round < 2000; ++round) {
    std::u16string text(rng() % 24, u' ');
    for (char16_t& c : text) {
      c = (rng() % 2) ? interesting[rng() % std::size(interesting)]
                      : static_cast<char16_t>(rng() % 0x10000);
    }
    std::string quoted = Quote(text);
    Value v;
    std::string error;
    ASSERT_TRUE(Parse(quoted, &v, &error)) << error;
    ASSERT_EQ(v.string(), text);
    // And the whole value written back reads the same.
    Writer w;
    w.WriteValue(Value::Array({v, Value::Int(round), Value::Double(0.5)}));
    ASSERT_TRUE(Parse(w.text(), &v, &error)) << error;
    ASSERT_EQ(v.array()[0].string(), text);
  }
}

TEST(JsonTest, RandomBytesNeverBreakTheReader) {
  std::mt19937 rng(7);
  const std::string alphabet =
      "{}[]\",:\\u0123456789abcdefABCDEF.eE+-truefalsnl \t\r\n\x80\xC3\xED";
  for (int round = 0; round < 20000; ++round) {
    std::string text(rng() % 64, ' ');
    for (char& c : text) {
      c = (rng() % 4) ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng());
    }
    Value v;
    std::string error;
    if (Parse(text, &v, &error)) {
      // What is accepted is written back as JSON that reads again.
      Writer w;
      w.WriteValue(v);
      Value again;
      EXPECT_TRUE(Parse(w.text(), &again, &error)) << text;
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
}

}  // namespace
}  // namespace quillmark::json
