// The five field texts of a certificate and the record that carries them.
#include "certs/cert_info.h"

#include <gtest/gtest.h>

#include <string>

#include "common/status.h"
#include "common/unicode.h"
#include "support/cert_factory.h"

namespace quillmark::certs {
namespace {

using testing::NameBuilder;

std::string U8(const std::u16string* s) { return s == nullptr ? "<absent>" : Utf16ToUtf8Lossy(*s); }

class CertInfoTest : public ::testing::Test {
 protected:
  platform::CertContextPtr Make(Bytes serial, std::int64_t not_before = 1577836800,
                                Bytes subject = {}) {
    testing::CertSpec spec;
    spec.subject = subject.empty()
                       ? NameBuilder().Add("CN", "张三").Add("O", "Bank, Inc").Add("C", "CN").Der()
                       : subject;
    spec.issuer = NameBuilder().Add("C", "CN").Add("CN", "Issuing CA").Der();
    spec.subject_key = key_.get();
    spec.issuer_key = key_.get();
    spec.serial = std::move(serial);
    spec.not_before = not_before;
    spec.not_after = 2556143999;  // 2050-12-31 23:59:59, a GeneralizedTime
    platform::CertContextPtr cert = platform::CertCreateCertificateContext(
        platform::kDefaultEncoding, testing::MakeCertificate(spec));
    EXPECT_TRUE(cert);
    return cert;
  }

  testing::EvpPkeyPtr key_ = testing::MakeEcKey();
};

TEST_F(CertInfoTest, FillsTheFiveTextsInFieldOrder) {
  platform::CertContextPtr cert = Make({0x01, 0x23, 0x45, 0x67, 0x89});
  CertInfoSet info;
  ASSERT_EQ(FillCertInfo(cert.get(), &info), kOk);
  EXPECT_EQ(U8(info.Get(kFieldSubject)), "CN=张三, O=\"Bank, Inc\", C=CN");
  EXPECT_EQ(U8(info.Get(kFieldIssuer)), "C=CN, CN=Issuing CA");
  EXPECT_EQ(U8(info.Get(kFieldNotBefore)), "2020-01-01 00:00:00GMT");
  EXPECT_EQ(U8(info.Get(kFieldNotAfter)), "2050-12-31 23:59:59GMT");
  EXPECT_EQ(U8(info.Get(kFieldSerial)), "0123 4567 89");
  EXPECT_EQ(info.Get(0), nullptr);
  EXPECT_EQ(info.Get(6), nullptr);
}

TEST_F(CertInfoTest, SerialTextsKeepEveryEncodedByte) {
  struct Case {
    Bytes serial;
    const char* text;
  };
  const Case cases[] = {
      {{0x05}, "05"},
      {{0x01, 0x02}, "0102"},
      {{0x01, 0x02, 0x03}, "0102 03"},
      {{0x00, 0x8F, 0x10}, "008F 10"},  // the sign octet is written too
      {{0x7F, 0xFF, 0xFF, 0xFF}, "7FFF FFFF"},
  };
  for (const Case& c : cases) {
    std::u16string text;
    ASSERT_EQ(CertFieldText(Make(c.serial).get(), kFieldSerial, &text), kOk);
    EXPECT_EQ(U8(&text), c.text);
  }
  // Longer than the 51 bytes a 128-character buffer would hold: every byte is
  // written rather than cut.
  Bytes long_serial(60, 0x11);
  std::u16string text;
  ASSERT_EQ(CertFieldText(Make(long_serial).get(), kFieldSerial, &text), kOk);
  EXPECT_EQ(text.size(), 120u + 29u);
  EXPECT_EQ(text.substr(text.size() - 4), u"1111");
}

TEST_F(CertInfoTest, FieldNumbersOutsideOneToFiveAndMissingArguments) {
  platform::CertContextPtr cert = Make({0x05});
  std::u16string text = u"stale";
  EXPECT_EQ(CertFieldText(cert.get(), 0, &text), kOk);
  EXPECT_EQ(text, u"");
  EXPECT_EQ(CertFieldText(cert.get(), 6, &text), kOk);
  EXPECT_EQ(CertFieldText(nullptr, 1, &text), kErrEmptyInput);
  EXPECT_EQ(CertFieldText(cert.get(), 1, nullptr), kErrEmptyInput);
  CertInfoSet info;
  EXPECT_EQ(FillCertInfo(nullptr, &info), kErrEmptyInput);
  EXPECT_EQ(FillCertInfo(cert.get(), nullptr), kErrEmptyInput);
}

TEST_F(CertInfoTest, TimesAFileTimeCannotHoldFailTheFieldAndClearTheRecord) {
  platform::CertTime t;
  t.year = 1601;
  t.month = 1;
  t.day = 1;
  std::u16string text;
  ASSERT_EQ(FormatCertTime(&t, &text), kOk);
  EXPECT_EQ(U8(&text), "1601-01-01 00:00:00GMT");
  t.year = 1600;
  EXPECT_EQ(FormatCertTime(&t, &text), kFailed);
  EXPECT_EQ(text, u"");
  t.year = 2000;
  t.month = 13;
  EXPECT_EQ(FormatCertTime(&t, &text), kFailed);
  EXPECT_EQ(FormatCertTime(nullptr, &text), kErrEmptyInput);
  EXPECT_EQ(FormatCertTime(&t, nullptr), kErrEmptyInput);

  // A certificate valid from the year 1500: the record comes back empty, even
  // where it held texts before.
  platform::CertContextPtr old = Make({0x05}, -14831769600);  // 1500-01-01
  ASSERT_EQ(old->not_before().year, 1500);
  std::u16string field;
  EXPECT_EQ(CertFieldText(old.get(), kFieldNotBefore, &field), kErrCertFieldUndecodable);
  EXPECT_EQ(CertFieldText(old.get(), kFieldNotAfter, &field), kOk);
  CertInfoSet info;
  ASSERT_EQ(FillCertInfo(Make({0x05}).get(), &info), kOk);
  EXPECT_EQ(FillCertInfo(old.get(), &info), kErrCertFieldUndecodable);
  EXPECT_TRUE(info.AllAbsent());
}

TEST(CertInfoSet, UpdateReplacesOnlyTheFieldsTheNewRecordHolds) {
  CertInfoSet stored;
  for (std::uint32_t f = 1; f <= 5; ++f) stored.Set(f, u"old");
  CertInfoSet fresh;
  fresh.Set(kFieldSubject, u"CN=new");
  fresh.Set(kFieldSerial, u"");  // present and empty still replaces
  stored.UpdateFrom(std::move(fresh));
  EXPECT_EQ(U8(stored.Get(kFieldSubject)), "CN=new");
  EXPECT_EQ(U8(stored.Get(kFieldIssuer)), "old");
  EXPECT_EQ(U8(stored.Get(kFieldNotAfter)), "old");
  EXPECT_EQ(U8(stored.Get(kFieldSerial)), "");
  EXPECT_TRUE(fresh.AllAbsent());
  stored.Clear();
  EXPECT_TRUE(stored.AllAbsent());
}

}  // namespace
}  // namespace quillmark::certs
