// The two conversions every automation member makes between its UTF-16
// strings and the bytes the lower layers work on, in the control's code page.
//
// TextToBytes converts up to the first NUL unit, as a string passed with
// length -1 is converted: a string with an embedded NUL is cut there and a
// string holding only NUL gives zero bytes. Characters the code page cannot
// hold become '?' without a report. ExactTextToBytes refuses both instead. BytesToText converts
// exactly the bytes given, with no terminator; malformed bytes become U+FFFD. Zero bytes cannot be
// converted and always fail. ConversionMessage gives the message a member stores when either fails;
// SucceedWithText ends a member whose out string is bytes converted to text.
#ifndef QUILLMARK_CONTROL_TEXT_CONVERT_H_
#define QUILLMARK_CONTROL_TEXT_CONVERT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "control/messages.h"
#include "control/method_frame.h"
#include "control/quillmark_interface.h"

namespace quillmark::control {

// Replaces *data with the bytes of `text` without terminator. Returns 0,
// kErrTextToBytes (unknown code page), or kErrNoMemory; *data is unchanged by
// a failure.
int TextToBytes(std::uint32_t code_page, std::u16string_view text, Bytes* data);

// TextToBytes for a text that must reach the engine whole (a text to sign,
// verify, envelope or hash, and the plain-text setters that feed signing):
// fails with kErrTextToBytes, *data unchanged, when the text holds a NUL unit,
// an unpaired surrogate or a character the code page cannot hold, where
// TextToBytes would cut the text or write '?' in its place.
int ExactTextToBytes(std::uint32_t code_page, std::u16string_view text, Bytes* data);

// Replaces *text with the UTF-16 form of `bytes`. Returns 0, kErrBytesToText
// (zero bytes, unknown code page), or kErrNoMemory; *text is unchanged by a
// failure.
int BytesToText(std::uint32_t code_page, ByteSpan bytes, std::u16string* text);

// The message of a failed conversion: kNoMemory when |status| is kErrNoMemory,
// else |conversion| (the member's own wording of a conversion failure).
Message ConversionMessage(int status, Message conversion = Message::kCharsetConversion);

// Converts |bytes| and succeeds with the text as the member's out string, or
// fails with the conversion's number and ConversionMessage(number, conversion).
HRESULT SucceedWithText(MethodFrame* frame, std::uint32_t code_page, ByteSpan bytes,
                        Message conversion = Message::kCharsetConversion);

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_TEXT_CONVERT_H_
