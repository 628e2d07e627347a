// The effects column of the member table against what the members really do:
// every member is called through dispatch, in process, over the
// demonstration PKI, with arguments that let it do its work, while the
// platform layer's effect audit records each private-key use, file read or
// write and look at the machine. A member that reaches one of these without
// its row saying so fails here, and so does a member marked as using a key
// that never reached one.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "com/dispatch.h"
#include "com/type_library.h"
#include "com/variant.h"
#include "common/unicode.h"
#include "control/quillmark_control.h"
#include "demo/demo_pki.h"
#include "encoding/base64.h"
#include "platform/os/effect_audit.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/ui/dialog_factory.h"
#include "platform/ui/script_host.h"
#include "support/key_member_calls.h"
#include "support/test_dirs.h"

namespace quillmark::com {
namespace {

using platform::Effect;
using platform::EffectAudit;
using platform::NotedEffect;

MemberEffects BitOf(Effect effect) {
  switch (effect) {
    case Effect::kKeyUse:
      return kUsesKey;
    case Effect::kFileRead:
      return kReadsFile;
    case Effect::kFileWrite:
      return kWritesFile;
    case Effect::kMachineInfo:
      return kRevealsMachine;
  }
  return 0;
}

// One call of the scenario: a member as the table spells it, its in
// arguments, and the dialog answers it gets.
struct Step {
  Step(std::string_view member, MemberKind member_kind, std::vector<Variant> in,
       std::string answers = "")
      : name(member), kind(member_kind), args(std::move(in)), dialogs(std::move(answers)) {}

  std::string_view name;
  MemberKind kind;
  std::vector<Variant> args;
  std::string dialogs;
};

class MemberEffectsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = new testing::ScratchDir;
    platform::SetQuillmarkHome(home_->path());
    std::string error;
    ASSERT_TRUE(demo::CreateDemoPki(&items_, &error)) << error;
  }
  static void TearDownTestSuite() {
    platform::SetQuillmarkHome("");
    delete home_;
    home_ = nullptr;
  }
  void TearDown() override {
    platform::ui::SetCurrentDialogHost(std::make_unique<platform::ui::ScriptDialogHost>(""));
  }

  // Calls |step| and returns the effects it had outside the home folder
  // (the stores, keys and registry the control keeps there are its own).
  MemberEffects Run(const Step& step, Variant* result) {
    platform::ui::SetCurrentDialogHost(
        std::make_unique<platform::ui::ScriptDialogHost>(step.dialogs));
    const MemberInfo* row = nullptr;
    for (const MemberInfo& m : TypeLibraryMembers()) {
      if (m.name == step.name && m.kind == step.kind) row = &m;
    }
    EXPECT_NE(row, nullptr) << step.name;
    if (row == nullptr) return 0;
    EffectAudit audit;
    *result = Variant();
    Dispatcher dispatcher(&control_);
    EXPECT_GE(dispatcher.Invoke(row->dispid, row->kind, step.args, result), 0) << step.name;
    const std::string home = platform::QuillmarkHome();
    MemberEffects seen = 0;
    for (const NotedEffect& e : audit.effects()) {
      if (!e.detail.empty() && e.detail.starts_with(home)) continue;
      seen |= BitOf(e.effect);
    }
    return seen;
  }

  std::u16string Text(const Step& step) {
    Variant result;
    Run(step, &result);
    return result.type() == Variant::Type::kString ? result.string() : std::u16string();
  }

  // The DER file of the certificate |name| ("CN=张三") in the MY store.
  static std::string CertFileOf(std::u16string_view name) {
    for (const demo::DemoItem& item : items_) {
      if (item.store == "MY" && item.name.starts_with(name)) {
        return home_->path() + "/stores/MY/" + item.thumbprint + ".cer";
      }
    }
    ADD_FAILURE() << "no such certificate";
    return "";
  }

  static testing::ScratchDir* home_;
  static std::vector<demo::DemoItem> items_;
  testing::ScratchDir dir_;
  control::CCorvaneQuillmark control_;
};

testing::ScratchDir* MemberEffectsTest::home_ = nullptr;
std::vector<demo::DemoItem> MemberEffectsTest::items_;

Variant S(std::u16string_view text) { return Variant(std::u16string(text)); }
Variant I(std::int32_t n) { return Variant(n); }
Variant U(std::uint32_t n) { return Variant(n); }

TEST_F(MemberEffectsTest, EveryMemberReachesOnlyWhatItsRowDeclares) {
  const std::u16string li = u"CN=Li Si";
  const std::u16string zhang = u"CN=张三";
  const std::string in_file = dir_.File("in.txt");
  ASSERT_TRUE(platform::WriteFileAtomically(in_file, AsBytes(std::string_view("file body"))));
  const std::u16string in_path = Utf8ToUtf16Lossy(in_file);

  // Material the later steps need: signatures, envelopes, serial numbers.
  // Signing and enveloping take the outgoing plain text, so each is given
  // one first.
  testing::KeyMaterial key;
  std::string error;
  ASSERT_TRUE(testing::MakeKeyMaterial(control_, &key, &error)) << error;
  const std::vector<testing::KeyMemberCall> key_calls = testing::KeyMemberCalls(key);
  // The step of a member that uses a key, with the arguments all key tests use.
  auto key_step = [&](std::string_view name) {
    const testing::KeyMemberCall* call = testing::FindKeyMemberCall(key_calls, name);
    EXPECT_NE(call, nullptr) << name;
    return Step(name, MemberKind::kMethod, call != nullptr ? call->args : std::vector<Variant>{});
  };
  auto with_text = [&](const Step& step) {
    EXPECT_EQ(control_.QMSetPlainText(u"pay 10"), control::S_OK);
    return Text(step);
  };
  const std::u16string attached = with_text({"QMAttachedSign", MemberKind::kMethod, {S(li)}});
  const std::u16string detached =
      with_text({"QMDetachedSign", MemberKind::kMethod, {S(u"pay 10"), S(li)}});
  const std::u16string raw = with_text({"QMRawSign", MemberKind::kMethod, {S(li)}});
  const std::u16string advance = with_text({"QMAdvanceAttachedSign", MemberKind::kMethod, {S(li)}});
  const std::u16string advance_detached =
      with_text({"QMAdvanceDetachedSign", MemberKind::kMethod, {S(u"pay 10"), S(li)}});
  ASSERT_FALSE(attached.empty());
  // A signed file, and a signed form that carries a file.
  const std::string signed_file = dir_.File("doc.txt.sign");
  ASSERT_TRUE(platform::WriteFileAtomically(signed_file, AsBytes(Utf16ToUtf8Lossy(attached))));
  control_.QMSetPlainText(u"pay 10");
  Text({"QMAddFormItem", MemberKind::kMethod, {S(u"item")}});
  Text({"QMAddFile", MemberKind::kMethod, {S(in_path)}});
  const std::u16string form = Text({"QMAttachedSign", MemberKind::kMethod, {S(li)}});
  ASSERT_FALSE(form.empty());
  // A recipient's certificate in Base64, for QMEncryptFileAndSave.
  Bytes der;
  ASSERT_TRUE(platform::ReadWholeFile(CertFileOf(zhang), &der));
  Bytes b64;
  ASSERT_EQ(encoding::Base64Encode(der, &b64), 0);
  const std::u16string recipient_b64 = Utf8ToUtf16Lossy(AsChars(b64));

  const std::string save_script = "save " + dir_.File("out.bin") + "\n";
  const std::vector<Step> steps = {
      {"DNspliter", MemberKind::kPropPut, {S(u",")}},
      {"errMsg", MemberKind::kPropGet, {}},
      {"errorNum", MemberKind::kPropGet, {}},
      {"errorCode", MemberKind::kPropGet, {}},
      {"MaxCompSize", MemberKind::kPropGet, {}},
      {"MaxCompSize", MemberKind::kPropPut, {I(102400)}},
      {"QMServerMode", MemberKind::kPropPut, {I(0)}},
      {"QMSignMode", MemberKind::kPropPut, {I(1)}},
      {"getVersion", MemberKind::kMethod, {}},
      {"QMSetCodePage", MemberKind::kMethod, {U(936)}},
      {"QMSetDigestArithmetic", MemberKind::kMethod, {S(u"1.3.14.3.2.26")}},
      {"QMSetSymmetryArithmetic", MemberKind::kMethod, {S(u"1.2.840.113549.3.4")}},
      {"QMSetCopyRightInfo", MemberKind::kMethod, {S(u"notice")}},
      {"QMSetDialogPrompt",
       MemberKind::kMethod,
       {S(u"t"), S(u"p"), S(u"s"), S(u"i"), S(u"n"), S(u"OK"), S(u"Cancel"), S(u"View")}},
      {"QMSetSM2CertStoreName", MemberKind::kMethod, {S(u"SM2")}},
      {"QMBase64Encode", MemberKind::kMethod, {S(u"abc")}},
      {"QMBase64Decode", MemberKind::kMethod, {S(u"YWJj")}},
      {"QMHashAndBase64Encode", MemberKind::kMethod, {S(u"abc")}},
      {"IsCertExists", MemberKind::kMethod, {S(li)}},
      {"QMEnumCertsDNByIssers", MemberKind::kMethod, {S(key.signer_issuer)}},
      {"QMGetCertExtension", MemberKind::kMethod, {S(li), S(u"2.5.29.15")}},
      {"GetMac", MemberKind::kMethod, {}},
      {"QMSetPlainText", MemberKind::kMethod, {S(u"pay 10")}},
      {"QMGetPlainText", MemberKind::kMethod, {}},
      key_step("QMAttachedSign"),
      key_step("QMDetachedSign"),
      key_step("QMRawSign"),
      key_step("QMUseKeySpecAttachedSign"),
      key_step("QMUseKeySpecDetachedSign"),
      key_step("QMUseKeySpecRawSign"),
      key_step("QMAttachedSignBySN"),
      key_step("QMAttachedSignByIssuerSN"),
      key_step("QMDetachedSignBySN"),
      key_step("QMDetachedSignByIssuerSN"),
      key_step("QMUseKeySpecAttachedSignBySN"),
      key_step("QMUseKeySpecAttachedSignByIssuerSN"),
      key_step("QMUseKeySpecDetachedSignBySN"),
      key_step("QMUseKeySpecDetachedSignByIssuerSN"),
      key_step("QMAdvanceAttachedSign"),
      key_step("QMUseSpecAdvanceAttachedSign"),
      key_step("QMAdvanceDetachedSign"),
      key_step("QMUseSpecAdvanceDetachedSign"),
      {"QMAttachedVerify", MemberKind::kMethod, {S(attached)}},
      {"QMAfterwardsVerify", MemberKind::kMethod, {S(attached)}},
      {"QMDetachedVerify", MemberKind::kMethod, {S(detached), S(u"pay 10")}},
      {"QMRawVerify", MemberKind::kMethod, {S(raw), S(li), S(u"pay 10")}},
      {"QMAdvanceAttachedVerify", MemberKind::kMethod, {S(advance)}},
      {"QMAdvanceDetachedVerify", MemberKind::kMethod, {S(advance_detached), S(u"pay 10")}},
      {"QMGetSignerCertInfo", MemberKind::kMethod, {U(1)}},
      {"QMEncryptedEnvelop", MemberKind::kMethod, {S(zhang)}},
      key_step("QMSignedAndEncryptedEnvelop"),
      key_step("QMUseKeySpecSignedAndEncryptedEnvelop"),
      key_step("QMDecryptEnvelop"),
      key_step("QMDecryptedAndVerifiedEnvelop"),
      {"QMGetReciptCertInfo", MemberKind::kMethod, {U(1)}},
      {"QMAddFormItem", MemberKind::kMethod, {S(u"item")}},
      {"QMAddFile", MemberKind::kMethod, {S(in_path)}},
      {"QMAttachedVerify", MemberKind::kMethod, {S(form)}},
      {"QMGetFormItem", MemberKind::kMethod, {}},
      {"QMGetFile", MemberKind::kMethod, {}, save_script},
      {"QMAttachedVerifySignedFile",
       MemberKind::kMethod,
       {S(Utf8ToUtf16Lossy(signed_file))},
       save_script},
      {"QMAddFileForEncrypt", MemberKind::kMethod, {S(in_path)}},
      {"QMEncryptFileAndSave", MemberKind::kMethod, {S(recipient_b64)}, save_script},
  };

  std::set<std::pair<std::string_view, MemberKind>> called;
  std::map<std::string_view, MemberEffects> reached;
  for (const Step& step : steps) {
    // Each step but the one that encrypts what QMAddFileForEncrypt read
    // starts from a plain text to sign.
    if (step.name != "QMEncryptFileAndSave") control_.QMSetPlainText(u"pay 10");
    Variant result;
    const MemberEffects seen = Run(step, &result);
    called.insert({step.name, step.kind});
    reached[step.name] |= seen;
    for (const MemberInfo& m : TypeLibraryMembers()) {
      if (m.name != step.name || m.kind != step.kind) continue;
      EXPECT_EQ(seen & ~m.effects, 0)
          << step.name << " reached " << ::testing::PrintToString(MemberEffectNames(seen))
          << " but its row declares " << ::testing::PrintToString(MemberEffectNames(m.effects));
    }
  }
  // The scenario calls every row, so that a new member cannot slip past.
  for (const MemberInfo& m : TypeLibraryMembers()) {
    EXPECT_TRUE(called.contains({m.name, m.kind})) << m.name << " is not called";
  }
  // And the declarations are not idle: each member marked as using a key
  // did use one here.
  for (const MemberInfo* m : MembersUsingKey()) {
    EXPECT_NE(reached[m->name] & kUsesKey, 0) << m->name << " used no key";
  }
  EXPECT_NE(reached["GetMac"] & kRevealsMachine, 0);
  EXPECT_NE(reached["QMAddFile"] & kReadsFile, 0);
  EXPECT_NE(reached["QMGetFile"] & kWritesFile, 0);
}

}  // namespace
}  // namespace quillmark::com
