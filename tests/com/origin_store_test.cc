// The kept decisions about web origins: reading, writing and merging the
// user's and the system-wide files.
#include "com/origin_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "common/bytes.h"
#include "platform/os/files.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::com {
namespace {

using testing::ScratchDir;
using testing::WriteBytes;

std::string ReadText(const std::string& path) {
  Bytes bytes;
  if (!platform::ReadWholeFile(path, &bytes)) return "<missing>";
  return std::string(AsChars(bytes));
}

TEST(OriginStoreTest, AMissingFileHoldsNoDecisions) {
  ScratchDir dir;
  OriginStore store;
  std::string error;
  ASSERT_TRUE(store.Load(dir.File("origins.json"), &error)) << error;
  EXPECT_TRUE(store.entries().empty());
  EXPECT_EQ(store.Find("https://bank.example"), OriginDecision::kAsk);
}

TEST(OriginStoreTest, DecisionsRoundTripSortedAndAtomically) {
  ScratchDir dir;
  const std::string path = dir.File("sub/origins.json");
  OriginStore store;
  ASSERT_TRUE(store.Set("https://zeta.example", OriginDecision::kDeny));
  ASSERT_TRUE(store.Set("https://bank.example", OriginDecision::kAlways));
  ASSERT_TRUE(store.Set("https://gone.example", OriginDecision::kAlways));
  ASSERT_TRUE(store.Set("https://gone.example", OriginDecision::kAsk));     // removes
  ASSERT_TRUE(store.Set("https://zeta.example", OriginDecision::kAlways));  // replaces
  std::string error;
  ASSERT_TRUE(store.Save(path, &error)) << error;
  EXPECT_EQ(ReadText(path),
            "{\"origins\":{\"https://bank.example\":\"always\","
            "\"https://zeta.example\":\"always\"}}\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the user's decisions are private";
  EXPECT_EQ(platform::ListDirectory(dir.File("sub")).size(), 1u) << "no temporary file is left";

  OriginStore again;
  ASSERT_TRUE(again.Load(path, &error)) << error;
  EXPECT_EQ(again.entries(), store.entries());
  EXPECT_TRUE(again.Forget("https://bank.example"));
  EXPECT_FALSE(again.Forget("https://bank.example"));
  EXPECT_EQ(again.Find("https://bank.example"), OriginDecision::kAsk);
  EXPECT_EQ(again.Find("https://zeta.example"), OriginDecision::kAlways);
}

TEST(OriginStoreTest, UnknownTopLevelFieldsAreKeptOutOfTheWay) {
  ScratchDir dir;
  ASSERT_TRUE(WriteBytes(
      dir.File("o.json"),
      AsBytes(R"({"comment":"set by the administrator",)"
              R"("origins":{"https://b.example":"deny","https://a.example":"always"}})")));
  OriginStore store;
  std::string error;
  ASSERT_TRUE(store.Load(dir.File("o.json"), &error)) << error;
  ASSERT_EQ(store.entries().size(), 2u);
  EXPECT_EQ(store.entries()[0].first, "https://a.example") << "kept sorted";
  EXPECT_EQ(store.Find("https://b.example"), OriginDecision::kDeny);
}

TEST(OriginStoreTest, FilesNotInTheFormAreErrorsThatNameTheFile) {
  ScratchDir dir;
  for (const char* text : {"", "not json", "[]", "{}", R"({"origins":[]})",
                           R"({"origins":{"https://a.example":"deny","https://a.example":"deny"}})",
                           R"({"origins":{"https://a.example":"allow"}})",
                           R"({"origins":{"https://a.example":true}})"}) {
    ASSERT_TRUE(WriteBytes(dir.File("o.json"), AsBytes(text)));
    OriginStore store;
    ASSERT_TRUE(store.Set("https://kept.example", OriginDecision::kAlways));
    std::string error;
    EXPECT_FALSE(store.Load(dir.File("o.json"), &error)) << text;
    EXPECT_NE(error.find(dir.File("o.json")), std::string::npos) << text;
  }
  OriginStore store;
  std::string error;
  EXPECT_FALSE(store.Load(dir.path(), &error)) << "a folder is no decision file";
  ASSERT_TRUE(WriteBytes(dir.File("big.json"), Bytes(kMaxOriginsFileSize + 1, ' ')));
  EXPECT_FALSE(store.Load(dir.File("big.json"), &error));
  EXPECT_NE(error.find("too large"), std::string::npos);
}

TEST(OriginStoreTest, TheUsersDecisionComesBeforeTheSystemWideOne) {
  OriginStore user, system;
  ASSERT_TRUE(system.Set("https://a.example", OriginDecision::kAlways));
  ASSERT_TRUE(system.Set("https://b.example", OriginDecision::kDeny));
  ASSERT_TRUE(user.Set("https://a.example", OriginDecision::kDeny));
  EXPECT_EQ(DecideOrigin(user, system, "https://a.example"), OriginDecision::kDeny);
  EXPECT_EQ(DecideOrigin(user, system, "https://b.example"), OriginDecision::kDeny);
  EXPECT_EQ(DecideOrigin(user, system, "https://c.example"), OriginDecision::kAsk);
  ASSERT_TRUE(user.Set("https://b.example", OriginDecision::kAlways));
  EXPECT_EQ(DecideOrigin(user, system, "https://b.example"), OriginDecision::kAlways);
}

TEST(OriginStoreTest, TheSystemWideFileCanBeNamedByTheEnvironment) {
  ::setenv("QUILLMARK_SYSTEM_ORIGINS", "/tmp/elsewhere.json", 1);
  EXPECT_EQ(SystemOriginsPath(), "/tmp/elsewhere.json");
  ::unsetenv("QUILLMARK_SYSTEM_ORIGINS");
  EXPECT_EQ(SystemOriginsPath(), "/etc/quillmark/origins.json");
}

}  // namespace
}  // namespace quillmark::com
