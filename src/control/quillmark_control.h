// CCorvaneQuillmark: the signing control a page drives through
// ILydraCorvaneQuillmark.
//
// An instance owns its settings, buffers and error state (ControlSettings);
// a new one has every default. Every member returns S_OK or S_FALSE and
// reports failures through errorNum/errMsg (see method_frame.h).
//
// Members are implemented by family: quillmark_control.cc (properties and
// setters), members_base64.cc, members_plaintext.cc, members_files.cc,
// members_info.cc, members_misc.cc, members_cert_query.cc, members_sign.cc
// (the PKCS#7 and Advance signing members), members_verify.cc,
// members_envelope.cc, members_digest.cc and members_raw.cc.
//
// Like the page it serves, an instance is used from one thread at a time.
#ifndef QUILLMARK_CONTROL_QUILLMARK_CONTROL_H_
#define QUILLMARK_CONTROL_QUILLMARK_CONTROL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "control/control_settings.h"
#include "control/quillmark_interface.h"
#include "platform/keys/token_provider.h"

namespace quillmark::control {

class CCorvaneQuillmark : public ILydraCorvaneQuillmark {
 public:
  CCorvaneQuillmark() = default;
  ~CCorvaneQuillmark() override = default;
  CCorvaneQuillmark(const CCorvaneQuillmark&) = delete;
  CCorvaneQuillmark& operator=(const CCorvaneQuillmark&) = delete;

  // The instance's state, read-only (for hosts and tests).
  const ControlSettings& settings() const { return settings_; }

  // Replaces the received plain text, as a successful verification or
  // envelope opening does; nullopt makes it absent. For hosts that receive
  // content by other means, and for tests.
  void SetReceivedPlainText(std::optional<Bytes> bytes) {
    settings_.received_plain_text = std::move(bytes);
  }

  // Properties and setters.
  HRESULT put_DNspliter(std::u16string_view value) override;
  HRESULT get_errMsg(std::u16string* pVal) override;
  HRESULT get_errorNum(std::int32_t* pVal) override;
  HRESULT get_MaxCompSize(std::int32_t* pVal) override;
  HRESULT put_MaxCompSize(std::int32_t value) override;
  HRESULT put_QMServerMode(std::int32_t value) override;
  HRESULT get_errorCode(std::int32_t* pVal) override;
  HRESULT put_QMSignMode(std::int32_t value) override;
  HRESULT QMSetCodePage(std::uint32_t codepage) override;
  HRESULT QMSetDigestArithmetic(std::u16string_view ArithmeticID) override;
  HRESULT QMSetSymmetryArithmetic(std::u16string_view ArithmeticID) override;
  HRESULT QMSetSM2CertStoreName(std::u16string_view pStoreName) override;
  HRESULT QMSetCopyRightInfo(std::u16string_view pInfo) override;
  HRESULT QMSetDialogPrompt(std::u16string_view dlgtitle, std::u16string_view dlgprompt,
                            std::u16string_view certsubject, std::u16string_view certissuer,
                            std::u16string_view notafter, std::u16string_view OKbutton,
                            std::u16string_view Cancelbutton,
                            std::u16string_view Viewbutton) override;

  // Base64.
  HRESULT QMBase64Encode(std::u16string_view base64ToBeEncodedText, std::u16string* pVal) override;
  HRESULT QMBase64Decode(std::u16string_view base64ToBeDecodedText, std::u16string* pVal) override;

  // Plain text, form items and files.
  HRESULT QMSetPlainText(std::u16string_view plainText) override;
  HRESULT QMGetPlainText(std::u16string* pVal) override;
  HRESULT QMAddFormItem(std::u16string_view itemContent) override;
  HRESULT QMAddFile(std::u16string_view fileName) override;
  HRESULT QMGetFormItem(std::u16string* pVal) override;
  HRESULT QMGetFile(std::u16string* pVal) override;

  // Certificate information.
  HRESULT QMGetSignerCertInfo(std::uint32_t type, std::u16string* pVal) override;
  HRESULT QMGetReciptCertInfo(std::uint32_t type, std::u16string* pVal) override;

  // Miscellany.
  HRESULT getVersion(std::u16string* pVersion) override;
  HRESULT GetMac(std::u16string* pVal) override;

  // Signing, verification, envelopes, files and certificate queries.
  HRESULT QMAttachedSign(std::u16string_view deSignerDN, std::u16string* pVal) override;
  HRESULT QMAttachedVerify(std::u16string_view signedMsg) override;
  HRESULT QMDecryptedAndVerifiedEnvelop(std::u16string_view signedAndEnvelopedMsg) override;
  HRESULT QMDecryptEnvelop(std::u16string_view envelopedMsg) override;
  HRESULT QMDetachedSign(std::u16string_view plainText, std::u16string_view deSignerDN,
                         std::u16string* pVal) override;
  HRESULT QMDetachedVerify(std::u16string_view signedMsg, std::u16string_view plainText) override;
  HRESULT QMEncryptedEnvelop(std::u16string_view deReciptDN, std::u16string* pVal) override;
  HRESULT QMHashAndBase64Encode(std::u16string_view plainText, std::u16string* pVal) override;
  HRESULT QMRawSign(std::u16string_view deSignerDN, std::u16string* pVal) override;
  HRESULT QMRawVerify(std::u16string_view signedMsg, std::u16string_view deSignerDN,
                      std::u16string_view plainText) override;
  HRESULT QMSignedAndEncryptedEnvelop(std::u16string_view deSignerDN,
                                      std::u16string_view deReciptDN,
                                      std::u16string* pVal) override;
  HRESULT QMAfterwardsVerify(std::u16string_view signedMsg) override;
  HRESULT QMGetCertExtension(std::u16string_view certDN, std::u16string_view szOID,
                             std::u16string* pVal) override;
  HRESULT IsCertExists(std::u16string_view DN, std::uint32_t* pdwRet) override;
  HRESULT QMAttachedSignByIssuerSN(std::u16string_view deSignerSN, std::u16string_view IssuerDN,
                                   std::u16string* pVal) override;
  HRESULT QMAttachedSignBySN(std::u16string_view deSignerSN, std::u16string* pVal) override;
  HRESULT QMDetachedSignByIssuerSN(std::u16string_view plainText, std::u16string_view deSignerSN,
                                   std::u16string_view IssuerDN, std::u16string* pVal) override;
  HRESULT QMDetachedSignBySN(std::u16string_view plainText, std::u16string_view deSignerSN,
                             std::u16string* pVal) override;
  HRESULT QMEnumCertsDNByIssers(std::u16string_view IssersDN, std::u16string* CertsDN) override;
  HRESULT QMAttachedVerifySignedFile(std::u16string_view fileName) override;
  HRESULT QMUseKeySpecAttachedSign(std::u16string_view deSignerDN, std::u16string* pVal) override;
  HRESULT QMUseKeySpecDetachedSign(std::u16string_view plainText, std::u16string_view deSignerDN,
                                   std::u16string* pVal) override;
  HRESULT QMUseKeySpecRawSign(std::u16string_view deSignerDN, std::u16string* pVal) override;
  HRESULT QMUseKeySpecAttachedSignByIssuerSN(std::u16string_view deSignerSN,
                                             std::u16string_view IssuerDN,
                                             std::u16string* pVal) override;
  HRESULT QMUseKeySpecAttachedSignBySN(std::u16string_view deSignerSN,
                                       std::u16string* pVal) override;
  HRESULT QMUseKeySpecDetachedSignByIssuerSN(std::u16string_view plainText,
                                             std::u16string_view deSignerSN,
                                             std::u16string_view IssuerDN,
                                             std::u16string* pVal) override;
  HRESULT QMUseKeySpecDetachedSignBySN(std::u16string_view plainText,
                                       std::u16string_view deSignerSN,
                                       std::u16string* pVal) override;
  HRESULT QMUseKeySpecSignedAndEncryptedEnvelop(std::u16string_view deSignerDN,
                                                std::u16string_view deReciptDN,
                                                std::u16string* pVal) override;
  HRESULT QMAddFileForEncrypt(std::u16string_view fileName) override;
  HRESULT QMEncryptFileAndSave(std::u16string_view base64Certificate) override;
  HRESULT QMAdvanceAttachedSign(std::u16string_view deSignerDN, std::u16string* pVal) override;
  HRESULT QMAdvanceAttachedVerify(std::u16string_view signedMsg) override;
  HRESULT QMUseSpecAdvanceAttachedSign(std::u16string_view deSignerDN,
                                       std::u16string* pVal) override;
  HRESULT QMAdvanceDetachedSign(std::u16string_view plainText, std::u16string_view deSignerDN,
                                std::u16string* pVal) override;
  HRESULT QMUseSpecAdvanceDetachedSign(std::u16string_view plainText,
                                       std::u16string_view deSignerDN,
                                       std::u16string* pVal) override;
  HRESULT QMAdvanceDetachedVerify(std::u16string_view signedMsg,
                                  std::u16string_view plainText) override;

 private:
  // QMSetDigestArithmetic and QMSetSymmetryArithmetic: |oid| in the code page
  // into |*field|.
  HRESULT SetAlgorithmOid(std::u16string_view oid, std::string* field);
  // QMGetSignerCertInfo and QMGetReciptCertInfo.
  HRESULT GetCertInfo(const certs::CertInfoSet& info, std::uint32_t type, std::u16string* pVal);

  ControlSettings settings_;
  // Token logins and unlocked protected keys last as long as this instance.
  platform::KeyLoginScope key_logins_;
};

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_QUILLMARK_CONTROL_H_
