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
#include "control/engine_query.h"
#include "control/key_use_stage.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"
#include "control/text_convert.h"
#include "crypto/advance_sign.h"
#include "crypto/sign_message.h"

namespace quillmark::control {

namespace {

using certs::KeyRule;

enum class Data { kOutgoing, kArgument };
enum class Naming { kDn, kSerial, kSerialAndIssuer };
enum class Engine { kMessage, kAdvance };  // SignMessage or AdvanceSign
// What becomes of the outgoing plain text when the member ends.
enum class Outgoing { kKept, kDropped };

struct SignKind {
  Data data = Data::kOutgoing;
  Naming naming = Naming::kDn;
  KeyRule key = KeyRule::kPrivateKey;
  // The message of the -10001 failure for a missing name in server mode.
  Message no_name = Message::kSourceEmpty;
  Outgoing outgoing = Outgoing::kDropped;
  // The message for an issuer DN above the length limit.
  Message issuer_too_long = Message::kDnTooLong;
  Engine engine = Engine::kMessage;  // kAdvance names by DN only
};

// The sixteen kinds. The Advance members name the signer by DN, require it
// in server mode and drop the outgoing plain text, also when they sign an
// argument.
constexpr SignKind kAttachedByDn{
    .data = Data::kOutgoing, .naming = Naming::kDn, .no_name = Message::kDefaultDnRequired};
constexpr SignKind kDetachedByDn{
    .data = Data::kArgument, .naming = Naming::kDn, .outgoing = Outgoing::kKept};
constexpr SignKind kAttachedBySerial{.data = Data::kOutgoing, .naming = Naming::kSerial};
constexpr SignKind kAttachedByIssuerSerial{.data = Data::kOutgoing,
                                           .naming = Naming::kSerialAndIssuer};
constexpr SignKind kDetachedBySerial{.data = Data::kArgument, .naming = Naming::kSerial};
constexpr SignKind kDetachedByIssuerSerial{.data = Data::kArgument,
                                           .naming = Naming::kSerialAndIssuer,
                                           .issuer_too_long = Message::kIssuerDnTooLong};
constexpr SignKind kKeySpecAttachedByDn{.data = Data::kOutgoing,
                                        .naming = Naming::kDn,
                                        .key = KeyRule::kSignatureKey,
                                        .no_name = Message::kDefaultDnRequired};
constexpr SignKind kKeySpecDetachedByDn{.data = Data::kArgument,
                                        .naming = Naming::kDn,
                                        .key = KeyRule::kSignatureKey,
                                        .outgoing = Outgoing::kKept};
constexpr SignKind kKeySpecAttachedBySerial{
    .data = Data::kOutgoing, .naming = Naming::kSerial, .key = KeyRule::kSignatureKey};
constexpr SignKind kKeySpecAttachedByIssuerSerial{
    .data = Data::kOutgoing, .naming = Naming::kSerialAndIssuer, .key = KeyRule::kSignatureKey};
constexpr SignKind kKeySpecDetachedBySerial{
    .data = Data::kArgument, .naming = Naming::kSerial, .key = KeyRule::kSignatureKey};
constexpr SignKind kKeySpecDetachedByIssuerSerial{
    .data = Data::kArgument, .naming = Naming::kSerialAndIssuer, .key = KeyRule::kSignatureKey};
constexpr SignKind kAdvanceAttached{.data = Data::kOutgoing,
                                    .naming = Naming::kDn,
                                    .no_name = Message::kDefaultDnRequired,
                                    .engine = Engine::kAdvance};
constexpr SignKind kAdvanceDetached{.data = Data::kArgument,
                                    .naming = Naming::kDn,
                                    .no_name = Message::kDefaultDnRequired,
                                    .engine = Engine::kAdvance};
constexpr SignKind kKeySpecAdvanceAttached{.data = Data::kOutgoing,
                                           .naming = Naming::kDn,
                                           .key = KeyRule::kSignatureKey,
                                           .no_name = Message::kDefaultDnRequired,
                                           .engine = Engine::kAdvance};
constexpr SignKind kKeySpecAdvanceDetached{.data = Data::kArgument,
                                           .naming = Naming::kDn,
                                           .key = KeyRule::kSignatureKey,
                                           .no_name = Message::kDefaultDnRequired,
                                           .engine = Engine::kAdvance};

// The member's arguments; empty views for those it does not take.
struct SignArgs {
  std::u16string_view plain_text;
  std::u16string_view name;  // DN or serial number
  std::u16string_view issuer_dn;
};

// A step's failure: errorNum and the message.
struct StepFailure {
  int number;
  Message message;
};
using Step = std::optional<StepFailure>;

// The data: the outgoing plain text (taken, since it is dropped on every
// path) or the argument through the code page. |packed_form|: the data is a
// form the control packed.
Step TakeData(ControlSettings& s, const SignKind& kind, std::u16string_view plain_text, Bytes* data,
              bool* packed_form) {
  *packed_form = false;
  if (kind.data == Data::kOutgoing) {
    if (!s.outgoing_plain_text.has_value()) {
      return StepFailure{kErrEmptyInput, Message::kSourceEmpty};
    }
    *packed_form = s.outgoing_is_form;
    *data = std::move(*s.outgoing_plain_text);
    s.outgoing_plain_text.reset();
    return std::nullopt;
  }
  if (plain_text.empty()) return StepFailure{kErrEmptyInput, Message::kSourceEmpty};
  if (int status = ExactTextToBytes(s.code_page, plain_text, data); status != kOk) {
    return StepFailure{status, ConversionMessage(status)};
  }
  return std::nullopt;
}

// The name checks of a DN member, then its query.
Step QueryByDnArgument(const ControlSettings& s, const SignKind& kind, const SignArgs& args,
                       certs::SignerQuery* query) {
  if (int check = CheckDnArgument(args.name, s.dn_separator); check != kOk) {
    return StepFailure{check, DnCheckMessage(check)};
  }
  if (args.name.empty() && s.server_mode != 0) return StepFailure{kErrEmptyInput, kind.no_name};
  *query = QueryByDn(s, args.name, kind.key);
  return std::nullopt;
}

// The name checks of a serial member, then its query. Without a serial
// number (server mode off) the user picks the signer.
Step QueryBySerialArgument(const ControlSettings& s, const SignKind& kind, const SignArgs& args,
                           certs::SignerQuery* query) {
  std::u16string_view issuer = kFixedIssuerDN;
  if (kind.naming == Naming::kSerialAndIssuer) {
    if (args.issuer_dn.size() > kMaxDnLength) {
      return StepFailure{kErrTooLong, kind.issuer_too_long};
    }
    if (!args.issuer_dn.empty()) issuer = args.issuer_dn;
  }
  if (args.name.empty() && s.server_mode != 0) return StepFailure{kErrEmptyInput, kind.no_name};
  // Checked even when no serial number is given.
  if (kind.naming == Naming::kSerialAndIssuer && CountDnCommas(issuer) > kMaxDnCommas) {
    return StepFailure{kErrDnCheck, Message::kDnCheckFailed};
  }
  *query = QueryBySerial(s, args.name, issuer, kind.key);
  return std::nullopt;
}

HRESULT SignMember(ControlSettings& s, const SignKind& kind, const SignArgs& args,
                   std::u16string* pVal) {
  MethodFrame frame(&s.error, pVal);
  auto cleanup = [&s, &kind] {
    s.signer_info.Clear();
    if (kind.outgoing == Outgoing::kDropped) s.outgoing_plain_text.reset();
  };
  frame.OnFailure(cleanup);
  return frame.Run([&] {
    Bytes data;
    bool packed_form = false;
    if (Step taken = TakeData(s, kind, args.plain_text, &data, &packed_form)) {
      return frame.Fail(taken->number, taken->message);
    }
    certs::SignerQuery query;
    Step named = kind.naming == Naming::kDn ? QueryByDnArgument(s, kind, args, &query)
                                            : QueryBySerialArgument(s, kind, args, &query);
    if (named) return frame.Fail(named->number, named->message);

    // A web page's key use is reviewed over exactly these bytes.
    if (int staged = StageSigning(s.code_page, data, packed_form); staged != kOk) {
      return frame.Fail(staged, Message::kSignFailed);
    }
    const crypto::SignOptions options = SignOptionsOf(s, kind.data == Data::kArgument);
    Bytes signature;
    certs::CertInfoSet info;
    // The message engine releases the data once it is signed.
    Status status =
        kind.engine == Engine::kAdvance
            ? crypto::AdvanceSign(data, query, options, ChooserTextsOf(s), &signature, &info)
            : crypto::SignMessage(std::move(data), query, options, ChooserTextsOf(s), &signature,
                                  &info);
    Bytes().swap(data);
    if (!status.ok()) return frame.FailWith(status, Message::kSignFailed);

    s.signer_info.UpdateFrom(std::move(info));
    std::u16string text;
    int convert = BytesToText(s.code_page, signature, &text);
    Bytes().swap(signature);
    if (convert != kOk) return frame.Fail(convert, ConversionMessage(convert));
    if (kind.outgoing == Outgoing::kDropped) s.outgoing_plain_text.reset();
    return frame.Succeed(std::move(text));
  });
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
  return SignMember(settings_, kKeySpecAttachedByDn, {{}, deSignerDN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMUseKeySpecDetachedSign(std::u16string_view plainText,
                                                    std::u16string_view deSignerDN,
                                                    std::u16string* pVal) {
  return SignMember(settings_, kKeySpecDetachedByDn, {plainText, deSignerDN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMUseKeySpecAttachedSignByIssuerSN(std::u16string_view deSignerSN,
                                                              std::u16string_view IssuerDN,
                                                              std::u16string* pVal) {
  return SignMember(settings_, kKeySpecAttachedByIssuerSerial, {{}, deSignerSN, IssuerDN}, pVal);
}

HRESULT CCorvaneQuillmark::QMUseKeySpecAttachedSignBySN(std::u16string_view deSignerSN,
                                                        std::u16string* pVal) {
  return SignMember(settings_, kKeySpecAttachedBySerial, {{}, deSignerSN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMUseKeySpecDetachedSignByIssuerSN(std::u16string_view plainText,
                                                              std::u16string_view deSignerSN,
                                                              std::u16string_view IssuerDN,
                                                              std::u16string* pVal) {
  return SignMember(settings_, kKeySpecDetachedByIssuerSerial, {plainText, deSignerSN, IssuerDN},
                    pVal);
}

HRESULT CCorvaneQuillmark::QMUseKeySpecDetachedSignBySN(std::u16string_view plainText,
                                                        std::u16string_view deSignerSN,
                                                        std::u16string* pVal) {
  return SignMember(settings_, kKeySpecDetachedBySerial, {plainText, deSignerSN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMAdvanceAttachedSign(std::u16string_view deSignerDN,
                                                 std::u16string* pVal) {
  return SignMember(settings_, kAdvanceAttached, {{}, deSignerDN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMUseSpecAdvanceAttachedSign(std::u16string_view deSignerDN,
                                                        std::u16string* pVal) {
  return SignMember(settings_, kKeySpecAdvanceAttached, {{}, deSignerDN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMAdvanceDetachedSign(std::u16string_view plainText,
                                                 std::u16string_view deSignerDN,
                                                 std::u16string* pVal) {
  return SignMember(settings_, kAdvanceDetached, {plainText, deSignerDN, {}}, pVal);
}

HRESULT CCorvaneQuillmark::QMUseSpecAdvanceDetachedSign(std::u16string_view plainText,
                                                        std::u16string_view deSignerDN,
                                                        std::u16string* pVal) {
  return SignMember(settings_, kKeySpecAdvanceDetached, {plainText, deSignerDN, {}}, pVal);
}

}  // namespace quillmark::control
