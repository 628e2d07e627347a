// The contract of every key use from a web page, through the real control
// and the real key and message backends over the demonstration PKI: with no
// one to answer, each member that uses a private key fails with the
// user-cancelled platform code and gives no signature or plain text; with a
// confirmation it works, and the confirmation showed exactly the bytes
// signed, decoded by the control, and whose key signs them.
//
// Only portable headers here: the same program runs on every system.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

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
#include "support/test_dirs.h"

namespace quillmark {
namespace {

namespace ui = platform::ui;
using control::HRESULT;
using control::S_OK;

constexpr char16_t kOrigin[] = u"https://bank.example";
constexpr char16_t kSigner[] = u"CN=Li Si";
constexpr char16_t kRecipient[] = u"CN=张三";
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
  // An envelope for 张三, made by a local caller (no key is used).
  std::u16string EnvelopeForZhangSan(std::u16string_view text) {
    ui::SetCurrentDialogHost(nullptr);
    EXPECT_EQ(qm_.QMSetPlainText(text), S_OK);
    std::u16string envelope;
    EXPECT_EQ(qm_.QMEncryptedEnvelop(kRecipient, &envelope), S_OK);
    EXPECT_FALSE(envelope.empty());
    return envelope;
  }

  static inline testing::ScratchDir* home_ = nullptr;
  static inline bool pki_made_ = false;
  static inline std::string pki_error_;
  control::CCorvaneQuillmark qm_;
};

// A member that signs the outgoing plain text or an argument; its result.
struct SigningMember {
  const char* name;
  std::function<HRESULT(control::CCorvaneQuillmark&, std::u16string*)> call;
};

const std::vector<SigningMember>& SigningMembers() {
  static const std::vector<SigningMember> members = {
      {"QMAttachedSign",
       [](control::CCorvaneQuillmark& qm, std::u16string* out) {
         qm.QMSetPlainText(u"pay 100");
         return qm.QMAttachedSign(kSigner, out);
       }},
      {"QMDetachedSign",
       [](control::CCorvaneQuillmark& qm, std::u16string* out) {
         return qm.QMDetachedSign(u"pay 100", kSigner, out);
       }},
      {"QMRawSign",
       [](control::CCorvaneQuillmark& qm, std::u16string* out) {
         qm.QMSetPlainText(u"pay 100");
         return qm.QMRawSign(kSigner, out);
       }},
      {"QMAdvanceAttachedSign",
       [](control::CCorvaneQuillmark& qm, std::u16string* out) {
         qm.QMSetPlainText(u"pay 100");
         return qm.QMAdvanceAttachedSign(kSigner, out);
       }},
      {"QMAdvanceDetachedSign",
       [](control::CCorvaneQuillmark& qm, std::u16string* out) {
         return qm.QMAdvanceDetachedSign(u"pay 100", kSigner, out);
       }},
      {"QMSignedAndEncryptedEnvelop",
       [](control::CCorvaneQuillmark& qm, std::u16string* out) {
         qm.QMSetPlainText(u"pay 100");
         return qm.QMSignedAndEncryptedEnvelop(kSigner, kRecipient, out);
       }},
  };
  return members;
}

TEST_F(KeyUseContractTest, WithNoOneToAnswerEverySigningMemberIsCancelledAndSignsNothing) {
  for (bool no_host : {true, false}) {
    for (const SigningMember& m : SigningMembers()) {
      SCOPED_TRACE(std::string(m.name) + (no_host ? " with no dialogs" : " with an empty script"));
      no_host ? NoOneThere() : Answers("");
      std::u16string out = u"untouched";
      EXPECT_NE(Call([&] { return m.call(qm_, &out); }), S_OK);
      EXPECT_NE(ErrorNum(), 0);
      EXPECT_EQ(ErrorCode(), kCancelled);
      EXPECT_TRUE(out.empty() || out == u"untouched") << Utf16ToUtf8Lossy(out);
    }
  }
}

TEST_F(KeyUseContractTest, WithAConfirmationEverySigningMemberSignsAndShowedTheText) {
  for (const SigningMember& m : SigningMembers()) {
    SCOPED_TRACE(m.name);
    Answers("confirm\n");
    std::u16string out;
    EXPECT_EQ(Call([&] { return m.call(qm_, &out); }), S_OK);
    EXPECT_EQ(ErrorNum(), 0);
    EXPECT_FALSE(out.empty());
    std::vector<ui::DialogReport> shown = Confirmations();
    ASSERT_EQ(shown.size(), 1u) << "one confirmation per call";
    EXPECT_EQ(shown[0].answer, u"confirm");
    EXPECT_EQ(shown[0].origin, kOrigin);
    EXPECT_EQ(shown[0].text, u"pay 100");
    ASSERT_TRUE(shown[0].review.has_value());
    EXPECT_EQ(shown[0].review->byte_count, 7u);
    EXPECT_NE(shown[0].review->owner.subject.find(u"CN=Li Si"), std::u16string::npos);
    EXPECT_FALSE(shown[0].review->owner.serial.empty());
  }
}

TEST_F(KeyUseContractTest, OpeningAnEnvelopeNeedsTheConfirmationAndGivesNoTextWithout) {
  const std::u16string envelope = EnvelopeForZhangSan(u"sealed 信封");
  for (bool no_host : {true, false}) {
    SCOPED_TRACE(no_host ? "no dialogs" : "an empty script");
    no_host ? NoOneThere() : Answers("");
    control::CCorvaneQuillmark qm;
    EXPECT_NE(Call([&] { return qm.QMDecryptEnvelop(envelope); }), S_OK);
    std::int32_t code = 0;
    qm.get_errorCode(&code);
    EXPECT_EQ(code, kCancelled);
    std::u16string text = u"untouched";
    qm.QMGetPlainText(&text);
    EXPECT_TRUE(text.empty()) << Utf16ToUtf8Lossy(text);
  }
  Answers("confirm\n");
  EXPECT_EQ(Call([&] { return qm_.QMDecryptEnvelop(envelope); }), S_OK);
  std::u16string text;
  EXPECT_EQ(qm_.QMGetPlainText(&text), S_OK);
  EXPECT_EQ(text, u"sealed 信封");
  std::vector<ui::DialogReport> shown = Confirmations();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].action, u"decrypt");
  EXPECT_TRUE(shown[0].text.empty());
  EXPECT_NE(shown[0].review->owner.subject.find(u"CN=张三"), std::u16string::npos);
}

TEST_F(KeyUseContractTest, OpeningASignedEnvelopeNeedsTheConfirmationToo) {
  ui::SetCurrentDialogHost(nullptr);
  ASSERT_EQ(qm_.QMSetPlainText(u"signed and sealed"), S_OK);
  std::u16string envelope;
  ASSERT_EQ(qm_.QMSignedAndEncryptedEnvelop(kSigner, kRecipient, &envelope), S_OK);
  NoOneThere();
  EXPECT_NE(Call([&] { return qm_.QMDecryptedAndVerifiedEnvelop(envelope); }), S_OK);
  EXPECT_EQ(ErrorCode(), kCancelled);
  std::u16string text = u"untouched";
  qm_.QMGetPlainText(&text);
  EXPECT_TRUE(text.empty()) << Utf16ToUtf8Lossy(text);

  Answers("confirm\n");
  EXPECT_EQ(Call([&] { return qm_.QMDecryptedAndVerifiedEnvelop(envelope); }), S_OK);
  EXPECT_EQ(qm_.QMGetPlainText(&text), S_OK);
  EXPECT_EQ(text, u"signed and sealed");
  std::vector<ui::DialogReport> shown = Confirmations();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].action, u"decrypt");
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
