// QMAttachedVerify, QMDetachedVerify, QMAfterwardsVerify and their Advance
// twins QMAdvanceAttachedVerify and QMAdvanceDetachedVerify: a signature text
// through the code page to bytes, checked by the verification engine (a
// PKCS#7 message through the platform, or the self-built package).
//
// Success updates the signer information from the signer's field texts and,
// for the attached forms, replaces the received plain text with the signed
// content. Failure ("验证错误" for the engine, with its status and platform
// code) makes the signer information absent and leaves the received plain
// text as it was. The outgoing plain text is never touched. The detached
// forms check their two texts in opposite orders: QMDetachedVerify the data
// first, QMAdvanceDetachedVerify the signature first.
#include <string>
#include <utility>

#include "common/status.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"
#include "control/text_convert.h"
#include "crypto/advance_verify.h"
#include "crypto/verify_message.h"

namespace quillmark::control {

namespace {

enum class Check { kAttached, kDetached, kAfterwards, kAdvanceAttached, kAdvanceDetached };

bool IsDetached(Check check) {
  return check == Check::kDetached || check == Check::kAdvanceDetached;
}

// Runs the engine of |check| over the signature |text|; |content| is the
// data (detached) or receives the signed content. The PKCS#7 engine
// releases the text once decoded.
Status RunCheck(Check check, Bytes* text, Bytes* content, certs::CertInfoSet* info) {
  switch (check) {
    case Check::kAttached:
    case Check::kDetached:
      return crypto::VerifyMessage(std::move(*text), content, info, check == Check::kAttached);
    case Check::kAfterwards:
      return crypto::VerifyAfterwards(std::move(*text), content, info);
    case Check::kAdvanceAttached:
      return crypto::AdvanceVerifyAttached(*text, content, info);
    case Check::kAdvanceDetached:
      return crypto::AdvanceVerifyDetached(*text, *content, info);
  }
  return kErrVerifyFailed;
}

HRESULT VerifyMember(ControlSettings& s, Check check, std::u16string_view signed_msg,
                     std::u16string_view plain_text) {
  MethodFrame frame(&s.error, nullptr);
  auto cleanup = [&s] { s.signer_info.Clear(); };
  frame.OnFailure(cleanup);
  return frame.Run([&] {
    // Each text: empty, then its conversion; the data first for the PKCS#7
    // detached form, the signature first for the Advance one.
    auto convert = [&](std::u16string_view from, Bytes* to) {
      if (from.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
      if (int status = ExactTextToBytes(s.code_page, from, to); status != kOk) {
        return frame.Fail(status, ConversionMessage(status));
      }
      return S_OK;
    };
    Bytes content, text;
    if (check == Check::kDetached && convert(plain_text, &content) != S_OK) return S_FALSE;
    if (convert(signed_msg, &text) != S_OK) return S_FALSE;
    if (check == Check::kAdvanceDetached && convert(plain_text, &content) != S_OK) return S_FALSE;

    certs::CertInfoSet info;
    if (Status status = RunCheck(check, &text, &content, &info); !status.ok()) {
      return frame.FailWith(status, Message::kVerifyFailed);
    }

    s.signer_info.UpdateFrom(std::move(info));
    if (!IsDetached(check)) s.received_plain_text = std::move(content);
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

HRESULT CCorvaneQuillmark::QMAdvanceAttachedVerify(std::u16string_view signedMsg) {
  return VerifyMember(settings_, Check::kAdvanceAttached, signedMsg, {});
}

HRESULT CCorvaneQuillmark::QMAdvanceDetachedVerify(std::u16string_view signedMsg,
                                                   std::u16string_view plainText) {
  return VerifyMember(settings_, Check::kAdvanceDetached, signedMsg, plainText);
}

}  // namespace quillmark::control
