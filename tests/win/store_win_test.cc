// The Windows certificate stores over the system's own: adding, finding,
// walking and deleting in the current user's stores, the key-provider
// property kept by the system, the dispositions, and the fields read from
// the DER checked against the system's own decoding.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/openssl/pem.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_store.h"
#include "platform/store/win/cert_context_win.h"
#include "win/win_test_certs.h"

namespace quillmark::platform {
namespace {

using testing::TestKeyContainer;

CertStore OpenMy() {
  return CertOpenStore(kCertStoreProvSystemW, 0, kCertSystemStoreCurrentUser, u"MY");
}

CertContextPtr FindBySha1(const CertStore& store, const CertContextPtr& cert) {
  return CertFindCertificateInStore(store, kDefaultEncoding, 0, kCertFindSha1Hash, cert->sha1(),
                                    nullptr);
}

// The key-provider property of the certificate as a fresh handle of MY reads
// it; nullopt also when the certificate is not there.
std::optional<KeyProvInfo> PropertyInFreshHandle(const CertContextPtr& cert) {
  CertContextPtr found = FindBySha1(OpenMy(), cert);
  return found ? found->key_prov_info() : std::nullopt;
}

KeyProvInfo SampleKeyProv(std::u16string container) {
  KeyProvInfo info;
  info.container = std::move(container);
  info.provider = u"Microsoft Enhanced RSA and AES Cryptographic Provider";
  info.provider_type = 24;
  info.key_spec = kAtSignature;
  return info;
}

class StoreWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(key_.ok()) << "no RSA key container: " << ::GetLastError();
    der_ = key_.SelfSigned(L"CN=Quillmark Store Test, O=Example Bank, C=DE");
    ASSERT_FALSE(der_.empty()) << "CertCreateSelfSignCertificate: " << ::GetLastError();
    store_ = OpenMy();
    ASSERT_TRUE(store_) << GetLastError();
  }
  void TearDown() override {
    // Leaves MY as it was, whatever a failed test added.
    if (!store_) return;
    CertContextPtr cert = CertCreateCertificateContext(kDefaultEncoding, der_);
    if (!cert) return;
    while (CertContextPtr left = FindBySha1(store_, cert)) CertDeleteCertificateFromStore(left);
  }

  CertContextPtr Add(std::uint32_t disposition) {
    CertContextPtr added;
    EXPECT_TRUE(
        CertAddEncodedCertificateToStore(store_, kDefaultEncoding, der_, disposition, &added))
        << GetLastError();
    return added;
  }

  TestKeyContainer key_{L"quillmark-store-test"};
  Bytes der_;
  CertStore store_;
};

TEST_F(StoreWinTest, AddFindWalkDelete) {
  CertContextPtr added = Add(kCertStoreAddNew);
  ASSERT_TRUE(added);
  EXPECT_EQ(added->store_name(), "MY");
  EXPECT_TRUE(std::equal(added->der().begin(), added->der().end(), der_.begin(), der_.end()));

  CertContextPtr made = CertCreateCertificateContext(kDefaultEncoding, der_);
  ASSERT_TRUE(made);
  EXPECT_EQ(made->store_name(), "");
  EXPECT_EQ(made->thumbprint(), added->thumbprint());
  EXPECT_EQ(made->thumbprint(), HexUpper(made->sha1()));

  // The same bytes again: refused as new, kept as existing.
  CertContextPtr again;
  EXPECT_FALSE(
      CertAddEncodedCertificateToStore(store_, kDefaultEncoding, der_, kCertStoreAddNew, &again));
  EXPECT_EQ(GetLastError(), kCryptEExists);
  EXPECT_TRUE(CertAddEncodedCertificateToStore(store_, kDefaultEncoding, der_,
                                               kCertStoreAddUseExisting, &again));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->thumbprint(), added->thumbprint());

  // Every find type reaches it, from a handle opened after the add.
  CertStore other = OpenMy();
  ASSERT_TRUE(other);
  CertContextPtr by_hash = FindBySha1(other, made);
  ASSERT_TRUE(by_hash);
  EXPECT_EQ(by_hash->store_name(), "MY");
  CertContextPtr by_name = CertFindCertificateInStore(
      other, kDefaultEncoding, 0, kCertFindSubjectName, made->subject_der(), nullptr);
  ASSERT_TRUE(by_name);
  EXPECT_EQ(by_name->thumbprint(), made->thumbprint());
  bool by_issuer = false;
  for (CertContextPtr c = CertFindCertificateInStore(
           other, kDefaultEncoding, 0, kCertFindIssuerName, made->issuer_der(), nullptr);
       c; c = CertFindCertificateInStore(other, kDefaultEncoding, 0, kCertFindIssuerName,
                                         made->issuer_der(), c)) {
    by_issuer |= c->thumbprint() == made->thumbprint();
  }
  EXPECT_TRUE(by_issuer);
  // Text finds: a case-insensitive piece of the rendered name.
  CertContextPtr by_text = CertFindCertificateInStore(other, kDefaultEncoding, 0,
                                                      kCertFindSubjectStrW, u"store TEST", nullptr);
  ASSERT_TRUE(by_text);
  EXPECT_EQ(by_text->thumbprint(), made->thumbprint());
  EXPECT_TRUE(CertFindCertificateInStore(other, kDefaultEncoding, 0, kCertFindIssuerStrW,
                                         u"example bank", nullptr));
  EXPECT_FALSE(CertFindCertificateInStore(other, kDefaultEncoding, 0, kCertFindSubjectStrW,
                                          u"Quillmark Store Test, but not this", nullptr));
  EXPECT_EQ(GetLastError(), kCryptENotFound);
  // A text find type with bytes, and a byte type with text, are refused.
  EXPECT_FALSE(CertFindCertificateInStore(other, kDefaultEncoding, 0, kCertFindSubjectStrW,
                                          made->subject_der(), nullptr));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(CertFindCertificateInStore(other, kDefaultEncoding, 0, kCertFindSha1Hash,
                                          u"Quillmark", nullptr));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);

  // The walk meets it once, also when resumed from a context of the other handle.
  int seen = 0, walked = 0;
  for (CertContextPtr c = CertEnumCertificatesInStore(store_, nullptr); c;
       c = CertEnumCertificatesInStore(store_, c)) {
    ++walked;
    if (c->thumbprint() == made->thumbprint()) ++seen;
    ASSERT_LT(walked, 100000);
  }
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(GetLastError(), kCryptENotFound);
  int after = 0;
  for (CertContextPtr c = CertEnumCertificatesInStore(store_, by_hash); c;
       c = CertEnumCertificatesInStore(store_, c)) {
    ++after;
    EXPECT_NE(c->thumbprint(), made->thumbprint());
  }
  EXPECT_LT(after, walked);

  // Delete: gone for every handle; the contexts held stay readable.
  ASSERT_TRUE(CertDeleteCertificateFromStore(by_hash)) << GetLastError();
  EXPECT_FALSE(FindBySha1(store_, made));
  EXPECT_EQ(GetLastError(), kCryptENotFound);
  EXPECT_FALSE(FindBySha1(OpenMy(), made));
  EXPECT_EQ(added->thumbprint(), made->thumbprint());
  EXPECT_EQ(by_hash->der().size(), der_.size());
  // A context of no store cannot be deleted from one.
  EXPECT_FALSE(CertDeleteCertificateFromStore(made));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST_F(StoreWinTest, KeyProviderPropertyIsKeptByTheStore) {
  CertContextPtr added = Add(kCertStoreAddNew);
  ASSERT_TRUE(added);
  KeyProvInfo info = SampleKeyProv(u"quillmark-store-test");
  info.flags = 0;
  EXPECT_FALSE(added->key_prov_info());
  KeyProvInfo read;
  EXPECT_FALSE(CertGetCertificateContextProperty(*added, kCertKeyProvInfoPropId, &read));
  EXPECT_EQ(GetLastError(), kCryptENotFound);

  ASSERT_TRUE(CertSetCertificateContextProperty(*added, kCertKeyProvInfoPropId, 0, &info))
      << GetLastError();
  EXPECT_EQ(added->key_prov_info(), info);

  // A fresh handle reads it back from the system store.
  CertContextPtr found = FindBySha1(OpenMy(), added);
  ASSERT_TRUE(found);
  ASSERT_TRUE(CertGetCertificateContextProperty(*found, kCertKeyProvInfoPropId, &read));
  EXPECT_EQ(read, info);
  bool listed = false;
  for (std::uint32_t id = CertEnumCertificateContextProperties(*found, 0); id != 0;
       id = CertEnumCertificateContextProperties(*found, id)) {
    listed |= id == kCertKeyProvInfoPropId;
  }
  EXPECT_TRUE(listed);
  EXPECT_TRUE(CertReloadKeyProvInfo(*found));

  // Other property ids are not this API's.
  EXPECT_FALSE(CertGetCertificateContextProperty(*found, 3, &read));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(CertSetCertificateContextProperty(*found, 3, 0, &info));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);

  // Removing it is seen through every handle.
  ASSERT_TRUE(CertSetCertificateContextProperty(*found, kCertKeyProvInfoPropId, 0, nullptr));
  CertContextPtr later = FindBySha1(OpenMy(), added);
  ASSERT_TRUE(later);
  EXPECT_FALSE(later->key_prov_info());

  // A context of no store keeps the property in memory, for its own copies.
  CertContextPtr made = CertCreateCertificateContext(kDefaultEncoding, der_);
  ASSERT_TRUE(made);
  EXPECT_FALSE(CertReloadKeyProvInfo(*made));
  ASSERT_TRUE(CertSetCertificateContextProperty(*made, kCertKeyProvInfoPropId, 0, &info));
  EXPECT_EQ(made->key_prov_info(), info);
  EXPECT_FALSE(PropertyInFreshHandle(made));
}

TEST_F(StoreWinTest, DispositionsAndTheProperty) {
  CertContextPtr added = Add(kCertStoreAddNew);
  ASSERT_TRUE(added);
  const KeyProvInfo info = SampleKeyProv(u"container-one");
  ASSERT_TRUE(CertSetCertificateContextProperty(*added, kCertKeyProvInfoPropId, 0, &info));

  // Inheriting keeps the property, replacing drops it, "always" replaces too.
  CertContextPtr kept = Add(kCertStoreAddReplaceExistingInheritProperties);
  ASSERT_TRUE(kept);
  EXPECT_EQ(PropertyInFreshHandle(added), info);
  CertContextPtr replaced = Add(kCertStoreAddReplaceExisting);
  ASSERT_TRUE(replaced);
  EXPECT_FALSE(PropertyInFreshHandle(added));
  ASSERT_TRUE(CertSetCertificateContextProperty(*replaced, kCertKeyProvInfoPropId, 0, &info));
  ASSERT_TRUE(Add(kCertStoreAddAlways));
  EXPECT_FALSE(PropertyInFreshHandle(added));
  int copies = 0;
  CertStore fresh = OpenMy();
  for (CertContextPtr c = FindBySha1(fresh, added); c;
       c = CertFindCertificateInStore(fresh, kDefaultEncoding, 0, kCertFindSha1Hash, added->sha1(),
                                      c)) {
    ++copies;
  }
  EXPECT_EQ(copies, 1);

  // Adding with a key: the property is there for the first reader, and a
  // second add moves it to the new key.
  ASSERT_TRUE(CertDeleteCertificateFromStore(FindBySha1(store_, added)));
  EXPECT_FALSE(FindBySha1(OpenMy(), added));
  CertContextPtr with_key;
  ASSERT_TRUE(CertAddEncodedCertificateWithKeyToStore(store_, der_, info, &with_key))
      << GetLastError();
  EXPECT_EQ(with_key->store_name(), "MY");
  EXPECT_EQ(PropertyInFreshHandle(added), info);
  const KeyProvInfo moved = SampleKeyProv(u"container-two");
  ASSERT_TRUE(CertAddEncodedCertificateWithKeyToStore(store_, der_, moved, nullptr));
  EXPECT_EQ(PropertyInFreshHandle(added), moved);

  EXPECT_FALSE(CertAddEncodedCertificateToStore(store_, kDefaultEncoding, der_, 0, nullptr));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(CertAddEncodedCertificateToStore(store_, kDefaultEncoding, der_, 6, nullptr));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST_F(StoreWinTest, OpeningChecksItsArguments) {
  const std::uint32_t user = kCertSystemStoreCurrentUser;
  EXPECT_FALSE(CertOpenStore(2, 0, user, u"MY"));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(CertOpenStore(kCertStoreProvSystemW, 0, 0, u"MY"));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  const std::u16string_view bad_names[] = {u"",
                                           u".",
                                           u"..",
                                           u"A\\B",
                                           std::u16string_view(u"A\0B", 3),
                                           std::u16string_view(u"\xD800", 1)};
  for (std::u16string_view bad : bad_names) {
    EXPECT_FALSE(CertOpenStore(kCertStoreProvSystemW, 0, user, bad));
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  }
  EXPECT_FALSE(CertOpenStore(kCertStoreProvSystemW, 0, user | kCertStoreOpenExistingFlag,
                             u"QuillmarkNoSuchStore"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);

  // Names compare case-insensitively: "my" is MY.
  ASSERT_TRUE(Add(kCertStoreAddNew));
  CertStore lower = CertOpenStore(kCertStoreProvSystemW, 0, user, u"my");
  ASSERT_TRUE(lower);
  CertContextPtr made = CertCreateCertificateContext(kDefaultEncoding, der_);
  EXPECT_TRUE(FindBySha1(lower, made));
  EXPECT_NE(CertStoreHandle(lower), nullptr);

  // A read-only handle reads but does not write.
  CertStore read_only =
      CertOpenStore(kCertStoreProvSystemW, 0, user | kCertStoreReadOnlyFlag, u"MY");
  ASSERT_TRUE(read_only);
  EXPECT_TRUE(FindBySha1(read_only, made));
  EXPECT_FALSE(CertAddEncodedCertificateToStore(read_only, kDefaultEncoding, der_,
                                                kCertStoreAddReplaceExisting, nullptr));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);

  // Contexts outlive the handle they came from.
  CertContextPtr held = FindBySha1(lower, made);
  ASSERT_TRUE(CertCloseStore(lower, 0));
  EXPECT_FALSE(lower);
  EXPECT_EQ(CertStoreHandle(lower), nullptr);
  EXPECT_EQ(held->thumbprint(), made->thumbprint());
  EXPECT_EQ(SimpleDisplayName(held->subject_der()), u"Quillmark Store Test");
}

// The fields of the shared DER walk against the system's own decoding.
TEST_F(StoreWinTest, FieldsAgreeWithTheSystemDecoding) {
  CertContextPtr cert = CertCreateCertificateContext(kDefaultEncoding, der_);
  ASSERT_TRUE(cert);
  const CERT_INFO* info = CertContextHandle(*cert)->pCertInfo;
  EXPECT_EQ(cert->version(), static_cast<int>(info->dwVersion) + 1);
  // Both keep the serial least significant first.
  EXPECT_TRUE(std::equal(cert->serial().begin(), cert->serial().end(), info->SerialNumber.pbData,
                         info->SerialNumber.pbData + info->SerialNumber.cbData));
  ByteSpan issuer(info->Issuer.pbData, info->Issuer.cbData);
  ByteSpan subject(info->Subject.pbData, info->Subject.cbData);
  EXPECT_TRUE(std::equal(cert->issuer_der().begin(), cert->issuer_der().end(), issuer.begin(),
                         issuer.end()));
  EXPECT_TRUE(std::equal(cert->subject_der().begin(), cert->subject_der().end(), subject.begin(),
                         subject.end()));
  EXPECT_EQ(cert->signature_algorithm_oid(), info->SignatureAlgorithm.pszObjId);
  EXPECT_EQ(cert->public_key_algorithm_oid(), info->SubjectPublicKeyInfo.Algorithm.pszObjId);
  ASSERT_EQ(cert->extensions().size(), info->cExtension);
  for (DWORD i = 0; i < info->cExtension; ++i) {
    EXPECT_EQ(cert->extensions()[i].oid, info->rgExtension[i].pszObjId);
    EXPECT_EQ(cert->extensions()[i].critical, info->rgExtension[i].fCritical != FALSE);
  }
  SYSTEMTIME st;
  ASSERT_TRUE(::FileTimeToSystemTime(&info->NotAfter, &st));
  EXPECT_EQ(cert->not_after().year, st.wYear);
  EXPECT_EQ(cert->not_after().month, st.wMonth);
  EXPECT_EQ(cert->not_after().day, st.wDay);
  EXPECT_EQ(cert->not_after().hour, st.wHour);
  EXPECT_EQ(cert->not_after().second, st.wSecond);
  ULARGE_INTEGER ticks{{info->NotBefore.dwLowDateTime, info->NotBefore.dwHighDateTime}};
  EXPECT_EQ(cert->not_before().unix_seconds,
            static_cast<std::int64_t>(ticks.QuadPart / 10000000 - 11644473600LL));
  EXPECT_EQ(CertGetNameStringW(*cert, kCertNameSimpleDisplayType, kCertNameIssuerFlag),
            u"Quillmark Store Test");

  // Bytes that are not exactly one certificate.
  Bytes longer = der_;
  longer.push_back(0);
  EXPECT_FALSE(CertCreateCertificateContext(kDefaultEncoding, longer));
  EXPECT_EQ(GetLastError(), kCryptEOssError);
  EXPECT_FALSE(
      CertCreateCertificateContext(kDefaultEncoding, ByteSpan(der_).first(der_.size() - 1)));
  EXPECT_EQ(GetLastError(), kCryptEOssError);
  EXPECT_FALSE(CertCreateCertificateContext(kPkcs7AsnEncoding, der_));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(WrapCertContext(nullptr, "MY"));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST_F(StoreWinTest, CrlsAreAddedWalkedAndDeleted) {
  const Bytes crl_der = key_.EmptyCrl(der_, 7);
  ASSERT_FALSE(crl_der.empty()) << "CryptSignAndEncodeCertificate: " << ::GetLastError();
  CrlContextPtr made = CertCreateCRLContext(kDefaultEncoding, crl_der);
  ASSERT_TRUE(made) << GetLastError();
  CertContextPtr cert = CertCreateCertificateContext(kDefaultEncoding, der_);
  EXPECT_TRUE(std::equal(made->issuer_der().begin(), made->issuer_der().end(),
                         cert->subject_der().begin(), cert->subject_der().end()));
  ASSERT_TRUE(made->next_update());
  EXPECT_EQ(made->next_update()->unix_seconds - made->this_update().unix_seconds, 7 * 86400);
  EXPECT_EQ(made->store_name(), "");

  CrlContextPtr added;
  ASSERT_TRUE(CertAddEncodedCRLToStore(store_, kDefaultEncoding, crl_der, kCertStoreAddNew, &added))
      << GetLastError();
  EXPECT_EQ(added->thumbprint(), made->thumbprint());
  EXPECT_FALSE(
      CertAddEncodedCRLToStore(store_, kDefaultEncoding, crl_der, kCertStoreAddNew, nullptr));
  EXPECT_EQ(GetLastError(), kCryptEExists);

  // A fresh handle walks to it once; deleting it there removes it for all.
  auto count_in_fresh_handle = [&] {
    CertStore fresh = OpenMy();
    int n = 0;
    for (CrlContextPtr c = CertEnumCRLsInStore(fresh, nullptr); c;
         c = CertEnumCRLsInStore(fresh, c)) {
      if (c->thumbprint() == made->thumbprint()) ++n;
    }
    EXPECT_EQ(GetLastError(), kCryptENotFound);
    return n;
  };
  EXPECT_EQ(count_in_fresh_handle(), 1);
  CertStore fresh = OpenMy();
  CrlContextPtr found;
  for (CrlContextPtr c = CertEnumCRLsInStore(fresh, nullptr); c;
       c = CertEnumCRLsInStore(fresh, c)) {
    if (c->thumbprint() == made->thumbprint()) found = c;
  }
  ASSERT_TRUE(found);
  EXPECT_EQ(found->store_name(), "MY");
  ASSERT_TRUE(CertDeleteCRLFromStore(found)) << GetLastError();
  EXPECT_EQ(count_in_fresh_handle(), 0);
  EXPECT_FALSE(CertDeleteCRLFromStore(made));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);

  Bytes longer = crl_der;
  longer.push_back(0);
  EXPECT_FALSE(CertCreateCRLContext(kDefaultEncoding, longer));
  EXPECT_EQ(GetLastError(), kCryptEOssError);
}

// A Name encoded by the system: RDNs of (OID, value) attributes, values as
// UTF8String (PrintableString for C, IA5String for e-mail).
Bytes SystemName(const std::vector<std::vector<std::pair<const char*, std::wstring>>>& rdns) {
  std::vector<std::vector<CERT_RDN_ATTR>> attrs;
  for (const auto& rdn : rdns) {
    attrs.emplace_back();
    for (const auto& [oid, value] : rdn) {
      CERT_RDN_ATTR attr{};
      attr.pszObjId = const_cast<char*>(oid);
      attr.dwValueType = std::string_view(oid) == "2.5.4.6"             ? CERT_RDN_PRINTABLE_STRING
                         : std::string_view(oid) == szOID_RSA_emailAddr ? CERT_RDN_IA5_STRING
                                                                        : CERT_RDN_UTF8_STRING;
      attr.Value.pbData = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(value.data()));
      attr.Value.cbData = static_cast<DWORD>(value.size() * sizeof(wchar_t));
      attrs.back().push_back(attr);
    }
  }
  std::vector<CERT_RDN> list;
  for (auto& a : attrs) list.push_back(CERT_RDN{static_cast<DWORD>(a.size()), a.data()});
  CERT_NAME_INFO info{static_cast<DWORD>(list.size()), list.data()};
  DWORD size = 0;
  if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_UNICODE_NAME, &info, 0, nullptr, nullptr,
                             &size)) {
    return Bytes();
  }
  Bytes der(size);
  if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_UNICODE_NAME, &info, 0, nullptr, der.data(),
                             &size)) {
    return Bytes();
  }
  der.resize(size);
  return der;
}

// The shared name renderer gives the text the system's CertNameToStrW gives
// for names like those the tests use, in each of the three forms. (Wine
// quotes values written in CJK characters, which the quoting rule of
// cert_name.h does not, so none are compared here.)
TEST_F(StoreWinTest, NamesRenderAsTheSystemRendersThem) {
  const Bytes names[] = {
      SystemName({{{"2.5.4.3", L"Quillmark Store Test"}},
                  {{"2.5.4.10", L"Example Bank"}},
                  {{"2.5.4.6", L"DE"}}}),
      SystemName({{{"2.5.4.3", L"Bank, Inc."}},
                  {{"2.5.4.11", L"Cards"}, {"2.5.4.11", L"Loans"}},
                  {{"2.5.4.7", L"Berlin"}}}),
      SystemName({{{szOID_RSA_emailAddr, L"someone@example.com"}},
                  {{"2.5.4.3", L"M\u00FCller"}},
                  {{"2.5.4.10", L"Quote \"here\""}}}),
  };
  for (const Bytes& name : names) {
    ASSERT_FALSE(name.empty()) << ::GetLastError();
    CERT_NAME_BLOB blob{static_cast<DWORD>(name.size()), const_cast<BYTE*>(name.data())};
    for (std::uint32_t type : {kCertSimpleNameStr, kCertOidNameStr, kCertX500NameStr}) {
      DWORD chars = ::CertNameToStrW(X509_ASN_ENCODING, &blob, type, nullptr, 0);
      std::wstring system(chars, L'\0');
      ::CertNameToStrW(X509_ASN_ENCODING, &blob, type, system.data(), chars);
      system.resize(chars - 1);
      std::u16string ours;
      ASSERT_TRUE(CertNameToStrW(kDefaultEncoding, name, type, &ours));
      EXPECT_EQ(std::wstring(ours.begin(), ours.end()), system) << "type " << type;
    }
  }
}

// PEM as the system writes it (CryptBinaryToStringA) reads back to the DER.
TEST_F(StoreWinTest, PemBlocksReadBackToTheDer) {
  DWORD size = 0;
  ASSERT_TRUE(::CryptBinaryToStringA(der_.data(), static_cast<DWORD>(der_.size()),
                                     CRYPT_STRING_BASE64HEADER, nullptr, &size));
  std::string pem(size, '\0');
  ASSERT_TRUE(::CryptBinaryToStringA(der_.data(), static_cast<DWORD>(der_.size()),
                                     CRYPT_STRING_BASE64HEADER, pem.data(), &size));
  pem.resize(size);
  const std::string crl_pem = "-----BEGIN X509 CRL-----\nAQID\n-----END X509 CRL-----\n";
  const std::string text = "leading text\n" + pem + "between\n" + crl_pem + "trailing";
  EXPECT_TRUE(LooksLikePem(AsBytes(text)));
  std::vector<PemBlock> blocks;
  ASSERT_TRUE(ReadPemBlocks(AsBytes(text), &blocks));
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].label, "CERTIFICATE");
  EXPECT_EQ(blocks[0].der, der_);
  EXPECT_EQ(blocks[1].label, "X509 CRL");
  EXPECT_EQ(blocks[1].der, (Bytes{1, 2, 3}));

  // Damaged input fails as a whole, never with the good blocks only.
  EXPECT_FALSE(LooksLikePem(der_));
  EXPECT_FALSE(ReadPemBlocks(AsBytes("no block here"), &blocks));
  EXPECT_FALSE(ReadPemBlocks(AsBytes(pem + "-----BEGIN X509 CRL-----\nAQID\n"), &blocks));
  EXPECT_FALSE(ReadPemBlocks(
      AsBytes(pem + "-----BEGIN X509 CRL-----\nA!!D\n-----END X509 CRL-----\n"), &blocks));
  EXPECT_FALSE(ReadPemBlocks(AsBytes("-----BEGIN CERTIFICATE-----\nAQID\n-----END X509 CRL-----\n"),
                             &blocks));
  EXPECT_EQ(blocks.size(), 2u);  // untouched by the failures
}

}  // namespace
}  // namespace quillmark::platform
