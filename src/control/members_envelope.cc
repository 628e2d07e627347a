// The envelope members: QMEncryptedEnvelop and QMDecryptEnvelop (plain
// envelopes), QMSignedAndEncryptedEnvelop, its key-spec twin and
// QMDecryptedAndVerifiedEnvelop (signed envelopes), and QMEncryptFileAndSave
// (an envelope for a given certificate, saved as a file).
//
// The members that make an envelope consume the outgoing plain text: it is
// gone when they end, on success and on failure. Those that open one replace
// the received plain text only on success. Every failure makes the
// certificate information the member would have produced absent (recipient;
// for signed envelopes signer and recipient); a success updates it with the
// texts the engine returned.
#include <optional>
#include <string>
#include <utility>

#include "common/status.h"
#include "control/dn_check.h"
#include "control/engine_query.h"
#include "control/file_routines.h"
#include "control/key_use_stage.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"
#include "control/text_convert.h"
#include "crypto/envelope.h"
#include "crypto/signed_envelope.h"

namespace quillmark::control {

namespace {

// Takes the outgoing plain text for a member that consumes it; false when
// there is none. |packed_form|, when given: it was a form the control packed.
bool TakeOutgoing(ControlSettings& s, Bytes* data, bool* packed_form = nullptr) {
  if (!s.outgoing_plain_text.has_value()) return false;
  if (packed_form != nullptr) *packed_form = s.outgoing_is_form;
  *data = std::move(*s.outgoing_plain_text);
  s.outgoing_plain_text.reset();
  return true;
}

// Runs a member that makes an envelope: it takes the outgoing plain text
// (none: kErrEmptyInput) and hands it to |body|(frame, data). On failure the
// recipient's texts go, and the signer's for a signed envelope; the outgoing
// plain text is gone either way.
template <typename Body>
HRESULT RunEnvelopeMaker(ControlSettings& s, bool signed_envelope, std::u16string* out,
                         Body&& body) {
  MethodFrame frame(&s.error, out);
  auto cleanup = [&s, signed_envelope] {
    if (signed_envelope) s.signer_info.Clear();
    s.recipient_info.Clear();
    s.outgoing_plain_text.reset();
  };
  frame.OnFailure(cleanup);
  return frame.Run([&] {
    Bytes data;
    bool packed_form = false;
    if (!TakeOutgoing(s, &data, &packed_form)) {
      return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    }
    return body(frame, data, packed_form);
  });
}

// The two opening members; |signed_envelope| also verifies the signer.
HRESULT OpenMember(ControlSettings& s, bool signed_envelope, std::u16string_view envelope) {
  MethodFrame frame(&s.error, nullptr);
  auto cleanup = [&s, signed_envelope] {
    if (signed_envelope) s.signer_info.Clear();
    s.recipient_info.Clear();
  };
  frame.OnFailure(cleanup);
  return frame.Run([&] {
    if (envelope.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    Bytes text;
    if (int status = ExactTextToBytes(s.code_page, envelope, &text); status != kOk) {
      return frame.Fail(status, ConversionMessage(status));
    }
    Bytes content;
    certs::CertInfoSet signer, recipient;
    StageDecryption();
    Status status = signed_envelope
                        ? crypto::DecryptAndVerifyEnvelope(text, &content, &signer, &recipient)
                        : crypto::DecryptEnvelope(text, &content, &recipient);
    if (!status.ok()) return frame.FailWith(status, Message::kOpenSignedEnvelopeFailed);
    if (signed_envelope) s.signer_info.UpdateFrom(std::move(signer));
    s.recipient_info.UpdateFrom(std::move(recipient));
    s.received_plain_text = std::move(content);
    return frame.Succeed();
  });
}

// The two signed-envelope members; they differ in the signer's key rule and
// the message of a failed engine call.
HRESULT SignAndEncryptMember(ControlSettings& s, certs::KeyRule key, std::u16string_view signer_dn,
                             std::u16string_view recipient_dn, std::u16string* pVal) {
  return RunEnvelopeMaker(
      s, /*signed_envelope=*/true, pVal, [&](MethodFrame& frame, Bytes& data, bool packed_form) {
        if (recipient_dn.size() > kMaxDnLength || signer_dn.size() > kMaxDnLength) {
          return frame.Fail(kErrTooLong, Message::kDnTooLong);
        }
        for (std::u16string_view dn : {signer_dn, recipient_dn}) {
          if (int check = CheckDnArgument(dn, s.dn_separator); check != kOk) {
            return frame.Fail(check, DnCheckMessage(check));
          }
        }
        if (s.server_mode != 0 && (recipient_dn.empty() || signer_dn.empty())) {
          return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
        }

        // A web page's key use is reviewed over exactly these bytes.
        const Message failed = key == certs::KeyRule::kSignatureKey
                                   ? Message::kEncryptFailed
                                   : Message::kMakeSignedEnvelopeFailed;
        if (int staged = StageSigning(s.code_page, data, packed_form); staged != kOk) {
          return frame.Fail(staged, failed);
        }
        crypto::SignedEnvelope made;
        Status status = crypto::SignAndEncryptEnvelope(
            data, QueryByDn(s, signer_dn, key), QueryByDn(s, recipient_dn),
            {.digest_oid = s.digest_oid, .symmetric_oid = s.symmetric_oid}, ChooserTextsOf(s),
            &made);
        if (!status.ok()) {
          return frame.FailWith(status, key == certs::KeyRule::kSignatureKey
                                            ? Message::kEncryptFailed
                                            : Message::kMakeSignedEnvelopeFailed);
        }
        s.signer_info.UpdateFrom(std::move(made.signer));
        s.recipient_info.UpdateFrom(std::move(made.recipient));
        return SucceedWithText(&frame, s.code_page, made.text);
      });
}

}  // namespace

HRESULT CCorvaneQuillmark::QMEncryptedEnvelop(std::u16string_view deReciptDN,
                                              std::u16string* pVal) {
  ControlSettings& s = settings_;
  return RunEnvelopeMaker(
      s, /*signed_envelope=*/false, pVal,
      [&](MethodFrame& frame, Bytes& data, bool /*packed_form*/) {
        if (int check = CheckDnArgument(deReciptDN, s.dn_separator); check != kOk) {
          return frame.Fail(check, DnCheckMessage(check));
        }
        if (deReciptDN.empty() && s.server_mode != 0) {
          return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
        }

        Bytes envelope;
        certs::CertInfoSet recipient;
        Status status = crypto::EncryptEnvelope(data, QueryByDn(s, deReciptDN), s.symmetric_oid,
                                                ChooserTextsOf(s), &envelope, &recipient);
        if (!status.ok()) return frame.FailWith(status, Message::kEncryptFailed);
        s.recipient_info.UpdateFrom(std::move(recipient));
        return SucceedWithText(&frame, s.code_page, envelope);
      });
}

HRESULT CCorvaneQuillmark::QMDecryptEnvelop(std::u16string_view envelopedMsg) {
  return OpenMember(settings_, /*signed_envelope=*/false, envelopedMsg);
}

HRESULT CCorvaneQuillmark::QMSignedAndEncryptedEnvelop(std::u16string_view deSignerDN,
                                                       std::u16string_view deReciptDN,
                                                       std::u16string* pVal) {
  return SignAndEncryptMember(settings_, certs::KeyRule::kPrivateKey, deSignerDN, deReciptDN, pVal);
}

HRESULT CCorvaneQuillmark::QMUseKeySpecSignedAndEncryptedEnvelop(std::u16string_view deSignerDN,
                                                                 std::u16string_view deReciptDN,
                                                                 std::u16string* pVal) {
  return SignAndEncryptMember(settings_, certs::KeyRule::kSignatureKey, deSignerDN, deReciptDN,
                              pVal);
}

HRESULT CCorvaneQuillmark::QMDecryptedAndVerifiedEnvelop(
    std::u16string_view signedAndEnvelopedMsg) {
  return OpenMember(settings_, /*signed_envelope=*/true, signedAndEnvelopedMsg);
}

HRESULT CCorvaneQuillmark::QMEncryptFileAndSave(std::u16string_view base64Certificate) {
  ControlSettings& s = settings_;
  return RunEnvelopeMaker(
      s, /*signed_envelope=*/false, nullptr,
      [&](MethodFrame& frame, Bytes& data, bool /*packed_form*/) {
        if (base64Certificate.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
        Bytes certificate;
        if (int status = ExactTextToBytes(s.code_page, base64Certificate, &certificate);
            status != kOk) {
          return frame.Fail(status, ConversionMessage(status, Message::kConversion));
        }
        if (s.server_mode != 0) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);

        Bytes envelope;
        if (Status status =
                crypto::EncryptFileForCertificate(data, certificate, s.symmetric_oid, &envelope);
            !status.ok()) {
          return frame.FailWith(status, Message::kEncryptFailed);
        }
        if (SaveFileOrAskWithExtension(u"Save", u"*.cry", u"cry", envelope, std::nullopt) != kOk) {
          return frame.Fail(kErrUserCancelled, Message::kUserCancelled);
        }
        return frame.Succeed();
      });
}

}  // namespace quillmark::control
