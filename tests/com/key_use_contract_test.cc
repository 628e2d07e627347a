// The contract of every key use from a web page, through the real control
// and the real key and message backends over the demonstration PKI: with no
// one to answer, each member that uses a private key fails with the
// user-cancelled platform code and gives no signature or plain text; with a
// confirmation it works, and the confirmation showed exactly the bytes
// signed, decoded by the control, and whose key signs them.
//
// Only portable headers here: the same program runs on every system.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "com/dispatch.h"
#include "com/type_library.h"
#include "com/variant.h"
#include "common/bytes.h"
#include "common/status.h"
#include "common/unicode.h"
#include "control/quillmark_control.h"
#include "demo/demo_pki.h"
#include "encoding/formatted_plaintext.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/ui/dialog_factory.h"
#include "platform/ui/dialog_host.h"
#include "platform/ui/script_host.h"
#include "support/key_member_calls.h"
#include "support/test_dirs.h"

namespace quillmark {
namespace {

namespace ui = platform::ui;
using control::HRESULT;
using control::S_OK;

constexpr char16_t kOrigin[] = u"https://bank.example";
constexpr char16_t kSigner[] = u"CN=Li Si";
constexpr std::int32_t kCancelled = static_cast<std::int32_t>(platform::kScardWCancelledByUser);

class KeyUseContractTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = new testing::ScratchDir;
    platform::SetQuillmarkHome(home_->path());
    std::vector<demo::DemoItem> items;
    pki_made_ = demo::CreateDemoPki(&items, &pki_error_);
  }
  static void TearDownTestSuite() {
    ui::SetCurrentDialogHost(nullptr);
    platform::SetQuillmarkHome("");
    delete home_;
    home_ = nullptr;
  }
  void SetUp() override {
    if (!pki_made_) GTEST_SKIP() << "no demonstration PKI here: " << pki_error_;
  }
  void TearDown() override { ui::SetCurrentDialogHost(nullptr); }

  // Dialogs answered by |script| ("": no one answers), for a web page.
  void Answers(const std::string& script) {
    ui::SetCurrentDialogHost(std::make_unique<ui::ScriptDialogHost>(script));
    ui::CurrentDialogHost().SetCallerOrigin(kOrigin);
  }
  void NoOneThere() {
    ui::SetCurrentDialogHost(std::make_unique<ui::NoDialogHost>());
    ui::CurrentDialogHost().SetCallerOrigin(kOrigin);
  }
  // One member call as a web session makes it.
  template <typename Member>
  HRESULT Call(Member&& member) {
    ui::CurrentDialogHost().BeginCall();
    return member();
  }
  std::int32_t ErrorNum() {
    std::int32_t n = 0;
    qm_.get_errorNum(&n);
    return n;
  }
  std::int32_t ErrorCode() {
    std::int32_t n = 0;
    qm_.get_errorCode(&n);
    return n;
  }
  // The confirmations shown since the last look.
  std::vector<ui::DialogReport> Confirmations() {
    std::vector<ui::DialogReport> out;
    for (ui::DialogReport& r : ui::CurrentDialogHost().TakeReports()) {
      if (r.kind == ui::DialogKind::kConfirm) out.push_back(std::move(r));
    }
    return out;
  }
  static inline testing::ScratchDir* home_ = nullptr;
  static inline bool pki_made_ = false;
  static inline std::string pki_error_;
  control::CCorvaneQuillmark qm_;
};

// Every member the table marks as using a key, called through dispatch as a
// web session calls it: in server mode, with the arguments of its row in
// KeyMemberCalls(), on a control of its own.
class KeyMembers : public KeyUseContractTest {
 protected:
  void SetUp() override {
    KeyUseContractTest::SetUp();
    if (IsSkipped()) return;
    if (!key_made_) {
      ui::SetCurrentDialogHost(nullptr);
      control::CCorvaneQuillmark local;
      std::string error;
      ASSERT_TRUE(testing::MakeKeyMaterial(local, &key_, &error)) << error;
      key_made_ = true;
    }
    calls_ = testing::KeyMemberCalls(key_);
  }

  struct Outcome {
    HRESULT hr = S_OK;
    std::int32_t error_num = 0;
    std::int32_t error_code = 0;
    com::Variant result;
    std::u16string plain_text;  // the control's plain text afterwards
  };
  // With |chooser|, the call names no signer and server mode is off: the
  // user picks the signer.
  Outcome Invoke(const com::MemberInfo& row, const testing::KeyMemberCall& call,
                 bool chooser = false) {
    control::CCorvaneQuillmark qm;
    EXPECT_EQ(qm.put_QMServerMode(chooser ? 0 : 1), S_OK);
    std::vector<com::Variant> args = call.args;
    if (chooser) args.at(call.signer_arg) = com::Variant(u"");
    if (!call.opens) {
      EXPECT_EQ(qm.QMSetPlainText(key_.text), S_OK);
    }
    Outcome out;
    out.hr =
        Call([&] { return com::Dispatcher(&qm).Invoke(row.dispid, row.kind, args, &out.result); });
    qm.get_errorNum(&out.error_num);
    qm.get_errorCode(&out.error_code);
    qm.QMGetPlainText(&out.plain_text);
    return out;
  }

  static inline testing::KeyMaterial key_;
  static inline bool key_made_ = false;
  std::vector<testing::KeyMemberCall> calls_;
};

TEST_F(KeyMembers, EveryMemberMarkedAsUsingAKeyHasACall) {
  for (const com::MemberInfo* row : com::MembersUsingKey()) {
    EXPECT_NE(testing::FindKeyMemberCall(calls_, row->name), nullptr)
        << row->name << " uses a key and has no row in KeyMemberCalls()";
  }
  EXPECT_EQ(calls_.size(), com::MembersUsingKey().size()) << "a row for a member using no key";
}

TEST_F(KeyMembers, WithNoOneToAnswerEveryKeyMemberIsCancelledAndGivesNothing) {
  for (bool no_host : {true, false}) {
    for (const com::MemberInfo* row : com::MembersUsingKey()) {
      const testing::KeyMemberCall* call = testing::FindKeyMemberCall(calls_, row->name);
      if (call == nullptr) continue;  // reported above
      SCOPED_TRACE(std::string(row->name) +
                   (no_host ? " with no dialogs" : " with an empty script"));
      no_host ? NoOneThere() : Answers("");
      const Outcome o = Invoke(*row, *call);
      EXPECT_NE(o.hr, S_OK);
      EXPECT_NE(o.error_num, 0);
      EXPECT_EQ(o.error_code, kCancelled);
      EXPECT_TRUE(o.result.empty() || o.result == com::Variant(u""));
      if (call->opens) {
        EXPECT_TRUE(o.plain_text.empty()) << Utf16ToUtf8Lossy(o.plain_text);
      }
    }
  }
}

TEST_F(KeyMembers, WithAConfirmationEveryKeyMemberWorksAndShowedWhoseKeyDoesWhat) {
  for (const com::MemberInfo* row : com::MembersUsingKey()) {
    const testing::KeyMemberCall* call = testing::FindKeyMemberCall(calls_, row->name);
    if (call == nullptr) continue;
    SCOPED_TRACE(row->name);
    Answers("confirm\n");
    const Outcome o = Invoke(*row, *call);
    EXPECT_EQ(o.hr, S_OK);
    EXPECT_EQ(o.error_num, 0);
    std::vector<ui::DialogReport> shown = Confirmations();
    ASSERT_EQ(shown.size(), 1u) << "one confirmation per call";
    EXPECT_EQ(shown[0].answer, u"confirm");
    EXPECT_EQ(shown[0].origin, kOrigin);
    ASSERT_TRUE(shown[0].review.has_value());
    EXPECT_FALSE(shown[0].review->owner.serial.empty());
    if (call->opens) {
      EXPECT_EQ(o.plain_text, key_.text);
      EXPECT_EQ(shown[0].action, u"decrypt");
      EXPECT_TRUE(shown[0].text.empty()) << "nothing to show before the envelope is open";
    } else {
      ASSERT_EQ(o.result.type(), com::Variant::Type::kString);
      EXPECT_GT(o.result.string().size(), 100u);
      EXPECT_EQ(shown[0].action, u"sign");
      EXPECT_EQ(shown[0].text, key_.text);
      EXPECT_EQ(shown[0].review->byte_count, key_.text.size());
    }
    EXPECT_NE(shown[0].review->owner.subject.find(call->key_owner), std::u16string::npos)
        << Utf16ToUtf8Lossy(shown[0].review->owner.subject);
  }
}

TEST_F(KeyMembers, NamingNoSignerThePickInAChooserThatCarriesTheReviewIsTheConfirmation) {
  for (const com::MemberInfo* row : com::MembersUsingKey()) {
    const testing::KeyMemberCall* call = testing::FindKeyMemberCall(calls_, row->name);
    if (call == nullptr || call->signer_arg < 0) continue;
    SCOPED_TRACE(row->name);
    // No one to pick: the member fails as with no certificate chosen (its
    // own mapping of a closed chooser), signs nothing, and the chooser
    // showed what would have been signed.
    Answers("");
    Outcome o = Invoke(*row, *call, /*chooser=*/true);
    EXPECT_NE(o.hr, S_OK);
    EXPECT_EQ(o.error_num, kErrCertNotFound);
    EXPECT_TRUE(o.result.empty() || o.result == com::Variant(u""));
    std::vector<ui::DialogReport> shown = ui::CurrentDialogHost().TakeReports();
    ASSERT_EQ(shown.size(), 1u);
    ASSERT_EQ(shown[0].kind, ui::DialogKind::kChooser);
    EXPECT_EQ(shown[0].origin, kOrigin);
    ASSERT_TRUE(shown[0].review.has_value());
    EXPECT_EQ(shown[0].review->text, key_.text);
    int li = -1;
    for (const ui::ChooserRow& r : shown[0].rows) {
      if (r.subject.find(u"Li Si") != std::u16string::npos) li = r.item;
    }
    ASSERT_GE(li, 0) << "Li Si is not offered";

    // Picking Li Si's row signs, and no confirmation follows.
    const std::string pick = "choose " + std::to_string(li);
    Answers(pick + "\n");
    o = Invoke(*row, *call, /*chooser=*/true);
    EXPECT_EQ(o.hr, S_OK);
    ASSERT_EQ(o.result.type(), com::Variant::Type::kString);
    EXPECT_GT(o.result.string().size(), 100u);
    shown = ui::CurrentDialogHost().TakeReports();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, ui::DialogKind::kChooser);
    EXPECT_EQ(shown[0].answer, Utf8ToUtf16Lossy(pick));
  }
}

TEST_F(KeyUseContractTest, TheTextShownIsTheWholeDecodedTextWithHiddenCharactersEscaped) {
  Answers("confirm\n");
  ASSERT_EQ(qm_.QMSetCodePage(65001), S_OK);
  const std::u16string tail = u" AND pay 99999 CNY to Mallory";
  const std::u16string text = u"Pay \u202E00.001 CNY" + std::u16string(2100, u' ') + tail;
  std::u16string signature;
  ASSERT_EQ(Call([&] { return qm_.QMDetachedSign(text, kSigner, &signature); }), S_OK);
  std::vector<ui::DialogReport> shown = Confirmations();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, u"Pay \u27E6U+202E\u27E700.001 CNY" + std::u16string(2100, u' ') + tail);
  EXPECT_EQ(shown[0].review->hidden_count, 1u);
  EXPECT_EQ(shown[0].review->text_units, text.size());
  EXPECT_FALSE(shown[0].review->not_text);
}

TEST_F(KeyUseContractTest, APlainTextShapedLikeAFormListsNoFiles) {
  encoding::FormattedPlaintext form;
  ASSERT_EQ(form.AddFormItem(AsBytes("amount=10")), 0);
  ASSERT_EQ(form.AddFile(AsBytes("contract.pdf"), AsBytes("%PDF-1.4 fake")), 0);
  Bytes packed;
  ASSERT_EQ(form.Encode(&packed), 0);
  std::u16string look_alike;
  ASSERT_TRUE(Utf8ToUtf16(std::string(packed.begin(), packed.end()), &look_alike));

  Answers("confirm\n");
  ASSERT_EQ(qm_.QMSetCodePage(65001), S_OK);
  ASSERT_EQ(qm_.QMSetPlainText(look_alike), S_OK);
  std::u16string signature;
  ASSERT_EQ(Call([&] { return qm_.QMAttachedSign(kSigner, &signature); }), S_OK);
  std::vector<ui::DialogReport> shown = Confirmations();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].files.empty());
  EXPECT_TRUE(shown[0].review->files.empty());
  EXPECT_EQ(shown[0].text, look_alike) << "shown as the text it is";
}

TEST_F(KeyUseContractTest, AFormTheControlPackedListsItsItemsAndFiles) {
  testing::ScratchDir dir;
  const std::string file = dir.File("invoice.pdf");
  ASSERT_TRUE(platform::WriteFileAtomically(file, AsBytes("%PDF-1.4")));
  Answers("open " + file + "\nconfirm\n");
  ASSERT_EQ(qm_.QMAddFormItem(u"amount=100"), S_OK);
  ASSERT_EQ(qm_.QMAddFile(Utf8ToUtf16Lossy(file)), S_OK);
  std::u16string signature;
  ASSERT_EQ(Call([&] { return qm_.QMAttachedSign(kSigner, &signature); }), S_OK);
  std::vector<ui::DialogReport> shown = Confirmations();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, u"amount=100");
  ASSERT_EQ(shown[0].review->files.size(), 1u);
  EXPECT_EQ(shown[0].review->files[0].name, u"invoice.pdf");
  EXPECT_EQ(shown[0].review->files[0].size, 8u);
}

TEST_F(KeyUseContractTest, MoreThanAPersonCanReviewIsRefusedBeforeAnyDialog) {
  Answers("confirm\n");
  const std::u16string huge(ui::kMaxReviewedBytes + 1, u'a');
  std::u16string signature;
  EXPECT_NE(Call([&] { return qm_.QMDetachedSign(huge, kSigner, &signature); }), S_OK);
  EXPECT_EQ(ErrorNum(), kErrTooLong);
  EXPECT_TRUE(signature.empty());
  EXPECT_TRUE(ui::CurrentDialogHost().TakeReports().empty());
}

TEST_F(KeyUseContractTest, ALocalCallerIsNeverAsked) {
  ui::SetCurrentDialogHost(std::make_unique<ui::NoDialogHost>());
  std::u16string signature;
  EXPECT_EQ(Call([&] { return qm_.QMDetachedSign(u"pay 100", kSigner, &signature); }), S_OK);
  EXPECT_FALSE(signature.empty());
}

}  // namespace
}  // namespace quillmark
