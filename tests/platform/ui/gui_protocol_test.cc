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
  ASSERT_TRUE(
      DecodeRequest(EncodeKeyUse({u"https://o", {u"sign", u"t", {u"f1", u"f2"}}}), &r, &error));
  EXPECT_EQ(r.key_use.origin, u"https://o");
  EXPECT_EQ(r.key_use.subject.files, (std::vector<std::u16string>{u"f1", u"f2"}));
  ASSERT_TRUE(DecodeRequest(EncodePin({u"Token", 2, true}, u"https://o"), &r, &error));
  EXPECT_EQ(r.pin.tries_left, 2);
  EXPECT_TRUE(r.pin.passphrase);
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
