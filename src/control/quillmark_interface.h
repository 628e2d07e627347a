// ILydraCorvaneQuillmark: the control's one automation interface.
//
// The 62 members appear below in interface order (the order of the type
// library, src/com/type_library.cc). A property is a get_X or put_X
// accessor; a method carries the member's own name. Every member returns an
// automation status: S_OK or S_FALSE from the control itself, never an error
// status (failures are told through errorNum/errMsg). The dispatch layer
// answers with the DISP_E_ values on its own, without calling the object.
//
// Argument conventions:
//   - strings in: std::u16string_view; an absent string arrives as empty.
//   - strings out: std::u16string* (never null when called through dispatch);
//     the member assigns the whole text (empty on failure).
//   - 32-bit integers in by value, out through std::int32_t* / std::uint32_t*.
//
// CCorvaneQuillmark (src/control/) implements this class. The class factory
// creates instances through CreateQuillmarkControl(), declared here and
// defined in src/com/create_control.cc on top of the control's own
// header. A new member is added at the end only; nothing here is reordered.
#ifndef QUILLMARK_CONTROL_QUILLMARK_INTERFACE_H_
#define QUILLMARK_CONTROL_QUILLMARK_INTERFACE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillmark::control {

// Automation statuses: the platform's 32-bit values, stored signed.
using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
inline constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);

class ILydraCorvaneQuillmark {
 public:
  virtual ~ILydraCorvaneQuillmark() = default;

  // 0x1 .. 0x6
  virtual HRESULT put_DNspliter(std::u16string_view value) = 0;
  virtual HRESULT get_errMsg(std::u16string* pVal) = 0;
  virtual HRESULT get_errorNum(std::int32_t* pVal) = 0;
  virtual HRESULT get_MaxCompSize(std::int32_t* pVal) = 0;
  virtual HRESULT put_MaxCompSize(std::int32_t value) = 0;
  virtual HRESULT put_QMServerMode(std::int32_t value) = 0;

  // 0x7 .. 0x1e
  virtual HRESULT getVersion(std::u16string* pVersion) = 0;
  virtual HRESULT QMAddFile(std::u16string_view fileName) = 0;
  virtual HRESULT QMAddFormItem(std::u16string_view itemContent) = 0;
  virtual HRESULT QMAttachedSign(std::u16string_view deSignerDN, std::u16string* pVal) = 0;
  virtual HRESULT QMAttachedVerify(std::u16string_view signedMsg) = 0;
  virtual HRESULT QMBase64Decode(std::u16string_view base64ToBeDecodedText,
                                 std::u16string* pVal) = 0;
  virtual HRESULT QMBase64Encode(std::u16string_view base64ToBeEncodedText,
                                 std::u16string* pVal) = 0;
  virtual HRESULT QMDecryptedAndVerifiedEnvelop(std::u16string_view signedAndEnvelopedMsg) = 0;
  virtual HRESULT QMDecryptEnvelop(std::u16string_view envelopedMsg) = 0;
  virtual HRESULT QMDetachedSign(std::u16string_view plainText, std::u16string_view deSignerDN,
                                 std::u16string* pVal) = 0;
  virtual HRESULT QMDetachedVerify(std::u16string_view signedMsg,
                                   std::u16string_view plainText) = 0;
  virtual HRESULT QMEncryptedEnvelop(std::u16string_view deReciptDN, std::u16string* pVal) = 0;
  virtual HRESULT QMGetFile(std::u16string* pVal) = 0;
  virtual HRESULT QMGetFormItem(std::u16string* pVal) = 0;
  virtual HRESULT QMGetPlainText(std::u16string* pVal) = 0;
  virtual HRESULT QMGetReciptCertInfo(std::uint32_t type, std::u16string* pVal) = 0;
  virtual HRESULT QMGetSignerCertInfo(std::uint32_t type, std::u16string* pVal) = 0;
  virtual HRESULT QMHashAndBase64Encode(std::u16string_view plainText, std::u16string* pVal) = 0;
  virtual HRESULT QMRawSign(std::u16string_view deSignerDN, std::u16string* pVal) = 0;
  virtual HRESULT QMRawVerify(std::u16string_view signedMsg, std::u16string_view deSignerDN,
                              std::u16string_view plainText) = 0;
  virtual HRESULT QMSetPlainText(std::u16string_view plainText) = 0;
  virtual HRESULT QMSignedAndEncryptedEnvelop(std::u16string_view deSignerDN,
                                              std::u16string_view deReciptDN,
                                              std::u16string* pVal) = 0;
  virtual HRESULT QMAfterwardsVerify(std::u16string_view signedMsg) = 0;
  virtual HRESULT QMGetCertExtension(std::u16string_view certDN, std::u16string_view szOID,
                                     std::u16string* pVal) = 0;

  // 0x1f .. 0x30
  virtual HRESULT QMSetDigestArithmetic(std::u16string_view ArithmeticID) = 0;
  virtual HRESULT QMSetSymmetryArithmetic(std::u16string_view ArithmeticID) = 0;
  virtual HRESULT IsCertExists(std::u16string_view DN, std::uint32_t* pdwRet) = 0;
  virtual HRESULT QMAttachedSignByIssuerSN(std::u16string_view deSignerSN,
                                           std::u16string_view IssuerDN, std::u16string* pVal) = 0;
  virtual HRESULT QMAttachedSignBySN(std::u16string_view deSignerSN, std::u16string* pVal) = 0;
  virtual HRESULT QMDetachedSignByIssuerSN(std::u16string_view plainText,
                                           std::u16string_view deSignerSN,
                                           std::u16string_view IssuerDN, std::u16string* pVal) = 0;
  virtual HRESULT QMDetachedSignBySN(std::u16string_view plainText, std::u16string_view deSignerSN,
                                     std::u16string* pVal) = 0;
  virtual HRESULT QMEnumCertsDNByIssers(std::u16string_view IssersDN, std::u16string* CertsDN) = 0;
  virtual HRESULT get_errorCode(std::int32_t* pVal) = 0;
  virtual HRESULT QMAttachedVerifySignedFile(std::u16string_view fileName) = 0;
  virtual HRESULT QMUseKeySpecAttachedSign(std::u16string_view deSignerDN,
                                           std::u16string* pVal) = 0;
  virtual HRESULT QMUseKeySpecDetachedSign(std::u16string_view plainText,
                                           std::u16string_view deSignerDN,
                                           std::u16string* pVal) = 0;
  virtual HRESULT QMUseKeySpecRawSign(std::u16string_view deSignerDN, std::u16string* pVal) = 0;
  virtual HRESULT QMUseKeySpecAttachedSignByIssuerSN(std::u16string_view deSignerSN,
                                                     std::u16string_view IssuerDN,
                                                     std::u16string* pVal) = 0;
  virtual HRESULT QMUseKeySpecAttachedSignBySN(std::u16string_view deSignerSN,
                                               std::u16string* pVal) = 0;
  virtual HRESULT QMUseKeySpecDetachedSignByIssuerSN(std::u16string_view plainText,
                                                     std::u16string_view deSignerSN,
                                                     std::u16string_view IssuerDN,
                                                     std::u16string* pVal) = 0;
  virtual HRESULT QMUseKeySpecDetachedSignBySN(std::u16string_view plainText,
                                               std::u16string_view deSignerSN,
                                               std::u16string* pVal) = 0;
  virtual HRESULT QMUseKeySpecSignedAndEncryptedEnvelop(std::u16string_view deSignerDN,
                                                        std::u16string_view deReciptDN,
                                                        std::u16string* pVal) = 0;

  // 0x31 .. 0x3e
  virtual HRESULT QMSetCodePage(std::uint32_t codepage) = 0;
  virtual HRESULT QMAddFileForEncrypt(std::u16string_view fileName) = 0;
  virtual HRESULT QMEncryptFileAndSave(std::u16string_view base64Certificate) = 0;
  virtual HRESULT QMSetCopyRightInfo(std::u16string_view pInfo) = 0;
  virtual HRESULT QMSetDialogPrompt(std::u16string_view dlgtitle, std::u16string_view dlgprompt,
                                    std::u16string_view certsubject, std::u16string_view certissuer,
                                    std::u16string_view notafter, std::u16string_view OKbutton,
                                    std::u16string_view Cancelbutton,
                                    std::u16string_view Viewbutton) = 0;
  virtual HRESULT QMAdvanceAttachedSign(std::u16string_view deSignerDN, std::u16string* pVal) = 0;
  virtual HRESULT QMAdvanceAttachedVerify(std::u16string_view signedMsg) = 0;
  virtual HRESULT QMUseSpecAdvanceAttachedSign(std::u16string_view deSignerDN,
                                               std::u16string* pVal) = 0;
  virtual HRESULT QMAdvanceDetachedSign(std::u16string_view plainText,
                                        std::u16string_view deSignerDN, std::u16string* pVal) = 0;
  virtual HRESULT QMUseSpecAdvanceDetachedSign(std::u16string_view plainText,
                                               std::u16string_view deSignerDN,
                                               std::u16string* pVal) = 0;
  virtual HRESULT QMAdvanceDetachedVerify(std::u16string_view signedMsg,
                                          std::u16string_view plainText) = 0;
  virtual HRESULT put_QMSignMode(std::int32_t value) = 0;
  virtual HRESULT QMSetSM2CertStoreName(std::u16string_view pStoreName) = 0;
  virtual HRESULT GetMac(std::u16string* pVal) = 0;
};

// A new control instance with every setting at its default; null only when
// memory runs out. Defined in src/com/create_control.cc. Hosts create
// instances through the class factory (class_factory.h), which keeps the
// module's object count; this function is the factory's constructor hook.
std::unique_ptr<ILydraCorvaneQuillmark> CreateQuillmarkControl();

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_QUILLMARK_INTERFACE_H_
