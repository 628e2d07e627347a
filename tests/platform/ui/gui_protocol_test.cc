// The desktop dialogs' line protocol: what one side writes the other reads
// back unchanged, and lines that are not requests or answers are refused.
#include "platform/ui/gui_protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmark::platform::ui::gui {
namespace {

TEST(GuiProtocolTest, RequestsRoundTripWithRowsInDisplayOrder) {
  ChooserRequest chooser;
  chooser.title = u"请选择您要用的证书";
  chooser.columns = {u"主题", u"颁发者", u"截止日期"};
  chooser.buttons = {u"确定", u"取消", u"查看"};
  chooser.notice = u"a\r\nb \"quoted\" \\";
  chooser.rows = {{u"b", u"x", u"1", 0}, {u"\xD800 lone", u"y", u"2", 1}, {u"a", u"z", u"3", 2}};
  chooser.display_order = {2, 0, 1};
  chooser.selected = 1;
  Request r;
  std::string error;
  ASSERT_TRUE(DecodeRequest(EncodeChooser(chooser, u"https://bank.example"), &r, &error)) << error;
  EXPECT_EQ(r.kind, DialogKind::kChooser);
  EXPECT_EQ(r.origin, u"https://bank.example");
  EXPECT_EQ(r.chooser.title, chooser.title);
  EXPECT_EQ(r.chooser.columns, chooser.columns);
  EXPECT_EQ(r.chooser.buttons, chooser.buttons);
  EXPECT_EQ(r.chooser.notice, chooser.notice);
  ASSERT_EQ(r.chooser.rows.size(), 3u);
  EXPECT_EQ(r.chooser.rows[0].item, 2);
  EXPECT_EQ(r.chooser.rows[2].item, 1);
  EXPECT_EQ(r.chooser.rows[2].subject, chooser.rows[1].subject);
  EXPECT_EQ(r.chooser.selected, 1);

  ASSERT_TRUE(DecodeRequest(EncodeSave({u"Save", u"*.cry", u"a", u"cry"}, u""), &r, &error));
  EXPECT_EQ(r.kind, DialogKind::kSave);
  EXPECT_EQ(r.save.default_ext, u"cry");
  ASSERT_TRUE(DecodeRequest(EncodePin({u"Token", 2, true}, u"https://o"), &r, &error));
  EXPECT_EQ(r.pin.tries_left, 2);
  EXPECT_TRUE(r.pin.passphrase);
}

KeyUseReview FullReview() {
  KeyUseReview review;
  review.text = u"pay \u27E6U+202E\u27E7 100\n\"quoted\" \\ 签名";
  review.text_units = 17;
  review.byte_count = 23;
  review.hidden_count = 1;
  review.not_text = true;
  review.files = {{u"a.pdf", 4}, {u"b \u27E6U+200B\u27E7.xml", 5000000000}};
  return review;
}

void ExpectSameReview(const KeyUseReview& got, const KeyUseReview& want) {
  EXPECT_EQ(got.action, want.action);
  EXPECT_EQ(got.text, want.text);
  EXPECT_EQ(got.text_units, want.text_units);
  EXPECT_EQ(got.byte_count, want.byte_count);
  EXPECT_EQ(got.hidden_count, want.hidden_count);
  EXPECT_EQ(got.not_text, want.not_text);
  ASSERT_EQ(got.files.size(), want.files.size());
  for (std::size_t i = 0; i < got.files.size(); ++i) {
    EXPECT_EQ(got.files[i].name, want.files[i].name);
    EXPECT_EQ(got.files[i].size, want.files[i].size);
  }
}

TEST(GuiProtocolTest, TheConfirmationCarriesTheWholeReviewAndTheOwner) {
  KeyUseRequest request{u"https://bank.example", FullReview()};
  request.review.owner = {u"CN=Alice", u"CN=Root", u"01 A2", u"2030-01-01"};
  const std::string line = EncodeKeyUse(request);
  EXPECT_NE(line.find("\"kind\":\"confirm\""), std::string::npos);
  EXPECT_NE(line.find("\"action\":\"sign\""), std::string::npos);
  Request r;
  std::string error;
  ASSERT_TRUE(DecodeRequest(line, &r, &error)) << error;
  EXPECT_EQ(r.kind, DialogKind::kConfirm);
  EXPECT_EQ(r.key_use.origin, u"https://bank.example");
  ExpectSameReview(r.key_use.review, request.review);
  EXPECT_EQ(r.key_use.review.owner.subject, u"CN=Alice");
  EXPECT_EQ(r.key_use.review.owner.issuer, u"CN=Root");
  EXPECT_EQ(r.key_use.review.owner.serial, u"01 A2");
  EXPECT_EQ(r.key_use.review.owner.not_after, u"2030-01-01");

  request.review = KeyUseReview();
  request.review.action = KeyUseAction::kDecrypt;
  ASSERT_TRUE(DecodeRequest(EncodeKeyUse(request), &r, &error)) << error;
  EXPECT_EQ(r.key_use.review.action, KeyUseAction::kDecrypt);
  EXPECT_TRUE(r.key_use.review.text.empty());
}

TEST(GuiProtocolTest, AChooserCarriesTheReviewOnlyWhenItHasOne) {
  ChooserRequest chooser;
  chooser.rows = {{u"a", u"b", u"c", 0}};
  Request r;
  std::string error;
  ASSERT_TRUE(DecodeRequest(EncodeChooser(chooser, u"https://o"), &r, &error)) << error;
  EXPECT_FALSE(r.chooser.review.has_value());
  EXPECT_EQ(r.chooser.origin, u"https://o");
  chooser.review = FullReview();
  const std::string line = EncodeChooser(chooser, u"https://o");
  EXPECT_EQ(line.find("\"owner\""), std::string::npos) << "the row names the owner";
  ASSERT_TRUE(DecodeRequest(line, &r, &error)) << error;
  ASSERT_TRUE(r.chooser.review.has_value());
  ExpectSameReview(*r.chooser.review, *chooser.review);
}

TEST(GuiProtocolTest, MalformedReviewsAreRefused) {
  Request r;
  std::string error;
  for (std::string bad : {
           R"({"kind":"confirm","action":"pay"})",
           R"({"kind":"confirm","action":"sign","textUnits":-1})",
           R"({"kind":"confirm","action":"sign","hidden":"2"})",
           R"({"kind":"confirm","action":"sign","notText":1})",
           R"({"kind":"confirm","action":"sign","files":["a.pdf"]})",
           R"({"kind":"confirm","action":"sign","files":[{"name":"a","size":-4}]})",
           R"({"kind":"confirm","action":"sign","owner":"CN=Alice"})",
           R"({"kind":"chooser","review":"pay"})",
           R"({"kind":"chooser","review":{"action":"sign","text":5}})",
       }) {
    EXPECT_FALSE(DecodeRequest(bad, &r, &error)) << bad;
  }
}

TEST(GuiProtocolTest, AnswersRoundTripAndGarbageIsRefused) {
  Answer a;
  a.action = Answer::Action::kPin;
  a.pin = "12\xCE\xB1";
  Answer back;
  std::string error;
  ASSERT_TRUE(DecodeAnswer(EncodeAnswer(a), &back, &error)) << error;
  EXPECT_EQ(back.action, Answer::Action::kPin);
  EXPECT_EQ(back.pin, a.pin);
  a = Answer();
  a.action = Answer::Action::kSort;
  a.column = 2;
  ASSERT_TRUE(DecodeAnswer(EncodeAnswer(a), &back, &error));
  EXPECT_EQ(back.column, 2);

  for (std::string bad :
       {"", "not json", "[]", "{}", "{\"action\":\"dance\"}",
        "{\"action\":\"choose\",\"item\":\"1\"}", "{\"action\":\"choose\",\"item\":99999999999}",
        "{\"action\":\"pin\"}", "{\"action\":\"open\",\"path\":5}"}) {
    EXPECT_FALSE(DecodeAnswer(bad, &back, &error)) << bad;
  }
  EXPECT_FALSE(
      DecodeAnswer("{\"action\":\"open\",\"path\":\"" + std::string(kMaxAnswerLine, 'a') + "\"}",
                   &back, &error));
  Request r;
  for (std::string bad : {"{\"kind\":\"chooser\",\"rows\":[{\"item\":-1}]}",
                          "{\"kind\":\"chooser\",\"columns\":[\"a\"]}", "{\"kind\":\"window\"}",
                          "{\"kind\":\"pin\",\"passphrase\":1}", "{\"origin\":\"x\"}"}) {
    EXPECT_FALSE(DecodeRequest(bad, &r, &error)) << bad;
  }
}

}  // namespace
}  // namespace quillmark::platform::ui::gui
