// Dialog reports in session answers: each call reports the dialogs it
// showed, with their texts, rows and the answers they got.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "com/session.h"
#include "platform/ui/dialog_factory.h"
#include "support/recording_control.h"
#include "support/test_dirs.h"

namespace quillmark::com {

using ::quillmark::control::HRESULT;
using ::quillmark::control::S_FALSE;
using ::quillmark::control::S_OK;
namespace {

using testing::RecordingControl;

// A control whose members show dialogs, to see how the answer reports them.
class DialogShowingControl : public RecordingControl {
 public:
  HRESULT QMAttachedSign(std::u16string_view, std::u16string* pVal) override {
    platform::ui::ChooserRequest request;
    request.title = u"请选择您要用的证书";
    request.prompt = u"Pick one";
    request.columns = {u"Subject", u"Issuer", u"Until"};
    request.buttons = {u"OK", u"Cancel", u"View"};
    request.notice = u"Quillmark\r\n";
    request.rows = {{u"CN=Alice", u"CN=CA", u"2031-01-01", 0},
                    {u"CN=Bob", u"CN=CA", u"2032-01-01", 1}};
    request.display_order = {1, 0};
    platform::ui::ChooserAnswer a = platform::ui::CurrentDialogHost().ChooseCertificate(request);
    *pVal = a.action == platform::ui::ChooserAnswer::Action::kChoose ? u"chosen" : u"";
    return S_OK;
  }
  HRESULT QMAddFile(std::u16string_view) override {
    platform::ui::CurrentDialogHost().OpenFile({u"Open", u"*.*"});
    platform::ui::CurrentDialogHost().MessageBox({u"No certificate selected.", u"Quillmark"});
    return S_OK;
  }
  HRESULT QMGetFile(std::u16string* pVal) override {
    pVal->clear();
    platform::ui::CurrentDialogHost().SaveFile({u"Save", u"*.*", u"report.pdf", u""});
    return S_FALSE;
  }
};

// The answers script holds one answer for each dialog, in the order the
// tests below show them.
class SessionDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::ofstream script(dir_.File("answers.txt"));
      script << "choose 1\nopen /tmp/x\nok\ncancel\n";
    }
    std::unique_ptr<platform::ui::DialogHost> host;
    std::string error;
    ASSERT_TRUE(platform::ui::CreateDialogHost("script:" + dir_.File("answers.txt"), &host, &error))
        << error;
    platform::ui::SetCurrentDialogHost(std::move(host));
  }
  void TearDown() override { platform::ui::SetCurrentDialogHost(nullptr); }

  // Answers the chooser with "choose 1".
  std::string Chooser() { return session_.Answer(R"({"call":"QMAttachedSign","args":["CN="]})"); }
  // Answers Open with "open /tmp/x" and the message with "ok".
  std::string OpenAndMessage() { return session_.Answer(R"({"call":"QMAddFile","args":["x"]})"); }

  testing::ScratchDir dir_;
  DialogShowingControl control_;
  Session session_{&control_};
};

TEST_F(SessionDialogsTest, TheChooserIsReportedWithItsTextsRowsAndAnswer) {
  EXPECT_EQ(Chooser(),
            "{\"hr\":0,\"result\":\"chosen\",\"errorNum\":0,\"errorCode\":0,\"errMsg\":\"\","
            "\"dialogs\":[{\"kind\":\"chooser\",\"title\":\"\xE8\xAF\xB7\xE9\x80\x89\xE6\x8B\xA9"
            "\xE6\x82\xA8\xE8\xA6\x81\xE7\x94\xA8\xE7\x9A\x84\xE8\xAF\x81\xE4\xB9\xA6\","
            "\"prompt\":\"Pick one\",\"columns\":[\"Subject\",\"Issuer\",\"Until\"],"
            "\"buttons\":[\"OK\",\"Cancel\",\"View\"],\"notice\":\"Quillmark\\r\\n\","
            "\"rows\":[{\"subject\":\"CN=Alice\",\"issuer\":\"CN=CA\",\"notAfter\":\"2031-01-01\"},"
            "{\"subject\":\"CN=Bob\",\"issuer\":\"CN=CA\",\"notAfter\":\"2032-01-01\"}],"
            "\"answer\":\"choose 1\"}]}");
}

TEST_F(SessionDialogsTest, TwoDialogsOfOneCallAreReportedInOrder) {
  Chooser();
  EXPECT_EQ(OpenAndMessage(),
            "{\"hr\":0,\"errorNum\":0,\"errorCode\":0,\"errMsg\":\"\",\"dialogs\":["
            "{\"kind\":\"open\",\"title\":\"Open\",\"filter\":\"*.*\",\"answer\":\"open /tmp/x\"},"
            "{\"kind\":\"message\",\"text\":\"No certificate selected.\",\"caption\":\"Quillmark\","
            "\"answer\":\"ok\"}]}");
}

TEST_F(SessionDialogsTest, SaveIsReportedWithItsDefaultNameAndExtension) {
  Chooser();
  OpenAndMessage();
  EXPECT_EQ(
      session_.Answer(R"({"call":"QMGetFile"})"),
      "{\"hr\":1,\"result\":\"\",\"errorNum\":0,\"errorCode\":0,\"errMsg\":\"\",\"dialogs\":["
      "{\"kind\":\"save\",\"title\":\"Save\",\"filter\":\"*.*\",\"defaultName\":\"report.pdf\","
      "\"defaultExt\":\"\",\"answer\":\"cancel\"}]}");
}

// Reports belong to the call that showed them: the next call has none.
TEST_F(SessionDialogsTest, ReportsBelongToTheCallThatShowedThem) {
  Chooser();
  EXPECT_NE(session_.Answer(R"({"call":"QMSetPlainText","args":["x"]})").find("\"dialogs\":[]"),
            std::string::npos);
}

}  // namespace
}  // namespace quillmark::com
