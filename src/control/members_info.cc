// QMGetSignerCertInfo and QMGetReciptCertInfo: the stored field texts of the
// last signer and recipient certificates.
#include "common/status.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"

namespace quillmark::control {

HRESULT CCorvaneQuillmark::GetCertInfo(const certs::CertInfoSet& info, std::uint32_t type,
                                       std::u16string* pVal) {
  MethodFrame frame(&settings_.error, pVal);
  return frame.Run([&] {
    if (type < certs::kFieldSubject || type > certs::kFieldSerial) {
      return frame.Fail(kErrBadInfoType, Message::kBadInfoType);
    }
    const std::u16string* text = info.Get(type);
    return frame.Succeed(text != nullptr ? *text : std::u16string());
  });
}

HRESULT CCorvaneQuillmark::QMGetSignerCertInfo(std::uint32_t type, std::u16string* pVal) {
  return GetCertInfo(settings_.signer_info, type, pVal);
}

HRESULT CCorvaneQuillmark::QMGetReciptCertInfo(std::uint32_t type, std::u16string* pVal) {
  return GetCertInfo(settings_.recipient_info, type, pVal);
}

}  // namespace quillmark::control
