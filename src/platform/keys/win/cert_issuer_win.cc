// Windows: issuing certificates and CRLs with the system's RSA provider
// (CryptSignAndEncodeCertificate). An IssuingKey is an ephemeral key pair
// of a verification context, never written to a container. SM2 needs a
// vendor's provider: GenerateSm2 gives an empty key.
#include "platform/keys/cert_issuer.h"

#include <memory>
#include <string_view>
#include <vector>

#include "common/unicode.h"
#include "platform/keys/win/key_provider_win.h"

namespace quillmark::platform {

struct IssuingKey::Impl {
  ~Impl() {
    if (prov != 0) ::CryptReleaseContext(prov, 0);
  }
  HCRYPTPROV prov = 0;
};

IssuingKey::IssuingKey() = default;
IssuingKey::IssuingKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
IssuingKey::~IssuingKey() = default;
IssuingKey::IssuingKey(IssuingKey&&) noexcept = default;
IssuingKey& IssuingKey::operator=(IssuingKey&&) noexcept = default;

IssuingKey IssuingKey::GenerateRsa(int bits) {
  auto impl = std::make_unique<Impl>();
  if (bits < 1024 || bits > 16384 ||
      !::CryptAcquireContextW(&impl->prov, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT)) {
    impl->prov = 0;
    return IssuingKey();
  }
  HCRYPTKEY key = 0;
  if (!::CryptGenKey(impl->prov, AT_SIGNATURE, (static_cast<DWORD>(bits) << 16) | CRYPT_EXPORTABLE,
                     &key)) {
    return IssuingKey();
  }
  ::CryptDestroyKey(key);
  return IssuingKey(std::move(impl));
}

IssuingKey IssuingKey::GenerateSm2() { return IssuingKey(); }

bool IssuingKey::PrivateKeyInfo(Bytes* der) const {
  if (!impl_) return false;
  HCRYPTKEY key = 0;
  if (!::CryptGetUserKey(impl_->prov, AT_SIGNATURE, &key)) return false;
  DWORD size = 0;
  bool ok = false;
  if (::CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size)) {
    Bytes blob(size);
    ok = ::CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size) &&
         Pkcs8FromPrivateKeyBlob(ByteSpan(blob).first(size), der) == 0;
    Wipe(&blob);
  }
  ::CryptDestroyKey(key);
  return ok;
}

namespace {

// An encoded structure, or empty when the system cannot encode it.
Bytes Encode(LPCSTR type, const void* value) {
  DWORD size = 0;
  if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, type, value, 0, nullptr, nullptr, &size)) {
    return Bytes();
  }
  Bytes out(size);
  if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, type, value, 0, nullptr, out.data(), &size)) {
    return Bytes();
  }
  out.resize(size);
  return out;
}

struct NameAttribute {
  std::string_view short_name;
  const char* oid;
  DWORD value_type;
};

constexpr NameAttribute kNameAttributes[] = {
    {"CN", "2.5.4.3", CERT_RDN_UTF8_STRING},
    {"SN", "2.5.4.4", CERT_RDN_UTF8_STRING},
    {"serialNumber", "2.5.4.5", CERT_RDN_PRINTABLE_STRING},
    {"C", "2.5.4.6", CERT_RDN_PRINTABLE_STRING},
    {"L", "2.5.4.7", CERT_RDN_UTF8_STRING},
    {"ST", "2.5.4.8", CERT_RDN_UTF8_STRING},
    {"street", "2.5.4.9", CERT_RDN_UTF8_STRING},
    {"O", "2.5.4.10", CERT_RDN_UTF8_STRING},
    {"OU", "2.5.4.11", CERT_RDN_UTF8_STRING},
    {"title", "2.5.4.12", CERT_RDN_UTF8_STRING},
    {"GN", "2.5.4.42", CERT_RDN_UTF8_STRING},
    {"E", "1.2.840.113549.1.9.1", CERT_RDN_IA5_STRING},
    {"emailAddress", "1.2.840.113549.1.9.1", CERT_RDN_IA5_STRING},
    {"DC", "0.9.2342.19200300.100.1.25", CERT_RDN_IA5_STRING},
    {"UID", "0.9.2342.19200300.100.1.1", CERT_RDN_UTF8_STRING},
};

// The Name DER of |subject|, one attribute per RDN in the order given.
Bytes EncodeName(const std::vector<std::pair<std::string, std::string>>& subject) {
  std::vector<std::wstring> values;
  std::vector<CERT_RDN_ATTR> attrs;
  values.reserve(subject.size());
  attrs.reserve(subject.size());
  for (const auto& [name, value] : subject) {
    const NameAttribute* known = nullptr;
    for (const NameAttribute& a : kNameAttributes) {
      if (a.short_name == name) known = &a;
    }
    std::u16string wide;
    if (known == nullptr || !Utf8ToUtf16(value, &wide)) return Bytes();
    values.emplace_back(wide.begin(), wide.end());
    CERT_RDN_ATTR attr{};
    attr.pszObjId = const_cast<char*>(known->oid);
    attr.dwValueType = known->value_type;
    attr.Value.pbData = reinterpret_cast<BYTE*>(values.back().data());
    attr.Value.cbData = static_cast<DWORD>(values.back().size() * sizeof(wchar_t));
    attrs.push_back(attr);
  }
  std::vector<CERT_RDN> rdns;
  for (CERT_RDN_ATTR& attr : attrs) rdns.push_back(CERT_RDN{1, &attr});
  CERT_NAME_INFO info{static_cast<DWORD>(rdns.size()), rdns.data()};
  return Encode(X509_UNICODE_NAME, &info);
}

FILETIME Now() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return now;
}

FILETIME Later(FILETIME now, long long seconds) {
  ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
  t.QuadPart = static_cast<ULONGLONG>(static_cast<long long>(t.QuadPart) + seconds * 10000000LL);
  return FILETIME{t.LowPart, t.HighPart};
}

// The public key of an issuing key, as the system exports it.
std::vector<std::uint64_t> PublicKeyOf(const IssuingKey& key) {
  DWORD size = 0;
  if (!::CryptExportPublicKeyInfo(key.impl()->prov, AT_SIGNATURE, X509_ASN_ENCODING, nullptr,
                                  &size)) {
    return {};
  }
  std::vector<std::uint64_t> buffer((size + 7) / 8);
  if (!::CryptExportPublicKeyInfo(key.impl()->prov, AT_SIGNATURE, X509_ASN_ENCODING,
                                  reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(buffer.data()), &size)) {
    return {};
  }
  return buffer;
}

// SHA-1 of the public key bits: the key identifier.
Bytes KeyIdOf(const CERT_PUBLIC_KEY_INFO* info) {
  Bytes id(20);
  DWORD size = 20;
  if (!::CryptHashPublicKeyInfo(0, CALG_SHA1, 0, X509_ASN_ENCODING,
                                const_cast<CERT_PUBLIC_KEY_INFO*>(info), id.data(), &size)) {
    return Bytes();
  }
  id.resize(size);
  return id;
}

// Signs and encodes a to-be-signed structure with sha256WithRSAEncryption.
bool SignAndEncode(const IssuingKey& key, LPCSTR type, const void* info, Bytes* der) {
  CRYPT_ALGORITHM_IDENTIFIER alg{};
  alg.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);
  DWORD size = 0;
  if (!::CryptSignAndEncodeCertificate(key.impl()->prov, AT_SIGNATURE, X509_ASN_ENCODING, type,
                                       info, &alg, nullptr, nullptr, &size)) {
    return false;
  }
  der->resize(size);
  if (!::CryptSignAndEncodeCertificate(key.impl()->prov, AT_SIGNATURE, X509_ASN_ENCODING, type,
                                       info, &alg, nullptr, der->data(), &size)) {
    return false;
  }
  der->resize(size);
  return true;
}

// Splits an OpenSSL-style list ("a,b, c") into its names.
std::vector<std::string> Names(std::string_view list) {
  std::vector<std::string> out;
  while (!list.empty()) {
    size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (!item.empty()) out.emplace_back(item);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return out;
}

bool KeyUsageBits(std::string_view list, BYTE bits[2]) {
  static constexpr struct {
    std::string_view name;
    int byte;
    BYTE bit;
  } kBits[] = {
      {"digitalSignature", 0, 0x80}, {"nonRepudiation", 0, 0x40}, {"keyEncipherment", 0, 0x20},
      {"dataEncipherment", 0, 0x10}, {"keyAgreement", 0, 0x08},   {"keyCertSign", 0, 0x04},
      {"cRLSign", 0, 0x02},          {"encipherOnly", 0, 0x01},   {"decipherOnly", 1, 0x80},
  };
  bits[0] = bits[1] = 0;
  for (const std::string& name : Names(list)) {
    if (name == "critical") continue;
    bool found = false;
    for (const auto& b : kBits) {
      if (b.name == name) {
        bits[b.byte] |= b.bit;
        found = true;
      }
    }
    if (!found) return false;
  }
  return true;
}

bool UsageOids(std::string_view list, std::vector<LPSTR>* oids) {
  static constexpr struct {
    std::string_view name;
    const char* oid;
  } kUsages[] = {
      {"serverAuth", "1.3.6.1.5.5.7.3.1"},   {"clientAuth", "1.3.6.1.5.5.7.3.2"},
      {"codeSigning", "1.3.6.1.5.5.7.3.3"},  {"emailProtection", "1.3.6.1.5.5.7.3.4"},
      {"timeStamping", "1.3.6.1.5.5.7.3.8"}, {"OCSPSigning", "1.3.6.1.5.5.7.3.9"},
  };
  for (const std::string& name : Names(list)) {
    bool found = false;
    for (const auto& u : kUsages) {
      if (u.name == name) {
        oids->push_back(const_cast<char*>(u.oid));
        found = true;
      }
    }
    if (!found) return false;
  }
  return true;
}

// Decoded certificate, freed with it.
struct IssuerCert {
  explicit IssuerCert(ByteSpan der)
      : context(::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                               static_cast<DWORD>(der.size()))) {}
  ~IssuerCert() {
    if (context != nullptr) ::CertFreeCertificateContext(context);
  }
  IssuerCert(const IssuerCert&) = delete;
  IssuerCert& operator=(const IssuerCert&) = delete;
  PCCERT_CONTEXT context;
};

// The extensions of a new certificate; every encoded value lives in |store|.
struct Extensions {
  std::vector<Bytes> store;
  std::vector<CERT_EXTENSION> list;
  bool Add(const char* oid, bool critical, Bytes value) {
    if (value.empty()) return false;
    store.push_back(std::move(value));
    list.push_back(CERT_EXTENSION{const_cast<char*>(oid),
                                  critical ? TRUE : FALSE,
                                  {static_cast<DWORD>(store.back().size()), store.back().data()}});
    return true;
  }
};

}  // namespace

bool IssueCertificate(const IssueRequest& request, Bytes* der) {
  if (request.subject_key == nullptr || !*request.subject_key) return false;
  const bool self_signed = request.issuer_cert.empty();
  const IssuingKey* signer = self_signed ? request.subject_key : request.issuer_key;
  if (signer == nullptr || !*signer) return false;
  IssuerCert issuer(request.issuer_cert);
  if (!self_signed && issuer.context == nullptr) return false;

  std::vector<std::uint64_t> subject_key = PublicKeyOf(*request.subject_key);
  std::vector<std::uint64_t> signer_key = PublicKeyOf(*signer);
  if (subject_key.empty() || signer_key.empty()) return false;
  auto* spki = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(subject_key.data());

  Bytes subject = EncodeName(request.subject);
  if (subject.empty()) return false;
  BYTE serial[16];
  {
    HCRYPTPROV random = 0;
    if (!::CryptAcquireContextW(&random, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
      return false;
    }
    bool ok = ::CryptGenRandom(random, sizeof serial, serial);
    ::CryptReleaseContext(random, 0);
    if (!ok) return false;
    // Least significant byte first: the last byte is the most significant.
    serial[15] = static_cast<BYTE>((serial[15] & 0x3F) | 0x10);  // positive, 16 bytes long
  }

  // The Linux issuer's extensions, in its order.
  Extensions ext;
  CERT_BASIC_CONSTRAINTS2_INFO basic{};
  basic.fCA = request.ca ? TRUE : FALSE;
  basic.fPathLenConstraint = request.ca && request.path_length >= 0 ? TRUE : FALSE;
  basic.dwPathLenConstraint = request.path_length >= 0 ? request.path_length : 0;
  Bytes subject_id = KeyIdOf(spki);
  Bytes signer_id =
      self_signed ? subject_id : KeyIdOf(&issuer.context->pCertInfo->SubjectPublicKeyInfo);
  CRYPT_DATA_BLOB ski{static_cast<DWORD>(subject_id.size()), subject_id.data()};
  CERT_AUTHORITY_KEY_ID2_INFO aki{};
  aki.KeyId = CRYPT_DATA_BLOB{static_cast<DWORD>(signer_id.size()), signer_id.data()};
  bool ok = ext.Add(szOID_BASIC_CONSTRAINTS2, true, Encode(X509_BASIC_CONSTRAINTS2, &basic)) &&
            ext.Add(szOID_SUBJECT_KEY_IDENTIFIER, false, Encode(X509_OCTET_STRING, &ski)) &&
            ext.Add(szOID_AUTHORITY_KEY_IDENTIFIER2, false, Encode(X509_AUTHORITY_KEY_ID2, &aki));
  if (ok && !request.key_usage.empty()) {
    BYTE bits[2];
    ok = KeyUsageBits(request.key_usage, bits);
    CRYPT_BIT_BLOB usage{bits[1] != 0 ? 2u : 1u, bits, 0};
    ok = ok && ext.Add(szOID_KEY_USAGE, true, Encode(X509_KEY_USAGE, &usage));
  }
  std::vector<LPSTR> usages;
  if (ok && !request.extended_key_usage.empty()) {
    CERT_ENHKEY_USAGE eku{};
    ok = UsageOids(request.extended_key_usage, &usages);
    eku.cUsageIdentifier = static_cast<DWORD>(usages.size());
    eku.rgpszUsageIdentifier = usages.data();
    ok = ok && ext.Add(szOID_ENHANCED_KEY_USAGE, false, Encode(X509_ENHANCED_KEY_USAGE, &eku));
  }
  std::wstring email(request.email.begin(), request.email.end());
  if (ok && !request.email.empty()) {
    CERT_ALT_NAME_ENTRY entry{};
    entry.dwAltNameChoice = CERT_ALT_NAME_RFC822_NAME;
    entry.pwszRfc822Name = email.data();
    CERT_ALT_NAME_INFO alt{1, &entry};
    ok = ext.Add(szOID_SUBJECT_ALT_NAME2, false, Encode(X509_ALTERNATE_NAME, &alt));
  }
  std::wstring url(request.crl_url.begin(), request.crl_url.end());
  if (ok && !request.crl_url.empty()) {
    CERT_ALT_NAME_ENTRY entry{};
    entry.dwAltNameChoice = CERT_ALT_NAME_URL;
    entry.pwszURL = url.data();
    CRL_DIST_POINT point{};
    point.DistPointName.dwDistPointNameChoice = CRL_DIST_POINT_FULL_NAME;
    point.DistPointName.FullName = CERT_ALT_NAME_INFO{1, &entry};
    CRL_DIST_POINTS_INFO points{1, &point};
    ok = ext.Add(szOID_CRL_DIST_POINTS, false, Encode(X509_CRL_DIST_POINTS, &points));
  }
  if (!ok) return false;

  CERT_INFO info{};
  info.dwVersion = CERT_V3;
  info.SerialNumber = CRYPT_INTEGER_BLOB{sizeof serial, serial};
  info.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);
  info.Issuer = self_signed ? CERT_NAME_BLOB{static_cast<DWORD>(subject.size()), subject.data()}
                            : issuer.context->pCertInfo->Subject;
  const FILETIME now = Now();
  info.NotBefore = Later(now, -86400);
  info.NotAfter = Later(now, static_cast<long long>(request.days_valid) * 86400);
  info.Subject = CERT_NAME_BLOB{static_cast<DWORD>(subject.size()), subject.data()};
  info.SubjectPublicKeyInfo = *spki;
  info.cExtension = static_cast<DWORD>(ext.list.size());
  info.rgExtension = ext.list.data();
  return SignAndEncode(*signer, X509_CERT_TO_BE_SIGNED, &info, der);
}

bool IssueCrl(const CrlRequest& request, Bytes* der) {
  if (request.issuer_key == nullptr || !*request.issuer_key) return false;
  IssuerCert issuer(request.issuer_cert);
  if (issuer.context == nullptr) return false;
  std::vector<std::unique_ptr<IssuerCert>> revoked;
  std::vector<CRL_ENTRY> entries;
  const FILETIME start = Now();
  const FILETIME now = Later(start, -3600);
  for (ByteSpan cert_der : request.revoked) {
    revoked.push_back(std::make_unique<IssuerCert>(cert_der));
    if (revoked.back()->context == nullptr) return false;
    CRL_ENTRY entry{};
    entry.SerialNumber = revoked.back()->context->pCertInfo->SerialNumber;
    entry.RevocationDate = now;
    entries.push_back(entry);
  }
  Bytes issuer_id = KeyIdOf(&issuer.context->pCertInfo->SubjectPublicKeyInfo);
  CERT_AUTHORITY_KEY_ID2_INFO aki{};
  aki.KeyId = CRYPT_DATA_BLOB{static_cast<DWORD>(issuer_id.size()), issuer_id.data()};
  Extensions ext;
  if (!ext.Add(szOID_AUTHORITY_KEY_IDENTIFIER2, false, Encode(X509_AUTHORITY_KEY_ID2, &aki))) {
    return false;
  }
  CRL_INFO info{};
  info.dwVersion = CRL_V2;
  info.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);
  info.Issuer = issuer.context->pCertInfo->Subject;
  info.ThisUpdate = now;
  info.NextUpdate = Later(start, static_cast<long long>(request.days_valid) * 86400);
  info.cCRLEntry = static_cast<DWORD>(entries.size());
  info.rgCRLEntry = entries.data();
  info.cExtension = static_cast<DWORD>(ext.list.size());
  info.rgExtension = ext.list.data();
  return SignAndEncode(*request.issuer_key, X509_CERT_CRL_TO_BE_SIGNED, &info, der);
}

}  // namespace quillmark::platform
