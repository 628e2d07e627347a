// A test fixture for end-to-end tests over one demonstration PKI: the PKI is
// made once per test program in a scratch home, and each test starts live
// `quillmark session` processes on it with its own dialog answers.
//
//   class SessionRawTest : public testing::DemoPkiSessionTest {};
//   TEST_F(SessionRawTest, X) { LiveSession s = Start("cancel\n"); ... }
#ifndef QUILLMARK_TESTS_SUPPORT_DEMO_PKI_SESSION_H_
#define QUILLMARK_TESTS_SUPPORT_DEMO_PKI_SESSION_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "demo/demo_pki.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "support/cert_factory.h"
#include "support/live_session.h"
#include "support/test_dirs.h"

namespace quillmark::testing {

class DemoPkiSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = new ScratchDir;
    platform::SetQuillmarkHome(home_->path());
    std::string error;
    ASSERT_TRUE(::quillmark::demo::CreateDemoPki(&items_, &error)) << error;
    platform::SetQuillmarkHome("");
  }
  static void TearDownTestSuite() {
    delete home_;
    home_ = nullptr;
    items_.clear();
  }

  // The demo item of |name| in |store|.
  static const ::quillmark::demo::DemoItem& Item(const char* store, std::u16string_view name) {
    for (const ::quillmark::demo::DemoItem& item : items_) {
      if (item.store == store && item.name == name) return item;
    }
    ADD_FAILURE() << store;
    return items_.front();
  }
  static Bytes FileBytes(const std::string& path) {
    Bytes bytes;
    EXPECT_TRUE(platform::ReadWholeFile(path, &bytes)) << path;
    return bytes;
  }

  // A session whose dialogs take |ui| as their answers.
  LiveSession Start(const std::string& ui = "") {
    EXPECT_TRUE(WriteBytes(work_.File("ui.txt"), AsBytes(ui)));
    return LiveSession(home_->path(), work_.File("ui.txt"));
  }

  static inline ScratchDir* home_ = nullptr;
  static inline std::vector<::quillmark::demo::DemoItem> items_;
  ScratchDir work_;
};

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_SUPPORT_DEMO_PKI_SESSION_H_
