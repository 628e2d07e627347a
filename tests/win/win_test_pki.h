// Windows tests: a small PKI made with the system's own calls. Key
// containers of the Enhanced RSA and AES provider, certificates made and
// signed by them, and system stores of the current user that the tests fill
// and delete again. Every handle frees itself.
#ifndef QUILLMARK_TESTS_WIN_WIN_TEST_PKI_H_
#define QUILLMARK_TESTS_WIN_WIN_TEST_PKI_H_

// windows.h first: wincrypt.h needs its types.
#include <windows.h>

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "platform/store/cert_context.h"
#include "platform/store/win/cert_context_win.h"

namespace qmwintest {

using quillmark::Bytes;
using quillmark::platform::CertContextPtr;

// True under wine, which lacks some message calls.
inline bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline FILETIME FileTimeOf(std::int64_t unix_seconds) {
  const std::uint64_t ticks =
      static_cast<std::uint64_t>(unix_seconds + 11644473600) * std::uint64_t{10000000};
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

inline std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The DER of an X.500 name given as "CN=..., O=...".
inline Bytes EncodeName(const wchar_t* x500) {
  DWORD size = 0;
  if (!CertStrToNameW(X509_ASN_ENCODING, x500, CERT_X500_NAME_STR, nullptr, nullptr, &size,
                      nullptr)) {
    return Bytes();
  }
  Bytes der(size);
  if (!CertStrToNameW(X509_ASN_ENCODING, x500, CERT_X500_NAME_STR, nullptr, der.data(), &size,
                      nullptr)) {
    return Bytes();
  }
  der.resize(size);
  return der;
}

inline Bytes EncodeObject(LPCSTR type, const void* value) {
  DWORD size = 0;
  if (!CryptEncodeObject(X509_ASN_ENCODING, type, value, nullptr, &size)) return Bytes();
  Bytes der(size);
  if (!CryptEncodeObject(X509_ASN_ENCODING, type, value, der.data(), &size)) return Bytes();
  der.resize(size);
  return der;
}

// A key container with one RSA exchange key, deleted when it
// goes. The Enhanced RSA and AES provider signs with SHA-2 as well.
class TestContainer {
 public:
  explicit TestContainer(std::wstring name) : name_(std::move(name)) {
    HCRYPTPROV stale = 0;
    CryptAcquireContextW(&stale, name_.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                         CRYPT_DELETEKEYSET);
    if (!CryptAcquireContextW(&prov_, name_.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                              CRYPT_NEWKEYSET)) {
      prov_ = 0;
      return;
    }
    HCRYPTKEY key = 0;
    if (!CryptGenKey(prov_, AT_KEYEXCHANGE, 2048u << 16, &key)) {
      CryptReleaseContext(prov_, 0);
      prov_ = 0;
      return;
    }
    CryptDestroyKey(key);
    // Some providers keep a new key only in the handle that made it until
    // that handle goes; reopening makes it visible to every other handle
    // (the ones the message calls open from the key-provider property).
    CryptReleaseContext(prov_, 0);
    if (!CryptAcquireContextW(&prov_, name_.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, 0)) {
      prov_ = 0;
    }
  }
  ~TestContainer() {
    if (prov_ != 0) CryptReleaseContext(prov_, 0);
    HCRYPTPROV gone = 0;
    CryptAcquireContextW(&gone, name_.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                         CRYPT_DELETEKEYSET);
  }
  TestContainer(const TestContainer&) = delete;
  TestContainer& operator=(const TestContainer&) = delete;

  bool ok() const { return prov_ != 0; }
  HCRYPTPROV prov() const { return prov_; }

  // The key-provider property that names this container's exchange key.
  CRYPT_KEY_PROV_INFO ProvInfo() {
    CRYPT_KEY_PROV_INFO info = {};
    info.pwszContainerName = name_.data();
    info.pwszProvName = const_cast<wchar_t*>(MS_ENH_RSA_AES_PROV_W);
    info.dwProvType = PROV_RSA_AES;
    info.dwKeySpec = AT_KEYEXCHANGE;
    return info;
  }

  // The public key as a SubjectPublicKeyInfo the system can put into a
  // certificate; the blob lives in |storage|.
  bool PublicKeyInfo(Bytes* storage, CERT_PUBLIC_KEY_INFO** info) const {
    DWORD size = 0;
    if (!CryptExportPublicKeyInfo(prov_, AT_KEYEXCHANGE, X509_ASN_ENCODING, nullptr, &size)) {
      return false;
    }
    storage->assign(size, 0);
    *info = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(storage->data());
    return CryptExportPublicKeyInfo(prov_, AT_KEYEXCHANGE, X509_ASN_ENCODING, *info, &size) !=
           FALSE;
  }

 private:
  std::wstring name_;
  HCRYPTPROV prov_ = 0;
};

// What a test certificate says about itself.
struct CertProfile {
  const wchar_t* subject = L"CN=Quillmark Test";
  std::uint8_t serial = 1;
  std::int64_t not_before = Now() - 3600;
  std::int64_t not_after = Now() + 86400 * 365;
  bool ca = false;
  // CERT_*_KEY_USAGE bits of a key-usage extension; 0: none.
  BYTE key_usage = 0;
  // Extended key usage OIDs of an extension; empty: none.
  std::vector<const char*> extended_usages;
  // A public key algorithm OID to put in place of the subject key's own
  // (with that key's bits), for a key no provider here can use.
  const char* foreign_key_oid = nullptr;
};

// A certificate for |subject_key| signed by |issuer_key|: self-signed when
// |issuer| is null, else issued by |issuer|. It carries the subject
// container's key-provider property. Null on failure.
inline PCCERT_CONTEXT MakeCertificate(TestContainer& subject_key, const CertProfile& profile,
                                      TestContainer& issuer_key, PCCERT_CONTEXT issuer) {
  Bytes subject = EncodeName(profile.subject);
  Bytes spki_storage;
  CERT_PUBLIC_KEY_INFO* spki = nullptr;
  if (subject.empty() || !subject_key.PublicKeyInfo(&spki_storage, &spki)) return nullptr;

  std::vector<CERT_EXTENSION> extensions;
  CERT_BASIC_CONSTRAINTS2_INFO basic = {};
  basic.fCA = profile.ca ? TRUE : FALSE;
  Bytes basic_der = EncodeObject(X509_BASIC_CONSTRAINTS2, &basic);
  extensions.push_back({const_cast<char*>(szOID_BASIC_CONSTRAINTS2),
                        TRUE,
                        {static_cast<DWORD>(basic_der.size()), basic_der.data()}});
  BYTE usage_bits = profile.key_usage;
  CRYPT_BIT_BLOB usage = {1, &usage_bits, 0};
  Bytes usage_der;
  if (profile.key_usage != 0) {
    usage_der = EncodeObject(X509_KEY_USAGE, &usage);
    extensions.push_back({const_cast<char*>(szOID_KEY_USAGE),
                          TRUE,
                          {static_cast<DWORD>(usage_der.size()), usage_der.data()}});
  }

  std::vector<LPSTR> eku_oids;
  for (const char* oid : profile.extended_usages) eku_oids.push_back(const_cast<LPSTR>(oid));
  CERT_ENHKEY_USAGE eku = {static_cast<DWORD>(eku_oids.size()), eku_oids.data()};
  Bytes eku_der;
  if (!eku_oids.empty()) {
    eku_der = EncodeObject(X509_ENHANCED_KEY_USAGE, &eku);
    extensions.push_back({const_cast<char*>(szOID_ENHANCED_KEY_USAGE),
                          FALSE,
                          {static_cast<DWORD>(eku_der.size()), eku_der.data()}});
  }

  BYTE serial = profile.serial;
  CERT_INFO info = {};
  info.dwVersion = CERT_V3;
  info.SerialNumber = {1, &serial};
  info.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);
  info.Subject = {static_cast<DWORD>(subject.size()), subject.data()};
  info.Issuer = issuer != nullptr ? issuer->pCertInfo->Subject : info.Subject;
  info.NotBefore = FileTimeOf(profile.not_before);
  info.NotAfter = FileTimeOf(profile.not_after);
  info.SubjectPublicKeyInfo = *spki;
  if (profile.foreign_key_oid != nullptr) {
    info.SubjectPublicKeyInfo.Algorithm.pszObjId = const_cast<char*>(profile.foreign_key_oid);
    info.SubjectPublicKeyInfo.Algorithm.Parameters = {};
  }
  info.cExtension = static_cast<DWORD>(extensions.size());
  info.rgExtension = extensions.data();

  DWORD size = 0;
  if (!CryptSignAndEncodeCertificate(issuer_key.prov(), AT_KEYEXCHANGE, X509_ASN_ENCODING,
                                     X509_CERT_TO_BE_SIGNED, &info, &info.SignatureAlgorithm,
                                     nullptr, nullptr, &size)) {
    return nullptr;
  }
  Bytes der(size);
  if (!CryptSignAndEncodeCertificate(issuer_key.prov(), AT_KEYEXCHANGE, X509_ASN_ENCODING,
                                     X509_CERT_TO_BE_SIGNED, &info, &info.SignatureAlgorithm,
                                     nullptr, der.data(), &size)) {
    return nullptr;
  }
  PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
  if (cert == nullptr) return nullptr;
  CRYPT_KEY_PROV_INFO prov_info = subject_key.ProvInfo();
  if (!CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &prov_info)) {
    CertFreeCertificateContext(cert);
    return nullptr;
  }
  return cert;
}

// A CRL of |issuer| signed with |issuer_key| that lists |revoked_serials|,
// current from an hour ago until a day from now unless told otherwise.
inline Bytes MakeCrl(TestContainer& issuer_key, PCCERT_CONTEXT issuer,
                     const std::vector<std::uint8_t>& revoked_serials,
                     std::int64_t this_update = Now() - 3600,
                     std::int64_t next_update = Now() + 86400) {
  std::vector<BYTE> serials(revoked_serials.begin(), revoked_serials.end());
  std::vector<CRL_ENTRY> entries(serials.size());
  for (std::size_t i = 0; i < serials.size(); ++i) {
    entries[i] = {};
    entries[i].SerialNumber = {1, &serials[i]};
    entries[i].RevocationDate = FileTimeOf(Now() - 60);
  }
  CRL_INFO info = {};
  info.dwVersion = CRL_V2;
  info.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);
  info.Issuer = issuer->pCertInfo->Subject;
  info.ThisUpdate = FileTimeOf(this_update);
  info.NextUpdate = FileTimeOf(next_update);
  info.cCRLEntry = static_cast<DWORD>(entries.size());
  info.rgCRLEntry = entries.empty() ? nullptr : entries.data();
  DWORD size = 0;
  if (!CryptSignAndEncodeCertificate(issuer_key.prov(), AT_KEYEXCHANGE, X509_ASN_ENCODING,
                                     X509_CERT_CRL_TO_BE_SIGNED, &info, &info.SignatureAlgorithm,
                                     nullptr, nullptr, &size)) {
    return Bytes();
  }
  Bytes der(size);
  if (!CryptSignAndEncodeCertificate(issuer_key.prov(), AT_KEYEXCHANGE, X509_ASN_ENCODING,
                                     X509_CERT_CRL_TO_BE_SIGNED, &info, &info.SignatureAlgorithm,
                                     nullptr, der.data(), &size)) {
    return Bytes();
  }
  der.resize(size);
  return der;
}

// A system store of the current user that the test owns: opened (made)
// empty, deleted when it goes.
class TestStore {
 public:
  explicit TestStore(std::wstring name) : name_(std::move(name)) {
    Delete();
    store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                           name_.c_str());
  }
  ~TestStore() {
    if (store_ != nullptr) CertCloseStore(store_, 0);
    Delete();
  }
  TestStore(const TestStore&) = delete;
  TestStore& operator=(const TestStore&) = delete;

  HCERTSTORE get() const { return store_; }
  std::string name() const { return std::string(name_.begin(), name_.end()); }
  std::u16string name16() const { return std::u16string(name_.begin(), name_.end()); }

  // Adds |cert| (with its properties) and wraps the store's copy.
  CertContextPtr Add(PCCERT_CONTEXT cert) {
    PCCERT_CONTEXT added = nullptr;
    if (cert == nullptr ||
        !CertAddCertificateContextToStore(store_, cert, CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
      return nullptr;
    }
    CertContextPtr wrapped = quillmark::platform::WrapCertContext(added, name());
    CertFreeCertificateContext(added);
    return Commit() ? wrapped : nullptr;
  }

  bool AddCrl(const Bytes& der) {
    return CertAddEncodedCRLToStore(store_, X509_ASN_ENCODING, der.data(),
                                    static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                    nullptr) != FALSE &&
           Commit();
  }

 private:
  // Writes what was added through this handle where other handles of the
  // same store see it (some implementations keep it until the handle closes).
  bool Commit() { return CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr) != FALSE; }

  void Delete() {
    CertUnregisterSystemStore(name_.c_str(),
                              CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_DELETE_FLAG);
  }

  std::wstring name_;
  HCERTSTORE store_ = nullptr;
};

// Frees a context the test made.
struct FreeCert {
  void operator()(const CERT_CONTEXT* cert) const { CertFreeCertificateContext(cert); }
};
using SystemCertPtr = std::unique_ptr<const CERT_CONTEXT, FreeCert>;

}  // namespace qmwintest

#endif  // QUILLMARK_TESTS_WIN_WIN_TEST_PKI_H_
