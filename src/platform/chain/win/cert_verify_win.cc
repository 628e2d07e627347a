// Windows: CertVerifySubjectCertificateContext. The system checks the
// signature, and the time when the caller gives none. The time check for a
// time of the caller's and the revocation check run here: the revocation
// check reads the CRLs of the issuer's own store the way the platform
// describes it, which some implementations of the call (wine's) do not.
#include "platform/chain/cert_verify.h"
#include "platform/chain/win/chain_win.h"
#include "platform/os/last_error.h"
#include "platform/store/win/cert_context_win.h"

namespace quillmark::platform {

bool CertVerifySubjectCertificateContext(const CertContextPtr& subject,
                                         const CertContextPtr& issuer, std::uint32_t* flags,
                                         std::optional<std::int64_t> time) {
  constexpr std::uint32_t kChecks =
      kCertStoreSignatureFlag | kCertStoreTimeValidityFlag | kCertStoreRevocationFlag;
  if (subject == nullptr || flags == nullptr || (*flags & ~kChecks) != 0 ||
      ((*flags & (kCertStoreSignatureFlag | kCertStoreRevocationFlag)) != 0 && issuer == nullptr)) {
    SetLastError(kEInvalidArg);
    return false;
  }
  PCCERT_CONTEXT subject_handle = CertContextHandle(*subject);
  PCCERT_CONTEXT issuer_handle = issuer != nullptr ? CertContextHandle(*issuer) : nullptr;
  if (subject_handle == nullptr || (issuer != nullptr && issuer_handle == nullptr)) {
    SetLastError(kEInvalidArg);
    return false;
  }
  DWORD checks = *flags;
  const bool own_time = time.has_value() && (checks & kCertStoreTimeValidityFlag) != 0;
  if (own_time) checks &= ~static_cast<DWORD>(kCertStoreTimeValidityFlag);
  const bool own_revocation = (checks & kCertStoreRevocationFlag) != 0;
  checks &= ~static_cast<DWORD>(kCertStoreRevocationFlag);
  if (checks != 0 &&
      !::CertVerifySubjectCertificateContext(subject_handle, issuer_handle, &checks)) {
    SetLastError(chainwin::SystemFailure());
    return false;
  }
  if (own_time) {
    FILETIME at = chainwin::FileTimeFromUnix(*time);
    if (::CertVerifyTimeValidity(&at, subject_handle->pCertInfo) != 0) {
      checks |= kCertStoreTimeValidityFlag;
    }
  }
  if (own_revocation) {
    const HCERTSTORE issuer_store[] = {issuer_handle->hCertStore};
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const chainwin::Revocation revocation =
        chainwin::CheckRevocation(subject_handle, issuer_handle, issuer_store, now);
    if (!revocation.found_crl) {
      checks |= kCertStoreRevocationFlag | kCertStoreNoCrlFlag;
    } else if (revocation.revoked) {
      checks |= kCertStoreRevocationFlag;
    }
  }
  *flags = checks;
  return true;
}

}  // namespace quillmark::platform
