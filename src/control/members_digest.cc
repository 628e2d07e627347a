// QMHashAndBase64Encode: the digest of a text's bytes in the code page, with
// the control's digest algorithm, as Base64 text.
#include <string>

#include "common/status.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"
#include "control/text_convert.h"
#include "crypto/digest.h"

namespace quillmark::control {

HRESULT CCorvaneQuillmark::QMHashAndBase64Encode(std::u16string_view plainText,
                                                 std::u16string* pVal) {
  MethodFrame frame(&settings_.error, pVal);
  return frame.Run([&] {
    if (plainText.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    Bytes data;
    if (int status = ExactTextToBytes(settings_.code_page, plainText, &data); status != kOk) {
      return frame.Fail(status, ConversionMessage(status));
    }
    std::size_t size = 0;
    Status status = crypto::DigestAndEncode(data, nullptr, &size, settings_.digest_oid);
    Bytes encoded;
    if (status.ok()) {
      encoded.assign(size + 1, 0);
      status = crypto::DigestAndEncode(data, encoded.data(), &size, settings_.digest_oid);
    }
    if (!status.ok()) return frame.Fail(status.number(), Message::kDigestFailed);
    encoded.resize(size);
    return SucceedWithText(&frame, settings_.code_page, encoded);
  });
}

}  // namespace quillmark::control
