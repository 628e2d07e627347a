// Name rendering on certificates with unusual names.
#include <gtest/gtest.h>

#include <string>

#include "common/unicode.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context.h"
#include "support/cert_factory.h"

namespace quillmark::platform {
namespace {

using testing::NameBuilder;

// Makes a self-signed certificate with |subject| and returns its context.
CertContextPtr CertWithSubject(const Bytes& subject, const Bytes& issuer = Bytes()) {
  static testing::EvpPkeyPtr key = testing::MakeEcKey();
  testing::CertSpec spec;
  spec.subject = subject;
  spec.issuer = issuer;
  spec.subject_key = key.get();
  Bytes der = testing::MakeCertificate(spec);
  CertContextPtr cert = CertCreateCertificateContext(kDefaultEncoding, der);
  EXPECT_TRUE(cert);
  return cert;
}

std::u16string Render(ByteSpan name, std::uint32_t type = kCertX500NameStr) {
  std::u16string out = u"unset";
  EXPECT_TRUE(CertNameToStrW(kDefaultEncoding, name, type, &out));
  return out;
}

std::string Utf8(const std::u16string& s) { return Utf16ToUtf8Lossy(s); }

TEST(CertName, UnusualSubjectRendersInEncodedOrderWithQuotingAndEveryStringType) {
  Bytes subject = NameBuilder()
                      .Add("C", "CN", testing::kPrintableString)
                      .Add("O", "Bank, Inc")
                      .Add("OU", "Retail")
                      .Also("CN", "Zhang San")  // multi-valued RDN
                      .Add("CN", "He said \"hi\"")
                      .Add("emailAddress", "zhang@bank.cn", testing::kIa5String)
                      .Add("1.2.3.4.5", "plain")
                      .Add("CN", testing::Ucs2Be(u"张三"), testing::kBmpString)
                      .Add("CN", testing::Ucs4Be(U"smile \U0001F600"), testing::kUniversalString)
                      .Add("L", "Caf\xE9", testing::kT61String)
                      .Add("O", "\xE4\xB8\xAD\xE6\x96\x87")  // UTF-8
                      .Der();
  CertContextPtr cert = CertWithSubject(subject);
  ASSERT_TRUE(cert);
  EXPECT_EQ(Bytes(cert->subject_der().begin(), cert->subject_der().end()), subject);
  std::u16string expected =
      u"C=CN, O=\"Bank, Inc\", OU=Retail + CN=Zhang San, CN=\"He said \"\"hi\"\"\", "
      u"E=zhang@bank.cn, OID.1.2.3.4.5=plain, CN=张三, CN=smile \U0001F600, L=Café, O=中文";
  EXPECT_EQ(Utf8(Render(cert->subject_der())), Utf8(expected));

  std::u16string crlf = expected;
  for (size_t pos = 0; (pos = crlf.find(u", ", pos)) != std::u16string::npos;) {
    if (crlf.compare(pos, 6, u", Inc\"") == 0) {  // inside a quoted value
      pos += 2;
      continue;
    }
    crlf.replace(pos, 2, u"\r\n");
  }
  EXPECT_EQ(Utf8(Render(cert->subject_der(), kCertX500NameStr | kCertNameStrCrlfFlag)), Utf8(crlf));
  EXPECT_EQ(Utf8(Render(cert->subject_der(), kCertSimpleNameStr)),
            Utf8(u"CN, \"Bank, Inc\", Retail + Zhang San, \"He said \"\"hi\"\"\", zhang@bank.cn, "
                 u"plain, 张三, smile \U0001F600, Café, 中文"));
  EXPECT_EQ(Utf8(Render(NameBuilder().Add("CN", "a").Add("1.2.3.4.5", "b").Der(), kCertOidNameStr)),
            "2.5.4.3=a, 1.2.3.4.5=b");
}

TEST(CertName, QuotingRules) {
  struct Case {
    const char* value;
    const char* rendered;
  } cases[] = {
      {"plain value", "CN=plain value"},
      {"", "CN=\"\""},
      {" lead", "CN=\" lead\""},
      {"trail ", "CN=\"trail \""},
      {"\ttab", "CN=\"\ttab\""},
      {"a,b", "CN=\"a,b\""},
      {"a+b", "CN=\"a+b\""},
      {"a=b", "CN=\"a=b\""},
      {"a;b", "CN=\"a;b\""},
      {"<a>", "CN=\"<a>\""},
      {"#1", "CN=\"#1\""},
      {"a\rb", "CN=\"a\rb\""},
      {"a\nb", "CN=\"a\nb\""},
      {"\"", "CN=\"\"\"\""},
      {"say \"x\" now", "CN=\"say \"\"x\"\" now\""},
      {"in side", "CN=in side"},
      {"it's (ok) & fine!", "CN=it's (ok) & fine!"},
  };
  for (const Case& c : cases) {
    CertContextPtr cert = CertWithSubject(NameBuilder().Add("CN", c.value).Der());
    ASSERT_TRUE(cert);
    EXPECT_EQ(Utf8(Render(cert->subject_der())), c.rendered) << "value: " << c.value;
  }
}

TEST(CertName, EveryKeyOfTheTableAndOidForOthers) {
  struct Case {
    const char* oid;
    const char* key;
  } cases[] = {
      {"2.5.4.3", "CN"},
      {"2.5.4.7", "L"},
      {"2.5.4.10", "O"},
      {"2.5.4.11", "OU"},
      {"1.2.840.113549.1.9.1", "E"},
      {"2.5.4.6", "C"},
      {"2.5.4.8", "S"},
      {"2.5.4.9", "STREET"},
      {"2.5.4.12", "T"},
      {"2.5.4.42", "G"},
      {"2.5.4.43", "I"},
      {"2.5.4.4", "SN"},
      {"0.9.2342.19200300.100.1.25", "DC"},
      {"2.5.4.5", "SERIALNUMBER"},
      {"2.5.4.13", "Description"},
      {"2.5.4.17", "PostalCode"},
      {"2.5.4.18", "POBox"},
      {"2.5.4.20", "Phone"},
      {"2.5.4.24", "X21Address"},
      {"2.5.4.46", "dnQualifier"},
      {"2.5.4.65", "OID.2.5.4.65"},  // pseudonym: not in the table
      {"0.9.2342.19200300.100.1.1", "OID.0.9.2342.19200300.100.1.1"},  // uid
      {"1.3.6.1.4.1.311.60.2.1.3", "OID.1.3.6.1.4.1.311.60.2.1.3"},
      {"2.999.1", "OID.2.999.1"},
  };
  NameBuilder all;
  std::string expected;
  for (const Case& c : cases) {
    all.Add(c.oid, "v");
    if (!expected.empty()) expected += ", ";
    expected += std::string(c.key) + "=v";
  }
  CertContextPtr cert = CertWithSubject(all.Der());
  ASSERT_TRUE(cert);
  EXPECT_EQ(Utf8(Render(cert->subject_der())), expected);
}

TEST(CertName, ValuesOfOtherTypesAreHexDer) {
  // A BIT STRING value goes through OpenSSL's certificate parser; an OCTET
  // STRING value only as a bare Name.
  Bytes bits = testing::Tlv(0x03, Bytes{0x00, 0xAB, 0x01});
  CertContextPtr cert = CertWithSubject(NameBuilder().Add("CN", "x").AddRaw("1.2.3.4", bits).Der());
  ASSERT_TRUE(cert);
  EXPECT_EQ(Utf8(Render(cert->subject_der())), "CN=x, OID.1.2.3.4=#030300AB01");

  Bytes octets = NameBuilder()
                     .AddRaw("2.5.4.3", testing::Tlv(0x04, Bytes{0x01, 0x02, 0xFE}))
                     .AddRaw("2.5.4.10", testing::Tlv(0x02, Bytes{0x05}))
                     .Der();
  EXPECT_EQ(Utf8(Render(octets)), "CN=#04030102FE, O=#020105");

  // The remaining 8-bit string types are text, not hex.
  Bytes eight_bit = NameBuilder()
                        .Add("serialNumber", "0123", 0x12)  // NumericString
                        .Add("CN", "Visible", 0x1A)         // VisibleString
                        .Add("L", "Gen\xE8ral", 0x1B)       // GeneralString, Latin-1
                        .Der();
  EXPECT_EQ(Utf8(Render(eight_bit)), "SERIALNUMBER=0123, CN=Visible, L=Gen\xC3\xA8ral");
}

TEST(CertName, BufferFormCountsTerminatorAndUndecodableNamesGiveZero) {
  Bytes name = NameBuilder().Add("CN", "Alice").Add("O", "Bank").Der();
  EXPECT_EQ(CertNameToStrW(kDefaultEncoding, name, kCertX500NameStr, nullptr, 0), 17u);
  char16_t buf[17];
  EXPECT_EQ(CertNameToStrW(kDefaultEncoding, name, kCertX500NameStr, buf, 17), 17u);
  EXPECT_EQ(std::u16string(buf), u"CN=Alice, O=Bank");
  char16_t small[6];
  EXPECT_EQ(CertNameToStrW(kDefaultEncoding, name, kCertX500NameStr, small, 6), 6u);
  EXPECT_EQ(std::u16string(small), u"CN=Al");

  Bytes empty_name = {0x30, 0x00};
  EXPECT_EQ(CertNameToStrW(kDefaultEncoding, empty_name, kCertX500NameStr, nullptr, 0), 1u);

  Bytes truncated(name.begin(), name.end() - 1);
  Bytes trailing = name;
  trailing.push_back(0x00);
  Bytes odd_bmp = NameBuilder().Add("CN", "abc", testing::kBmpString).Der();
  Bytes bad_universal = NameBuilder().Add("CN", "abcdef", testing::kUniversalString).Der();
  Bytes not_a_set = {0x30, 0x05, 0x30, 0x03, 0x06, 0x01, 0x00};
  Bytes missing_value = {0x30, 0x09, 0x31, 0x07, 0x30, 0x05, 0x06, 0x03, 0x55, 0x04, 0x03};
  for (const Bytes& bad : {truncated, trailing, odd_bmp, bad_universal, not_a_set, missing_value,
                           Bytes{}, Bytes{0x31, 0x00}}) {
    SetLastError(0);
    EXPECT_EQ(CertNameToStrW(kDefaultEncoding, bad, kCertX500NameStr, nullptr, 0), 0u);
    EXPECT_EQ(GetLastError(), kCryptEOssError);
    std::u16string out = u"kept";
    EXPECT_FALSE(CertNameToStrW(kDefaultEncoding, bad, kCertX500NameStr, &out));
    EXPECT_EQ(out, u"kept");
  }
  // Malformed UTF-8 in a UTF8String is shown, not refused.
  EXPECT_EQ(Utf8(Render(NameBuilder()
                            .Add("CN",
                                 "a\xFF"
                                 "b")
                            .Der())),
            "CN=a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(CertNameToStrW(0x2 /* not X509 */, name, kCertX500NameStr, nullptr, 0), 0u);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST(CertName, SimpleDisplayNamePrefersCnThenOuThenOThenEmail) {
  struct Case {
    Bytes name;
    std::u16string display;
  } cases[] = {
      {NameBuilder().Add("C", "CN").Add("O", "Bank").Add("OU", "Dept").Add("CN", "Zhang").Der(),
       u"Zhang"},
      {NameBuilder().Add("O", "Bank").Add("OU", "Dept").Add("emailAddress", "a@b.cn").Der(),
       u"Dept"},
      {NameBuilder().Add("C", "CN").Add("emailAddress", "a@b.cn").Add("O", "Bank, Inc").Der(),
       u"Bank, Inc"},
      {NameBuilder().Add("C", "CN").Add("emailAddress", "a@b.cn", testing::kIa5String).Der(),
       u"a@b.cn"},
      {NameBuilder().Add("C", "CN").Add("L", "Beijing").Der(), u""},
      {NameBuilder().Add("CN", "first").Add("CN", "second").Der(), u"first"},
      {NameBuilder().Add("OU", "x").Also("CN", " spaced ").Der(), u" spaced "},
      {NameBuilder().Add("CN", testing::Ucs2Be(u"李四"), testing::kBmpString).Der(), u"李四"},
  };
  for (const Case& c : cases) {
    CertContextPtr cert = CertWithSubject(c.name);
    ASSERT_TRUE(cert);
    EXPECT_EQ(Utf8(CertGetNameStringW(*cert, kCertNameSimpleDisplayType, 0)), Utf8(c.display))
        << Utf8(Render(c.name));
  }

  Bytes issuer = NameBuilder().Add("O", "Issuing Bank").Add("OU", "CA Dept").Der();
  CertContextPtr issued = CertWithSubject(NameBuilder().Add("CN", "Leaf").Der(), issuer);
  ASSERT_TRUE(issued);
  EXPECT_EQ(CertGetNameStringW(*issued, kCertNameSimpleDisplayType, 0), u"Leaf");
  EXPECT_EQ(CertGetNameStringW(*issued, kCertNameSimpleDisplayType, kCertNameIssuerFlag),
            u"CA Dept");
}

}  // namespace
}  // namespace quillmark::platform
