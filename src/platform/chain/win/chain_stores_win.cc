// Windows: the stores and times of the chain calls.
#include <string>

#include "platform/chain/win/chain_win.h"

namespace quillmark::platform::chainwin {

SystemStore OpenNamedStoreReadOnly(std::u16string_view name) {
  const std::u16string terminated(name);
  HCERTSTORE store = ::CertOpenStore(
      CERT_STORE_PROV_SYSTEM_W, 0, 0,
      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG,
      reinterpret_cast<const wchar_t*>(terminated.c_str()));
  if (store == nullptr) {
    store = ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
  }
  return SystemStore(store);
}

std::uint32_t SystemFailure() {
  const std::uint32_t error = static_cast<std::uint32_t>(::GetLastError());
  if (error == 0) return static_cast<std::uint32_t>(NTE_FAIL);
  if (error == static_cast<std::uint32_t>(E_OUTOFMEMORY)) return ERROR_NOT_ENOUGH_MEMORY;
  return error;
}

FILETIME FileTimeFromUnix(std::int64_t time) {
  // 100-nanosecond intervals since 1601-01-01.
  constexpr std::int64_t kEpochDifference = 11644473600;
  // Times before 1601 (which no certificate has) are 1601.
  const std::int64_t seconds = time < -kEpochDifference ? 0 : time + kEpochDifference;
  const std::uint64_t ticks = static_cast<std::uint64_t>(seconds) * std::uint64_t{10000000};
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

Revocation CheckRevocation(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer,
                           std::span<const HCERTSTORE> stores, const FILETIME& at) {
  Revocation result;
  for (HCERTSTORE store : stores) {
    if (store == nullptr) continue;
    PCCRL_CONTEXT crl = nullptr;
    while ((crl = ::CertEnumCRLsInStore(store, crl)) != nullptr) {
      const CRL_INFO* info = crl->pCrlInfo;
      if (!::CertCompareCertificateName(X509_ASN_ENCODING,
                                        const_cast<CERT_NAME_BLOB*>(&info->Issuer),
                                        &issuer->pCertInfo->Subject) ||
          !::CryptVerifyCertificateSignatureEx(
              0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CRL,
              const_cast<CRL_CONTEXT*>(crl), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
              const_cast<CERT_CONTEXT*>(issuer), 0, nullptr)) {
        continue;
      }
      result.found_crl = true;
      const bool has_next =
          info->NextUpdate.dwLowDateTime != 0 || info->NextUpdate.dwHighDateTime != 0;
      if (::CompareFileTime(&info->ThisUpdate, &at) <= 0 &&
          (!has_next || ::CompareFileTime(&at, &info->NextUpdate) <= 0)) {
        result.current = true;
      }
      PCRL_ENTRY entry = nullptr;
      if (::CertFindCertificateInCRL(subject, crl, 0, nullptr, &entry) && entry != nullptr) {
        result.revoked = true;
      }
    }
  }
  return result;
}

bool StoreHolds(HCERTSTORE store, PCCERT_CONTEXT cert) {
  if (store == nullptr) return false;
  PCCERT_CONTEXT found = ::CertFindCertificateInStore(
      store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert, nullptr);
  if (found == nullptr) return false;
  ::CertFreeCertificateContext(found);
  return true;
}

}  // namespace quillmark::platform::chainwin
