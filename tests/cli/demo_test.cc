// `quillmark demo`, the README's main-job command, run as a user runs it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_dirs.h"

namespace {

std::string LineAfter(const std::string& out, const std::string& marker) {
  std::size_t at = out.find(marker);
  if (at == std::string::npos) return {};
  at += marker.size();
  return out.substr(at, out.find('\n', at) - at);
}

TEST(DemoCommand, RunsEveryStepAndRemovesItsStore) {
  std::string out;
  ASSERT_EQ(quillmark::testing::RunShellCapture(std::string(QM_CLI_PATH) + " demo 2>&1", &out), 0)
      << out;
  // The signed content and the envelope content come back whole.
  EXPECT_NE(out.find("  verified; content read back:\n    转账 1000.00 元 to Demo Customer"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("content:\n    机密: quarterly statement"), std::string::npos) << out;
  // Signers and recipient are shown with their five fields.
  EXPECT_EQ(LineAfter(out, "  signer:\n    subject     "),
            "CN=张三, OU=Personal, O=Demo Bank, C=CN");
  EXPECT_NE(out.find("    subject     CN=赵六, OU=Personal, O=Demo Bank, C=CN"), std::string::npos);
  EXPECT_NE(out.find("All round trips succeeded"), std::string::npos);

  const std::string home = LineAfter(out, "Demonstration certificate store in ");
  ASSERT_FALSE(home.empty());
  EXPECT_FALSE(std::filesystem::exists(home)) << home;

  EXPECT_NE(quillmark::testing::RunShell(std::string(QM_CLI_PATH) + " demo extra 2>/dev/null"), 0);
}

}  // namespace
