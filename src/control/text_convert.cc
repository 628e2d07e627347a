#include "control/text_convert.h"

#include <utility>

#include "common/status.h"
#include "platform/os/codepage.h"
#include "platform/os/last_error.h"

namespace quillmark::control {

namespace {

// Converts exactly |text| (no NUL in it) without a terminator, so the bytes
// come out in one buffer of their final size: a terminator appended to a
// buffer of exactly that size would move the whole text to a larger one.
// An empty text gives zero bytes in any known code page.
int ConvertExactly(std::uint32_t code_page, std::u16string_view text, Bytes* data,
                   const platform::WideCharOptions& options = {}) {
  Bytes bytes;
  if (!text.empty() && platform::WideCharToMultiByte(code_page, text, platform::TextLength::kExact,
                                                     &bytes, options) == 0) {
    return platform::GetLastError() == platform::kErrorNotEnoughMemory ? kErrNoMemory
                                                                       : kErrTextToBytes;
  }
  if (text.empty() && !platform::IsValidCodePage(code_page)) return kErrTextToBytes;
  data->swap(bytes);
  return kOk;
}

}  // namespace

int TextToBytes(std::uint32_t code_page, std::u16string_view text, Bytes* data) {
  return ConvertExactly(code_page, text.substr(0, text.find(u'\0')), data);
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
  if (int status = ConvertExactly(code_page, text, &bytes, options); status != kOk) {
    return status;
  }
  if (defaulted) return kErrTextToBytes;
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
