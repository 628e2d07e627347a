// QMAttachedVerify, QMDetachedVerify and QMAfterwardsVerify: a signature
// text through the code page to bytes, checked by the verification engine.
//
// Success updates the signer information from the signer's field texts and,
// for the attached forms, replaces the received plain text with the signed
// content. Failure ("验证错误" for the engine, with its status and platform
// code) makes the signer information absent and leaves the received plain
// text as it was. The outgoing plain text is never touched.
#include <string>
#include <utility>

#include "common/status.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"
#include "control/text_convert.h"
#include "crypto/verify_message.h"

namespace quillmark::control {

namespace {

enum class Check { kAttached, kDetached, kAfterwards };

Message ConversionMessage(int status) {
  return status == kErrNoMemory ? Message::kNoMemory : Message::kCharsetConversion;
}

HRESULT VerifyMember(ControlSettings& s, Check check, std::u16string_view signed_msg,
                     std::u16string_view plain_text) {
  MethodFrame frame(&s.error, nullptr);
  auto cleanup = [&s] { s.signer_info.Clear(); };
  frame.OnFailure(cleanup);
  return frame.Run([&] {
    Bytes content;
    if (check == Check::kDetached) {
      if (plain_text.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
      if (int status = TextToBytes(s.code_page, plain_text, &content); status != kOk) {
        return frame.Fail(status, ConversionMessage(status));
      }
    }
    if (signed_msg.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    Bytes text;
    if (int status = TextToBytes(s.code_page, signed_msg, &text); status != kOk) {
      return frame.Fail(status, ConversionMessage(status));
    }

    certs::CertInfoSet info;
    std::uint32_t code = 0;
    int status =
        check == Check::kAfterwards
            ? crypto::VerifyAfterwards(text, &content, &info, &code)
            : crypto::VerifyMessage(text, &content, &info, check == Check::kAttached, &code);
    if (status != kOk) return frame.FailWithCode(status, code, Message::kVerifyFailed);

    s.signer_info.UpdateFrom(std::move(info));
    if (check != Check::kDetached) s.received_plain_text = std::move(content);
    return frame.Succeed();
  });
}

}  // namespace

HRESULT CCorvaneQuillmark::QMAttachedVerify(std::u16string_view signedMsg) {
  return VerifyMember(settings_, Check::kAttached, signedMsg, {});
}

HRESULT CCorvaneQuillmark::QMDetachedVerify(std::u16string_view signedMsg,
                                            std::u16string_view plainText) {
  return VerifyMember(settings_, Check::kDetached, signedMsg, plainText);
}

HRESULT CCorvaneQuillmark::QMAfterwardsVerify(std::u16string_view signedMsg) {
  return VerifyMember(settings_, Check::kAfterwards, signedMsg, {});
}

}  // namespace quillmark::control
