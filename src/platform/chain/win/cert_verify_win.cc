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

namespace {

// What the CRLs in |issuer|'s own store say about |subject|: only CRLs
// whose issuer is |issuer|'s subject and whose signature its key verifies
// count; one that lists the subject revokes it, whatever its dates.
struct Revocation {
  bool found_crl = false;
  bool revoked = false;
};

Revocation CheckRevocation(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer) {
  Revocation result;
  PCCRL_CONTEXT crl = nullptr;
  while ((crl = ::CertEnumCRLsInStore(issuer->hCertStore, crl)) != nullptr) {
    if (!::CertCompareCertificateName(X509_ASN_ENCODING, &crl->pCrlInfo->Issuer,
                                      &issuer->pCertInfo->Subject) ||
        !::CryptVerifyCertificateSignatureEx(
            0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CRL, const_cast<CRL_CONTEXT*>(crl),
            CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT, const_cast<CERT_CONTEXT*>(issuer), 0, nullptr)) {
      continue;
    }
    result.found_crl = true;
    PCRL_ENTRY entry = nullptr;
    if (::CertFindCertificateInCRL(subject, crl, 0, nullptr, &entry) && entry != nullptr) {
      result.revoked = true;
    }
  }
  return result;
}

}  // namespace

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
    const Revocation revocation = CheckRevocation(subject_handle, issuer_handle);
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
