// What a web page can do through quillmark-host with the demonstration PKI:
// long answers in chunks, paths that only preset the Open dialog, key use
// only after the user confirms or picks the certificate, and dialog reports
// cut down to kind and outcome.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "host/host_process.h"
#include "support/demo_pki_session.h"

namespace quillmark::testing {
namespace {

constexpr char kOrigin[] = "https://bank.example";
constexpr std::int64_t kScardWCancelledByUser = static_cast<std::int32_t>(0x8010006E);

class HostWebModeTest : public DemoPkiSessionTest {
 protected:
  // A host over the demonstration PKI, the origin allowed system-wide, the
  // dialogs answering |ui|; the hello is passed.
  std::unique_ptr<HostProcess> Start(const std::string& ui) {
    EXPECT_TRUE(WriteBytes(work_.File("system.json"),
                           AsBytes(R"({"origins":{"https://bank.example":"always"}})")));
    EXPECT_TRUE(WriteBytes(work_.File("ui.txt"), AsBytes(ui)));
    auto host = std::make_unique<HostProcess>(std::map<std::string, std::string>{
        {"QUILLMARK_HOME", home_->path()},
        {"QUILLMARK_UI", "script:" + work_.File("ui.txt")},
        {"QUILLMARK_SYSTEM_ORIGINS", work_.File("system.json")}});
    json::Value ready = host->Ask(std::string(R"({"origin":")") + kOrigin + "\"}");
    EXPECT_NE(ready.Find(u"ready"), nullptr) << Text(ready, u"error");
    return host;
  }
  static std::string Call(int id, const std::string& member,
                          const std::vector<std::u16string>& args = {}) {
    std::string line = "{\"id\":" + std::to_string(id) + ",\"call\":\"" + member + "\",\"args\":[";
    for (std::size_t i = 0; i < args.size(); ++i) {
      line += (i > 0 ? "," : "") + json::Quote(args[i]);
    }
    return line + "]}";
  }
  static std::u16string Path(const std::string& p) { return Utf8ToUtf16Lossy(p); }
  // The dialogs of an answer as "kind:answer" texts, checking that nothing
  // else is reported.
  static std::vector<std::string> Dialogs(const json::Value& answer) {
    std::vector<std::string> out;
    const json::Value* dialogs = answer.Find(u"dialogs");
    if (dialogs == nullptr || !dialogs->is_array()) {
      ADD_FAILURE() << "no dialogs in the answer";
      return out;
    }
    for (const json::Value& d : dialogs->array()) {
      EXPECT_EQ(d.object().size(), 2u) << "a page sees only the kind and the outcome";
      out.push_back(Text(d, u"kind") + ":" + Text(d, u"answer"));
    }
    return out;
  }
  using Strings = std::vector<std::string>;

  // The chooser's item data of Li Si when no DN is given: every certificate
  // with a key in MY, in the store's (thumbprint) order.
  static int LiSiCandidate() {
    std::vector<std::pair<std::string, std::u16string>> mine;
    for (const ::quillmark::demo::DemoItem& item : items_) {
      if (item.store == "MY" && !item.container.empty()) {
        mine.emplace_back(item.thumbprint, item.name);
      }
    }
    std::sort(mine.begin(), mine.end());
    for (std::size_t i = 0; i < mine.size(); ++i) {
      if (mine[i].second.starts_with(u"CN=Li Si")) return static_cast<int>(i);
    }
    ADD_FAILURE() << "Li Si is not in MY";
    return -1;
  }
};

TEST_F(HostWebModeTest, TheSignatureOfA3MBFileArrivesInChunksThatJoinToTheAnswer) {
  // Random bytes: the compression frame cannot make them shorter.
  Bytes content(3 << 20);
  std::mt19937 random(7);
  for (std::uint8_t& b : content) b = static_cast<std::uint8_t>(random() >> 24);
  ASSERT_TRUE(WriteBytes(work_.File("big.bin"), content));
  auto host = Start("open\nconfirm\nsave " + work_.File("back.bin") + "\n");
  json::Value added = host->Ask(Call(1, "QMAddFile", {Path(work_.File("big.bin"))}));
  ASSERT_EQ(Int(added, u"hr"), 0) << Text(added, u"errMsg");
  EXPECT_EQ(Dialogs(added), (Strings{"open:answered"}));

  host->Send(Call(2, "QMAttachedSign", {u"CN=Li Si"}));
  std::string joined;
  std::int64_t of = -1;
  for (std::int64_t i = 0; of < 0 || i < of; ++i) {
    json::Value chunk = host->ReadJson();
    ASSERT_EQ(Int(chunk, u"id"), 2) << Text(chunk, u"errMsg");
    ASSERT_EQ(Int(chunk, u"chunk"), i);
    if (of < 0) of = Int(chunk, u"of");
    ASSERT_EQ(Int(chunk, u"of"), of);
    std::string piece;
    ASSERT_TRUE(Utf16ToUtf8(chunk.Find(u"data")->string(), &piece));
    EXPECT_LE(piece.size(), 256u << 10);
    joined += piece;
  }
  EXPECT_GT(of, 2);
  EXPECT_GT(joined.size(), 512u << 10);
  json::Value signed_answer;
  std::string error;
  ASSERT_TRUE(json::Parse(joined, &signed_answer, &error)) << error;
  EXPECT_EQ(Int(signed_answer, u"id"), 2);
  ASSERT_EQ(Int(signed_answer, u"hr"), 0) << Text(signed_answer, u"errMsg");
  EXPECT_EQ(Dialogs(signed_answer), (Strings{"confirm:answered"}));

  // The joined signature verifies and gives the file back, byte for byte.
  std::u16string signature = signed_answer.Find(u"result")->string();
  host->Send(Call(3, "QMAttachedVerify", {signature}));
  json::Value verified = host->ReadJson();
  ASSERT_EQ(Int(verified, u"hr"), 0) << Text(verified, u"errMsg");
  json::Value got = host->Ask(Call(4, "QMGetFile"));
  ASSERT_EQ(Int(got, u"hr"), 0) << Text(got, u"errMsg");
  EXPECT_EQ(Dialogs(got), (Strings{"save:answered"}));
  EXPECT_EQ(FileBytes(work_.File("back.bin")), content);
  EXPECT_EQ(host->Wait(), 0);
}

TEST_F(HostWebModeTest, APathFromThePageOnlyPresetsTheOpenDialog) {
  ASSERT_TRUE(WriteBytes(work_.File("page.txt"), AsBytes("named by the page")));
  ASSERT_TRUE(WriteBytes(work_.File("user.txt"), AsBytes("picked by the user")));
  auto host = Start("open " + work_.File("user.txt") + "\nconfirm\ncancel\n");
  json::Value added = host->Ask(Call(1, "QMAddFileForEncrypt", {Path(work_.File("page.txt"))}));
  ASSERT_EQ(Int(added, u"hr"), 0) << Text(added, u"errMsg");
  EXPECT_EQ(Dialogs(added), (Strings{"open:answered"}));
  // What is signed, and so what the page gets back, is the user's file.
  json::Value signed_answer = host->Ask(Call(2, "QMAttachedSign", {u"CN=Li Si"}));
  ASSERT_EQ(Int(signed_answer, u"hr"), 0) << Text(signed_answer, u"errMsg");
  ASSERT_EQ(
      Int(host->Ask(Call(3, "QMAttachedVerify", {signed_answer.Find(u"result")->string()})), u"hr"),
      0);
  EXPECT_EQ(Text(host->Ask(Call(4, "QMGetPlainText")), u"result"), "picked by the user");
  // Cancelling the dialog reads nothing: the user cancelled.
  json::Value cancelled =
      host->Ask(Call(5, "QMAttachedVerifySignedFile", {Path(work_.File("page.txt"))}));
  EXPECT_EQ(Int(cancelled, u"errorNum"), -10004);
  EXPECT_EQ(Dialogs(cancelled), (Strings{"open:cancelled"}));
  EXPECT_EQ(host->Wait(), 0);
}

TEST_F(HostWebModeTest, EveryKeyUseIsConfirmedAndACancelFailsTheSigning) {
  auto host = Start("confirm\ncancel\ncancel\nnonsense\n");
  EXPECT_EQ(Int(host->Ask(Call(1, "QMSetPlainText", {u"pay 100"})), u"hr"), 0);
  json::Value first = host->Ask(Call(2, "QMAttachedSign", {u"CN=Li Si"}));
  EXPECT_EQ(Int(first, u"hr"), 0) << Text(first, u"errMsg");
  EXPECT_EQ(Dialogs(first), (Strings{"confirm:answered"}));

  // A confirmation covers one call only: the next signature asks again.
  EXPECT_EQ(Int(host->Ask(Call(3, "QMSetPlainText", {u"pay 200"})), u"hr"), 0);
  json::Value refused = host->Ask(Call(4, "QMAttachedSign", {u"CN=Li Si"}));
  EXPECT_EQ(Int(refused, u"hr"), 1);
  EXPECT_EQ(Int(refused, u"errorNum"), -10020);                   // the PKCS#7 signing failed...
  EXPECT_EQ(Int(refused, u"errorCode"), kScardWCancelledByUser);  // ...cancelled by the user
  EXPECT_EQ(Text(refused, u"result"), "");
  EXPECT_EQ(Dialogs(refused), (Strings{"confirm:cancelled"}));

  // The raw signature fails as a hash signing that the user cancelled; the
  // Advance signature reports the cancel as such.
  EXPECT_EQ(Int(host->Ask(Call(5, "QMSetPlainText", {u"pay 300"})), u"hr"), 0);
  json::Value raw = host->Ask(Call(6, "QMRawSign", {u"CN=Li Si"}));
  EXPECT_EQ(Int(raw, u"errorNum"), -10031);
  EXPECT_EQ(Int(raw, u"errorCode"), kScardWCancelledByUser);
  EXPECT_EQ(Dialogs(raw), (Strings{"confirm:cancelled"}));
  // An answer that is not "confirm" cancels too.
  EXPECT_EQ(Int(host->Ask(Call(7, "QMSetPlainText", {u"pay 400"})), u"hr"), 0);
  json::Value advance = host->Ask(Call(8, "QMAdvanceAttachedSign", {u"CN=Li Si"}));
  EXPECT_EQ(Int(advance, u"errorNum"), -10051);
  EXPECT_EQ(Dialogs(advance), (Strings{"confirm:cancelled"}));
  EXPECT_EQ(host->Wait(), 0);
}

TEST_F(HostWebModeTest, PickingTheCertificateInTheChooserCountsAsConfirmation) {
  auto host = Start("choose " + std::to_string(LiSiCandidate()) + "\ncancel\n");
  EXPECT_EQ(Int(host->Ask(Call(1, "QMSetPlainText", {u"pay 100"})), u"hr"), 0);
  json::Value chosen = host->Ask(Call(2, "QMAttachedSign", {u""}));
  EXPECT_EQ(Int(chosen, u"hr"), 0) << Text(chosen, u"errMsg");
  EXPECT_EQ(Dialogs(chosen), (Strings{"chooser:answered"}));
  // A cancelled chooser uses no key and asks nothing more.
  EXPECT_EQ(Int(host->Ask(Call(3, "QMSetPlainText", {u"pay 200"})), u"hr"), 0);
  json::Value cancelled = host->Ask(Call(4, "QMAttachedSign", {u""}));
  EXPECT_EQ(Int(cancelled, u"hr"), 1);
  EXPECT_EQ(Dialogs(cancelled), (Strings{"chooser:cancelled"}));
  EXPECT_EQ(host->Wait(), 0);
}

TEST_F(HostWebModeTest, OpeningAnEnvelopeAsksBeforeTheKeyDecrypts) {
  auto host = Start("cancel\nconfirm\n");
  EXPECT_EQ(Int(host->Ask(Call(1, "QMSetPlainText", {u"secret"})), u"hr"), 0);
  json::Value sealed = host->Ask(Call(2, "QMEncryptedEnvelop", {u"CN=Li Si"}));
  ASSERT_EQ(Int(sealed, u"hr"), 0) << Text(sealed, u"errMsg");
  EXPECT_EQ(Dialogs(sealed), (Strings{})) << "encrypting uses no private key";
  const std::u16string envelope = sealed.Find(u"result")->string();
  json::Value refused = host->Ask(Call(3, "QMDecryptEnvelop", {envelope}));
  EXPECT_EQ(Int(refused, u"hr"), 1);
  EXPECT_EQ(Int(refused, u"errorCode"), kScardWCancelledByUser);
  EXPECT_EQ(Dialogs(refused), (Strings{"confirm:cancelled"}));
  json::Value opened = host->Ask(Call(4, "QMDecryptEnvelop", {envelope}));
  EXPECT_EQ(Int(opened, u"hr"), 0) << Text(opened, u"errMsg");
  EXPECT_EQ(Text(host->Ask(Call(5, "QMGetPlainText")), u"result"), "secret");
  EXPECT_EQ(host->Wait(), 0);
}

}  // namespace
}  // namespace quillmark::testing
