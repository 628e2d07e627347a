// How many hosts one origin may have running for one user: the 17th is
// refused, and a host that ends, however it ends, frees its place.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "host/host_process.h"
#include "platform/os/files.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::testing {
namespace {

// Hosts one origin may have running at once.
constexpr int kPerOrigin = 16;

std::string Hello(const std::string& origin) {
  return R"({"origin":)" + json::Quote(Utf8ToUtf16Lossy(origin)) + "}";
}

class HostLimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteBytes(home_.File("origins.json"),
                           AsBytes(R"({"origins":{"https://bank.example":"always",)"
                                   R"("https://other.example":"always"}})")));
  }
  // A host that has answered the hello for |origin|; *answer gets the answer.
  std::unique_ptr<HostProcess> Start(const std::string& origin, json::Value* answer) {
    auto host = std::make_unique<HostProcess>(
        std::map<std::string, std::string>{{"QUILLMARK_HOME", home_.path()}});
    *answer = host->Ask(Hello(origin));
    return host;
  }

  ScratchDir home_;
};

TEST_F(HostLimitsTest, TheSeventeenthHostOfAnOriginIsRefusedUntilOneEnds) {
  std::vector<std::unique_ptr<HostProcess>> hosts;
  for (int i = 0; i < kPerOrigin; ++i) {
    json::Value answer;
    hosts.push_back(Start("https://bank.example", &answer));
    ASSERT_NE(answer.Find(u"ready"), nullptr) << "host " << i << ": " << Text(answer, u"error");
  }
  json::Value refused;
  auto extra = Start("https://bank.example", &refused);
  EXPECT_EQ(Text(refused, u"refused"), "too-many-controls");
  EXPECT_NE(Text(refused, u"error").find("16"), std::string::npos) << Text(refused, u"error");
  EXPECT_EQ(extra->Wait(), 1);

  // Another origin has places of its own.
  json::Value other;
  auto other_host = Start("https://other.example", &other);
  EXPECT_NE(other.Find(u"ready"), nullptr) << Text(other, u"error");

  // A killed host frees its place: no file is left claiming it.
  hosts[3]->Kill();
  hosts[3]->Wait();
  json::Value again;
  auto replacement = Start("https://bank.example", &again);
  EXPECT_NE(again.Find(u"ready"), nullptr) << Text(again, u"error");
  // A served host still answers.
  EXPECT_EQ(Int(replacement->Ask(R"({"id":1,"get":"errorNum"})"), u"hr"), 0);
}

TEST_F(HostLimitsTest, RefusedOriginsTakeNoPlace) {
  // Hosts refused before admission (an opaque origin) end at once and hold nothing.
  for (int i = 0; i < kPerOrigin + 2; ++i) {
    json::Value answer;
    auto host = Start("null", &answer);
    ASSERT_EQ(Text(answer, u"refused"), "insecure-origin");
  }
  EXPECT_FALSE(platform::IsDirectory(home_.File("hosts")));
}

}  // namespace
}  // namespace quillmark::testing
