// The system-independent rules of the automation server: which member kinds
// a call reaches, script numbers as integers and back, and the saved extent.
#include "platform/automation/automation_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace quillmark::platform {
namespace {

using Type = AutomationValue::Type;

TEST(CallsForFlagsTest, MethodIsTriedBeforeGetAndPutStandsAlone) {
  std::array<AutomationCall, 2> calls{};
  ASSERT_EQ(CallsForFlags(kDispatchMethod | kDispatchPropertyGet, &calls), 2u);
  EXPECT_EQ(calls[0], AutomationCall::kMethod);
  EXPECT_EQ(calls[1], AutomationCall::kPropertyGet);

  ASSERT_EQ(CallsForFlags(kDispatchPropertyGet, &calls), 1u);
  EXPECT_EQ(calls[0], AutomationCall::kPropertyGet);
  ASSERT_EQ(CallsForFlags(kDispatchMethod, &calls), 1u);
  EXPECT_EQ(calls[0], AutomationCall::kMethod);
  ASSERT_EQ(CallsForFlags(kDispatchPropertyPut, &calls), 1u);
  EXPECT_EQ(calls[0], AutomationCall::kPropertyPut);
  ASSERT_EQ(CallsForFlags(kDispatchPropertyPutRef, &calls), 1u);
  EXPECT_EQ(calls[0], AutomationCall::kPropertyPut);

  EXPECT_EQ(CallsForFlags(0, &calls), 0u);
  EXPECT_EQ(CallsForFlags(0x10, &calls), 0u);
  EXPECT_EQ(CallsForFlags(kDispatchPropertyPut | kDispatchPropertyGet, &calls), 0u);
  EXPECT_EQ(CallsForFlags(kDispatchPropertyPut | kDispatchMethod, &calls), 0u);
}

TEST(NumberToValueTest, IntegralNumbersBecomeTheNarrowestType) {
  AutomationValue v;
  ASSERT_TRUE(NumberToValue(936.0, &v));
  EXPECT_EQ(v.type, Type::kInt32);
  EXPECT_EQ(v.int32, 936);
  ASSERT_TRUE(NumberToValue(-2147483648.0, &v));
  EXPECT_EQ(v.type, Type::kInt32);
  EXPECT_EQ(v.int32, std::numeric_limits<std::int32_t>::min());
  ASSERT_TRUE(NumberToValue(2147483648.0, &v));
  EXPECT_EQ(v.type, Type::kUInt32);
  EXPECT_EQ(v.uint32, 2147483648u);
  ASSERT_TRUE(NumberToValue(4294967295.0, &v));
  EXPECT_EQ(v.uint32, 4294967295u);
  ASSERT_TRUE(NumberToValue(-0.0, &v));
  EXPECT_EQ(v.int32, 0);
}

TEST(NumberToValueTest, OtherNumbersAreRefusedAndLeaveTheValue) {
  AutomationValue v = AutomationValue::String(u"kept");
  EXPECT_FALSE(NumberToValue(1.5, &v));
  EXPECT_FALSE(NumberToValue(-2147483649.0, &v));
  EXPECT_FALSE(NumberToValue(4294967296.0, &v));
  EXPECT_FALSE(NumberToValue(std::nan(""), &v));
  EXPECT_FALSE(NumberToValue(std::numeric_limits<double>::infinity(), &v));
  EXPECT_EQ(v.type, Type::kString);
  EXPECT_EQ(v.text, u"kept");
}

TEST(ResultToScriptNumberTest, UnsignedAboveInt32GoesAsADouble) {
  ScriptNumber n = ResultToScriptNumber(AutomationValue::Int32(-10036));
  EXPECT_TRUE(n.is_int32);
  EXPECT_EQ(n.int32, -10036);
  n = ResultToScriptNumber(AutomationValue::UInt32(2147483647u));
  EXPECT_TRUE(n.is_int32);
  EXPECT_EQ(n.int32, 2147483647);
  n = ResultToScriptNumber(AutomationValue::UInt32(0x80092010u));
  EXPECT_FALSE(n.is_int32);
  EXPECT_EQ(n.number, 2148081680.0);
}

TEST(ExtentTest, PropertyBagTextIsDigitsWithinRange) {
  std::int32_t v = -1;
  ASSERT_TRUE(ParseExtentText(u"2646", &v));
  EXPECT_EQ(v, 2646);
  ASSERT_TRUE(ParseExtentText(u"  0 ", &v));
  EXPECT_EQ(v, 0);
  ASSERT_TRUE(ParseExtentText(u"1000000", &v));
  EXPECT_EQ(v, kMaxExtent);

  v = 7;
  for (const char16_t* bad :
       {u"", u"  ", u"-1", u"+5", u"12a", u"1000001", u"99999999999999999999", u"1 2", u"\uFF11"}) {
    EXPECT_FALSE(ParseExtentText(bad, &v)) << static_cast<int>(bad[0]);
  }
  EXPECT_EQ(v, 7);
}

TEST(ExtentTest, StreamFormRoundTripsAndRefusesOtherBytes) {
  const std::vector<std::uint8_t> bytes = EncodeExtent({0x01020304, 1323});
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x04, 0x03, 0x02, 0x01, 0x2B, 0x05, 0x00, 0x00}));
  Extent e{0, 0};
  ASSERT_TRUE(DecodeExtent(EncodeExtent({5000, 1234}), &e));
  EXPECT_EQ(e.cx, 5000);
  EXPECT_EQ(e.cy, 1234);

  e = Extent{};
  const std::vector<std::uint8_t> short_form(7, 0);
  EXPECT_FALSE(DecodeExtent(short_form, &e));
  const std::vector<std::uint8_t> negative = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
  EXPECT_FALSE(DecodeExtent(negative, &e));
  EXPECT_FALSE(DecodeExtent(EncodeExtent({10, kMaxExtent + 1}), &e));
  EXPECT_EQ(e.cx, kDefaultExtentCx);
  EXPECT_EQ(e.cy, kDefaultExtentCy);
}

}  // namespace
}  // namespace quillmark::platform
