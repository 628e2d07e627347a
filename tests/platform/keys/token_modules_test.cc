// The token provider's module list and container names: what a list file
// may say, what add-module and remove-module leave in it, and how a
// container name splits into a token serial and a key id.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/keys/token_modules.h"
#include "platform/keys/token_provider.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "support/test_dirs.h"

namespace quillmark::platform {
namespace {

TEST(TokenModuleListTest, ParsesPathsMechanismsAndSkipsWhatItCannotRead) {
  std::string why;
  std::vector<TokenModule> modules = ParseTokenModules(
      "# vendor modules\n"
      "\n"
      "/usr/lib/a.so\n"
      "  /usr/lib/b.so   sm2-mechanism=0x80000301  \n"
      "/usr/lib/c.so sm2-mechanism=12\n"
      "/usr/lib/d.so sm2-mechanism=zz\n"
      "/usr/lib/e.so colour=blue\n"
      "libbare.so\n"
      "relative/f.so\n",
      &why);
  ASSERT_EQ(modules.size(), 4u);
  EXPECT_EQ(modules[0].path, "/usr/lib/a.so");
  EXPECT_FALSE(modules[0].sm2_mechanism.has_value());
  EXPECT_EQ(modules[1].path, "/usr/lib/b.so");
  EXPECT_EQ(modules[1].sm2_mechanism, 0x80000301u);
  EXPECT_EQ(modules[2].sm2_mechanism, 12u);
  EXPECT_EQ(modules[3].path, "libbare.so");
  EXPECT_NE(why.find("line 9"), std::string::npos) << why;
}

class TokenModuleFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetQuillmarkHome(home_.path());
    ::unsetenv(kTokenModulesEnv);
  }
  void TearDown() override {
    SetQuillmarkHome("");
    ::unsetenv(kTokenModulesEnv);
  }
  testing::ScratchDir home_;
};

TEST_F(TokenModuleFileTest, AddReplacesByPathAndRemoveTakesOnlyThatLine) {
  std::string why;
  ASSERT_TRUE(AddUserTokenModule({"/opt/a.so", std::nullopt}, &why)) << why;
  ASSERT_TRUE(AddUserTokenModule({"/opt/b.so", std::nullopt}, &why)) << why;
  ASSERT_TRUE(AddUserTokenModule({"/opt/a.so", 0x10}, &why)) << why;
  std::vector<TokenModule> user = UserTokenModules();
  ASSERT_EQ(user.size(), 2u);
  EXPECT_EQ(user[0].path, "/opt/a.so");
  EXPECT_EQ(user[0].sm2_mechanism, 0x10u);
  EXPECT_EQ(user[1].path, "/opt/b.so");

  EXPECT_FALSE(AddUserTokenModule({"relative.so", std::nullopt}, &why));
  EXPECT_FALSE(RemoveUserTokenModule("/opt/c.so", &why));
  EXPECT_NE(why.find("/opt/c.so"), std::string::npos);
  ASSERT_TRUE(RemoveUserTokenModule("/opt/a.so", &why)) << why;
  user = UserTokenModules();
  ASSERT_EQ(user.size(), 1u);
  EXPECT_EQ(user[0].path, "/opt/b.so");
}

// Without the override the p11-kit proxy comes first, then the user's
// modules; the override replaces both, and set but empty means none.
TEST_F(TokenModuleFileTest, TheEnvironmentReplacesTheWholeList) {
  std::string why;
  ASSERT_TRUE(AddUserTokenModule({"/opt/user.so", std::nullopt}, &why)) << why;
  std::vector<TokenModule> modules = TokenModules();
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_EQ(modules[0].path, kP11KitProxyModule);
  EXPECT_EQ(modules[1].path, "/opt/user.so");

  ASSERT_TRUE(WriteFileAtomically(home_.File("list"), AsBytes("/opt/test.so\n")));
  ::setenv(kTokenModulesEnv, home_.File("list").c_str(), 1);
  modules = TokenModules();
  ASSERT_EQ(modules.size(), 1u);
  EXPECT_EQ(modules[0].path, "/opt/test.so");

  ::setenv(kTokenModulesEnv, "", 1);
  EXPECT_TRUE(TokenModules().empty());

  ::setenv(kTokenModulesEnv, home_.File("missing").c_str(), 1);
  why.clear();
  EXPECT_TRUE(TokenModules(&why).empty());
  EXPECT_NE(why.find("missing"), std::string::npos);
}

TEST(TokenContainerNameTest, RoundTripsAndRefusesMalformedNames) {
  const Bytes id = {0x00, 0xAB, 0x7F};
  const std::string name = TokenContainerName("6c88dd48/x", id);
  EXPECT_EQ(name, "6c88dd48/x/00AB7F");
  std::string serial;
  Bytes parsed;
  ASSERT_TRUE(ParseTokenContainerName(name, &serial, &parsed));
  EXPECT_EQ(serial, "6c88dd48/x");  // the id is after the last '/'
  EXPECT_EQ(parsed, id);
  ASSERT_TRUE(ParseTokenContainerName("s/0a0B", &serial, &parsed));
  EXPECT_EQ(parsed, (Bytes{0x0A, 0x0B}));
  for (const char* bad : {"", "no-slash", "/01", "serial/", "serial/0", "serial/0G"}) {
    EXPECT_FALSE(ParseTokenContainerName(bad, &serial, &parsed)) << bad;
  }
}

}  // namespace
}  // namespace quillmark::platform
