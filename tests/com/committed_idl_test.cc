// The Windows build compiles the committed src/com/win/quillmark.idl into the
// DLL's type library, and its resources carry the version text; both must
// stay what the Linux build generates and returns, or the two systems would
// describe a different control.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "common/unicode.h"
#include "control/resources.h"
#include "support/test_dirs.h"

namespace quillmark::com {
namespace {

std::string ReadSource(const std::string& relative) {
  std::ifstream in(std::string(QM_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(CommittedIdlTest, EqualsTheTypelibCommandOutput) {
  std::string generated;
  ASSERT_EQ(testing::RunShellCapture(QM_CLI_PATH " typelib --idl", &generated), 0);
  ASSERT_FALSE(generated.empty());
  const std::string committed = ReadSource("src/com/win/quillmark.idl");
  ASSERT_FALSE(committed.empty()) << "src/com/win/quillmark.idl is missing";
  EXPECT_EQ(committed, generated)
      << "regenerate it: quillmark typelib --idl > src/com/win/quillmark.idl";
}

TEST(CommittedIdlTest, ResourceStringsMatchTheControl) {
  const std::string rc = ReadSource("src/com/win/quillmark.rc");
  ASSERT_FALSE(rc.empty());
  std::string version;
  ASSERT_TRUE(Utf16ToUtf8(control::kVersionText, &version));
  EXPECT_NE(rc.find("IDS_VERSION \"" + version + "\""), std::string::npos) << rc;
  std::string project;
  ASSERT_TRUE(Utf16ToUtf8(control::kProjectNameText, &project));
  EXPECT_NE(rc.find("IDS_PROJNAME \"" + project + "\""), std::string::npos);
  EXPECT_NE(rc.find("1 TYPELIB \"quillmark.tlb\""), std::string::npos);
}

}  // namespace
}  // namespace quillmark::com
