// The values of a late-bound call as the automation server passes them
// between the system's VARIANTs and the class it serves, and the small
// rules of that translation that do not depend on the system:
//
//   - which member kinds a call's dispatch flags may reach, in the order
//     they are tried;
//   - how a script number (always a double to the script engine) becomes an
//     integer argument, and an integer result a script number;
//   - the control's extent as it is saved ("_cx" and "_cy", HIMETRIC).
#ifndef QUILLMARK_PLATFORM_AUTOMATION_AUTOMATION_VALUES_H_
#define QUILLMARK_PLATFORM_AUTOMATION_AUTOMATION_VALUES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark::platform {

enum class AutomationCall : std::uint8_t { kMethod, kPropertyGet, kPropertyPut };

// An argument or result: empty, a 32-bit integer or a UTF-16 string.
struct AutomationValue {
  enum class Type : std::uint8_t { kEmpty, kInt32, kUInt32, kString };

  static AutomationValue Int32(std::int32_t v);
  static AutomationValue UInt32(std::uint32_t v);
  static AutomationValue String(std::u16string v);

  Type type = Type::kEmpty;
  std::int32_t int32 = 0;
  std::uint32_t uint32 = 0;
  std::u16string text;
};

// No member takes more arguments than this; a call with more is refused
// (DISP_E_BADPARAMCOUNT) before any argument is converted.
inline constexpr std::size_t kMaxCallArguments = 16;

// The system's dispatch flags (DISPATCH_METHOD ... DISPATCH_PROPERTYPUTREF).
inline constexpr std::uint16_t kDispatchMethod = 1;
inline constexpr std::uint16_t kDispatchPropertyGet = 2;
inline constexpr std::uint16_t kDispatchPropertyPut = 4;
inline constexpr std::uint16_t kDispatchPropertyPutRef = 8;

// The member kinds a call with |flags| may reach, in the order to try them:
// a method before a property get (script engines send "x.f()" and "x.f" with
// both flags), a put only alone (a put by reference counts as a put). The
// count of kinds written; 0 for flags that name no kind or mix a put with a
// get or a call.
std::size_t CallsForFlags(std::uint16_t flags, std::array<AutomationCall, 2>* calls);

// A script number as an integer argument: an integral value that fits int32
// becomes kInt32, one that fits only uint32 becomes kUInt32. False for a
// fraction, NaN, an infinity or a value out of both ranges.
bool NumberToValue(double number, AutomationValue* value);

// An integer result as the script will see it. kInt32 always fits the
// system's 32-bit signed type; a kUInt32 above INT32_MAX does not, and goes
// back as a double, since script engines read no unsigned type.
struct ScriptNumber {
  bool is_int32 = true;
  std::int32_t int32 = 0;
  double number = 0;
};
ScriptNumber ResultToScriptNumber(const AutomationValue& value);

// The control's extent in HIMETRIC (0.01 mm). The default is 100 x 50 pixels
// at 96 dots per inch; a saved extent is between 0 and kMaxExtent.
inline constexpr std::int32_t kDefaultExtentCx = 2646;
inline constexpr std::int32_t kDefaultExtentCy = 1323;
inline constexpr std::int32_t kMaxExtent = 1000000;  // 10 m

struct Extent {
  std::int32_t cx = kDefaultExtentCx;
  std::int32_t cy = kDefaultExtentCy;
};

// A property bag's "_cx" or "_cy" text: decimal digits with optional spaces
// around them, within 0..kMaxExtent. False otherwise, and |*value| untouched.
bool ParseExtentText(std::u16string_view text, std::int32_t* value);

// The stream form of the extent: cx then cy, each 4 bytes, least significant
// byte first. DecodeExtent takes exactly that; false for another size or an
// out-of-range value, leaving |*extent| untouched.
std::vector<std::uint8_t> EncodeExtent(const Extent& extent);
bool DecodeExtent(std::span<const std::uint8_t> bytes, Extent* extent);
inline constexpr std::size_t kEncodedExtentSize = 8;

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_AUTOMATION_AUTOMATION_VALUES_H_
