// The control's state, property handlers and setters.
#include <gtest/gtest.h>

#include <string>

#include "common/status.h"
#include "support/control_fixture.h"

namespace quillmark::control {
namespace {

using testing::ControlTest;
using testing::U8;

TEST_F(ControlTest, FreshInstanceReportsNoErrorAndTheDefaultMaxCompSize) {
  EXPECT_EQ(Num(), 0);
  std::int32_t code = -1;
  EXPECT_EQ(qm_.get_errorCode(&code), S_OK);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Msg(), "");
  std::int32_t max = 0;
  EXPECT_EQ(qm_.get_MaxCompSize(&max), S_OK);
  EXPECT_EQ(max, 51200);
}

TEST_F(ControlTest, FreshInstanceHoldsTheDefaultSettings) {
  const ControlSettings& s = qm_.settings();
  EXPECT_EQ(U8(s.dn_separator), "|");
  EXPECT_EQ(s.code_page, 936u);
  EXPECT_EQ(s.digest_oid, "1.3.14.3.2.26");
  EXPECT_EQ(s.symmetric_oid, "1.2.840.113549.3.4");
  EXPECT_EQ(s.server_mode, 0u);
  EXPECT_EQ(s.sign_mode, 1);
  EXPECT_FALSE(s.outgoing_plain_text.has_value());
  EXPECT_FALSE(s.received_plain_text.has_value());
  EXPECT_FALSE(s.sm2_store_name.has_value());
  EXPECT_TRUE(s.signer_info.AllAbsent());
  EXPECT_TRUE(s.recipient_info.AllAbsent());
}

TEST_F(ControlTest, FreshInstanceHoldsTheDefaultDialogTexts) {
  const ControlSettings& s = qm_.settings();
  const char* dialog[] = {"请选择您要用的证书",
                          "请在列表中选择证书",
                          "主题",
                          "颁发者",
                          "截止日期",
                          "确定",
                          "取消",
                          "查看"};
  for (std::size_t k = 0; k < kDialogTextCount; ++k) {
    EXPECT_EQ(U8(s.dialog_texts[k]), dialog[k]);
    EXPECT_LT(s.dialog_texts[k].size(), 32u);
  }
}

// Three lines separated by CR LF, within the 128-unit buffer.
TEST_F(ControlTest, FreshInstanceHoldsAThreeLineNotice) {
  const ControlSettings& s = qm_.settings();
  std::string notice = U8(s.notice_text);
  EXPECT_LT(s.notice_text.size(), 128u);
  std::size_t first = notice.find("\r\n");
  ASSERT_NE(first, std::string::npos);
  std::size_t second = notice.find("\r\n", first + 2);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(notice.find("\r\n", second + 2), std::string::npos);
  EXPECT_NE(notice.find("Quillmark"), std::string::npos);
  EXPECT_NE(notice.find("20"), std::string::npos);  // the build year
}

TEST_F(ControlTest, FreshInstanceHasEmptyCertificateTexts) {
  for (std::uint32_t type = 1; type <= 5; ++type) {
    std::u16string out = u"x";
    EXPECT_EQ(qm_.QMGetSignerCertInfo(type, &out), S_OK);
    EXPECT_EQ(out, u"");
    out = u"x";
    EXPECT_EQ(qm_.QMGetReciptCertInfo(type, &out), S_OK);
    EXPECT_EQ(out, u"");
  }
}

TEST_F(ControlTest, CertInfoTypeOutsideOneToFiveFails) {
  for (std::uint32_t type : {0u, 6u, 0xFFFFFFFFu}) {
    std::u16string out = u"x";
    EXPECT_EQ(qm_.QMGetSignerCertInfo(type, &out), S_FALSE);
    EXPECT_EQ(out, u"");
    EXPECT_EQ(Num(), kErrBadInfoType);
    EXPECT_EQ(Msg(), "类型错误，没有该类型的值");
    out = u"x";
    EXPECT_EQ(qm_.QMGetReciptCertInfo(type, &out), S_FALSE);
    EXPECT_EQ(Num(), kErrBadInfoType);
  }
  std::u16string out;
  EXPECT_EQ(qm_.QMGetSignerCertInfo(5, &out), S_OK);
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "");
}

TEST_F(ControlTest, MaxCompSizeTakesOnlyPositiveValuesWithoutTouchingTheErrorState) {
  FailSomething();
  std::int32_t max = 0;
  for (std::int32_t value : {0, -5, INT32_MIN}) {
    EXPECT_EQ(qm_.put_MaxCompSize(value), S_OK);
    qm_.get_MaxCompSize(&max);
    EXPECT_EQ(max, 51200);
  }
  EXPECT_EQ(qm_.put_MaxCompSize(1), S_OK);
  qm_.get_MaxCompSize(&max);
  EXPECT_EQ(max, 1);
  EXPECT_EQ(Num(), kErrBytesToText);
  EXPECT_EQ(Msg(), "字符编码转换失败");
}

TEST_F(ControlTest, DnSeparatorOfSevenUnitsLeavesTheErrorStateAlone) {
  FailSomething();
  EXPECT_EQ(qm_.put_DNspliter(u"1234567"), S_OK);
  EXPECT_EQ(U8(qm_.settings().dn_separator), "1234567");
  EXPECT_EQ(Num(), kErrBytesToText);
  EXPECT_EQ(Msg(), "字符编码转换失败");
}

TEST_F(ControlTest, DnSeparatorOfEightUnitsFailsWithoutAMessage) {
  FailSomething();
  EXPECT_EQ(qm_.put_DNspliter(u"1234567"), S_OK);
  EXPECT_EQ(qm_.put_DNspliter(u"12345678"), S_FALSE);
  EXPECT_EQ(Num(), kErrSeparatorLimit);
  EXPECT_EQ(Msg(), "字符编码转换失败");  // errMsg is not set
  EXPECT_EQ(U8(qm_.settings().dn_separator), "1234567");
}

// Seven UTF-16 units, not seven characters: 4 astral characters are 8 units.
TEST_F(ControlTest, DnSeparatorCountsUtf16Units) {
  EXPECT_EQ(qm_.put_DNspliter(u"😀😀😀😀"), S_FALSE);
  EXPECT_EQ(qm_.put_DNspliter(u"、；"), S_OK);
  EXPECT_EQ(U8(qm_.settings().dn_separator), "、；");
}

// The separator is a terminated string, and may be empty.
TEST_F(ControlTest, DnSeparatorIsATerminatedString) {
  EXPECT_EQ(qm_.put_DNspliter(u""), S_OK);
  EXPECT_EQ(qm_.settings().dn_separator, u"");
  EXPECT_EQ(qm_.put_DNspliter(std::u16string(u"ab\0cd", 5)), S_OK);
  EXPECT_EQ(qm_.settings().dn_separator, u"ab");
}

TEST_F(ControlTest, ServerModeIsOneForAnyNonZeroValueAndClearsTheError) {
  FailSomething();
  EXPECT_EQ(qm_.put_QMServerMode(7), S_OK);
  EXPECT_EQ(qm_.settings().server_mode, 1u);
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "");
  EXPECT_EQ(qm_.put_QMServerMode(0), S_OK);
  EXPECT_EQ(qm_.settings().server_mode, 0u);
}

TEST_F(ControlTest, SignModeOutsideOneToFourIsReportedAndIgnored) {
  FailSomething();
  EXPECT_EQ(qm_.put_QMSignMode(5), S_OK);
  EXPECT_EQ(Num(), kErrBadSignMode);
  EXPECT_EQ(Msg(), "");
  EXPECT_EQ(qm_.settings().sign_mode, 1);
  EXPECT_EQ(qm_.put_QMSignMode(0), S_OK);
  EXPECT_EQ(Num(), kErrBadSignMode);
}

TEST_F(ControlTest, SignModesOneToFourAreStored) {
  FailSomething();
  EXPECT_EQ(qm_.put_QMSignMode(0), S_OK);
  for (std::int32_t mode : {2, 3, 4, 1}) {
    EXPECT_EQ(qm_.put_QMSignMode(mode), S_OK);
    EXPECT_EQ(Num(), 0);
    EXPECT_EQ(qm_.settings().sign_mode, mode);
  }
}

TEST_F(ControlTest, CodePageIsStoredUncheckedAndFailsLaterConversions) {
  FailSomething();
  EXPECT_EQ(qm_.QMSetCodePage(12345), S_OK);
  EXPECT_EQ(qm_.settings().code_page, 12345u);
  EXPECT_EQ(Num(), kErrBytesToText);  // untouched
  std::u16string out = u"x";
  EXPECT_EQ(qm_.QMBase64Encode(u"abc", &out), S_FALSE);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(Num(), kErrTextToBytes);
  EXPECT_EQ(Msg(), "字符编码转换失败");
  EXPECT_EQ(qm_.QMSetDigestArithmetic(u"1.2.3"), S_FALSE);
  EXPECT_EQ(Num(), kErrTextToBytes);
  EXPECT_EQ(qm_.settings().digest_oid, "1.3.14.3.2.26");
}

TEST_F(ControlTest, AnEmptyAlgorithmOidFails) {
  EXPECT_EQ(qm_.QMSetDigestArithmetic(u""), S_FALSE);
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "源数据为空");
}

TEST_F(ControlTest, DigestAndSymmetricOidsAreStoredApart) {
  EXPECT_EQ(qm_.QMSetDigestArithmetic(u"2.16.840.1.101.3.4.2.1"), S_OK);
  EXPECT_EQ(qm_.settings().digest_oid, "2.16.840.1.101.3.4.2.1");
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "");
  EXPECT_EQ(qm_.QMSetSymmetryArithmetic(u"1.2.156.10197.1.104"), S_OK);
  EXPECT_EQ(qm_.settings().symmetric_oid, "1.2.156.10197.1.104");
  EXPECT_EQ(qm_.settings().digest_oid, "2.16.840.1.101.3.4.2.1");
}

// Any text is taken; 127 bytes fit, 128 do not and keep the old value.
TEST_F(ControlTest, AlgorithmOidsHoldAtMost127Bytes) {
  EXPECT_EQ(qm_.QMSetSymmetryArithmetic(u"1.2.156.10197.1.104"), S_OK);
  std::u16string fits(127, u'7');
  EXPECT_EQ(qm_.QMSetDigestArithmetic(fits), S_OK);
  EXPECT_EQ(qm_.settings().digest_oid, std::string(127, '7'));
  EXPECT_EQ(qm_.QMSetSymmetryArithmetic(fits + u"7"), S_FALSE);
  EXPECT_EQ(Num(), kErrTooLong);
  EXPECT_EQ(Msg(), "算法标识太长");
  EXPECT_EQ(qm_.settings().symmetric_oid, "1.2.156.10197.1.104");
}

// The limit counts bytes in the code page: 50 CJK characters are 100 bytes
// in GBK but 150 in UTF-8.
TEST_F(ControlTest, TheOidLimitCountsCodePageBytes) {
  std::u16string cjk(50, u'中');
  EXPECT_EQ(qm_.QMSetDigestArithmetic(cjk), S_OK);
  EXPECT_EQ(qm_.settings().digest_oid.size(), 100u);
  qm_.QMSetCodePage(65001);
  EXPECT_EQ(qm_.QMSetDigestArithmetic(cjk), S_FALSE);
  EXPECT_EQ(Num(), kErrTooLong);
}

// Conversion stops at a NUL unit: a text of one NUL stores an empty OID.
TEST_F(ControlTest, AnOidOfOneNulIsStoredEmpty) {
  EXPECT_EQ(qm_.QMSetDigestArithmetic(std::u16string(1, u'\0')), S_OK);
  EXPECT_EQ(qm_.settings().digest_oid, "");
}

TEST_F(ControlTest, Sm2StoreNameIsSetAndAnEmptyOneClearsIt) {
  EXPECT_EQ(qm_.QMSetSM2CertStoreName(u"SM2"), S_OK);
  EXPECT_EQ(U8(*qm_.settings().sm2_store_name), "SM2");
  EXPECT_EQ(qm_.QMSetSM2CertStoreName(u""), S_FALSE);
  EXPECT_FALSE(qm_.settings().sm2_store_name.has_value());
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "源数据为空");
}

// A store name with a control character names no store a page may use: it
// is refused as a store that cannot be opened, and no name is left set.
TEST_F(ControlTest, Sm2StoreNameWithControlCharactersIsRefused) {
  for (const std::u16string& name :
       {std::u16string(u"SM2\x1b[2J"), std::u16string(u"SM2\n"), std::u16string(u"\x7fSM2"),
        std::u16string(u"S\u0085M2"), std::u16string(u"SM2\u009b"), std::u16string(u"a\0b", 3)}) {
    ASSERT_EQ(qm_.QMSetSM2CertStoreName(u"SM2"), S_OK);
    EXPECT_EQ(qm_.QMSetSM2CertStoreName(name), S_FALSE);
    EXPECT_EQ(Num(), kErrStoreOpen);
    EXPECT_EQ(Msg(), "打不开证书存储区");
    EXPECT_FALSE(qm_.settings().sm2_store_name.has_value());
  }
  // Names beyond ASCII, spaces and punctuation are names like any other.
  for (std::u16string_view name : {u"国密 SM2", u"SM2 (2024)", u"\u00a0SM2\u00ff"}) {
    EXPECT_EQ(qm_.QMSetSM2CertStoreName(name), S_OK);
    EXPECT_EQ(*qm_.settings().sm2_store_name, name);
    EXPECT_EQ(Num(), 0);
  }
}

TEST_F(ControlTest, NoticeTextIsReplacedByAnyNonEmptyText) {
  std::u16string notice = qm_.settings().notice_text;
  EXPECT_EQ(qm_.QMSetCopyRightInfo(u""), S_FALSE);
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "源数据为空");
  EXPECT_EQ(qm_.settings().notice_text, notice);
  std::u16string long_notice(300, u'注');  // longer than the default's buffer
  EXPECT_EQ(qm_.QMSetCopyRightInfo(long_notice), S_OK);
  EXPECT_EQ(qm_.settings().notice_text, long_notice);
  EXPECT_EQ(Num(), 0);
}

TEST_F(ControlTest, DialogPromptReplacesTextsInOrderUpToTheFirstEmptyOne) {
  EXPECT_EQ(qm_.QMSetDialogPrompt(u"T", u"P", u"S", u"", u"N", u"O", u"C", u"V"), S_FALSE);
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "源数据为空");
  DialogTexts texts = qm_.settings().dialog_texts;
  EXPECT_EQ(U8(texts[kDialogTitle]), "T");
  EXPECT_EQ(U8(texts[kDialogPrompt]), "P");
  EXPECT_EQ(U8(texts[kDialogSubjectColumn]), "S");
  EXPECT_EQ(U8(texts[kDialogIssuerColumn]), "颁发者");
  EXPECT_EQ(U8(texts[kDialogNotAfterColumn]), "截止日期");
  EXPECT_EQ(U8(texts[kDialogViewButton]), "查看");
}

TEST_F(ControlTest, DialogPromptReplacementsAreSizedToTheNewTexts) {
  std::u16string wide(100, u'x');  // a replacement is sized to the new text
  EXPECT_EQ(qm_.QMSetDialogPrompt(u"1", u"2", u"3", u"4", u"5", u"6", u"7", wide), S_OK);
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "");
  EXPECT_EQ(qm_.settings().dialog_texts[kDialogCancelButton], u"7");
  EXPECT_EQ(qm_.settings().dialog_texts[kDialogViewButton], wide);
}

}  // namespace
}  // namespace quillmark::control
