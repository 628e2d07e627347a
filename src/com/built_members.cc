// The members of ILydraCorvaneQuillmark whose engines exist.
//
// The dispatch layer calls only these; every other member answers E_NOTIMPL
// there without reaching the control, and `quillmark typelib --json` shows it
// with "built":false. When a member's implementation is complete, add its
// name here: the method's name, or "get NAME" / "put NAME" for a property
// accessor, spelled as in the type library (type_library.cc). A test checks
// that every entry names a row.
#include <initializer_list>

#include "com/type_library.h"

namespace quillmark::com {
namespace {

// One entry a line, in any order.
const std::initializer_list<std::string_view> kBuiltMembers = {
    "put DNspliter",
    "get errMsg",
    "get errorNum",
    "get MaxCompSize",
    "put MaxCompSize",
    "put QMServerMode",
    "get errorCode",
    "put QMSignMode",
    "getVersion",
    "GetMac",
    "QMAddFile",
    "QMAddFormItem",
    "QMBase64Decode",
    "QMBase64Encode",
    "QMGetFile",
    "QMGetFormItem",
    "QMGetPlainText",
    "QMGetReciptCertInfo",
    "QMGetSignerCertInfo",
    "QMSetPlainText",
    "QMSetDigestArithmetic",
    "QMSetSymmetryArithmetic",
    "QMSetCodePage",
    "QMAddFileForEncrypt",
    "QMSetCopyRightInfo",
    "QMSetDialogPrompt",
    "QMSetSM2CertStoreName",
    "IsCertExists",
    "QMEnumCertsDNByIssers",
    "QMGetCertExtension",
    "QMAttachedSign",
    "QMDetachedSign",
    "QMAttachedSignBySN",
    "QMAttachedSignByIssuerSN",
    "QMDetachedSignBySN",
    "QMDetachedSignByIssuerSN",
    "QMUseKeySpecAttachedSign",
    "QMUseKeySpecDetachedSign",
    "QMUseKeySpecAttachedSignByIssuerSN",
    "QMUseKeySpecAttachedSignBySN",
    "QMUseKeySpecDetachedSignByIssuerSN",
    "QMUseKeySpecDetachedSignBySN",
    "QMAttachedVerify",
    "QMDetachedVerify",
    "QMAfterwardsVerify",
    "QMHashAndBase64Encode",
    "QMEncryptedEnvelop",
    "QMDecryptEnvelop",
    "QMSignedAndEncryptedEnvelop",
    "QMUseKeySpecSignedAndEncryptedEnvelop",
    "QMDecryptedAndVerifiedEnvelop",
    "QMEncryptFileAndSave",
    "QMRawSign",
    "QMUseKeySpecRawSign",
    "QMRawVerify",
    "QMAttachedVerifySignedFile",
    "QMAdvanceAttachedSign",
    "QMAdvanceAttachedVerify",
    "QMUseSpecAdvanceAttachedSign",
    "QMAdvanceDetachedSign",
    "QMUseSpecAdvanceDetachedSign",
    "QMAdvanceDetachedVerify",
};

}  // namespace

std::span<const std::string_view> BuiltMemberList() {
  return std::span<const std::string_view>(kBuiltMembers.begin(), kBuiltMembers.size());
}

}  // namespace quillmark::com
