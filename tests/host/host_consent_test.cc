// quillmark-host's admission of an origin: the origin rules, the consent
// dialog and the decisions kept in origins.json and the system-wide file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/bytes.h"
#include "host/host_process.h"
#include "platform/os/files.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::testing {
namespace {

std::string Hello(const std::string& origin) {
  return R"({"origin":)" + json::Quote(Utf8ToUtf16Lossy(origin)) + "}";
}

class HostConsentTest : public ::testing::Test {
 protected:
  // A host over the test's home whose dialogs answer |ui|.
  std::map<std::string, std::string> Env(const std::string& ui) {
    std::string script = work_.File("ui" + std::to_string(++scripts_) + ".txt");
    EXPECT_TRUE(WriteBytes(script, AsBytes(ui)));
    return {{"QUILLMARK_HOME", home_.path()},
            {"QUILLMARK_UI", "script:" + script},
            {"QUILLMARK_SYSTEM_ORIGINS", work_.File("system.json")}};
  }
  // The first answer of a host that gets |hello| with dialog answers |ui|;
  // *exit_status receives the host's status after the input is closed.
  json::Value Connect(const std::string& hello, const std::string& ui, int* exit_status) {
    HostProcess host(Env(ui));
    json::Value answer = host.Ask(hello);
    if (answer.Find(u"ready") != nullptr) {
      // Served: a member runs.
      EXPECT_EQ(Int(host.Ask(R"({"id":1,"get":"errorNum"})"), u"hr"), 0);
    } else {
      std::string more;
      EXPECT_FALSE(host.Read(&more)) << "a refused connection gets nothing more";
    }
    *exit_status = host.Wait();
    return answer;
  }
  std::string UserFile() {
    Bytes bytes;
    if (!platform::ReadWholeFile(home_.File("origins.json"), &bytes)) return "";
    return std::string(AsChars(bytes));
  }

  ScratchDir home_;
  ScratchDir work_;
  int scripts_ = 0;
};

TEST_F(HostConsentTest, AlwaysIsAskedOnceAndRememberedAcrossProcesses) {
  int status = 0;
  json::Value first = Connect(Hello("https://bank.example"), "always\n", &status);
  EXPECT_EQ(first.Find(u"ready")->boolean(), true);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(UserFile(), "{\"origins\":{\"https://bank.example\":\"always\"}}\n");
  // A second connection is not asked: a script that would deny is not read.
  json::Value second = Connect(Hello("https://bank.example"), "deny\n", &status);
  EXPECT_NE(second.Find(u"ready"), nullptr);
  // Another origin is asked for itself.
  json::Value other = Connect(Hello("https://other.example:8443"), "deny\n", &status);
  EXPECT_EQ(Text(other, u"refused"), "denied");
  EXPECT_EQ(UserFile(),
            "{\"origins\":{\"https://bank.example\":\"always\","
            "\"https://other.example:8443\":\"deny\"}}\n");
}

TEST_F(HostConsentTest, AllowOnceServesThisConnectionOnly) {
  int status = 0;
  EXPECT_NE(Connect(Hello("https://bank.example"), "allow\n", &status).Find(u"ready"), nullptr);
  EXPECT_EQ(UserFile(), "") << "allow once is not written down";
  json::Value again = Connect(Hello("https://bank.example"), "cancel\n", &status);
  EXPECT_EQ(Text(again, u"refused"), "denied");
  EXPECT_EQ(UserFile(), "") << "a cancelled consent is not written down";
}

TEST_F(HostConsentTest, ADeniedOriginGetsAnErrorAndNoControlEvenLater) {
  int status = 0;
  json::Value denied = Connect(Hello("https://evil.example"), "deny\n", &status);
  EXPECT_EQ(Text(denied, u"refused"), "denied");
  EXPECT_NE(Text(denied, u"error").find("https://evil.example"), std::string::npos);
  EXPECT_EQ(denied.Find(u"ready"), nullptr);
  EXPECT_EQ(status, 1);
  // Remembered: a later connection is refused without a dialog.
  json::Value later = Connect(Hello("https://evil.example"), "always\n", &status);
  EXPECT_EQ(Text(later, u"refused"), "denied");
  EXPECT_EQ(status, 1);
}

TEST_F(HostConsentTest, WithoutDialogsNothingIsServedOrRemembered) {
  HostProcess host({{"QUILLMARK_HOME", home_.path()}});  // QUILLMARK_UI=none
  json::Value answer = host.Ask(Hello("https://bank.example"));
  EXPECT_EQ(Text(answer, u"refused"), "denied");
  EXPECT_EQ(host.Wait(), 1);
  EXPECT_EQ(UserFile(), "");
}

TEST_F(HostConsentTest, AHomeOthersMayWriteIsRefusedWithoutItsPath) {
  ASSERT_EQ(::chmod(home_.path().c_str(), 0777), 0);
  int status = 0;
  json::Value answer = Connect(Hello("https://bank.example"), "always\n", &status);
  ::chmod(home_.path().c_str(), 0700);
  EXPECT_EQ(Text(answer, u"refused"), "home");
  EXPECT_EQ(Text(answer, u"error").find(home_.path()), std::string::npos);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(UserFile(), "");
}

TEST_F(HostConsentTest, InsecureOpaqueAndMalformedOriginsAreRefusedBeforeAnyDialog) {
  struct Case {
    std::string hello;
    const char* refused;
  };
  const std::vector<Case> cases = {
      {Hello("http://evil.example"), "insecure-origin"},
      {Hello("http://localhost.evil.example"), "insecure-origin"},
      {Hello("http://127.0.0.2"), "insecure-origin"},
      {Hello("file://"), "insecure-origin"},
      {Hello("null"), "insecure-origin"},
      {Hello(""), "insecure-origin"},
      {Hello("about:blank"), "insecure-origin"},
      {Hello("data:text/html,pay"), "insecure-origin"},
      {Hello("chrome-extension://abcdefghijklmnop"), "insecure-origin"},
      {Hello("moz-extension://1234"), "insecure-origin"},
      {Hello("https://bank.example/path"), "bad-hello"},
      {Hello("https://Bank.example"), "bad-hello"},
      {Hello("https://user@bank.example"), "bad-hello"},
      {Hello("https://bank.example:0"), "bad-hello"},
      {Hello("https://bank.example:65536"), "bad-hello"},
      {Hello("https://"), "bad-hello"},
      {R"({"ui":"script:/tmp/x"})", "bad-hello"},
      {R"({"origin":7})", "bad-hello"},
      {R"(["https://bank.example"])", "bad-hello"},
      {"not json", "bad-hello"},
  };
  for (const Case& c : cases) {
    int status = 0;
    // A script that would allow anything: it must never be asked.
    json::Value answer = Connect(c.hello, "always\n", &status);
    EXPECT_EQ(Text(answer, u"refused"), c.refused) << c.hello;
    EXPECT_FALSE(Text(answer, u"error").empty()) << c.hello;
    EXPECT_EQ(status, 1) << c.hello;
  }
  EXPECT_EQ(UserFile(), "");
}

TEST_F(HostConsentTest, LoopbackHttpIsServedForDevelopmentOnAnyPort) {
  int status = 0;
  for (const char* origin : {"http://localhost", "http://localhost:8080", "http://127.0.0.1:3000",
                             "https://[::1]:8443"}) {
    EXPECT_NE(Connect(Hello(origin), "allow\n", &status).Find(u"ready"), nullptr) << origin;
  }
}

TEST_F(HostConsentTest, TheSystemWideFileDecidesWhenTheUserHasNot) {
  ASSERT_TRUE(WriteBytes(work_.File("system.json"),
                         AsBytes(R"({"origins":{"https://bank.example":"always",)"
                                 R"("https://blocked.example":"deny"}})")));
  int status = 0;
  EXPECT_NE(Connect(Hello("https://bank.example"), "", &status).Find(u"ready"), nullptr);
  EXPECT_EQ(Text(Connect(Hello("https://blocked.example"), "always\n", &status), u"refused"),
            "denied");
  // The user's own decision comes first.
  ASSERT_TRUE(WriteBytes(home_.File("origins.json"),
                         AsBytes(R"({"origins":{"https://bank.example":"deny"}})")));
  EXPECT_EQ(Text(Connect(Hello("https://bank.example"), "", &status), u"refused"), "denied");
}

TEST_F(HostConsentTest, AnUnreadableDecisionFileRefusesAndIsLeftAlone) {
  const std::string broken = R"({"origins":{"https://bank.example":"maybe"}})";
  ASSERT_TRUE(WriteBytes(home_.File("origins.json"), AsBytes(broken)));
  int status = 0;
  json::Value answer = Connect(Hello("https://bank.example"), "always\n", &status);
  EXPECT_EQ(Text(answer, u"refused"), "denied");
  EXPECT_FALSE(Text(answer, u"error").empty());
  EXPECT_EQ(UserFile(), broken);
}

// The text of the host's log after it served one hello.
std::string LogOf(const std::string& path) {
  Bytes bytes;
  return platform::ReadWholeFile(path, &bytes) ? std::string(AsChars(bytes)) : std::string();
}

TEST_F(HostConsentTest, AnUnreadableDecisionFileIsNamedInTheLogNotToThePage) {
  struct Case {
    const char* name;
    bool user_file;  // else the system-wide file
  };
  for (const Case& c : {Case{"the user's file", true}, Case{"the system-wide file", false}}) {
    ScratchDir home, work;
    const std::string broken_file =
        c.user_file ? home.File("origins.json") : work.File("system.json");
    ASSERT_TRUE(WriteBytes(broken_file, AsBytes("{\"origins\":")));
    const std::string log = work.File("host.log");
    HostProcess host(
        {{"QUILLMARK_HOME", home.path()}, {"QUILLMARK_SYSTEM_ORIGINS", work.File("system.json")}},
        log);
    json::Value answer = host.Ask(Hello("https://bank.example"));
    EXPECT_EQ(host.Wait(), 1) << c.name;
    const std::string error = Text(answer, u"error");
    EXPECT_EQ(Text(answer, u"refused"), "denied") << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
    EXPECT_EQ(error.find(work.path()), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(error.find(home.path()), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(error.find(".json"), std::string::npos) << c.name << ": " << error;
    EXPECT_NE(LogOf(log).find(broken_file), std::string::npos) << c.name << ": " << LogOf(log);
  }
}

TEST_F(HostConsentTest, TheSystemWideFileIsBelievedOnlyWhenNoOneElseCouldWriteIt) {
  const bool root = ::geteuid() == 0;
  struct Case {
    const char* name;
    unsigned file_mode;
    unsigned folder_mode;
    bool other_owner;  // owned by another user (needs root to set up)
    bool believed;
  };
  const Case cases[] = {
      {"the user's own, mode 0644", 0644, 0755, false, true},
      {"writable by others", 0666, 0755, false, false},
      {"writable by its group", 0664, 0755, false, false},
      {"in a folder others may write", 0644, 0777, false, false},
      {"in a sticky folder others may write", 0644, 01777, false, true},
      {"owned by another user", 0644, 0755, true, false},
  };
  for (const Case& c : cases) {
    if (c.other_owner && !root) continue;  // chown needs root
    ScratchDir home, work;
    const std::string folder = work.File("etc");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string file = folder + "/origins.json";
    ASSERT_TRUE(WriteBytes(file, AsBytes(R"({"origins":{"https://bank.example":"always"}})")));
    ASSERT_EQ(::chmod(file.c_str(), c.file_mode), 0);
    ASSERT_EQ(::chmod(folder.c_str(), c.folder_mode), 0);
    if (c.other_owner) {
      ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
    }
    const std::string log = work.File("host.log");
    // No dialogs: unless the file is believed, nothing allows the origin.
    HostProcess host({{"QUILLMARK_HOME", home.path()}, {"QUILLMARK_SYSTEM_ORIGINS", file}}, log);
    json::Value answer = host.Ask(Hello("https://bank.example"));
    EXPECT_EQ(answer.Find(u"ready") != nullptr, c.believed) << c.name;
    host.Wait();
    const std::string text = LogOf(log);
    if (c.believed) {
      EXPECT_EQ(text.find("system-wide origins file"), std::string::npos) << c.name << text;
    } else {
      EXPECT_EQ(Text(answer, u"refused"), "denied") << c.name;
      EXPECT_EQ(Text(answer, u"error").find(work.path()), std::string::npos) << c.name;
      std::size_t at = text.find("ignoring the system-wide origins file");
      ASSERT_NE(at, std::string::npos) << c.name << ": " << text;
      EXPECT_NE(text.find(file, at), std::string::npos) << c.name << ": " << text;
      EXPECT_EQ(text.find("ignoring", at + 1), std::string::npos) << "one line: " << text;
    }
  }
}

}  // namespace
}  // namespace quillmark::testing
