// One-line extension texts: what OpenSSL-made certificates carry, hand-built
// values for the rarer forms, the buffer protocol, and values that are not
// what their OID says.
#include "platform/names/cert_extension.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/unicode.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context.h"
#include "support/cert_factory.h"

namespace quillmark::platform {
namespace {

using testing::NameBuilder;
using testing::Tlv;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Str(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes T(int tag, const Bytes& content) { return Tlv(tag, content); }
Bytes Oid(Bytes content) { return T(0x06, content); }

std::string Format(std::string_view oid, ByteSpan value) {
  std::u16string text;
  EXPECT_TRUE(CryptFormatObject(kX509AsnEncoding, 0, 0, oid, value, &text)) << oid;
  return Utf16ToUtf8Lossy(text);
}

TEST(CertExtension, ExtensionsOfAnIssuedCertificate) {
  testing::EvpPkeyPtr key = testing::MakeEcKey();
  testing::CertSpec spec;
  spec.subject = NameBuilder().Add("CN", "Alice").Der();
  spec.subject_key = key.get();
  spec.extensions = {
      {"keyUsage", "critical,digitalSignature,nonRepudiation,keyEncipherment"},
      {"basicConstraints", "CA:FALSE"},
      {"extendedKeyUsage", "clientAuth,emailProtection,serverAuth,1.2.3.4"},
      {"subjectKeyIdentifier", "8F:3A:01:BC"},
      {"subjectAltName", "email:a@b.cn,DNS:b.cn,URI:http://b.cn/,IP:10.0.0.1,IP:2001:db8::1"},
      {"crlDistributionPoints", "URI:http://b.cn/ca.crl"},
      {"certificatePolicies", "DER:30:07:30:05:06:03:2A:03:04"},  // needs a config otherwise
      {"nsComment", "hi"},
      {"1.2.3.4.5", "DER:01:02:03"},
  };
  CertContextPtr cert =
      CertCreateCertificateContext(kDefaultEncoding, testing::MakeCertificate(spec));
  ASSERT_TRUE(cert);
  const std::pair<const char*, const char*> expected[] = {
      {"2.5.29.15", "Digital Signature, Non-Repudiation, Key Encipherment (e0)"},
      {"2.5.29.19", "Subject Type=End Entity, Path Length Constraint=None"},
      {"2.5.29.37",
       "Client Authentication (1.3.6.1.5.5.7.3.2), Secure Email (1.3.6.1.5.5.7.3.4), Server "
       "Authentication (1.3.6.1.5.5.7.3.1), Unknown Key Usage (1.2.3.4)"},
      {"2.5.29.14", "8f 3a 01 bc"},
      {"2.5.29.17",
       "RFC822 Name=a@b.cn, DNS Name=b.cn, URL=http://b.cn/, IP Address=10.0.0.1, IP "
       "Address=2001:db8:0:0:0:0:0:1"},
      {"2.5.29.31",
       "[1]CRL Distribution Point: Distribution Point Name: Full Name: URL=http://b.cn/ca.crl"},
      {"2.5.29.32", "[1]Certificate Policy: Policy Identifier=1.2.3.4"},
      {"2.16.840.1.113730.1.13", "16 02 68 69"},
      {"1.2.3.4.5", "01 02 03"},
  };
  for (const auto& [oid, text] : expected) {
    const CertExtension* ext = CertFindExtension(oid, cert->extensions());
    ASSERT_NE(ext, nullptr) << oid;
    EXPECT_EQ(Format(oid, ext->value), text) << oid;
  }
  SetLastError(0);
  EXPECT_EQ(CertFindExtension("2.5.29.35", cert->extensions()), nullptr);
  EXPECT_EQ(GetLastError(), kCryptENotFound);
}

TEST(CertExtension, HandBuiltValues) {
  const Bytes root = NameBuilder().Add("CN", "Root CA").Der();
  const Bytes xy = NameBuilder().Add("CN", "x").Add("O", "y").Der();
  const Bytes part = NameBuilder().Add("CN", "Part").Der();
  const Bytes part_atv(part.begin() + 4, part.end());  // the RDN's contents
  const Bytes upn = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x14, 0x02, 0x03};
  const Bytes ipv6 = {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01};
  const Bytes user_notice =
      T(0x30, Cat({T(0x30, Cat({T(0x0C, Str("Org")), T(0x30, Cat({T(0x02, {1}), T(0x02, {2})}))})),
                   T(0x1E, Str(testing::Ucs2Be(u"Hi")))}));
  struct Case {
    const char* oid;
    Bytes value;
    const char* text;
  } cases[] = {
      {"2.5.29.15", {0x03, 0x03, 0x07, 0x80, 0x80}, "Digital Signature, Decipher Only (80 80)"},
      {"2.5.29.15",
       {0x03, 0x02, 0x01, 0x06},
       "Certificate Signing, Off-line CRL Signing, CRL Signing (06)"},
      {"2.5.29.15",
       {0x03, 0x02, 0x00, 0x19},
       "Data Encipherment, Key Agreement, Encipher Only (19)"},
      {"2.5.29.15", {0x03, 0x01, 0x00}, "(00)"},
      {"2.5.29.19",
       {0x30, 0x06, 0x01, 0x01, 0xFF, 0x02, 0x01, 0x03},
       "Subject Type=CA, Path Length Constraint=3"},
      {"2.5.29.19", {0x30, 0x03, 0x01, 0x01, 0xFF}, "Subject Type=CA, Path Length Constraint=None"},
      {"2.5.29.19",
       {0x30, 0x04, 0x02, 0x02, 0x00, 0xC8},
       "Subject Type=End Entity, Path Length Constraint=200"},
      {"2.5.29.35",
       T(0x30, Cat({T(0x80, {0x8F, 0x3A}), T(0xA1, T(0xA4, root)), T(0x82, {0x01, 0x05})})),
       "KeyID=8f 3a, Certificate Issuer=Directory Address=CN=Root CA, Certificate SerialNumber=01 "
       "05"},
      {"2.5.29.35", T(0x30, T(0x80, {0xAB})), "KeyID=ab"},
      {"2.5.29.18",
       T(0x30, Cat({T(0x87, ipv6), T(0xA4, xy), T(0x88, {0x2A, 0x03, 0x04}),
                    T(0xA0, Cat({Oid(upn), T(0xA0, T(0x0C, Str("u@b.cn")))})),
                    T(0xA0, Cat({Oid({0x2A, 0x03}), T(0xA0, T(0x04, {1, 2}))})),
                    T(0x87, {10, 0, 0, 0, 255, 0, 0, 0})})),
       "IP Address=2001:db8:0:0:0:0:0:1, Directory Address=CN=x, O=y, Registered ID=1.2.3.4, "
       "Other Name:Principal Name=u@b.cn, Other Name:1.2.3=04 02 01 02, "
       "IP Address=0a 00 00 00 ff 00 00 00"},
      {"2.5.29.31",
       T(0x30, Cat({T(0x30, Cat({T(0xA0, T(0xA0, T(0x86, Str("http://b.cn/ca.crl")))),
                                 T(0x81, {0x05, 0x60}), T(0xA2, T(0xA4, root))})),
                    T(0x30, T(0xA0, T(0xA1, part_atv)))})),
       "[1]CRL Distribution Point: Distribution Point Name: Full Name: URL=http://b.cn/ca.crl, "
       "Reason Flags=Key Compromise, CA Compromise (60), CRL Issuer: Directory Address=CN=Root CA, "
       "[2]CRL Distribution Point: Distribution Point Name: Name Relative To CRL Issuer: CN=Part"},
      {"2.5.29.32",
       T(0x30, Cat({T(0x30, Cat({Oid({0x55, 0x1D, 0x20, 0x00}),
                                 T(0x30, Cat({T(0x30, Cat({Oid({0x2B, 6, 1, 5, 5, 7, 2, 1}),
                                                           T(0x16, Str("http://b.cn/cps"))})),
                                              T(0x30, Cat({Oid({0x2B, 6, 1, 5, 5, 7, 2, 2}),
                                                           user_notice}))}))})),
                    T(0x30, Oid({0x2A, 0x03, 0x04}))})),
       "[1]Certificate Policy: Policy Identifier=All Issuance Policies, "
       "[1,1]Policy Qualifier Info: Policy Qualifier Id=CPS, Qualifier=http://b.cn/cps, "
       "[1,2]Policy Qualifier Info: Policy Qualifier Id=User Notice, Qualifier=Notice Reference: "
       "Organization=Org, Notice Number=1, 2, Notice Text=Hi, "
       "[2]Certificate Policy: Policy Identifier=1.2.3.4"},
  };
  for (const Case& c : cases) EXPECT_EQ(Format(c.oid, c.value), c.text) << c.oid;
}

TEST(CertExtension, MalformedValuesFallBackToHex) {
  struct Case {
    const char* oid;
    Bytes value;
  } cases[] = {
      {"2.5.29.15", {0x03, 0x02, 0x05, 0xE0, 0x00}},        // bytes after the value
      {"2.5.29.15", {0x03, 0x02, 0x09, 0xE0}},              // 9 unused bits
      {"2.5.29.15", {0x04, 0x01, 0xE0}},                    // not a BIT STRING
      {"2.5.29.19", {0x30, 0x03, 0x02, 0x01, 0xFF}},        // negative length
      {"2.5.29.19", {0x30, 0x03, 0x01, 0x02, 0xFF}},        // two-byte BOOLEAN
      {"2.5.29.37", {0x30, 0x05, 0x06, 0x03, 0x2A, 0x03}},  // runs past the end
      {"2.5.29.37", {0x30, 0x00}},                          // no usage at all
      {"2.5.29.17", {0x30, 0x03, 0x89, 0x01, 0x00}},
      {"2.5.29.17", {0x30, 0x00}},  // no name at all
      {"2.5.29.32",
       T(0x30, T(0x30, Cat({Oid({0x2A, 0x03}),
                            T(0x30, T(0x30, Cat({Oid({0x2B, 6, 1, 5, 5, 7, 2, 2}),
                                                 T(0x30, T(0x1E, {0x00, 0x48, 0x00}))})))})))},
      // no such name form
      {"2.5.29.17", {0x30, 0x04, 0xA4, 0x02, 0x31, 0x00}},  // directory name not a Name
      {"2.5.29.35", {0x30, 0x07, 0x82, 0x01, 0x05, 0x80, 0x02, 0x8F, 0x3A}},  // out of order
      {"2.5.29.31", {0x30, 0x05, 0x30, 0x03, 0xA0, 0x01, 0x00}},              // bad point name
      {"2.5.29.32", {0x30, 0x04, 0x30, 0x02, 0x02, 0x00}},                    // no policy OID
      {"2.5.29.14", {0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}},                    // absurd length
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Format(c.oid, c.value), Utf16ToUtf8Lossy(HexSpacedLower(c.value))) << c.oid;
  }
  EXPECT_EQ(Format("2.5.29.15", {}), "");

  // Every truncation and every flipped byte of a rich value renders as
  // something without reading outside it.
  const Bytes root = NameBuilder().Add("CN", "Root CA").Add("O", "Bank").Der();
  const Bytes values[] = {
      T(0x30, Cat({T(0x30, Cat({T(0xA0, T(0xA0, Cat({T(0x86, Str("http://a/")), T(0xA4, root)}))),
                                T(0x81, {0x05, 0x60}), T(0xA2, T(0xA4, root))}))})),
      T(0x30, Cat({T(0x80, {0x8F}), T(0xA1, T(0xA4, root)), T(0x82, {0x01})})),
  };
  const char* oids[] = {"2.5.29.31", "2.5.29.35", "2.5.29.17", "2.5.29.32", "2.5.29.19"};
  for (const Bytes& v : values) {
    for (const char* oid : oids) {
      for (std::size_t n = 0; n < v.size(); ++n) {
        Format(oid, ByteSpan(v).first(n));
        Bytes bad = v;
        bad[n] ^= 0xFF;
        Format(oid, bad);
        bad[n] = static_cast<std::uint8_t>(v[n] + 1);
        Format(oid, bad);
      }
    }
  }
}

TEST(CertExtension, BufferProtocolAndArguments) {
  const Bytes ku = {0x03, 0x02, 0x05, 0xE0};
  const std::u16string text = u"Digital Signature, Non-Repudiation, Key Encipherment (e0)";
  const std::uint32_t needed = static_cast<std::uint32_t>((text.size() + 1) * 2);
  std::uint32_t size = 0;
  ASSERT_TRUE(CryptFormatObject(kDefaultEncoding, 0, 0, "2.5.29.15", ku, nullptr, &size));
  EXPECT_EQ(size, needed);

  std::vector<char16_t> buffer(text.size() + 1, u'#');
  size = needed - 2;
  SetLastError(0);
  EXPECT_FALSE(CryptFormatObject(kDefaultEncoding, 0, 0, "2.5.29.15", ku, buffer.data(), &size));
  EXPECT_EQ(GetLastError(), kErrorMoreData);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(buffer[0], u'#');

  ASSERT_TRUE(CryptFormatObject(kDefaultEncoding, 0, 0, "2.5.29.15", ku, buffer.data(), &size));
  EXPECT_EQ(std::u16string(buffer.data()), text);
  EXPECT_EQ(buffer.back(), u'\0');

  std::u16string out;
  EXPECT_FALSE(CryptFormatObject(kPkcs7AsnEncoding, 0, 0, "2.5.29.15", ku, &out));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(CryptFormatObject(kX509AsnEncoding, 0, 1, "2.5.29.15", ku, &out));
  EXPECT_FALSE(CryptFormatObject(kX509AsnEncoding, 0, 0, "2.5.29.15", ku, nullptr, nullptr));
}

}  // namespace
}  // namespace quillmark::platform
