// Which origins may reach a control: https anywhere, http only on the
// loopback names, and only origins in the browser's serialized form.
#include "com/origin_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmark::com {
namespace {

TEST(OriginRulesTest, HttpsAndLoopbackHttpAreServed) {
  for (const char* origin :
       {"https://bank.example", "https://bank.example:8443", "https://a-b.c0.example:1",
        "https://127.0.0.1", "https://[::1]:443", "https://xn--fiqs8s.example", "http://localhost",
        "http://localhost:8080", "http://127.0.0.1", "http://127.0.0.1:65535"}) {
    std::string reason = "untouched";
    EXPECT_EQ(CheckOrigin(origin, &reason), OriginVerdict::kServed) << origin;
    EXPECT_EQ(reason, "untouched") << origin;
  }
}

TEST(OriginRulesTest, OtherSchemesAndPlainHttpAreInsecure) {
  for (const char* origin :
       {"http://bank.example", "http://localhost.example", "http://127.0.0.2", "http://[::1]",
        "http://10.0.0.1:8080", "file://", "ftp://bank.example",
        "chrome-extension://oicddncekjkebcnhiolccgelcgghlebf", "moz-extension://abc", "null",
        "ws://localhost"}) {
    std::string reason;
    EXPECT_EQ(CheckOrigin(origin, &reason), OriginVerdict::kInsecure) << origin;
    EXPECT_NE(reason.find("Quillmark"), std::string::npos) << origin;
  }
}

TEST(OriginRulesTest, OpaqueOriginsAreInsecureNeverMalformed) {
  struct Case {
    const char* origin;
    bool opaque;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"", true},
           {"null", true},
           {"about:blank", true},
           {"data:text/html,<b>pay</b>", true},
           {"blob:https://bank.example/1c5e", true},
           {"javascript:alert(1)", true},
           {"nul", false},
           {"Null", false},
           {"bank.example", false},
           {"https://bank.example", false},
           {":blank", false},
           {"file://", false},
       }) {
    EXPECT_EQ(IsOpaqueOrigin(c.origin), c.opaque) << c.origin;
    if (!c.opaque) continue;
    std::string reason;
    EXPECT_EQ(CheckOrigin(c.origin, &reason), OriginVerdict::kInsecure) << c.origin;
    EXPECT_NE(reason.find("sandboxed"), std::string::npos) << c.origin;
  }
}

TEST(OriginRulesTest, TextThatIsNotASerializedOriginIsMalformed) {
  const std::string too_long = "https://" + std::string(kMaxOriginLength, 'a') + ".example";
  for (const std::string& origin : {std::string("bank.example"),
                                    std::string("https://"),
                                    std::string("https://bank.example/"),
                                    std::string("https://bank.example/pay"),
                                    std::string("https://bank.example?x"),
                                    std::string("https://Bank.Example"),
                                    std::string("HTTPS://bank.example"),
                                    std::string("https://user@bank.example"),
                                    std::string("https://bank.example:"),
                                    std::string("https://bank.example:0"),
                                    std::string("https://bank.example:08443"),
                                    std::string("https://bank.example:65536"),
                                    std::string("https://bank.example:99999999999"),
                                    std::string("https://.bank.example"),
                                    std::string("https://bank example"),
                                    std::string("https://bank.example\n"),
                                    std::string("https://[::1"),
                                    std::string("https://[]"),
                                    std::string("https://[::g]"),
                                    std::string("https://bank.example\0evil", 25),
                                    too_long}) {
    std::string reason;
    OriginVerdict verdict = CheckOrigin(origin, &reason);
    EXPECT_NE(verdict, OriginVerdict::kServed) << origin;
    EXPECT_FALSE(reason.empty()) << origin;
  }
}

TEST(OriginRulesTest, ARefusalNeverQuotesOddText) {
  std::string reason;
  EXPECT_EQ(CheckOrigin("ja\"va\nscript://x", &reason), OriginVerdict::kInsecure);
  EXPECT_EQ(reason.find('\n'), std::string::npos);
  EXPECT_EQ(reason.find('"'), std::string::npos);
}

}  // namespace
}  // namespace quillmark::com
