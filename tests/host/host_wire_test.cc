// quillmark-host's wire, through its real standard input and output: the
// framing in both directions, and every input it refuses.
#include <gtest/gtest.h>

#include <string>

#include "host/host_process.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::testing {
namespace {

constexpr char kHello[] = R"({"origin":"https://bank.example"})";

class HostWireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteBytes(system_.File("origins.json"),
                           AsBytes(R"({"origins":{"https://bank.example":"always"}})")));
  }
  // A host over a fresh home whose system-wide file allows the origin.
  std::map<std::string, std::string> Env() {
    return {{"QUILLMARK_HOME", home_.path()},
            {"QUILLMARK_SYSTEM_ORIGINS", system_.File("origins.json")}};
  }
  // Starts a host and passes the hello.
  void Admit(HostProcess& host) {
    json::Value ready = host.Ask(kHello);
    ASSERT_TRUE(ready.Find(u"ready") != nullptr) << Text(ready, u"error");
    EXPECT_EQ(Text(ready, u"origin"), "https://bank.example");
  }

  ScratchDir home_;
  ScratchDir system_;
};

TEST_F(HostWireTest, RequestsAreAnsweredInOrderWithTheirIdsAndUnicodeSurvives) {
  HostProcess host(Env());
  Admit(host);
  // Two requests written before either answer is read come back in order.
  host.Send(R"({"id":7,"call":"QMBase64Encode","args":["abc"]})");
  host.Send(R"({"id":"x","call":"QMBase64Encode","args":["\u4ed8\u6b3e\ud83d\ude00"]})");
  json::Value first = host.ReadJson();
  json::Value second = host.ReadJson();
  EXPECT_EQ(Int(first, u"id"), 7);
  EXPECT_EQ(Text(first, u"result"), "YWJj\n");
  EXPECT_EQ(Int(first, u"hr"), 0);
  EXPECT_EQ(Text(second, u"id"), "x");
  json::Value decoded = host.Ask(R"({"id":8,"call":"QMBase64Decode","args":[)" +
                                 json::Quote(second.Find(u"result")->string()) + "]}");
  // The default code page cannot hold the emoji: it comes back as '?'.
  EXPECT_EQ(decoded.Find(u"result")->string(), u"付款?");
  json::Value put = host.Ask(R"({"id":9,"put":"MaxCompSize","value":102400})");
  EXPECT_EQ(Int(put, u"hr"), 0);
  EXPECT_EQ(Int(host.Ask(R"({"id":10,"get":"MaxCompSize"})"), u"result"), 102400);
  EXPECT_EQ(host.Wait(), 0) << "the end of input ends the host cleanly";
}

TEST_F(HostWireTest, BadJsonGetsAnErrorAndTheConnectionGoesOn) {
  HostProcess host(Env());
  Admit(host);
  for (const char* bad :
       {"nope", "[1,2]", "\"text\"", "{\"id\":3,\"call\":\"NoSuchMember\"}", "{\"id\":4", ""}) {
    json::Value answer = host.Ask(bad);
    EXPECT_FALSE(Text(answer, u"error").empty()) << bad;
    EXPECT_EQ(answer.Find(u"hr"), nullptr) << bad;
  }
  EXPECT_EQ(Int(host.Ask(R"({"id":5,"get":"errorNum"})"), u"id"), 5);
  EXPECT_EQ(host.Wait(), 0);
}

TEST_F(HostWireTest, ARequestOver64MiBEndsTheConnectionWithoutBeingRead) {
  HostProcess host(Env());
  Admit(host);
  // Only the length is sent: a host that tried to read the body would wait.
  ASSERT_TRUE(host.SendRaw(HostProcess::Header((64u << 20) + 1)));
  json::Value answer = host.ReadJson();
  EXPECT_NE(Text(answer, u"error").find("64 MiB"), std::string::npos);
  std::string more;
  EXPECT_FALSE(host.Read(&more)) << "nothing after the refusal";
  EXPECT_EQ(host.Wait(), 1);
}

TEST_F(HostWireTest, ARequestOfExactly64MiBIsStillRead) {
  HostProcess host(Env());
  Admit(host);
  // 64 MiB of blanks is no JSON, but it is read whole and answered.
  const std::uint32_t size = 64u << 20;
  ASSERT_TRUE(host.SendRaw(HostProcess::Header(size) + std::string(size, ' ')));
  EXPECT_FALSE(Text(host.ReadJson(), u"error").empty());
  EXPECT_EQ(Int(host.Ask(R"({"id":1,"get":"errorNum"})"), u"id"), 1);
  EXPECT_EQ(host.Wait(), 0);
}

TEST_F(HostWireTest, AnOversizedOrCutHelloIsABadHello) {
  {
    HostProcess host(Env());
    ASSERT_TRUE(host.SendRaw(HostProcess::Header((64u << 10) + 1)));
    json::Value answer = host.ReadJson();
    EXPECT_EQ(Text(answer, u"refused"), "bad-hello");
    EXPECT_EQ(host.Wait(), 1);
  }
  {
    HostProcess host(Env());
    host.SendRaw(HostProcess::Header(40) + "{");
    host.CloseInput();  // the hello stops after one byte
    EXPECT_EQ(Text(host.ReadJson(), u"refused"), "bad-hello");
    EXPECT_EQ(host.Wait(), 1);
  }
}

TEST_F(HostWireTest, InputEndingInsideAFrameEndsTheHostWithAFailure) {
  {
    HostProcess host(Env());
    Admit(host);
    host.SendRaw(std::string("\x10\x00", 2));  // half a length
    EXPECT_EQ(host.Wait(), 1);
  }
  {
    HostProcess host(Env());
    Admit(host);
    host.SendRaw(HostProcess::Header(100) + R"({"id":1,)");  // the body stops early
    EXPECT_EQ(host.Wait(), 1);
  }
}

TEST_F(HostWireTest, AnEmptyInputEndsTheHostCleanlyWithoutAnAnswer) {
  HostProcess host(Env());
  host.CloseInput();
  std::string body;
  EXPECT_FALSE(host.Read(&body));
  EXPECT_EQ(host.Wait(), 0);
}

}  // namespace
}  // namespace quillmark::testing
