// The control's state, property handlers, setters, method frame and the two
// Base64 members.
#include <gtest/gtest.h>

#include <string>

#include "common/status.h"
#include "common/unicode.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"

namespace quillmark::control {
namespace {

std::string U8(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }

class ControlTest : public ::testing::Test {
 protected:
  std::int32_t Num() {
    std::int32_t n = 12345;
    EXPECT_EQ(qm_.get_errorNum(&n), S_OK);
    return n;
  }
  std::string Msg() {
    std::u16string m = u"unset";
    EXPECT_EQ(qm_.get_errMsg(&m), S_OK);
    return U8(m);
  }
  // Leaves a known failure behind: errorNum -10036, errMsg "字符编码转换失败".
  void FailSomething() {
    std::u16string out;
    ASSERT_EQ(qm_.QMBase64Decode(u"=AAA", &out), S_FALSE);
    ASSERT_EQ(Num(), kErrBytesToText);
  }

  CCorvaneQuillmark qm_;
};

TEST_F(ControlTest, FreshInstanceHoldsEveryDefault) {
  const ControlSettings& s = qm_.settings();
  EXPECT_EQ(Num(), 0);
  std::int32_t code = -1;
  EXPECT_EQ(qm_.get_errorCode(&code), S_OK);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Msg(), "");
  std::int32_t max = 0;
  EXPECT_EQ(qm_.get_MaxCompSize(&max), S_OK);
  EXPECT_EQ(max, 51200);
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
  // Three lines separated by CR LF, within the 128-unit buffer.
  std::string notice = U8(s.notice_text);
  EXPECT_LT(s.notice_text.size(), 128u);
  std::size_t first = notice.find("\r\n");
  ASSERT_NE(first, std::string::npos);
  std::size_t second = notice.find("\r\n", first + 2);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(notice.find("\r\n", second + 2), std::string::npos);
  EXPECT_NE(notice.find("Quillmark"), std::string::npos);
  EXPECT_NE(notice.find("20"), std::string::npos);  // the build year

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

TEST_F(ControlTest, DnSeparatorUpToSevenUnitsLeavesTheErrorStateAlone) {
  FailSomething();
  EXPECT_EQ(qm_.put_DNspliter(u"1234567"), S_OK);
  EXPECT_EQ(U8(qm_.settings().dn_separator), "1234567");
  EXPECT_EQ(Num(), kErrBytesToText);
  EXPECT_EQ(Msg(), "字符编码转换失败");

  EXPECT_EQ(qm_.put_DNspliter(u"12345678"), S_FALSE);
  EXPECT_EQ(Num(), kErrSeparatorLimit);
  EXPECT_EQ(Msg(), "字符编码转换失败");  // errMsg is not set
  EXPECT_EQ(U8(qm_.settings().dn_separator), "1234567");

  // Seven UTF-16 units, not seven characters: 4 astral characters are 8 units.
  EXPECT_EQ(qm_.put_DNspliter(u"😀😀😀😀"), S_FALSE);
  EXPECT_EQ(qm_.put_DNspliter(u"、；"), S_OK);
  EXPECT_EQ(U8(qm_.settings().dn_separator), "、；");

  EXPECT_EQ(qm_.put_DNspliter(u""), S_OK);
  EXPECT_EQ(qm_.settings().dn_separator, u"");
  // The separator is a terminated string.
  EXPECT_EQ(qm_.put_DNspliter(std::u16string(u"ab\0cd", 5)), S_OK);
  EXPECT_EQ(qm_.settings().dn_separator, u"ab");
}

TEST_F(ControlTest, ServerModeAndSignModeReportAsDocumented) {
  FailSomething();
  EXPECT_EQ(qm_.put_QMServerMode(7), S_OK);
  EXPECT_EQ(qm_.settings().server_mode, 1u);
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "");
  EXPECT_EQ(qm_.put_QMServerMode(0), S_OK);
  EXPECT_EQ(qm_.settings().server_mode, 0u);

  FailSomething();
  EXPECT_EQ(qm_.put_QMSignMode(5), S_OK);
  EXPECT_EQ(Num(), kErrBadSignMode);
  EXPECT_EQ(Msg(), "");
  EXPECT_EQ(qm_.settings().sign_mode, 1);
  EXPECT_EQ(qm_.put_QMSignMode(0), S_OK);
  EXPECT_EQ(Num(), kErrBadSignMode);
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

TEST_F(ControlTest, AlgorithmOidsAreStoredAsCodePageBytesOfAtMost127) {
  EXPECT_EQ(qm_.QMSetDigestArithmetic(u""), S_FALSE);
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "源数据为空");

  EXPECT_EQ(qm_.QMSetDigestArithmetic(u"2.16.840.1.101.3.4.2.1"), S_OK);
  EXPECT_EQ(qm_.settings().digest_oid, "2.16.840.1.101.3.4.2.1");
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "");
  EXPECT_EQ(qm_.QMSetSymmetryArithmetic(u"1.2.156.10197.1.104"), S_OK);
  EXPECT_EQ(qm_.settings().symmetric_oid, "1.2.156.10197.1.104");
  EXPECT_EQ(qm_.settings().digest_oid, "2.16.840.1.101.3.4.2.1");

  // Any text is taken; 127 bytes fit, 128 do not and keep the old value.
  std::u16string fits(127, u'7');
  EXPECT_EQ(qm_.QMSetDigestArithmetic(fits), S_OK);
  EXPECT_EQ(qm_.settings().digest_oid, std::string(127, '7'));
  EXPECT_EQ(qm_.QMSetSymmetryArithmetic(fits + u"7"), S_FALSE);
  EXPECT_EQ(Num(), kErrTooLong);
  EXPECT_EQ(Msg(), "算法标识太长");
  EXPECT_EQ(qm_.settings().symmetric_oid, "1.2.156.10197.1.104");

  // The limit counts bytes in the code page: 50 CJK characters are 100 bytes
  // in GBK but 150 in UTF-8.
  std::u16string cjk(50, u'中');
  EXPECT_EQ(qm_.QMSetDigestArithmetic(cjk), S_OK);
  EXPECT_EQ(qm_.settings().digest_oid.size(), 100u);
  qm_.QMSetCodePage(65001);
  EXPECT_EQ(qm_.QMSetDigestArithmetic(cjk), S_FALSE);
  EXPECT_EQ(Num(), kErrTooLong);

  // Conversion stops at a NUL unit: a text of one NUL stores an empty OID.
  EXPECT_EQ(qm_.QMSetDigestArithmetic(std::u16string(1, u'\0')), S_OK);
  EXPECT_EQ(qm_.settings().digest_oid, "");
}

TEST_F(ControlTest, Sm2StoreNameAndNoticeText) {
  EXPECT_EQ(qm_.QMSetSM2CertStoreName(u"SM2"), S_OK);
  EXPECT_EQ(U8(*qm_.settings().sm2_store_name), "SM2");
  EXPECT_EQ(qm_.QMSetSM2CertStoreName(u""), S_FALSE);
  EXPECT_FALSE(qm_.settings().sm2_store_name.has_value());
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "源数据为空");

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

  std::u16string wide(100, u'x');  // a replacement is sized to the new text
  EXPECT_EQ(qm_.QMSetDialogPrompt(u"1", u"2", u"3", u"4", u"5", u"6", u"7", wide), S_OK);
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "");
  EXPECT_EQ(qm_.settings().dialog_texts[kDialogCancelButton], u"7");
  EXPECT_EQ(qm_.settings().dialog_texts[kDialogViewButton], wide);
}

TEST_F(ControlTest, Base64RoundTripsThroughTheCodePage) {
  struct Case {
    std::uint32_t code_page;
    std::u16string text;
    std::u16string base64;
  };
  const Case cases[] = {
      {936, u"abc", u"YWJj\n"},        {65001, u"abc", u"YWJj\n"},
      {936, u"中文", u"1tDOxA==\n"},    // GBK D6 D0 CE C4
      {65001, u"中文", u"5Lit5paH\n"},  // UTF-8
      {65001, u"a😀", u"YfCfmIA=\n"},    // F0 9F 98 80
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.text) + " in " + std::to_string(c.code_page));
    qm_.QMSetCodePage(c.code_page);
    std::u16string out;
    EXPECT_EQ(qm_.QMBase64Encode(c.text, &out), S_OK);
    EXPECT_EQ(U8(out), U8(c.base64));
    std::u16string back;
    EXPECT_EQ(qm_.QMBase64Decode(out, &back), S_OK);
    EXPECT_EQ(U8(back), U8(c.text));
    EXPECT_EQ(Num(), 0);
  }
}

TEST_F(ControlTest, Base64OfTextGbkCannotHoldUsesTheDefaultCharacter) {
  std::u16string out;
  ASSERT_EQ(qm_.QMBase64Encode(u"a😀한", &out), S_OK);
  EXPECT_EQ(U8(out), "YT8/\n");  // "a??": one '?' per character, a pair included
  std::u16string back;
  ASSERT_EQ(qm_.QMBase64Decode(out, &back), S_OK);
  EXPECT_EQ(back, u"a??");
  // Decoded bytes that are not UTF-8 come back as U+FFFD, not as a failure.
  qm_.QMSetCodePage(65001);
  ASSERT_EQ(qm_.QMBase64Decode(u"/w==", &back), S_OK);  // one 0xFF byte
  EXPECT_EQ(back, u"\uFFFD");
}

TEST_F(ControlTest, Base64LaysOutSixtyFourCharacterLines) {
  std::u16string out;
  ASSERT_EQ(qm_.QMBase64Encode(std::u16string(100, u'A'), &out), S_OK);
  ASSERT_EQ(out.size(), 136u + 3u);  // 136 characters, 3 line feeds
  EXPECT_EQ(out[64], u'\n');
  EXPECT_EQ(out[129], u'\n');
  EXPECT_EQ(out.back(), u'\n');
  std::u16string back;
  ASSERT_EQ(qm_.QMBase64Decode(out, &back), S_OK);
  EXPECT_EQ(back, std::u16string(100, u'A'));
}

TEST_F(ControlTest, Base64FailuresAndTheirMessages) {
  FailSomething();
  // Empty input: the number changes, errMsg keeps the previous failure's text.
  std::u16string out = u"x";
  EXPECT_EQ(qm_.QMBase64Encode(u"", &out), S_FALSE);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "字符编码转换失败");
  EXPECT_EQ(qm_.QMBase64Decode(u"", &out), S_FALSE);
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "字符编码转换失败");

  // A string of one NUL passes the emptiness test and encodes zero bytes.
  EXPECT_EQ(qm_.QMBase64Encode(std::u16string(1, u'\0'), &out), S_OK);
  EXPECT_EQ(out, u"\n");
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "");

  // '=' first decodes to nothing, which cannot be converted.
  out = u"x";
  EXPECT_EQ(qm_.QMBase64Decode(u"=YWJj", &out), S_FALSE);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(Num(), kErrBytesToText);
  EXPECT_EQ(Msg(), "字符编码转换失败");

  // A trailing incomplete group is the codec's failure.
  EXPECT_EQ(qm_.QMBase64Decode(u"YWJjZ", &out), S_FALSE);
  EXPECT_EQ(Num(), kErrBase64Decode);
  EXPECT_EQ(Msg(), "Base64解码失败");
}

TEST(MethodFrame, FailureRunsTheCleanUpEmptiesTheOutputAndStoresTheMessage) {
  ErrorState error;
  error.error_code = 77;
  std::u16string out = u"stale";
  int cleanups = 0;
  auto cleanup = [&] { ++cleanups; };
  {
    MethodFrame frame(&error, &out);
    frame.OnFailure(cleanup);
    EXPECT_EQ(frame.Fail(kErrDnCheck, Message::kDnCheckFailed), S_FALSE);
  }
  EXPECT_EQ(cleanups, 1);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(error.error_num, kErrDnCheck);
  EXPECT_EQ(U8(error.err_msg), "DN验证失败");
  EXPECT_EQ(error.error_code, 77);

  {
    MethodFrame frame(&error, &out);
    frame.OnFailure(cleanup);
    EXPECT_EQ(frame.Succeed(u"result"), S_OK);
  }
  EXPECT_EQ(cleanups, 1);  // not on success
  EXPECT_EQ(out, u"result");
  EXPECT_EQ(error.error_num, 0);
  EXPECT_EQ(error.err_msg, u"");
  EXPECT_EQ(error.error_code, 77);  // survives successes

  MethodFrame frame(&error, &out);
  EXPECT_EQ(frame.FailWith(Status(kErrSignFailed, 0x8009200Bu), Message::kSignFailed), S_FALSE);
  EXPECT_EQ(error.error_code, static_cast<std::int32_t>(0x8009200Bu));
  EXPECT_EQ(frame.FailKeepingNumber(Message::kSourceEmpty), S_FALSE);
  EXPECT_EQ(error.error_num, kErrSignFailed);
  EXPECT_EQ(U8(error.err_msg), "源数据为空");
  EXPECT_EQ(frame.Fail(kErrEmptyInput, Message::kNone), S_FALSE);
  EXPECT_EQ(U8(error.err_msg), "源数据为空");
}

TEST(MethodFrame, RunTurnsExhaustedMemoryIntoTheMembersMessage) {
  ErrorState error;
  std::u16string out = u"partial";
  MethodFrame frame(&error, &out);
  frame.set_no_memory_message(Message::kNoMemoryShort);
  HRESULT hr = frame.Run([&]() -> HRESULT { throw std::bad_alloc(); });
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(error.error_num, kErrNoMemory);
  EXPECT_EQ(U8(error.err_msg), "无可用内存空间");
}

TEST(Messages, EveryMessageHasTextAndNoneHasNone) {
  EXPECT_EQ(MessageText(Message::kNone), u"");
  for (int m = 1; m < static_cast<int>(Message::kCount); ++m) {
    EXPECT_FALSE(MessageText(static_cast<Message>(m)).empty()) << m;
  }
  EXPECT_EQ(U8(MessageText(Message::kNoStubPathValue)),
            "在相应注册表记录项中找不到“stubPath”值域!");
}

}  // namespace
}  // namespace quillmark::control
