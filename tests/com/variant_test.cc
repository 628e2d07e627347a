// Variant coercions: the conversions the dispatch layer applies to every
// argument before a member is called.
#include "com/variant.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

namespace quillmark::com {

using ::quillmark::control::DISP_E_TYPEMISMATCH;
using ::quillmark::control::HRESULT;
using ::quillmark::control::S_OK;
namespace {

TEST(VariantTest, CoercionsToIntegers) {
  struct Case {
    Variant in;
    bool int_ok;
    std::int32_t int_value;
    bool uint_ok;
    std::uint32_t uint_value;
  };
  const Case cases[] = {
      {Variant(), true, 0, true, 0},
      {Variant(u"5"), true, 5, true, 5},
      {Variant(u" -12\t"), true, -12, false, 0},
      {Variant(u"+7"), true, 7, true, 7},
      {Variant(u"0000000000000000000000042"), true, 42, true, 42},
      {Variant(u"2147483647"), true, 2147483647, true, 2147483647u},
      {Variant(u"2147483648"), false, 0, true, 2147483648u},
      {Variant(u"-2147483648"), true, INT32_MIN, false, 0},
      {Variant(u"-2147483649"), false, 0, false, 0},
      {Variant(u"4294967295"), false, 0, true, 4294967295u},
      {Variant(u"4294967296"), false, 0, false, 0},
      {Variant(u"99999999999999999999999"), false, 0, false, 0},
      {Variant(u"-0"), true, 0, true, 0},
      {Variant(u""), false, 0, false, 0},
      {Variant(u"   "), false, 0, false, 0},
      {Variant(u"-"), false, 0, false, 0},
      {Variant(u"5x"), false, 0, false, 0},
      {Variant(u"5 5"), false, 0, false, 0},
      {Variant(u"0x10"), false, 0, false, 0},
      {Variant(u"1e3"), false, 0, false, 0},
      {Variant(u"3.0"), false, 0, false, 0},
      {Variant(u"\uFF15"), false, 0, false, 0},  // full-width digit five
      {Variant(u"--5"), false, 0, false, 0},
      {Variant(std::int32_t{-1}), true, -1, false, 0},
      {Variant(std::int32_t{INT32_MAX}), true, INT32_MAX, true, 2147483647u},
      {Variant(std::uint32_t{4000000000u}), false, 0, true, 4000000000u},
      {Variant(std::uint32_t{7}), true, 7, true, 7},
  };
  for (const Case& c : cases) {
    std::int32_t i = 99;
    std::uint32_t u = 99;
    HRESULT hi = CoerceToInt32(c.in, &i);
    HRESULT hu = CoerceToUInt32(c.in, &u);
    std::string label = c.in.type() == Variant::Type::kString
                            ? std::string(c.in.string().begin(), c.in.string().end())
                            : "type " + std::to_string(static_cast<int>(c.in.type()));
    EXPECT_EQ(hi, c.int_ok ? S_OK : DISP_E_TYPEMISMATCH) << label;
    EXPECT_EQ(i, c.int_ok ? c.int_value : 99) << label;
    EXPECT_EQ(hu, c.uint_ok ? S_OK : DISP_E_TYPEMISMATCH) << label;
    EXPECT_EQ(u, c.uint_ok ? c.uint_value : 99u) << label;
  }
}

TEST(VariantTest, CoercionsToStrings) {
  const std::u16string kLone(1, char16_t{0xD800});
  const std::pair<Variant, std::u16string> cases[] = {
      {Variant(std::int32_t{5}), u"5"},
      {Variant(std::int32_t{-10001}), u"-10001"},
      {Variant(std::int32_t{INT32_MIN}), u"-2147483648"},
      {Variant(std::uint32_t{4294967295u}), u"4294967295"},
      {Variant(u"  keep " + kLone + u" as is "), u"  keep " + kLone + u" as is "},
  };
  const Variant empty;
  std::u16string from_empty = u"stale";
  EXPECT_EQ(CoerceToString(empty, &from_empty), S_OK);
  EXPECT_EQ(from_empty, u"");
  for (const auto& [in, expected] : cases) {
    std::u16string out = u"stale";
    EXPECT_EQ(CoerceToString(in, &out), S_OK);
    EXPECT_EQ(out, expected);
  }
}

}  // namespace
}  // namespace quillmark::com
