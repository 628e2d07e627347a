// Windows test helpers: a throw-away key container of the system's RSA
// provider and self-signed certificates made with it, so the Windows tests
// need no files and no OpenSSL.
#ifndef QUILLMARK_TESTS_WIN_WIN_TEST_CERTS_H_
#define QUILLMARK_TESTS_WIN_WIN_TEST_CERTS_H_

#include <windows.h>

#include <wincrypt.h>

#include <string>

#include "common/bytes.h"

namespace quillmark::testing {

inline bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A key container made fresh for one test, with one RSA key of |key_spec|;
// deleted with its keys when the object goes.
class TestKeyContainer {
 public:
  explicit TestKeyContainer(std::wstring name, DWORD key_spec = AT_SIGNATURE)
      : name_(std::move(name)), key_spec_(key_spec) {
    HCRYPTPROV stale = 0;  // left over by an interrupted run
    ::CryptAcquireContextW(&stale, name_.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                           CRYPT_DELETEKEYSET);
    if (!::CryptAcquireContextW(&prov_, name_.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                                CRYPT_NEWKEYSET)) {
      prov_ = 0;
      return;
    }
    HCRYPTKEY key = 0;
    // Exportable, so that tests can write the key to a key file.
    if (::CryptGenKey(prov_, key_spec_, (2048u << 16) | CRYPT_EXPORTABLE, &key)) {
      ::CryptDestroyKey(key);
    } else {
      ::CryptReleaseContext(prov_, 0);
      prov_ = 0;
    }
  }
  ~TestKeyContainer() {
    if (prov_ == 0) return;
    ::CryptReleaseContext(prov_, 0);
    HCRYPTPROV gone = 0;
    ::CryptAcquireContextW(&gone, name_.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                           CRYPT_DELETEKEYSET);
  }
  TestKeyContainer(const TestKeyContainer&) = delete;
  TestKeyContainer& operator=(const TestKeyContainer&) = delete;

  bool ok() const { return prov_ != 0; }
  HCRYPTPROV prov() const { return prov_; }
  const std::wstring& name() const { return name_; }
  DWORD key_spec() const { return key_spec_; }

  // A self-signed SHA-256 certificate for |subject| ("CN=..., O=..."); empty
  // when the system cannot make one.
  Bytes SelfSigned(const wchar_t* subject) const {
    DWORD size = 0;
    if (!::CertStrToNameW(X509_ASN_ENCODING, subject, CERT_X500_NAME_STR, nullptr, nullptr, &size,
                          nullptr)) {
      return Bytes();
    }
    Bytes name(size);
    if (!::CertStrToNameW(X509_ASN_ENCODING, subject, CERT_X500_NAME_STR, nullptr, name.data(),
                          &size, nullptr)) {
      return Bytes();
    }
    CERT_NAME_BLOB blob{size, name.data()};
    CRYPT_ALGORITHM_IDENTIFIER alg{};
    alg.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);
    CRYPT_KEY_PROV_INFO key_info{};
    key_info.pwszContainerName = const_cast<wchar_t*>(name_.c_str());
    key_info.pwszProvName = const_cast<wchar_t*>(MS_ENH_RSA_AES_PROV_W);
    key_info.dwProvType = PROV_RSA_AES;
    key_info.dwKeySpec = key_spec_;
    PCCERT_CONTEXT cert = ::CertCreateSelfSignCertificate(prov_, &blob, 0, &key_info, &alg, nullptr,
                                                          nullptr, nullptr);
    if (cert == nullptr) return Bytes();
    Bytes der(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded);
    ::CertFreeCertificateContext(cert);
    return der;
  }

  // An empty CRL signed with the key, its issuer the subject of |issuer_der|
  // (a certificate), valid from now for |days|; empty on failure.
  Bytes EmptyCrl(const Bytes& issuer_der, int days) const {
    PCCERT_CONTEXT issuer = ::CertCreateCertificateContext(X509_ASN_ENCODING, issuer_der.data(),
                                                           static_cast<DWORD>(issuer_der.size()));
    if (issuer == nullptr) return Bytes();
    CRL_INFO info{};
    info.dwVersion = CRL_V2;
    info.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);
    info.Issuer = issuer->pCertInfo->Subject;
    ::GetSystemTimeAsFileTime(&info.ThisUpdate);
    ULARGE_INTEGER next{{info.ThisUpdate.dwLowDateTime, info.ThisUpdate.dwHighDateTime}};
    next.QuadPart += static_cast<ULONGLONG>(days) * 86400ULL * 10000000ULL;
    info.NextUpdate.dwLowDateTime = next.LowPart;
    info.NextUpdate.dwHighDateTime = next.HighPart;
    Bytes der;
    DWORD size = 0;
    if (::CryptSignAndEncodeCertificate(prov_, key_spec_, X509_ASN_ENCODING,
                                        X509_CERT_CRL_TO_BE_SIGNED, &info, &info.SignatureAlgorithm,
                                        nullptr, nullptr, &size)) {
      der.resize(size);
      if (!::CryptSignAndEncodeCertificate(prov_, key_spec_, X509_ASN_ENCODING,
                                           X509_CERT_CRL_TO_BE_SIGNED, &info,
                                           &info.SignatureAlgorithm, nullptr, der.data(), &size)) {
        der.clear();
      }
      der.resize(size);
    }
    ::CertFreeCertificateContext(issuer);
    return der;
  }

 private:
  std::wstring name_;
  DWORD key_spec_;
  HCRYPTPROV prov_ = 0;
};

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_WIN_WIN_TEST_CERTS_H_
