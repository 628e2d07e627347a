// A stand-in control for tests of the automation layer: every member records
// its name and arguments and answers with configurable values, so that the
// dispatch and session layers can be checked member by member without the
// engines behind the real control.
#ifndef QUILLMARK_TESTS_SUPPORT_RECORDING_CONTROL_H_
#define QUILLMARK_TESTS_SUPPORT_RECORDING_CONTROL_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "control/quillmark_interface.h"

namespace quillmark::testing {

using control::HRESULT;

class RecordingControl : public control::ILydraCorvaneQuillmark {
 public:
  struct Call {
    std::string member;                // the C++ member's name
    std::vector<std::u16string> args;  // in arguments; integers as decimal text
  };

  std::vector<Call> calls;
  HRESULT status = control::S_OK;  // what every member returns
  std::u16string text_out = u"out";
  std::int32_t int_out = -10001;
  std::uint32_t uint_out = 4000000000u;
  std::int32_t error_num = 0;
  std::int32_t error_code = 0;
  std::u16string err_msg;

#define QM_STR(name) std::u16string_view name
#define QM_OUT_STR(name) std::u16string* name
  HRESULT put_DNspliter(QM_STR(v)) override { return Rec("put_DNspliter", {v}); }
  HRESULT get_errMsg(QM_OUT_STR(p)) override {
    *p = err_msg;
    return Rec("get_errMsg", {});
  }
  HRESULT get_errorNum(std::int32_t* p) override {
    *p = error_num;
    return Rec("get_errorNum", {});
  }
  HRESULT get_MaxCompSize(std::int32_t* p) override {
    *p = int_out;
    return Rec("get_MaxCompSize", {});
  }
  HRESULT put_MaxCompSize(std::int32_t v) override { return Rec("put_MaxCompSize", {N(v)}); }
  HRESULT put_QMServerMode(std::int32_t v) override { return Rec("put_QMServerMode", {N(v)}); }
  HRESULT getVersion(QM_OUT_STR(p)) override { return Out("getVersion", {}, p); }
  HRESULT QMAddFile(QM_STR(a)) override { return Rec("QMAddFile", {a}); }
  HRESULT QMAddFormItem(QM_STR(a)) override { return Rec("QMAddFormItem", {a}); }
  HRESULT QMAttachedSign(QM_STR(a), QM_OUT_STR(p)) override {
    return Out("QMAttachedSign", {a}, p);
  }
  HRESULT QMAttachedVerify(QM_STR(a)) override { return Rec("QMAttachedVerify", {a}); }
  HRESULT QMBase64Decode(QM_STR(a), QM_OUT_STR(p)) override {
    return Out("QMBase64Decode", {a}, p);
  }
  // Echoes its argument, so that text can make a round trip through a call.
  HRESULT QMBase64Encode(QM_STR(a), QM_OUT_STR(p)) override {
    *p = std::u16string(a);
    return Rec("QMBase64Encode", {a});
  }
  HRESULT QMDecryptedAndVerifiedEnvelop(QM_STR(a)) override {
    return Rec("QMDecryptedAndVerifiedEnvelop", {a});
  }
  HRESULT QMDecryptEnvelop(QM_STR(a)) override { return Rec("QMDecryptEnvelop", {a}); }
  HRESULT QMDetachedSign(QM_STR(a), QM_STR(b), QM_OUT_STR(p)) override {
    return Out("QMDetachedSign", {a, b}, p);
  }
  HRESULT QMDetachedVerify(QM_STR(a), QM_STR(b)) override {
    return Rec("QMDetachedVerify", {a, b});
  }
  HRESULT QMEncryptedEnvelop(QM_STR(a), QM_OUT_STR(p)) override {
    return Out("QMEncryptedEnvelop", {a}, p);
  }
  HRESULT QMGetFile(QM_OUT_STR(p)) override { return Out("QMGetFile", {}, p); }
  HRESULT QMGetFormItem(QM_OUT_STR(p)) override { return Out("QMGetFormItem", {}, p); }
  HRESULT QMGetPlainText(QM_OUT_STR(p)) override { return Out("QMGetPlainText", {}, p); }
  HRESULT QMGetReciptCertInfo(std::uint32_t t, QM_OUT_STR(p)) override {
    return Out("QMGetReciptCertInfo", {N(t)}, p);
  }
  HRESULT QMGetSignerCertInfo(std::uint32_t t, QM_OUT_STR(p)) override {
    return Out("QMGetSignerCertInfo", {N(t)}, p);
  }
  HRESULT QMHashAndBase64Encode(QM_STR(a), QM_OUT_STR(p)) override {
    return Out("QMHashAndBase64Encode", {a}, p);
  }
  HRESULT QMRawSign(QM_STR(a), QM_OUT_STR(p)) override { return Out("QMRawSign", {a}, p); }
  HRESULT QMRawVerify(QM_STR(a), QM_STR(b), QM_STR(c)) override {
    return Rec("QMRawVerify", {a, b, c});
  }
  HRESULT QMSetPlainText(QM_STR(a)) override { return Rec("QMSetPlainText", {a}); }
  HRESULT QMSignedAndEncryptedEnvelop(QM_STR(a), QM_STR(b), QM_OUT_STR(p)) override {
    return Out("QMSignedAndEncryptedEnvelop", {a, b}, p);
  }
  HRESULT QMAfterwardsVerify(QM_STR(a)) override { return Rec("QMAfterwardsVerify", {a}); }
  HRESULT QMGetCertExtension(QM_STR(a), QM_STR(b), QM_OUT_STR(p)) override {
    return Out("QMGetCertExtension", {a, b}, p);
  }
  HRESULT QMSetDigestArithmetic(QM_STR(a)) override { return Rec("QMSetDigestArithmetic", {a}); }
  HRESULT QMSetSymmetryArithmetic(QM_STR(a)) override {
    return Rec("QMSetSymmetryArithmetic", {a});
  }
  HRESULT IsCertExists(QM_STR(a), std::uint32_t* p) override {
    *p = uint_out;
    return Rec("IsCertExists", {a});
  }
  HRESULT QMAttachedSignByIssuerSN(QM_STR(a), QM_STR(b), QM_OUT_STR(p)) override {
    return Out("QMAttachedSignByIssuerSN", {a, b}, p);
  }
  HRESULT QMAttachedSignBySN(QM_STR(a), QM_OUT_STR(p)) override {
    return Out("QMAttachedSignBySN", {a}, p);
  }
  HRESULT QMDetachedSignByIssuerSN(QM_STR(a), QM_STR(b), QM_STR(c), QM_OUT_STR(p)) override {
    return Out("QMDetachedSignByIssuerSN", {a, b, c}, p);
  }
  HRESULT QMDetachedSignBySN(QM_STR(a), QM_STR(b), QM_OUT_STR(p)) override {
    return Out("QMDetachedSignBySN", {a, b}, p);
  }
  HRESULT QMEnumCertsDNByIssers(QM_STR(a), QM_OUT_STR(p)) override {
    return Out("QMEnumCertsDNByIssers", {a}, p);
  }
  HRESULT get_errorCode(std::int32_t* p) override {
    *p = error_code;
    return Rec("get_errorCode", {});
  }
  HRESULT QMAttachedVerifySignedFile(QM_STR(a)) override {
    return Rec("QMAttachedVerifySignedFile", {a});
  }
  HRESULT QMUseKeySpecAttachedSign(QM_STR(a), QM_OUT_STR(p)) override {
    return Out("QMUseKeySpecAttachedSign", {a}, p);
  }
  HRESULT QMUseKeySpecDetachedSign(QM_STR(a), QM_STR(b), QM_OUT_STR(p)) override {
    return Out("QMUseKeySpecDetachedSign", {a, b}, p);
  }
  HRESULT QMUseKeySpecRawSign(QM_STR(a), QM_OUT_STR(p)) override {
    return Out("QMUseKeySpecRawSign", {a}, p);
  }
  HRESULT QMUseKeySpecAttachedSignByIssuerSN(QM_STR(a), QM_STR(b), QM_OUT_STR(p)) override {
    return Out("QMUseKeySpecAttachedSignByIssuerSN", {a, b}, p);
  }
  HRESULT QMUseKeySpecAttachedSignBySN(QM_STR(a), QM_OUT_STR(p)) override {
    return Out("QMUseKeySpecAttachedSignBySN", {a}, p);
  }
  HRESULT QMUseKeySpecDetachedSignByIssuerSN(QM_STR(a), QM_STR(b), QM_STR(c),
                                             QM_OUT_STR(p)) override {
    return Out("QMUseKeySpecDetachedSignByIssuerSN", {a, b, c}, p);
  }
  HRESULT QMUseKeySpecDetachedSignBySN(QM_STR(a), QM_STR(b), QM_OUT_STR(p)) override {
    return Out("QMUseKeySpecDetachedSignBySN", {a, b}, p);
  }
  HRESULT QMUseKeySpecSignedAndEncryptedEnvelop(QM_STR(a), QM_STR(b), QM_OUT_STR(p)) override {
    return Out("QMUseKeySpecSignedAndEncryptedEnvelop", {a, b}, p);
  }
  HRESULT QMSetCodePage(std::uint32_t v) override { return Rec("QMSetCodePage", {N(v)}); }
  HRESULT QMAddFileForEncrypt(QM_STR(a)) override { return Rec("QMAddFileForEncrypt", {a}); }
  HRESULT QMEncryptFileAndSave(QM_STR(a)) override { return Rec("QMEncryptFileAndSave", {a}); }
  HRESULT QMSetCopyRightInfo(QM_STR(a)) override { return Rec("QMSetCopyRightInfo", {a}); }
  HRESULT QMSetDialogPrompt(QM_STR(a), QM_STR(b), QM_STR(c), QM_STR(d), QM_STR(e), QM_STR(f),
                            QM_STR(g), QM_STR(h)) override {
    return Rec("QMSetDialogPrompt", {a, b, c, d, e, f, g, h});
  }
  HRESULT QMAdvanceAttachedSign(QM_STR(a), QM_OUT_STR(p)) override {
    return Out("QMAdvanceAttachedSign", {a}, p);
  }
  HRESULT QMAdvanceAttachedVerify(QM_STR(a)) override {
    return Rec("QMAdvanceAttachedVerify", {a});
  }
  HRESULT QMUseSpecAdvanceAttachedSign(QM_STR(a), QM_OUT_STR(p)) override {
    return Out("QMUseSpecAdvanceAttachedSign", {a}, p);
  }
  HRESULT QMAdvanceDetachedSign(QM_STR(a), QM_STR(b), QM_OUT_STR(p)) override {
    return Out("QMAdvanceDetachedSign", {a, b}, p);
  }
  HRESULT QMUseSpecAdvanceDetachedSign(QM_STR(a), QM_STR(b), QM_OUT_STR(p)) override {
    return Out("QMUseSpecAdvanceDetachedSign", {a, b}, p);
  }
  HRESULT QMAdvanceDetachedVerify(QM_STR(a), QM_STR(b)) override {
    return Rec("QMAdvanceDetachedVerify", {a, b});
  }
  HRESULT put_QMSignMode(std::int32_t v) override { return Rec("put_QMSignMode", {N(v)}); }
  HRESULT QMSetSM2CertStoreName(QM_STR(a)) override { return Rec("QMSetSM2CertStoreName", {a}); }
  HRESULT GetMac(QM_OUT_STR(p)) override { return Out("GetMac", {}, p); }
#undef QM_STR
#undef QM_OUT_STR

 private:
  static std::u16string N(std::int64_t v) {
    std::string s = std::to_string(v);
    return std::u16string(s.begin(), s.end());
  }
  HRESULT Rec(const char* member, std::initializer_list<std::u16string_view> args) {
    Call call{member, {}};
    for (std::u16string_view a : args) call.args.emplace_back(a);
    calls.push_back(std::move(call));
    return status;
  }
  HRESULT Out(const char* member, std::initializer_list<std::u16string_view> args,
              std::u16string* out) {
    *out = text_out;
    return Rec(member, args);
  }
};

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_SUPPORT_RECORDING_CONTROL_H_
