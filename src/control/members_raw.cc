// QMRawSign, QMUseKeySpecRawSign and QMRawVerify: the bare signature of the
// data, without a PKCS#7 structure, made and checked by the raw signature
// engine.
//
// The signing members take the outgoing plain text, which is gone after the
// call whatever its outcome; then the DN checks, the engine ("签名失败" with
// its status and platform code) and the conversion of the result. QMRawVerify
// converts the data, then the signature, runs the DN checks and asks the
// engine ("验证错误"); the received plain text is never touched. Every
// failure makes the signer information absent; a success updates it.
#include <string>
#include <utility>

#include "common/status.h"
#include "control/dn_check.h"
#include "control/engine_query.h"
#include "control/key_use_stage.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"
#include "control/text_convert.h"
#include "crypto/raw_signature.h"

namespace quillmark::control {

namespace {

HRESULT RawSignMember(ControlSettings& s, certs::KeyRule key, std::u16string_view dn,
                      std::u16string* pVal) {
  MethodFrame frame(&s.error, pVal);
  auto cleanup = [&s] {
    s.signer_info.Clear();
    s.outgoing_plain_text.reset();
  };
  frame.OnFailure(cleanup);
  return frame.Run([&] {
    if (!s.outgoing_plain_text.has_value()) {
      return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    }
    // Dropped on every path, so taken rather than copied.
    const bool packed_form = s.outgoing_is_form;
    Bytes data = std::move(*s.outgoing_plain_text);
    s.outgoing_plain_text.reset();

    if (int check = CheckDnArgument(dn, s.dn_separator); check != kOk) {
      return frame.Fail(check, DnCheckMessage(check));
    }
    if (dn.empty() && s.server_mode != 0) {
      return frame.Fail(kErrEmptyInput, Message::kDefaultDnRequired);
    }
    // A web page's key use is reviewed over exactly these bytes.
    if (int staged = StageSigning(s.code_page, data, packed_form); staged != kOk) {
      return frame.Fail(staged, Message::kSignFailed);
    }
    certs::CertInfoSet info;
    Bytes signature;
    Status status = crypto::RawSign(data, QueryByDn(s, dn, key), s.digest_oid, ChooserTextsOf(s),
                                    &signature, &info);
    if (!status.ok()) return frame.FailWith(status, Message::kSignFailed);

    s.signer_info.UpdateFrom(std::move(info));
    return SucceedWithText(&frame, s.code_page, signature);
  });
}

}  // namespace

HRESULT CCorvaneQuillmark::QMRawSign(std::u16string_view deSignerDN, std::u16string* pVal) {
  return RawSignMember(settings_, certs::KeyRule::kPrivateKey, deSignerDN, pVal);
}

HRESULT CCorvaneQuillmark::QMUseKeySpecRawSign(std::u16string_view deSignerDN,
                                               std::u16string* pVal) {
  return RawSignMember(settings_, certs::KeyRule::kSignatureKey, deSignerDN, pVal);
}

HRESULT CCorvaneQuillmark::QMRawVerify(std::u16string_view signedMsg,
                                       std::u16string_view deSignerDN,
                                       std::u16string_view plainText) {
  ControlSettings& s = settings_;
  MethodFrame frame(&s.error, nullptr);
  auto cleanup = [&s] { s.signer_info.Clear(); };
  frame.OnFailure(cleanup);
  return frame.Run([&] {
    Bytes data;
    if (plainText.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    if (int status = ExactTextToBytes(s.code_page, plainText, &data); status != kOk) {
      return frame.Fail(status, ConversionMessage(status));
    }
    Bytes signature;
    if (signedMsg.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    if (int status = ExactTextToBytes(s.code_page, signedMsg, &signature); status != kOk) {
      return frame.Fail(status, ConversionMessage(status));
    }
    if (int check = CheckDnArgument(deSignerDN, s.dn_separator); check != kOk) {
      return frame.Fail(check, DnCheckMessage(check));
    }
    if (deSignerDN.empty() && s.server_mode != 0) {
      return frame.Fail(kErrEmptyInput, Message::kDefaultDnRequired);
    }
    certs::CertInfoSet info;
    Status status = crypto::RawVerify(signature, data, QueryByDn(s, deSignerDN), s.digest_oid,
                                      ChooserTextsOf(s), &info);
    if (!status.ok()) return frame.FailWith(status, Message::kVerifyFailed);

    s.signer_info.UpdateFrom(std::move(info));
    return frame.Succeed();
  });
}

}  // namespace quillmark::control
