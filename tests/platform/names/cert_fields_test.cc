// Certificate fields as the callers read them, and the field texts.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include "platform/names/cert_text.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_context_internal.h"
#include "support/cert_factory.h"

namespace quillmark::platform {
namespace {

using testing::NameBuilder;

Bytes Reversed(Bytes b) { return Bytes(b.rbegin(), b.rend()); }

TEST(CertFields, FieldsOfAnIssuedCertificate) {
  testing::EvpPkeyPtr ca_key = testing::MakeEcKey();
  testing::EvpPkeyPtr leaf_key = testing::MakeEcKey();
  testing::CertSpec spec;
  spec.subject = NameBuilder().Add("CN", "Leaf").Add("O", "Bank").Der();
  spec.issuer = NameBuilder().Add("CN", "Issuing CA").Der();
  spec.subject_key = leaf_key.get();
  spec.issuer_key = ca_key.get();
  spec.serial = {0x00, 0x8F, 0x10};
  spec.not_before = 1577836800;  // 2020-01-01 00:00:00
  spec.not_after = 2556143999;   // 2050-12-31 23:59:59, a GeneralizedTime
  spec.extensions = {{"keyUsage", "critical,digitalSignature,nonRepudiation"},
                     {"basicConstraints", "CA:FALSE"},
                     {"subjectKeyIdentifier", "hash"}};
  Bytes der = testing::MakeCertificate(spec);
  CertContextPtr cert = CertCreateCertificateContext(kDefaultEncoding, der);
  ASSERT_TRUE(cert);

  EXPECT_EQ(Bytes(cert->der().begin(), cert->der().end()), der);
  std::uint8_t sha1[20];
  SHA1(der.data(), der.size(), sha1);
  EXPECT_EQ(cert->thumbprint(), HexUpper(ByteSpan(sha1)));
  EXPECT_EQ(cert->thumbprint().size(), 40u);
  EXPECT_EQ(cert->store_name(), "");
  EXPECT_EQ(cert->version(), 3);
  EXPECT_EQ(Bytes(cert->serial().begin(), cert->serial().end()), (Bytes{0x10, 0x8F, 0x00}));
  EXPECT_EQ(Bytes(cert->subject_der().begin(), cert->subject_der().end()), spec.subject);
  EXPECT_EQ(Bytes(cert->issuer_der().begin(), cert->issuer_der().end()), spec.issuer);

  const CertTime& nb = cert->not_before();
  EXPECT_EQ(nb.year, 2020);
  EXPECT_EQ(nb.month, 1);
  EXPECT_EQ(nb.day, 1);
  EXPECT_EQ(nb.hour, 0);
  EXPECT_EQ(nb.unix_seconds, spec.not_before);
  EXPECT_EQ(cert->not_after().unix_seconds, spec.not_after);
  EXPECT_EQ(FormatCertTimeText(nb), u"2020-01-01 00:00:00GMT");
  EXPECT_EQ(FormatCertTimeText(cert->not_after()), u"2050-12-31 23:59:59GMT");
  EXPECT_EQ(FormatSerialText(cert->serial()), u"008F 10");

  EXPECT_EQ(cert->signature_algorithm_oid(), "1.2.840.10045.4.3.2");
  EXPECT_EQ(cert->public_key_algorithm_oid(), "1.2.840.10045.2.1");
  unsigned char* spki = nullptr;
  int spki_len = i2d_PUBKEY(leaf_key.get(), &spki);
  ASSERT_GT(spki_len, 0);
  EXPECT_EQ(Bytes(cert->public_key_info_der().begin(), cert->public_key_info_der().end()),
            Bytes(spki, spki + spki_len));
  OPENSSL_free(spki);

  const std::vector<CertExtension>& exts = cert->extensions();
  ASSERT_EQ(exts.size(), 3u);
  EXPECT_EQ(exts[0].oid, "2.5.29.15");
  EXPECT_TRUE(exts[0].critical);
  EXPECT_EQ(exts[0].value, (Bytes{0x03, 0x02, 0x06, 0xC0}));
  EXPECT_EQ(exts[1].oid, "2.5.29.19");
  EXPECT_FALSE(exts[1].critical);
  EXPECT_EQ(exts[1].value, (Bytes{0x30, 0x00}));
  const CertExtension* ski = CertFindExtension("2.5.29.14", exts);
  ASSERT_NE(ski, nullptr);
  EXPECT_EQ(ski->value.size(), 22u);  // OCTET STRING of a 20-byte SHA-1
  EXPECT_EQ(CertFindExtension("2.5.29.17", exts), nullptr);

  // The parsed certificate behind the context is the same certificate.
  X509* x = CertContextX509(*cert);
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(X509_get_ext_count(x), 3);
}

TEST(CertFields, RsaSha1VersionOneAndOldTimes) {
  testing::EvpPkeyPtr key = testing::MakeRsaKey(1024);
  testing::CertSpec spec;
  spec.subject = NameBuilder().Add("CN", "Old").Der();
  spec.subject_key = key.get();
  spec.version = 1;
  spec.serial = {0x05};
  spec.not_before = 0;          // 1970-01-01, a UTCTime
  spec.not_after = 2524607999;  // 2049-12-31 23:59:59, the last UTCTime year
  spec.digest = EVP_sha1();
  CertContextPtr cert = CertCreateCertificateContext(kDefaultEncoding, MakeCertificate(spec));
  ASSERT_TRUE(cert);
  EXPECT_EQ(cert->version(), 1);
  EXPECT_TRUE(cert->extensions().empty());
  EXPECT_EQ(cert->signature_algorithm_oid(), "1.2.840.113549.1.1.5");
  EXPECT_EQ(cert->public_key_algorithm_oid(), "1.2.840.113549.1.1.1");
  EXPECT_EQ(FormatCertTimeText(cert->not_before()), u"1970-01-01 00:00:00GMT");
  EXPECT_EQ(cert->not_before().unix_seconds, 0);
  EXPECT_EQ(FormatCertTimeText(cert->not_after()), u"2049-12-31 23:59:59GMT");
  EXPECT_EQ(FormatSerialText(cert->serial()), u"05");
}

TEST(CertFields, SerialTexts) {
  struct Case {
    Bytes msb_first;
    std::u16string text;
  } cases[] = {
      {{0x05}, u"05"},
      {{0x01, 0x02}, u"0102"},
      {{0x01, 0x02, 0x03}, u"0102 03"},
      {{0x01, 0x23, 0x45, 0x67, 0x89}, u"0123 4567 89"},
      {{0x00, 0x8F, 0x10}, u"008F 10"},
      {{0xAB, 0xCD, 0xEF, 0x01}, u"ABCD EF01"},
      {{}, u""},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatSerialText(Reversed(c.msb_first)), c.text);
  Bytes long_serial(60, 0x11);
  std::u16string text = FormatSerialText(long_serial);
  EXPECT_EQ(text.size(), 120u + 29u);  // every byte, a space after every four digits
}

TEST(CertFields, BytesThatAreNotOneCertificateAreRefused) {
  testing::EvpPkeyPtr key = testing::MakeEcKey();
  testing::CertSpec spec;
  spec.subject = NameBuilder().Add("CN", "x").Der();
  spec.subject_key = key.get();
  Bytes der = testing::MakeCertificate(spec);
  Bytes trailing = der;
  trailing.push_back(0);
  Bytes truncated(der.begin(), der.end() - 1);
  Bytes junk = {'h', 'e', 'l', 'l', 'o'};
  Bytes crl = testing::MakeCrl({spec.subject, key.get(), {}, 0, 1});
  for (const Bytes& bad : {trailing, truncated, junk, crl, Bytes{}}) {
    SetLastError(0);
    EXPECT_FALSE(CertCreateCertificateContext(kDefaultEncoding, bad));
    EXPECT_EQ(GetLastError(), kCryptEOssError);
  }
  EXPECT_TRUE(CertCreateCRLContext(kDefaultEncoding, crl));
  EXPECT_FALSE(CertCreateCRLContext(kDefaultEncoding, der));
}

TEST(CertFields, IntegerBlobsCompareByValue) {
  struct Case {
    Bytes a, b;  // least significant byte first
    bool equal;
  } cases[] = {
      {{0x01}, {0x01}, true},
      {{0x01, 0x00}, {0x01}, true},
      {{0x1B, 0x0A, 0x00, 0x00}, {0x1B, 0x0A}, true},
      {{0x10, 0x8F, 0x00}, {0x10, 0x8F}, true},
      {{0x00}, {}, true},
      {{0xFF, 0xFF}, {0xFF}, true},   // -1 either way
      {{0x80, 0xFF}, {0x80}, true},   // -128 either way
      {{0x7F, 0xFF}, {0x7F}, false},  // -129 is not 127
      {{0x01}, {0x02}, false},
      {{0x01, 0x02}, {0x02, 0x01}, false},
      {{0x00, 0x01}, {0x01}, false},  // 256 is not 1
      {{0xFF}, {0xFF, 0x00}, true},   // 00 FF and FF: a leading zero byte never counts
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CertCompareIntegerBlob(c.a, c.b), c.equal)
        << HexUpper(c.a) << " vs " << HexUpper(c.b);
    EXPECT_EQ(CertCompareIntegerBlob(c.b, c.a), c.equal);
  }
}

TEST(CertFields, KeyProviderPropertyOfAContextInMemory) {
  testing::EvpPkeyPtr key = testing::MakeEcKey();
  testing::CertSpec spec;
  spec.subject = NameBuilder().Add("CN", "x").Der();
  spec.subject_key = key.get();
  CertContextPtr cert = CertCreateCertificateContext(kDefaultEncoding, MakeCertificate(spec));
  ASSERT_TRUE(cert);
  CertContextPtr copy = cert;  // a duplicate shares the property
  EXPECT_EQ(CertEnumCertificateContextProperties(*cert, 0), 0u);
  KeyProvInfo info;
  EXPECT_FALSE(CertGetCertificateContextProperty(*cert, kCertKeyProvInfoPropId, &info));
  EXPECT_EQ(GetLastError(), kCryptENotFound);

  KeyProvInfo set{u"容器 one", u"Quillmark Software Provider", kProvRsaFull, 0, kAtSignature};
  ASSERT_TRUE(CertSetCertificateContextProperty(*cert, kCertKeyProvInfoPropId, 0, &set));
  EXPECT_EQ(CertEnumCertificateContextProperties(*copy, 0), kCertKeyProvInfoPropId);
  EXPECT_EQ(CertEnumCertificateContextProperties(*copy, kCertKeyProvInfoPropId), 0u);
  ASSERT_TRUE(CertGetCertificateContextProperty(*copy, kCertKeyProvInfoPropId, &info));
  EXPECT_EQ(info, set);
  EXPECT_EQ(copy->key_prov_info(), set);
  EXPECT_FALSE(CertGetCertificateContextProperty(*copy, 3, &info));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);

  ASSERT_TRUE(CertSetCertificateContextProperty(*cert, kCertKeyProvInfoPropId, 0, nullptr));
  EXPECT_FALSE(copy->key_prov_info());
}

}  // namespace
}  // namespace quillmark::platform
