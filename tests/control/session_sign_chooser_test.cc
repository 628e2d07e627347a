// How the signing members choose a signer: the chooser dialog when several
// or no names match, and server mode, where a name is required and no dialog
// is ever shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/session_answers.h"
#include "support/sign_session.h"

namespace quillmark::control {
namespace {

using json::Value;
using testing::ChooserRows;
using testing::LiveSession;
using testing::SessionSignTest;

std::vector<std::string> Sorted(std::vector<std::string> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

// Li Si is chosen: an SM2 signer cannot sign with the default SHA-1.
TEST_F(SessionSignTest, SeveralMatchesAreOfferedInTheChooser) {
  LiveSession s =
      Session("choose " + std::to_string(CandidateIndex("O=Demo Bank", "CN=Li Si")) + "\n");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  Value several = s.Call("QMAttachedSign", {u"O=Demo Bank"});
  EXPECT_ANSWER(several, 0, 0);
  auto rows = ChooserRows(several);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Sorted(rows[0]), (std::vector<std::string>{"Li Si", "张三", "王五", "赵六"}));
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Li Si"));
}

// No DN: every certificate with a key; Cancel ends it with no second dialog.
TEST_F(SessionSignTest, NoDnOffersEveryCertificateWithAKeyAndCancelEndsIt) {
  LiveSession s = Session("cancel\n");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=Li Si"}), 0, 0);
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Li Si"));
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  Value cancelled = s.Call("QMAttachedSign", {u""});
  EXPECT_ANSWER(cancelled, 1, -10005, u"签名失败");
  ASSERT_EQ(ChooserRows(cancelled).size(), 1u);
  EXPECT_EQ(ChooserRows(cancelled)[0].size(), 7u);
  EXPECT_EQ(SignerInfo(s), NoInfo());
}

TEST_F(SessionSignTest, NoSerialNumberSignsWithTheChosenCertificate) {
  LiveSession s = Session("choose " + std::to_string(CandidateIndex("", "CN=Li Si")) + "\n");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  Value chosen = s.Call("QMAttachedSignBySN", {u""});
  EXPECT_ANSWER(chosen, 0, 0);
  EXPECT_EQ(SignerInfo(s), InfoOf("CN=Li Si"));
}

TEST_F(SessionSignTest, KeySpecChooserOffersSignatureKeysOnly) {
  LiveSession s = Session("cancel\n");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  Value signature_keys = s.Call("QMUseKeySpecAttachedSign", {u""});
  EXPECT_ANSWER(signature_keys, 1, -10005, u"签名失败");
  ASSERT_EQ(ChooserRows(signature_keys).size(), 1u);
  EXPECT_EQ(Sorted(ChooserRows(signature_keys)[0]),
            (std::vector<std::string>{"Expired Signer", "Li Si", "Orphan Signer", "赵六"}));
}

TEST_F(SessionSignTest, ServerModeRequiresASignerName) {
  LiveSession s = Session();
  EXPECT_ANSWER(s.Put("QMServerMode", 1), 0, 0);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u""}), 1, -10001, u"必须设置默认证书DN");
  EXPECT_ANSWER(s.Call("QMAttachedSign", {u"CN=Li Si"}), 1, -10001, u"源数据为空");
}

// Several match (all RSA): the first is taken, without a dialog.
TEST_F(SessionSignTest, ServerModeTakesTheFirstOfSeveralMatches) {
  LiveSession s = Session();
  EXPECT_ANSWER(s.Put("QMServerMode", 1), 0, 0);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  Value first = s.Call("QMAttachedSign", {u"O=Sign Test"});
  EXPECT_ANSWER(first, 0, 0);
  EXPECT_TRUE(first.Find(u"dialogs")->array().empty());
}

TEST_F(SessionSignTest, ServerModeRefusesAnEmptyNameInEveryMember) {
  LiveSession s = Session();
  EXPECT_ANSWER(s.Put("QMServerMode", 1), 0, 0);
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMUseKeySpecAttachedSign", {u""}), 1, -10001, u"必须设置默认证书DN");
  EXPECT_ANSWER(s.Call("QMDetachedSign", {u"d", u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMUseKeySpecDetachedSign", {u"d", u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMDetachedSignByIssuerSN", {u"d", u"", u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMSetPlainText", {u"p"}), 0, 0);
  EXPECT_ANSWER(s.Call("QMAttachedSignBySN", {u""}), 1, -10001, u"源数据为空");
  EXPECT_ANSWER(s.Call("QMDetachedSign", {u"d", u"CN=Li Si"}), 0, 0);
}

}  // namespace
}  // namespace quillmark::control
