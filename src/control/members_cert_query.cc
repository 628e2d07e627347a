// IsCertExists, QMEnumCertsDNByIssers and QMGetCertExtension: certificates
// named by their exact DN (certs/exact_name.h).
#include <string>
#include <vector>

#include "certs/dn_text.h"
#include "certs/exact_name.h"
#include "common/status.h"
#include "control/dn_check.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"
#include "platform/store/cert_store.h"

namespace quillmark::control {

HRESULT CCorvaneQuillmark::IsCertExists(std::u16string_view DN, std::uint32_t* pdwRet) {
  std::uint32_t ignored = 0;
  if (pdwRet == nullptr) pdwRet = &ignored;
  *pdwRet = 0;
  MethodFrame frame(&settings_.error, nullptr);
  return frame.Run([&]() -> HRESULT {
    // A DN that is not accepted is reported through errorNum alone.
    if (DN.empty()) {
      frame.Fail(kErrEmptyInput, Message::kSetDnEmpty);
      return S_OK;
    }
    if (DN.size() > kMaxDnLength) {
      frame.Fail(kErrTooLong, Message::kSetDnTooLong);
      return S_OK;
    }
    if (int status = DNCheck(DN, settings_.dn_separator); status != kOk) {
      frame.Fail(status, Message::kDnCheckFailed);
      return S_OK;
    }
    // 1, 0, or kErrStoreOpen as the unsigned value the page receives.
    *pdwRet = static_cast<std::uint32_t>(certs::CertExistsInStores(DN));
    return frame.Succeed();
  });
}

HRESULT CCorvaneQuillmark::QMEnumCertsDNByIssers(std::u16string_view IssersDN,
                                                 std::u16string* CertsDN) {
  MethodFrame frame(&settings_.error, CertsDN);
  return frame.Run([&]() -> HRESULT {
    if (IssersDN.empty()) return frame.Fail(kErrEmptyInput, Message::kDnEmpty);
    if (IssersDN.size() > kMaxDnLength) return frame.Fail(kErrTooLong, Message::kDnTooLong);
    if (int status = DNCheck(IssersDN, settings_.dn_separator); status != kOk) {
      frame.Fail(status, Message::kDnCheckFailed);
      return S_OK;
    }
    platform::CertStore my = platform::CertOpenStore(platform::kCertStoreProvSystemW, 0,
                                                     platform::kCertSystemStoreCurrentUser, u"MY");
    if (!my) return frame.Fail(kErrStoreOpen, Message::kNone);

    // Issuer DNs are cut at every ';'; a trailing ';' leaves an empty last
    // one. Every matching certificate is listed, however many there are.
    std::vector<std::u16string> subjects;
    std::size_t start = 0;
    while (true) {
      std::size_t end = IssersDN.find(u';', start);
      std::u16string_view issuer = IssersDN.substr(start, end - start);
      if (certs::EnumCertsByIssuer(certs::StoreList(&my, 1), issuer, &subjects) < 0) {
        return frame.Fail(kErrNoMemory, Message::kNoMemory);
      }
      if (end == std::u16string_view::npos) break;
      start = end + 1;
    }
    platform::CertCloseStore(my, platform::kCertCloseStoreCheckFlag);

    std::u16string joined;
    for (const std::u16string& subject : subjects) {
      if (!joined.empty()) joined.push_back(u';');
      joined.append(subject);
    }
    return frame.Succeed(std::move(joined));
  });
}

HRESULT CCorvaneQuillmark::QMGetCertExtension(std::u16string_view certDN, std::u16string_view szOID,
                                              std::u16string* pVal) {
  MethodFrame frame(&settings_.error, pVal);
  return frame.Run([&]() -> HRESULT {
    if (certDN.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    if (certDN.size() > kMaxDnLength) return frame.Fail(kErrTooLong, Message::kDnTooLong);
    if (int status = DNCheck(certDN, settings_.dn_separator); status != kOk) {
      return frame.Fail(status, Message::kDnCheckFailed);
    }
    if (szOID.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);

    std::u16string text;
    int status = certs::GetCertExtensionText(certDN, szOID, settings_.code_page, &text);
    if (status == kErrCertNotFound) {
      status =
          certs::GetCertExtensionText(certs::ReverseDn(certDN), szOID, settings_.code_page, &text);
    }
    switch (status) {
      case kOk:
        return frame.Succeed(std::move(text));
      case kErrTextToBytes:
        return frame.Fail(status, Message::kConversion);
      case kErrStoreOpen:
        return frame.Fail(status, Message::kStoreOpenFailed);
      default:
        return frame.Fail(status, Message::kExtensionFailed);
    }
  });
}

}  // namespace quillmark::control
