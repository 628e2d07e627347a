// QMBase64Encode and QMBase64Decode: text through the code page to bytes,
// through the codec, and back through the code page to text.
#include "common/status.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"
#include "control/text_convert.h"
#include "encoding/base64.h"

namespace quillmark::control {

HRESULT CCorvaneQuillmark::QMBase64Encode(std::u16string_view base64ToBeEncodedText,
                                          std::u16string* pVal) {
  MethodFrame frame(&settings_.error, pVal);
  return frame.Run([&] {
    // Empty input sets the number only; errMsg keeps the last failure's text.
    if (base64ToBeEncodedText.empty()) return frame.Fail(kErrEmptyInput, Message::kNone);
    Bytes data;
    if (int status = TextToBytes(settings_.code_page, base64ToBeEncodedText, &data);
        status != kOk) {
      return frame.Fail(status, ConversionMessage(status));
    }
    Bytes encoded;
    if (int status = encoding::Base64Encode(data, &encoded); status != kOk) {
      return frame.Fail(status,
                        status == kErrNoMemory ? Message::kNoMemory : Message::kBase64EncodeFailed);
    }
    return SucceedWithText(&frame, settings_.code_page, encoded);
  });
}

HRESULT CCorvaneQuillmark::QMBase64Decode(std::u16string_view base64ToBeDecodedText,
                                          std::u16string* pVal) {
  MethodFrame frame(&settings_.error, pVal);
  return frame.Run([&] {
    if (base64ToBeDecodedText.empty()) return frame.Fail(kErrEmptyInput, Message::kNone);
    Bytes text_bytes;
    if (int status = TextToBytes(settings_.code_page, base64ToBeDecodedText, &text_bytes);
        status != kOk) {
      return frame.Fail(status, ConversionMessage(status));
    }
    Bytes decoded;
    if (int status = encoding::Base64Decode(text_bytes, &decoded); status != kOk) {
      return frame.Fail(status,
                        status == kErrNoMemory ? Message::kNoMemory : Message::kBase64DecodeFailed);
    }
    // Zero decoded bytes cannot be converted and fail here.
    return SucceedWithText(&frame, settings_.code_page, decoded);
  });
}

}  // namespace quillmark::control
