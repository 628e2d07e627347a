#include "com/variant.h"

#include <limits>

namespace quillmark::com {

using ::quillmark::control::DISP_E_TYPEMISMATCH;
using ::quillmark::control::HRESULT;
using ::quillmark::control::S_OK;
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// A decimal number with optional sign and blanks around it, as a 64-bit
// value; false for anything else or a value beyond the 32-bit ranges.
bool ParseDecimal(std::u16string_view text, std::int64_t* out) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  bool negative = false;
  if (begin < end && (text[begin] == u'+' || text[begin] == u'-')) {
    negative = text[begin] == u'-';
    ++begin;
  }
  if (begin == end) return false;
  std::int64_t value = 0;
  for (std::size_t i = begin; i < end; ++i) {
    char16_t c = text[i];
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c - u'0');
    if (value > std::int64_t{std::numeric_limits<std::uint32_t>::max()} + 1) return false;
  }
  *out = negative ? -value : value;
  return true;
}

// Any Variant as a 64-bit integer, or false when it is not one.
bool ToInt64(const Variant& in, std::int64_t* out) {
  switch (in.type()) {
    case Variant::Type::kEmpty:
      *out = 0;
      return true;
    case Variant::Type::kInt32:
      *out = in.int32();
      return true;
    case Variant::Type::kUInt32:
      *out = in.uint32();
      return true;
    case Variant::Type::kString:
      return ParseDecimal(in.string(), out);
  }
  return false;
}

}  // namespace

HRESULT CoerceToInt32(const Variant& in, std::int32_t* out) {
  std::int64_t value = 0;
  if (!ToInt64(in, &value) || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    return DISP_E_TYPEMISMATCH;
  }
  *out = static_cast<std::int32_t>(value);
  return S_OK;
}

HRESULT CoerceToUInt32(const Variant& in, std::uint32_t* out) {
  std::int64_t value = 0;
  if (!ToInt64(in, &value) || value < 0 || value > std::numeric_limits<std::uint32_t>::max()) {
    return DISP_E_TYPEMISMATCH;
  }
  *out = static_cast<std::uint32_t>(value);
  return S_OK;
}

HRESULT CoerceToString(const Variant& in, std::u16string* out) {
  std::string digits;
  switch (in.type()) {
    case Variant::Type::kEmpty:
      out->clear();
      return S_OK;
    case Variant::Type::kString:
      *out = in.string();
      return S_OK;
    case Variant::Type::kInt32:
      digits = std::to_string(in.int32());
      break;
    case Variant::Type::kUInt32:
      digits = std::to_string(in.uint32());
      break;
  }
  *out = std::u16string(digits.begin(), digits.end());
  return S_OK;
}

}  // namespace quillmark::com
