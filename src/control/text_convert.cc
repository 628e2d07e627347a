#include "control/text_convert.h"

#include <utility>

#include "common/status.h"
#include "platform/os/codepage.h"
#include "platform/os/last_error.h"

namespace quillmark::control {

int TextToBytes(std::uint32_t code_page, std::u16string_view text, Bytes* data) {
  Bytes bytes;
  std::size_t n =
      platform::WideCharToMultiByte(code_page, text, platform::TextLength::kNulTerminated, &bytes);
  if (n == 0) {
    return platform::GetLastError() == platform::kErrorNotEnoughMemory ? kErrNoMemory
                                                                       : kErrTextToBytes;
  }
  bytes.pop_back();  // the terminator, counted in n
  data->swap(bytes);
  return kOk;
}

int ExactTextToBytes(std::uint32_t code_page, std::u16string_view text, Bytes* data) {
  if (text.find(u'\0') != std::u16string_view::npos) return kErrTextToBytes;
  // Asked the platform's way: UTF-8 fails on an unpaired surrogate, the
  // other pages report a default character.
  bool defaulted = false;
  platform::WideCharOptions options;
  if (code_page == platform::kCpUtf8) {
    options.flags = platform::kWcErrInvalidChars;
  } else {
    options.used_default_char = &defaulted;
  }
  Bytes bytes;
  std::size_t n = platform::WideCharToMultiByte(
      code_page, text, platform::TextLength::kNulTerminated, &bytes, options);
  if (n == 0) {
    return platform::GetLastError() == platform::kErrorNotEnoughMemory ? kErrNoMemory
                                                                       : kErrTextToBytes;
  }
  if (defaulted) return kErrTextToBytes;
  bytes.pop_back();  // the terminator, counted in n
  data->swap(bytes);
  return kOk;
}

int BytesToText(std::uint32_t code_page, ByteSpan bytes, std::u16string* text) {
  std::u16string converted;
  std::size_t m = platform::MultiByteToWideChar(code_page, bytes, &converted);
  if (m == 0) {
    return platform::GetLastError() == platform::kErrorNotEnoughMemory ? kErrNoMemory
                                                                       : kErrBytesToText;
  }
  text->swap(converted);
  return kOk;
}

Message ConversionMessage(int status, Message conversion) {
  return status == kErrNoMemory ? Message::kNoMemory : conversion;
}

HRESULT SucceedWithText(MethodFrame* frame, std::uint32_t code_page, ByteSpan bytes,
                        Message conversion) {
  std::u16string text;
  if (int status = BytesToText(code_page, bytes, &text); status != kOk) {
    return frame->Fail(status, ConversionMessage(status, conversion));
  }
  return frame->Succeed(std::move(text));
}

}  // namespace quillmark::control
