// The session a web page gets: dialog reports cut to kind and outcome, the
// origin on the dialog host for the session's life, and what each member
// call would sign, handed to the key-use confirmation.
#include "com/web_session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "com/dispatch.h"
#include "common/json.h"
#include "common/unicode.h"
#include "control/quillmark_control.h"
#include "platform/ui/dialog_factory.h"
#include "platform/ui/script_host.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::com {
namespace {

using platform::ui::KeyUseSubject;

std::int32_t Dispid(std::u16string_view name) {
  std::int32_t dispid = 0;
  EXPECT_EQ(Dispatcher::GetIDsOfNames(name, &dispid), S_OK) << Utf16ToUtf8Lossy(name);
  return dispid;
}

KeyUseSubject SubjectOf(control::CCorvaneQuillmark& qm, std::u16string_view member,
                        std::vector<Variant> args = {}) {
  return KeyUseSubjectOf(&qm, Dispid(member), MemberKind::kMethod, args);
}

TEST(KeyUseSubjectTest, SigningShowsTheArgumentOrTheOutgoingText) {
  control::CCorvaneQuillmark qm;
  ASSERT_EQ(qm.QMSetPlainText(u"付款 100 元"), S_OK);
  KeyUseSubject attached = SubjectOf(qm, u"QMAttachedSign", {Variant(u"CN=Li Si")});
  EXPECT_EQ(attached.action, u"sign");
  EXPECT_EQ(attached.text, u"付款 100 元");
  KeyUseSubject detached =
      SubjectOf(qm, u"QMDetachedSign", {Variant(u"the argument"), Variant(u"CN=Li Si")});
  EXPECT_EQ(detached.text, u"the argument");
  EXPECT_EQ(SubjectOf(qm, u"QMSignedAndEncryptedEnvelop", {Variant(u""), Variant(u"")}).text,
            u"付款 100 元");
  EXPECT_EQ(SubjectOf(qm, u"QMRawSign", {Variant(u"")}).text, u"付款 100 元");
}

TEST(KeyUseSubjectTest, AFormShowsItsItemsAndFileNames) {
  testing::ScratchDir dir;
  ASSERT_TRUE(testing::WriteBytes(dir.File("invoice.pdf"), AsBytes("%PDF")));
  control::CCorvaneQuillmark qm;
  ASSERT_EQ(qm.QMAddFormItem(u"amount=100"), S_OK);
  ASSERT_EQ(qm.QMAddFile(Utf8ToUtf16Lossy(dir.File("invoice.pdf"))), S_OK);
  KeyUseSubject s = SubjectOf(qm, u"QMAttachedSign", {Variant(u"")});
  EXPECT_EQ(s.text, u"amount=100");
  ASSERT_EQ(s.files.size(), 1u);
  EXPECT_EQ(s.files[0], u"invoice.pdf");
}

TEST(KeyUseSubjectTest, LongTextsAreShortenedAndOtherMembersDescribeNothing) {
  control::CCorvaneQuillmark qm;
  const std::u16string long_text(kMaxShownTextUnits + 500, u'x');
  KeyUseSubject s = SubjectOf(qm, u"QMDetachedSign", {Variant(long_text), Variant(u"")});
  EXPECT_EQ(s.text, std::u16string(kMaxShownTextUnits, u'x') + u"\u2026");
  EXPECT_EQ(SubjectOf(qm, u"QMDecryptEnvelop", {Variant(u"...")}).action, u"decrypt");
  EXPECT_TRUE(SubjectOf(qm, u"QMDecryptEnvelop", {Variant(u"...")}).text.empty());
  for (const char16_t* member : {u"QMSetPlainText", u"QMAttachedVerify", u"QMEncryptedEnvelop",
                                 u"QMAttachedVerifySignedFile"}) {
    EXPECT_TRUE(SubjectOf(qm, member, {Variant(u"x")}).action.empty()) << Utf16ToUtf8Lossy(member);
  }
  // A property is never a key use.
  EXPECT_TRUE(KeyUseSubjectOf(&qm, 0x3, MemberKind::kPropGet, {}).action.empty());
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
