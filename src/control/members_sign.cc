// The sixteen signing members: one frame over four choices (data from the
// outgoing plain text or from an argument; signer named by DN, by serial
// number with the fixed issuer, or by serial number and issuer DN; any
// private key or only signature keys; a PKCS#7 message made by the platform
// or the self-built package of the Advance members, which may also use SM2
// certificates as the sign mode and the SM2 store name allow), each member a
// row of kinds below.
//
// Order of failures in every member: the data, the name checks, the signing
// operation ("签名失败" with its status and platform code), the conversion of
// the result. Every failure makes the signer information absent; members
// that consume the outgoing plain text drop it on every path.
#include <optional>
#include <string>
#include <utility>

#include "common/status.h"
#include "control/dn_check.h"
#include "control/engine_args.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"
#include "control/text_convert.h"
#include "crypto/advance_sign.h"
#include "crypto/sign_message.h"

namespace quillmark::control {

namespace {

enum class Data { kOutgoing, kArgument };
enum class Naming { kDn, kSerial, kSerialAndIssuer };
enum class Engine { kMessage, kAdvance };  // SignMessage(BySerial) or AdvanceSign

struct SignKind {
  Data data;
  Naming naming;
  bool key_spec;
  // The message of the -10001 failure for a missing name in server mode.
  Message no_name;
  // Whether the outgoing plain text is dropped when the member ends.
  bool consumes_outgoing;
  // The message for an issuer DN above the length limit.
  Message issuer_too_long = Message::kDnTooLong;
  Engine engine = Engine::kMessage;  // kAdvance names by DN only
};

// The member's arguments; empty views for those it does not take.
struct SignArgs {
  std::u16string_view plain_text;
  std::u16string_view name;  // DN or serial number
  std::u16string_view issuer_dn;
};

Message ConversionMessage(int status) {
  return status == kErrNoMemory ? Message::kNoMemory : Message::kCharsetConversion;
}

HRESULT SignMember(ControlSettings& s, const SignKind& kind, const SignArgs& args,
                   std::u16string* pVal) {
  MethodFrame frame(&s.error, pVal);
  auto cleanup = [&s, &kind] {
    s.signer_info.Clear();
    if (kind.consumes_outgoing) s.outgoing_plain_text.reset();
  };
  frame.OnFailure(cleanup);
  return frame.Run([&] {
    // The data.
    Bytes data;
    if (kind.data == Data::kOutgoing) {
      if (!s.outgoing_plain_text.has_value()) {
        return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
      }
      // The buffer is dropped on every path, so it is taken rather than copied.
      data = std::move(*s.outgoing_plain_text);
      s.outgoing_plain_text.reset();
    } else {
      if (args.plain_text.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
      if (int status = TextToBytes(s.code_page, args.plain_text, &data); status != kOk) {
        return frame.Fail(status, ConversionMessage(status));
      }
    }

    // The name, and the operation.
    bool detached = kind.data == Data::kArgument;
    certs::ChooserTexts texts = ChooserTextsOf(s);
    certs::CertInfoSet info;
    Bytes signature;
    std::uint32_t code = 0;
    int status = kOk;
    if (kind.naming == Naming::kDn) {
      if (int check = CheckDnArgument(args.name, s.dn_separator); check != kOk) {
        return frame.Fail(check, DnCheckMessage(check));
      }
      if (args.name.empty() && s.server_mode != 0) {
        return frame.Fail(kErrEmptyInput, kind.no_name);
      }
      if (kind.engine == Engine::kAdvance) {
        std::optional<std::u16string_view> sm2_store;
        if (s.sm2_store_name.has_value()) sm2_store = *s.sm2_store_name;
        status = crypto::AdvanceSign(data, s.server_mode != 0, s.sign_mode, sm2_store, detached,
                                     args.name, s.dn_separator, &signature, &info, s.max_comp_size,
                                     s.digest_oid, kind.key_spec, texts, &code);
      } else {
        status = crypto::SignMessage(data, s.server_mode != 0, detached, args.name, s.dn_separator,
                                     &signature, &info, s.max_comp_size, s.digest_oid,
                                     kind.key_spec, texts, &code);
      }
    } else {
      std::u16string_view issuer = kFixedIssuerDN;
      if (kind.naming == Naming::kSerialAndIssuer) {
        if (args.issuer_dn.size() > kMaxDnLength) {
          return frame.Fail(kErrTooLong, kind.issuer_too_long);
        }
        if (!args.issuer_dn.empty()) issuer = args.issuer_dn;
      }
      if (args.name.empty() && s.server_mode != 0) {
        return frame.Fail(kErrEmptyInput, kind.no_name);
      }
      // Checked even when no serial number is given.
      if (kind.naming == Naming::kSerialAndIssuer && CountDnCommas(issuer) > kMaxDnCommas) {
        return frame.Fail(kErrDnCheck, Message::kDnCheckFailed);
      }
      if (!args.name.empty()) {
        status =
            crypto::SignMessageBySerial(data, detached, args.name, issuer, &signature, &info,
                                        s.max_comp_size, s.digest_oid, kind.key_spec, texts, &code);
      } else {
        // No serial number (server mode off): the user picks the signer.
        status =
            crypto::SignMessage(data, /*server_mode=*/false, detached, u"", u"", &signature, &info,
                                s.max_comp_size, s.digest_oid, kind.key_spec, texts, &code);
      }
    }
    if (status != kOk) return frame.FailWithCode(status, code, Message::kSignFailed);

    s.signer_info.UpdateFrom(std::move(info));
    std::u16string text;
    if (int convert = BytesToText(s.code_page, signature, &text); convert != kOk) {
      return frame.Fail(convert, ConversionMessage(convert));
    }
    if (kind.consumes_outgoing) s.outgoing_plain_text.reset();
    return frame.Succeed(std::move(text));
  });
}

constexpr SignKind kAttachedByDn{Data::kOutgoing, Naming::kDn, false, Message::kDefaultDnRequired,
                                 true};
constexpr SignKind kDetachedByDn{Data::kArgument, Naming::kDn, false, Message::kSourceEmpty, false};
constexpr SignKind kAttachedBySerial{Data::kOutgoing, Naming::kSerial, false, Message::kSourceEmpty,
                                     true};
constexpr SignKind kAttachedByIssuerSerial{Data::kOutgoing, Naming::kSerialAndIssuer, false,
                                           Message::kSourceEmpty, true};
constexpr SignKind kDetachedBySerial{Data::kArgument, Naming::kSerial, false, Message::kSourceEmpty,
                                     true};
constexpr SignKind kDetachedByIssuerSerial{
    Data::kArgument,          Naming::kSerialAndIssuer, false, Message::kSourceEmpty, true,
    Message::kIssuerDnTooLong};

// The same with only signature keys.
constexpr SignKind WithKeySpec(SignKind kind) {
  kind.key_spec = true;
  kind.issuer_too_long = Message::kDnTooLong;
  return kind;
}

// The Advance members name the signer by DN, require it in server mode and
// drop the outgoing plain text, also when they sign an argument.
constexpr SignKind Advance(Data data) {
  SignKind kind{data, Naming::kDn, false, Message::kDefaultDnRequired, true};
  kind.engine = Engine::kAdvance;
  return kind;
}

}  // namespace

HRESULT CCorvaneQuillmark::QMAttachedSign(std::u16string_view deSignerDN, std::u16string* pVal) {
  return SignMember(settings_, kAttachedByDn, {{}, deSignerDN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMDetachedSign(std::u16string_view plainText,
                                          std::u16string_view deSignerDN, std::u16string* pVal) {
  return SignMember(settings_, kDetachedByDn, {plainText, deSignerDN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMAttachedSignBySN(std::u16string_view deSignerSN,
                                              std::u16string* pVal) {
  return SignMember(settings_, kAttachedBySerial, {{}, deSignerSN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMAttachedSignByIssuerSN(std::u16string_view deSignerSN,
                                                    std::u16string_view IssuerDN,
                                                    std::u16string* pVal) {
  return SignMember(settings_, kAttachedByIssuerSerial, {{}, deSignerSN, IssuerDN}, pVal);
}

HRESULT CCorvaneQuillmark::QMDetachedSignBySN(std::u16string_view plainText,
                                              std::u16string_view deSignerSN,
                                              std::u16string* pVal) {
  return SignMember(settings_, kDetachedBySerial, {plainText, deSignerSN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMDetachedSignByIssuerSN(std::u16string_view plainText,
                                                    std::u16string_view deSignerSN,
                                                    std::u16string_view IssuerDN,
                                                    std::u16string* pVal) {
  return SignMember(settings_, kDetachedByIssuerSerial, {plainText, deSignerSN, IssuerDN}, pVal);
}

HRESULT CCorvaneQuillmark::QMUseKeySpecAttachedSign(std::u16string_view deSignerDN,
                                                    std::u16string* pVal) {
  return SignMember(settings_, WithKeySpec(kAttachedByDn), {{}, deSignerDN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMUseKeySpecDetachedSign(std::u16string_view plainText,
                                                    std::u16string_view deSignerDN,
                                                    std::u16string* pVal) {
  return SignMember(settings_, WithKeySpec(kDetachedByDn), {plainText, deSignerDN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMUseKeySpecAttachedSignByIssuerSN(std::u16string_view deSignerSN,
                                                              std::u16string_view IssuerDN,
                                                              std::u16string* pVal) {
  return SignMember(settings_, WithKeySpec(kAttachedByIssuerSerial), {{}, deSignerSN, IssuerDN},
                    pVal);
}

HRESULT CCorvaneQuillmark::QMUseKeySpecAttachedSignBySN(std::u16string_view deSignerSN,
                                                        std::u16string* pVal) {
  return SignMember(settings_, WithKeySpec(kAttachedBySerial), {{}, deSignerSN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMUseKeySpecDetachedSignByIssuerSN(std::u16string_view plainText,
                                                              std::u16string_view deSignerSN,
                                                              std::u16string_view IssuerDN,
                                                              std::u16string* pVal) {
  return SignMember(settings_, WithKeySpec(kDetachedByIssuerSerial),
                    {plainText, deSignerSN, IssuerDN}, pVal);
}

HRESULT CCorvaneQuillmark::QMUseKeySpecDetachedSignBySN(std::u16string_view plainText,
                                                        std::u16string_view deSignerSN,
                                                        std::u16string* pVal) {
  return SignMember(settings_, WithKeySpec(kDetachedBySerial), {plainText, deSignerSN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMAdvanceAttachedSign(std::u16string_view deSignerDN,
                                                 std::u16string* pVal) {
  return SignMember(settings_, Advance(Data::kOutgoing), {{}, deSignerDN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMUseSpecAdvanceAttachedSign(std::u16string_view deSignerDN,
                                                        std::u16string* pVal) {
  return SignMember(settings_, WithKeySpec(Advance(Data::kOutgoing)), {{}, deSignerDN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMAdvanceDetachedSign(std::u16string_view plainText,
                                                 std::u16string_view deSignerDN,
                                                 std::u16string* pVal) {
  return SignMember(settings_, Advance(Data::kArgument), {plainText, deSignerDN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMUseSpecAdvanceDetachedSign(std::u16string_view plainText,
                                                        std::u16string_view deSignerDN,
                                                        std::u16string* pVal) {
  return SignMember(settings_, WithKeySpec(Advance(Data::kArgument)), {plainText, deSignerDN, {}},
                    pVal);
}

}  // namespace quillmark::control
