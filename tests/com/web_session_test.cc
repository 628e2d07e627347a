// The session a web page gets: dialog reports cut to kind and outcome, the
// origin on the dialog host for the session's life, and a fresh key-use
// state for each member call.
#include "com/web_session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/json.h"
#include "common/unicode.h"
#include "control/quillmark_control.h"
#include "platform/ui/dialog_factory.h"
#include "platform/ui/script_host.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::com {
namespace {

TEST(WebSessionTest, EveryMemberCallStartsWithNothingStagedOrConfirmed) {
  platform::ui::SetCurrentDialogHost(std::make_unique<platform::ui::ScriptDialogHost>(""));
  control::CCorvaneQuillmark qm;
  {
    WebSession web(&qm, u"https://bank.example");
    platform::ui::DialogHost& host = platform::ui::CurrentDialogHost();
    host.StageKeyUse(platform::ui::KeyUseReview(), AsBytes("left over"));
    ASSERT_TRUE(host.has_staged_key_use());
    json::Value id;
    web.Answer(R"({"id":1,"call":"QMBase64Encode","args":["abc"]})", &id);
    EXPECT_FALSE(host.has_staged_key_use());
  }
  platform::ui::SetCurrentDialogHost(nullptr);
}

TEST(WebSessionTest, ReportsOnlyKindAndOutcomeAndOwnsTheOriginForItsLife) {
  testing::ScratchDir dir;
  ASSERT_TRUE(testing::WriteBytes(dir.File("user.txt"), AsBytes("picked")));
  platform::ui::SetCurrentDialogHost(std::make_unique<platform::ui::ScriptDialogHost>(
      "open " + dir.File("user.txt") + "\ncancel\n"));
  control::CCorvaneQuillmark qm;
  {
    WebSession web(&qm, u"https://bank.example");
    EXPECT_EQ(platform::ui::CurrentDialogHost().caller_origin(), u"https://bank.example");
    json::Value id;
    std::string answer =
        web.Answer(R"({"id":3,"call":"QMAddFileForEncrypt","args":["/page/path"]})", &id);
    EXPECT_EQ(id.integer(), 3);
    EXPECT_NE(answer.find(R"("dialogs":[{"kind":"open","answer":"answered"}])"), std::string::npos)
        << answer;
    EXPECT_EQ(answer.find("user.txt"), std::string::npos) << "no path goes to the page";
    EXPECT_EQ(answer.find("/page/path"), std::string::npos);
    answer = web.Answer(R"({"id":4,"call":"QMAddFileForEncrypt","args":[""]})", &id);
    EXPECT_NE(answer.find(R"("dialogs":[{"kind":"open","answer":"cancelled"}])"), std::string::npos)
        << answer;
    answer = web.Answer("nope", &id);
    EXPECT_TRUE(id.is_null());
  }
  EXPECT_TRUE(platform::ui::CurrentDialogHost().caller_origin().empty());
  platform::ui::SetCurrentDialogHost(nullptr);
}

}  // namespace
}  // namespace quillmark::com
