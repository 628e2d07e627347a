// DN, separator and issuer rules applied to every DN argument.
#include "control/dn_check.h"

#include <gtest/gtest.h>

#include <string>

#include "common/status.h"

namespace quillmark::control {
namespace {

std::u16string Commas(std::size_t n) {
  std::u16string dn = u"CN=a";
  for (std::size_t i = 0; i < n; ++i) dn += u",O=b";
  return dn;
}

std::u16string Joined(std::size_t alternatives, std::u16string_view separator) {
  std::u16string dn;
  for (std::size_t i = 0; i < alternatives; ++i) {
    if (i > 0) dn += separator;
    dn += u"CN=user";
  }
  return dn;
}

TEST(DnCheck, LimitsAtTheirEdges) {
  struct Case {
    const char* what;
    std::u16string dn;
    std::u16string separator;
    int status;
  };
  const Case cases[] = {
      {"one unit", u"x", u"|", kOk},
      {"32768 units", std::u16string(32768, u'x'), u"|", kOk},
      {"32769 units", std::u16string(32769, u'x'), u"|", kErrTooLong},
      {"255 commas", Commas(255), u"|", kOk},
      {"256 commas", Commas(256), u"|", kErrDnCheck},
      {"five DNs, four separators", Joined(5, u"|"), u"|", kOk},
      {"six DNs, five separators", Joined(6, u"|"), u"|", kErrSeparatorLimit},
      {"empty separator", u"CN=a", u"", kErrSeparatorEmpty},
      {"seven-unit separator", Joined(5, u"<-or->"), u"<-or->", kOk},
      {"seven-unit separator, six DNs", Joined(6, u"1234567"), u"1234567", kErrSeparatorLimit},
      // Order of the checks: length, commas, separator set, separator count.
      {"too long with too many commas", Commas(256) + std::u16string(32768, u'x'), u"",
       kErrTooLong},
      {"too many commas and no separator", Commas(256), u"", kErrDnCheck},
      {"no separator and many bars", Joined(9, u"|"), u"", kErrSeparatorEmpty},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DNCheck(c.dn, c.separator), c.status) << c.what;
    EXPECT_EQ(CheckDnArgument(c.dn, c.separator), c.status) << c.what;
  }
}

TEST(DnCheck, SeparatorsAreCountedWithoutOverlap) {
  EXPECT_EQ(CountDnSeparators(u"a|||b", u"||"), 1u);
  EXPECT_EQ(CountDnSeparators(u"a||||b", u"||"), 2u);
  EXPECT_EQ(CountDnSeparators(u"a|b|c", u"|"), 2u);
  EXPECT_EQ(CountDnSeparators(u"aaaa", u"aa"), 2u);
  EXPECT_EQ(CountDnSeparators(u"abc", u""), 0u);
  EXPECT_EQ(CountDnSeparators(u"", u"|"), 0u);
  // "||" nine times in a row of 9 bars is four matches: passes; 10 bars is five.
  EXPECT_EQ(DNCheck(u"a" + std::u16string(9, u'|') + u"b", u"||"), kOk);
  EXPECT_EQ(DNCheck(u"a" + std::u16string(10, u'|') + u"b", u"||"), kErrSeparatorLimit);
}

TEST(DnCheck, EmptyDnIsNoneForMembersAndMissingForDnCheck) {
  EXPECT_EQ(DNCheck(u"", u"|"), kErrEmptyInput);
  EXPECT_EQ(CheckDnArgument(u"", u"|"), kOk);
  // Without a DN the separator is not looked at.
  EXPECT_EQ(CheckDnArgument(u"", u""), kOk);
}

TEST(DnCheck, IssuerDnFallsBackToTheFixedIssuerAndSkipsSeparatorRules) {
  std::u16string issuer;
  ASSERT_EQ(ResolveIssuerDn(u"", &issuer), kOk);
  EXPECT_EQ(issuer, u"O=VevorAvuze, OU=config, CN=ZAVU");
  ASSERT_EQ(ResolveIssuerDn(u"CN=CA|CN=Other|a|b|c|d|e", &issuer), kOk);
  EXPECT_EQ(issuer, u"CN=CA|CN=Other|a|b|c|d|e");
  ASSERT_EQ(ResolveIssuerDn(std::u16string(32768, u'x'), &issuer), kOk);
  EXPECT_EQ(ResolveIssuerDn(std::u16string(32769, u'x'), &issuer), kErrTooLong);
  EXPECT_EQ(ResolveIssuerDn(Commas(255), &issuer), kOk);
  EXPECT_EQ(ResolveIssuerDn(Commas(256), &issuer), kErrDnCheck);
}

TEST(DnCheck, MessagesOfTheChecks) {
  EXPECT_EQ(DnCheckMessage(kErrTooLong), Message::kDnTooLong);
  EXPECT_EQ(DnCheckMessage(kErrDnCheck), Message::kDnCheckFailed);
  EXPECT_EQ(DnCheckMessage(kErrSeparatorEmpty), Message::kSeparatorNotSet);
  EXPECT_EQ(DnCheckMessage(kErrSeparatorLimit), Message::kSeparatorLimit);
  EXPECT_EQ(DnCheckMessage(kOk), Message::kNone);
  EXPECT_EQ(MessageUtf8(Message::kSeparatorNotSet), "未设置DN分隔符");
  EXPECT_EQ(MessageUtf8(Message::kSeparatorLimit), "DN分隔符超限");
}

}  // namespace
}  // namespace quillmark::control
