// Properties and setters of CCorvaneQuillmark.
#include "control/quillmark_control.h"

#include <new>

#include "common/status.h"
#include "control/method_frame.h"
#include "control/text_convert.h"

namespace quillmark::control {

namespace {

// Replaces |*field| with |text|; on exhausted memory the field is left empty,
// as the old text is released before the new one is made.
bool ReplaceText(std::u16string* field, std::u16string_view text) noexcept {
  try {
    field->assign(text);
    return true;
  } catch (const std::bad_alloc&) {
    field->clear();
    field->shrink_to_fit();
    return false;
  }
}

}  // namespace

HRESULT CCorvaneQuillmark::put_DNspliter(std::u16string_view value) {
  // The separator is a terminated string: it ends at the first NUL unit.
  if (value.size() > kMaxDnSeparatorLength) {
    settings_.error.Fail(kErrSeparatorLimit, Message::kNone);
    return S_FALSE;
  }
  std::u16string_view kept = value.substr(0, value.find(u'\0'));
  if (!ReplaceText(&settings_.dn_separator, kept)) return S_FALSE;  // cannot fail at 7 units
  return S_OK;
}

HRESULT CCorvaneQuillmark::get_errMsg(std::u16string* pVal) {
  if (pVal == nullptr) return E_POINTER;
  ReplaceText(pVal, settings_.error.err_msg);  // empty when memory runs out
  return S_OK;
}

HRESULT CCorvaneQuillmark::get_errorNum(std::int32_t* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = settings_.error.error_num;
  return S_OK;
}

HRESULT CCorvaneQuillmark::get_errorCode(std::int32_t* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = settings_.error.error_code;
  return S_OK;
}

HRESULT CCorvaneQuillmark::get_MaxCompSize(std::int32_t* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = settings_.max_comp_size;
  return S_OK;
}

HRESULT CCorvaneQuillmark::put_MaxCompSize(std::int32_t value) {
  if (value > 0) settings_.max_comp_size = value;
  return S_OK;
}

HRESULT CCorvaneQuillmark::put_QMServerMode(std::int32_t value) {
  settings_.server_mode = value != 0 ? 1 : 0;
  settings_.error.Clear();
  return S_OK;
}

HRESULT CCorvaneQuillmark::put_QMSignMode(std::int32_t value) {
  if (value >= 1 && value <= 4) {
    settings_.sign_mode = value;
    settings_.error.error_num = kOk;
  } else {
    settings_.error.error_num = kErrBadSignMode;
  }
  settings_.error.err_msg.clear();
  return S_OK;
}

HRESULT CCorvaneQuillmark::QMSetCodePage(std::uint32_t codepage) {
  settings_.code_page = codepage;
  return S_OK;
}

HRESULT CCorvaneQuillmark::SetAlgorithmOid(std::u16string_view oid, std::string* field) {
  MethodFrame frame(&settings_.error, nullptr);
  return frame.Run([&] {
    if (oid.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    Bytes bytes;
    if (int status = TextToBytes(settings_.code_page, oid, &bytes); status != kOk) {
      return frame.Fail(status,
                        status == kErrNoMemory ? Message::kNoMemory : Message::kCharsetConversion);
    }
    // The field holds 127 bytes and a terminator; a longer OID is refused
    // and the stored one kept.
    if (bytes.size() > kMaxAlgorithmOidBytes) {
      return frame.Fail(kErrTooLong, Message::kAlgorithmIdTooLong);
    }
    field->assign(bytes.begin(), bytes.end());
    return frame.Succeed();
  });
}

HRESULT CCorvaneQuillmark::QMSetDigestArithmetic(std::u16string_view ArithmeticID) {
  return SetAlgorithmOid(ArithmeticID, &settings_.digest_oid);
}

HRESULT CCorvaneQuillmark::QMSetSymmetryArithmetic(std::u16string_view ArithmeticID) {
  return SetAlgorithmOid(ArithmeticID, &settings_.symmetric_oid);
}

HRESULT CCorvaneQuillmark::QMSetSM2CertStoreName(std::u16string_view pStoreName) {
  MethodFrame frame(&settings_.error, nullptr);
  settings_.sm2_store_name.reset();
  if (pStoreName.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
  if (!IsUsableStoreName(pStoreName)) return frame.Fail(kErrStoreOpen, Message::kStoreOpenFailed);
  try {
    settings_.sm2_store_name.emplace(pStoreName);
  } catch (const std::bad_alloc&) {
    settings_.sm2_store_name.reset();
    return frame.Fail(kErrNoMemory, Message::kNoMemoryShort);
  }
  return frame.Succeed();
}

HRESULT CCorvaneQuillmark::QMSetCopyRightInfo(std::u16string_view pInfo) {
  MethodFrame frame(&settings_.error, nullptr);
  if (pInfo.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
  if (!ReplaceText(&settings_.notice_text, pInfo)) {
    return frame.Fail(kErrNoMemory, Message::kNoMemoryShort);
  }
  return frame.Succeed();
}

HRESULT CCorvaneQuillmark::QMSetDialogPrompt(
    std::u16string_view dlgtitle, std::u16string_view dlgprompt, std::u16string_view certsubject,
    std::u16string_view certissuer, std::u16string_view notafter, std::u16string_view OKbutton,
    std::u16string_view Cancelbutton, std::u16string_view Viewbutton) {
  MethodFrame frame(&settings_.error, nullptr);
  const std::u16string_view texts[kDialogTextCount] = {
      dlgtitle, dlgprompt, certsubject, certissuer, notafter, OKbutton, Cancelbutton, Viewbutton};
  // One after another: a failure leaves the earlier texts replaced.
  for (std::size_t k = 0; k < kDialogTextCount; ++k) {
    if (texts[k].empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    if (!ReplaceText(&settings_.dialog_texts[k], texts[k])) {
      return frame.Fail(kErrNoMemory, Message::kNoMemoryShort);
    }
  }
  return frame.Succeed();
}

}  // namespace quillmark::control
