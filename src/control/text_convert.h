// The two conversions every automation member makes between its UTF-16
// strings and the bytes the lower layers work on, in the control's code page.
//
// TextToBytes converts up to the first NUL unit, as a string passed with
// length -1 is converted: a string with an embedded NUL is cut there and a
// string holding only NUL gives zero bytes. Characters the code page cannot
// hold become '?' without a report. BytesToText converts exactly the bytes
// given, with no terminator; malformed bytes become U+FFFD. Zero bytes cannot
// be converted and always fail.
#ifndef QUILLMARK_CONTROL_TEXT_CONVERT_H_
#define QUILLMARK_CONTROL_TEXT_CONVERT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace quillmark::control {

// Replaces *data with the bytes of `text` without terminator. Returns 0,
// kErrTextToBytes (unknown code page), or kErrNoMemory; *data is unchanged by
// a failure.
int TextToBytes(std::uint32_t code_page, std::u16string_view text, Bytes* data);

// Replaces *text with the UTF-16 form of `bytes`. Returns 0, kErrBytesToText
// (zero bytes, unknown code page), or kErrNoMemory; *text is unchanged by a
// failure.
int BytesToText(std::uint32_t code_page, ByteSpan bytes, std::u16string* text);

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_TEXT_CONVERT_H_
