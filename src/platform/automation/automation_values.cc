#include "platform/automation/automation_values.h"

#include <cmath>
#include <limits>
#include <utility>

namespace quillmark::platform {

AutomationValue AutomationValue::Int32(std::int32_t v) {
  AutomationValue value;
  value.type = Type::kInt32;
  value.int32 = v;
  return value;
}

AutomationValue AutomationValue::UInt32(std::uint32_t v) {
  AutomationValue value;
  value.type = Type::kUInt32;
  value.uint32 = v;
  return value;
}

AutomationValue AutomationValue::String(std::u16string v) {
  AutomationValue value;
  value.type = Type::kString;
  value.text = std::move(v);
  return value;
}

std::size_t CallsForFlags(std::uint16_t flags, std::array<AutomationCall, 2>* calls) {
  const bool put = (flags & (kDispatchPropertyPut | kDispatchPropertyPutRef)) != 0;
  const bool method = (flags & kDispatchMethod) != 0;
  const bool get = (flags & kDispatchPropertyGet) != 0;
  if (put) {
    if (method || get) return 0;
    (*calls)[0] = AutomationCall::kPropertyPut;
    return 1;
  }
  std::size_t count = 0;
  if (method) (*calls)[count++] = AutomationCall::kMethod;
  if (get) (*calls)[count++] = AutomationCall::kPropertyGet;
  return count;
}

bool NumberToValue(double number, AutomationValue* value) {
  if (!std::isfinite(number) || std::trunc(number) != number) return false;
  if (number >= std::numeric_limits<std::int32_t>::min() &&
      number <= std::numeric_limits<std::int32_t>::max()) {
    *value = AutomationValue::Int32(static_cast<std::int32_t>(number));
    return true;
  }
  if (number > 0 && number <= std::numeric_limits<std::uint32_t>::max()) {
    *value = AutomationValue::UInt32(static_cast<std::uint32_t>(number));
    return true;
  }
  return false;
}

ScriptNumber ResultToScriptNumber(const AutomationValue& value) {
  ScriptNumber n;
  if (value.type == AutomationValue::Type::kInt32) {
    n.int32 = value.int32;
  } else if (value.type == AutomationValue::Type::kUInt32) {
    if (value.uint32 <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
      n.int32 = static_cast<std::int32_t>(value.uint32);
    } else {
      n.is_int32 = false;
      n.number = static_cast<double>(value.uint32);
    }
  }
  return n;
}

bool ParseExtentText(std::u16string_view text, std::int32_t* value) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && text[begin] == u' ') ++begin;
  while (end > begin && text[end - 1] == u' ') --end;
  if (begin == end) return false;
  std::int64_t parsed = 0;
  for (std::size_t i = begin; i < end; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    parsed = parsed * 10 + (text[i] - u'0');
    if (parsed > kMaxExtent) return false;
  }
  *value = static_cast<std::int32_t>(parsed);
  return true;
}

namespace {

void PutLittleEndian(std::int32_t v, std::vector<std::uint8_t>* out) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<std::uint8_t>(u >> shift));
}

std::int64_t GetLittleEndian(std::span<const std::uint8_t> bytes) {
  std::uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = (u << 8) | bytes[static_cast<std::size_t>(i)];
  return static_cast<std::int32_t>(u);
}

}  // namespace

std::vector<std::uint8_t> EncodeExtent(const Extent& extent) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(kEncodedExtentSize);
  PutLittleEndian(extent.cx, &bytes);
  PutLittleEndian(extent.cy, &bytes);
  return bytes;
}

bool DecodeExtent(std::span<const std::uint8_t> bytes, Extent* extent) {
  if (bytes.size() != kEncodedExtentSize) return false;
  const std::int64_t cx = GetLittleEndian(bytes.first(4));
  const std::int64_t cy = GetLittleEndian(bytes.subspan(4));
  if (cx < 0 || cx > kMaxExtent || cy < 0 || cy > kMaxExtent) return false;
  extent->cx = static_cast<std::int32_t>(cx);
  extent->cy = static_cast<std::int32_t>(cy);
  return true;
}

}  // namespace quillmark::platform
