// IsCertExists, QMEnumCertsDNByIssers and QMGetCertExtension end to end: the
// stores of a scratch home are filled here, then one `quillmark session`
// process answers a script of calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <variant>
#include <vector>

#include "common/json.h"
#include "platform/os/home.h"
#include "platform/store/cert_store.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::control {
namespace {

using testing::NameBuilder;

EVP_PKEY* Key() {
  static testing::EvpPkeyPtr key = testing::MakeEcKey();
  return key.get();
}

Bytes Name(const std::string& cn, const std::string& o = "Bank") {
  return NameBuilder().Add("CN", cn).Add("O", o).Add("C", "CN").Der();
}

void Put(std::u16string_view store, const Bytes& subject, const Bytes& issuer, int serial,
         std::vector<std::pair<std::string, std::string>> extensions = {}) {
  testing::CertSpec spec;
  spec.subject = subject;
  spec.issuer = issuer;
  spec.subject_key = Key();
  spec.serial = {static_cast<std::uint8_t>(1 + (serial >> 8)), static_cast<std::uint8_t>(serial)};
  spec.extensions = std::move(extensions);
  ASSERT_TRUE(platform::CertAddEncodedCertificateToStore(
      platform::CertOpenStore(platform::kCertStoreProvSystemW, 0,
                              platform::kCertSystemStoreCurrentUser, store),
      platform::kDefaultEncoding, testing::MakeCertificate(spec), platform::kCertStoreAddAlways,
      nullptr));
}

std::string Call(const std::string& member, const std::vector<std::u16string>& args) {
  std::string line = "{\"call\":\"" + member + "\",\"args\":[";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) line += ",";
    line += json::Quote(args[i]);
  }
  return line + "]}";
}

// One call of |member| and what the session answers: hr, errorNum, errMsg
// and the result (a number or a text).
struct Step {
  std::vector<std::u16string> args;
  std::int64_t hr;
  std::int64_t error_num;
  std::u16string err_msg;
  std::variant<std::int64_t, std::u16string> result;
};

class SessionCertQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetQuillmarkHome(home_.path());
    Put(u"MY", Name("Zhang"), Name("Issuer A"), 1,
        {{"keyUsage", "digitalSignature,nonRepudiation,keyEncipherment"}});
    Put(u"MY", Name("Zhangsan"), Name("Issuer C"), 2);
    Put(u"MY", Name("Li"), Name("Issuer B"), 3);
    Put(u"CA", Name("Zhao"), Name("Issuer A"), 4);  // not in "MY": never listed
    platform::SetQuillmarkHome("");
  }

  // Runs the requests through one session; one parsed answer per request.
  std::vector<json::Value> Run(const std::vector<std::string>& requests) {
    std::string script;
    for (const std::string& r : requests) script += r + "\n";
    EXPECT_TRUE(testing::WriteBytes(work_.File("in.jsonl"), AsBytes(script)));
    std::string out;
    EXPECT_EQ(testing::RunShellCapture(std::string(QM_CLI_PATH) + " session --home '" +
                                           home_.path() + "' < '" + work_.File("in.jsonl") + "'",
                                       &out),
              0);
    std::vector<json::Value> answers;
    std::size_t start = 0, end;
    while ((end = out.find('\n', start)) != std::string::npos) {
      json::Value v;
      std::string error;
      EXPECT_TRUE(json::Parse(out.substr(start, end - start), &v, &error)) << error;
      answers.push_back(std::move(v));
      start = end + 1;
    }
    EXPECT_EQ(answers.size(), requests.size());
    return answers;
  }

  void Check(const std::string& member, const std::vector<Step>& steps) {
    std::vector<std::string> requests;
    for (const Step& s : steps) requests.push_back(Call(member, s.args));
    std::vector<json::Value> answers = Run(requests);
    for (std::size_t i = 0; i < steps.size() && i < answers.size(); ++i) {
      const Step& s = steps[i];
      const json::Value& a = answers[i];
      SCOPED_TRACE(requests[i].substr(0, 120));
      ASSERT_TRUE(a.Find(u"hr") != nullptr && a.Find(u"result") != nullptr);
      EXPECT_EQ(a.Find(u"hr")->integer(), s.hr);
      EXPECT_EQ(a.Find(u"errorNum")->integer(), s.error_num);
      EXPECT_EQ(a.Find(u"errMsg")->string(), s.err_msg);
      if (s.result.index() == 0) {
        EXPECT_EQ(a.Find(u"result")->integer(), std::get<0>(s.result));
      } else {
        EXPECT_EQ(a.Find(u"result")->string(), std::get<1>(s.result));
      }
    }
  }

  testing::ScratchDir home_, work_;
};

const std::u16string kZhang = u"CN=Zhang, O=Bank, C=CN";
const std::u16string kLi = u"CN=Li, O=Bank, C=CN";
const std::u16string kTooLong(32769, u'a');
const std::u16string kManyCommas = u"CN=a" + std::u16string(256, u',');

// clang-format off
TEST_F(SessionCertQueryTest, IsCertExists) {
  Check("IsCertExists", {
      {{kZhang}, 0, 0, u"", 1},
      {{u"C=CN, O=Bank, CN=Zhang"}, 0, 0, u"", 1},  // reversed
      {{u"CN=Zhang,O=Bank,C=CN"}, 0, 0, u"", 1},
      {{u"cn=Zhang, O=Bank, C=CN"}, 0, 0, u"", 0},  // case-sensitive
      {{u"CN=Zhang, O=Bank"}, 0, 0, u"", 0},        // a part is not the name
      {{u"CN=Zhao, O=Bank, C=CN"}, 0, 0, u"", 0},   // in CA only
      // Refused DNs leave 0 and report through errorNum, still S_OK.
      {{u""}, 0, -10001, u"设置的DN数据为空", 0},
      {{kTooLong}, 0, -10056, u"设置的DN数据太长", 0},
      {{kManyCommas}, 0, -10057, u"DN验证失败", 0},
      {{kLi}, 0, 0, u"", 1},  // the error state is cleared again
  });
}

TEST_F(SessionCertQueryTest, QMEnumCertsDNByIssers) {
  Check("QMEnumCertsDNByIssers", {
      {{u"CN=Issuer B, O=Bank, C=CN;CN=Issuer A, O=Bank, C=CN"}, 0, 0, u"", kLi + u";" + kZhang},
      {{u"CN=Issuer A,O=Bank,C=CN;CN=Issuer B,O=Bank,C=CN;"}, 0, 0, u"", kZhang + u";" + kLi},
      {{u"C=CN, O=Bank, CN=Issuer B"}, 0, 0, u"", u""},  // never reversed
      {{u"CN=Issuer B, O=BANK, C=CN"}, 0, 0, u"", u""},  // case-sensitive
      {{u""}, 1, -10001, u"DN为空", u""},
      {{kTooLong}, 1, -10056, u"DN太长", u""},
      {{kManyCommas}, 0, -10057, u"DN验证失败", u""},
  });
}

TEST_F(SessionCertQueryTest, QMGetCertExtension) {
  const std::u16string ku = u"2.5.29.15";
  const std::u16string text = u"Digital Signature, Non-Repudiation, Key Encipherment (e0)";
  Check("QMGetCertExtension", {
      {{kZhang, ku}, 0, 0, u"", text},
      {{u"C=CN,O=Bank,CN=Zhang", ku}, 0, 0, u"", text},  // reversed and normalised
      {{kZhang, u"2.5.29.37"}, 1, -10026, u"获取证书扩展失败", u""},
      {{u"CN=ZHANG, O=Bank, C=CN", ku}, 1, -10005, u"获取证书扩展失败", u""},
      {{u"CN=Zhang, O=Bank", ku}, 1, -10005, u"获取证书扩展失败", u""},
      {{u"CN=Zhao, O=Bank, C=CN", ku}, 1, -10026, u"获取证书扩展失败", u""},  // CA's copy has none
      {{u"", ku}, 1, -10001, u"源数据为空", u""},
      {{kZhang, u""}, 1, -10001, u"源数据为空", u""},
      {{kTooLong, ku}, 1, -10056, u"DN太长", u""},
      {{u"CN=a|b|c|d|e|f", ku}, 1, -10025, u"DN验证失败", u""},
  });
}
// clang-format on

TEST_F(SessionCertQueryTest, EnumeratesMoreThanAHundredCertificates) {
  platform::SetQuillmarkHome(home_.path());
  const int kCount = 105;
  for (int i = 0; i < kCount; ++i) {
    Put(u"MY", Name("User " + std::to_string(i)), Name("Mass CA"), 100 + i);
  }
  platform::SetQuillmarkHome("");
  std::vector<json::Value> answers =
      Run({Call("QMEnumCertsDNByIssers", {u"CN=Mass CA, O=Bank, C=CN"})});
  ASSERT_EQ(answers.size(), 1u);
  const std::u16string list = answers[0].Find(u"result")->string();
  std::size_t users = 0;
  for (std::size_t at = 0; (at = list.find(u"CN=User ", at)) != std::u16string::npos; ++at) ++users;
  EXPECT_EQ(users, static_cast<std::size_t>(kCount));
  EXPECT_EQ(std::count(list.begin(), list.end(), u';'), kCount - 1);
}

}  // namespace
}  // namespace quillmark::control
