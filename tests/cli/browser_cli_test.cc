// quillmark browser: the native messaging host manifests written to and
// removed from a home folder, and the kept origin decisions listed and
// forgotten.
#include <gtest/gtest.h>

#include <string>

#include "common/bytes.h"
#include "common/json.h"
#include "common/unicode.h"
#include "platform/os/files.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::testing {
namespace {

class BrowserCliTest : public ::testing::Test {
 protected:
  // Runs "quillmark browser ARGS" with HOME at the scratch folder.
  int Run(const std::string& args, std::string* out, const std::string& env = "") {
    return RunShellCapture("env -u XDG_CONFIG_HOME HOME='" + home_.path() + "' QUILLMARK_HOME='" +
                               home_.File("qm") + "' QUILLMARK_SYSTEM_ORIGINS='" +
                               home_.File("system.json") + "' " + env + " '" + QM_CLI_PATH +
                               "' browser " + args + " 2>&1",
                           out);
  }
  json::Value Manifest(const std::string& path) {
    Bytes bytes;
    json::Value v;
    std::string error;
    EXPECT_TRUE(platform::ReadWholeFile(path, &bytes)) << path;
    EXPECT_TRUE(json::Parse(AsChars(bytes), &v, &error)) << error;
    return v;
  }
  static std::string HostPath() {
    std::string cli = QM_CLI_PATH;
    return cli.substr(0, cli.rfind('/') + 1) + "quillmark-host";
  }

  ScratchDir home_;
};

std::string Str(const json::Value& v, const char16_t* key) {
  const json::Value* f = v.Find(key);
  return f != nullptr && f->is_string() ? Utf16ToUtf8Lossy(f->string()) : "";
}

TEST_F(BrowserCliTest, InstallWritesAManifestPerBrowserAndUninstallRemovesThem) {
  std::string out;
  ASSERT_EQ(Run("install", &out), 0) << out;
  const std::string chromium =
      home_.File(".config/chromium/NativeMessagingHosts/com.quillmark.host.json");
  const std::string chrome =
      home_.File(".config/google-chrome/NativeMessagingHosts/com.quillmark.host.json");
  const std::string firefox = home_.File(".mozilla/native-messaging-hosts/com.quillmark.host.json");
  for (const std::string& path : {chromium, chrome, firefox}) {
    EXPECT_NE(out.find(path), std::string::npos) << out;
    json::Value m = Manifest(path);
    EXPECT_EQ(Str(m, u"name"), "com.quillmark.host");
    EXPECT_EQ(Str(m, u"type"), "stdio");
    EXPECT_EQ(Str(m, u"path"), HostPath()) << "the host beside the running command";
  }
  const json::Value chromium_manifest = Manifest(chromium);
  const json::Value* origins = chromium_manifest.Find(u"allowed_origins");
  ASSERT_TRUE(origins != nullptr && origins->is_array() && origins->array().size() == 1);
  EXPECT_EQ(Utf16ToUtf8Lossy(origins->array()[0].string()),
            "chrome-extension://oicddncekjkebcnhiolccgelcgghlebf/");
  const json::Value firefox_manifest = Manifest(firefox);
  const json::Value* extensions = firefox_manifest.Find(u"allowed_extensions");
  ASSERT_TRUE(extensions != nullptr && extensions->is_array());
  EXPECT_EQ(Utf16ToUtf8Lossy(extensions->array()[0].string()), "quillmark@quillmark.example");
  // Installing again replaces the files.
  ASSERT_EQ(Run("install", &out), 0) << out;

  ASSERT_EQ(Run("uninstall", &out), 0) << out;
  for (const std::string& path : {chromium, chrome, firefox}) {
    EXPECT_FALSE(platform::IsRegularFile(path)) << path;
    EXPECT_NE(out.find("removed " + path), std::string::npos) << out;
  }
  // Nothing left to remove is no failure.
  ASSERT_EQ(Run("uninstall", &out), 0) << out;
  EXPECT_EQ(out, "");
}

TEST_F(BrowserCliTest, InstallFollowsXdgConfigHome) {
  std::string out;
  ASSERT_EQ(Run("install", &out, "XDG_CONFIG_HOME='" + home_.File("xdg") + "'"), 0) << out;
  EXPECT_TRUE(platform::IsRegularFile(
      home_.File("xdg/chromium/NativeMessagingHosts/com.quillmark.host.json")));
  EXPECT_FALSE(platform::IsDirectory(home_.File(".config")));
  EXPECT_TRUE(platform::IsRegularFile(
      home_.File(".mozilla/native-messaging-hosts/com.quillmark.host.json")));
}

TEST_F(BrowserCliTest, OriginsListsDecisionsAndForgetsOne) {
  ASSERT_TRUE(platform::MakeDirectories(home_.File("qm")));
  ASSERT_TRUE(WriteBytes(home_.File("qm/origins.json"),
                         AsBytes(R"({"origins":{"https://bank.example":"always",)"
                                 R"("https://evil.example":"deny"}})")));
  ASSERT_TRUE(WriteBytes(home_.File("system.json"),
                         AsBytes(R"({"origins":{"https://intranet.example":"always"}})")));
  std::string out;
  ASSERT_EQ(Run("origins", &out), 0) << out;
  EXPECT_EQ(out,
            "always https://bank.example\n"
            "deny   https://evil.example\n"
            "always https://intranet.example (" +
                home_.File("system.json") + ")\n");

  ASSERT_EQ(Run("origins --forget https://evil.example", &out), 0) << out;
  ASSERT_EQ(Run("origins", &out), 0) << out;
  EXPECT_EQ(out.find("evil"), std::string::npos) << out;
  EXPECT_NE(out.find("https://bank.example"), std::string::npos) << out;

  // Forgetting what is not there, or what only the system decides, fails.
  EXPECT_EQ(Run("origins --forget https://evil.example", &out), 1);
  EXPECT_NE(out.find("no decision about https://evil.example"), std::string::npos) << out;
  EXPECT_EQ(Run("origins --forget https://intranet.example", &out), 1);
}

TEST_F(BrowserCliTest, OriginsHonoursHomeAndReportsABrokenFile) {
  ScratchDir other;
  ASSERT_TRUE(WriteBytes(other.File("origins.json"), AsBytes("{broken")));
  std::string out;
  EXPECT_EQ(Run("origins --home '" + other.path() + "'", &out), 1);
  EXPECT_NE(out.find(other.File("origins.json")), std::string::npos) << out;
  EXPECT_NE(out.find("not JSON"), std::string::npos) << out;
}

TEST_F(BrowserCliTest, UnknownUsesPrintTheUsage) {
  std::string out;
  for (const char* args :
       {"", "reinstall", "install extra", "origins --forget", "origins --bogus"}) {
    EXPECT_EQ(Run(args, &out), 2) << args;
    EXPECT_NE(out.find("usage: quillmark browser"), std::string::npos) << args;
  }
}

}  // namespace
}  // namespace quillmark::testing
