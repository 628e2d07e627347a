// Variant: the argument and result values of the dispatch layer.
//
// A Variant is empty, a signed or unsigned 32-bit integer, or a UTF-16
// string. The coercions are the ones script callers rely on:
//
//   empty          -> 0 / u""
//   int32, uint32  -> the other integer type when the value fits; to a string
//                     as its decimal text
//   string         -> an integer when it is a decimal number (optional sign,
//                     ASCII digits, spaces or tabs around it) that fits the
//                     target type; to a string unchanged
//
// Every coercion that is not possible answers DISP_E_TYPEMISMATCH and leaves
// the output untouched.
#ifndef QUILLMARK_COM_VARIANT_H_
#define QUILLMARK_COM_VARIANT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "control/quillmark_interface.h"

namespace quillmark::com {

using ::quillmark::control::DISP_E_TYPEMISMATCH;
using ::quillmark::control::HRESULT;
using ::quillmark::control::S_OK;

class Variant {
 public:
  enum class Type { kEmpty, kInt32, kUInt32, kString };

  Variant() = default;
  explicit Variant(std::int32_t value) : value_(value) {}
  explicit Variant(std::uint32_t value) : value_(value) {}
  explicit Variant(std::u16string value) : value_(std::move(value)) {}
  explicit Variant(std::u16string_view value) : value_(std::u16string(value)) {}
  explicit Variant(const char16_t* value) : value_(std::u16string(value)) {}

  Type type() const { return static_cast<Type>(value_.index()); }
  bool empty() const { return type() == Type::kEmpty; }

  // The stored value; only valid for the matching type().
  std::int32_t int32() const { return std::get<std::int32_t>(value_); }
  std::uint32_t uint32() const { return std::get<std::uint32_t>(value_); }
  const std::u16string& string() const { return std::get<std::u16string>(value_); }

  friend bool operator==(const Variant& a, const Variant& b) { return a.value_ == b.value_; }

 private:
  std::variant<std::monostate, std::int32_t, std::uint32_t, std::u16string> value_;
};

// The coercions above: S_OK or DISP_E_TYPEMISMATCH.
HRESULT CoerceToInt32(const Variant& in, std::int32_t* out);
HRESULT CoerceToUInt32(const Variant& in, std::uint32_t* out);
HRESULT CoerceToString(const Variant& in, std::u16string* out);

}  // namespace quillmark::com

#endif  // QUILLMARK_COM_VARIANT_H_
