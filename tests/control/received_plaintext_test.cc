// The members that take the received plain text apart: QMGetFormItem,
// QMGetFile (through the Save dialog, or into stubPath in server mode) and
// QMGetPlainText.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/plaintext_fixture.h"

namespace quillmark::control {
namespace {

using platform::ui::DialogKind;
using platform::ui::DialogReport;
using testing::B;
using testing::PlaintextMembersTest;
using testing::U16;
using testing::U8;

class ReceivedPlaintextTest : public PlaintextMembersTest {
 protected:
  // A container of two items, the second in GBK, and one file named in GBK.
  void ReceiveReport() { Receive({"A", "\xB1\xED"}, {{"\xB1\xA8\xB8\xE6.txt", "content"}}); }
  // Takes both items of ReceiveReport.
  void TakeItems() {
    std::u16string out;
    ASSERT_EQ(qm_.QMGetFormItem(&out), S_OK);
    ASSERT_EQ(qm_.QMGetFormItem(&out), S_OK);
  }
  // A server-mode control whose stubPath is a new folder; returns the folder.
  std::string ServerModeWithStubPath() {
    qm_.put_QMServerMode(1);
    std::string stub = dir_.File("stub") + "/";
    EXPECT_TRUE(platform::MakeDirectories(stub));
    SetStubPath(platform::kRegSz, platform::RegistryStringBytes(U16(stub)));
    return stub;
  }
};

TEST_F(ReceivedPlaintextTest, FormItemsAreTakenInOrderThenNone) {
  ReceiveReport();
  std::u16string out;
  ASSERT_EQ(qm_.QMGetFormItem(&out), S_OK);
  EXPECT_EQ(out, u"A");
  ASSERT_EQ(qm_.QMGetFormItem(&out), S_OK);
  EXPECT_EQ(U8(out), "\xE8\xA1\xA8");  // 表, read back from GBK
  out = u"x";
  ASSERT_EQ(qm_.QMGetFormItem(&out), S_OK);  // none left: empty, not a failure
  EXPECT_EQ(out, u"");
  EXPECT_EQ(Num(), 0);
}

// The received plain text is the rewritten container, not the original.
TEST_F(ReceivedPlaintextTest, TheReceivedTextIsTheRewrittenContainer) {
  ReceiveReport();
  TakeItems();
  std::u16string out;
  ASSERT_EQ(qm_.QMGetPlainText(&out), S_OK);
  EXPECT_EQ(U8(out),
            "00000000"
            "00000031"
            "00000023"
            "00000008\xE6\x8A\xA5\xE5\x91\x8A.txtcontent");
}

TEST_F(ReceivedPlaintextTest, GetFileSavesThroughTheSaveDialog) {
  ReceiveReport();
  TakeItems();
  std::string target = dir_.File("saved.txt");
  Script("save " + target + "\n");
  std::u16string out;
  ASSERT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(U8(out), "报告.txt");
  EXPECT_EQ(Read(target), "content");
  std::vector<DialogReport> reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].kind, DialogKind::kSave);
  EXPECT_EQ(U8(reports[0].title), "Save");
  EXPECT_EQ(U8(reports[0].filter), "*.*");
  EXPECT_EQ(U8(reports[0].default_name), "报告.txt");
  EXPECT_EQ(Received(), "<absent>");
}

// Nothing left: "源数据为空" with errorNum as the last call left it.
TEST_F(ReceivedPlaintextTest, NothingLeftIsSourceEmptyWithTheErrorNumberKept) {
  ReceiveReport();
  TakeItems();
  Script("save " + dir_.File("saved.txt") + "\n");
  std::u16string out;
  ASSERT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "源数据为空");
  EXPECT_EQ(qm_.QMGetFormItem(&out), S_FALSE);
  EXPECT_EQ(Num(), 0);
}

TEST_F(ReceivedPlaintextTest, FilesAndItemsAreTakenIndependently) {
  Receive({"A"}, {{"f1", "one"}, {"f2", "two"}});
  std::u16string out;
  Script("save " + dir_.File("1") + "\nsave " + dir_.File("2") + "\n");
  ASSERT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(out, u"f1");
  ASSERT_EQ(qm_.QMGetFormItem(&out), S_OK);
  EXPECT_EQ(out, u"A");
  ASSERT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(out, u"f2");
  EXPECT_EQ(Read(dir_.File("1")), "one");
  EXPECT_EQ(Read(dir_.File("2")), "two");
  EXPECT_EQ(Reports().size(), 2u);
}

// A container with items only: QMGetFile finds no file and saves nothing.
TEST_F(ReceivedPlaintextTest, AContainerOfItemsOnlyHasNoFile) {
  Receive({"B"}, {});
  std::u16string out = u"x";
  ASSERT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(out, u"");
  EXPECT_TRUE(Reports().empty());
}

class EarlyTakeFailureTest : public ReceivedPlaintextTest {
 protected:
  void SetUp() override {
    ReceivedPlaintextTest::SetUp();
    std::u16string out;
    ASSERT_EQ(qm_.QMBase64Decode(u"=AAA", &out), S_FALSE);
    ASSERT_EQ(Num(), kErrBytesToText);
  }
};

TEST_F(EarlyTakeFailureTest, NothingReceivedKeepsTheErrorNumber) {
  std::u16string out;
  EXPECT_EQ(qm_.QMGetFormItem(&out), S_FALSE);
  EXPECT_EQ(Num(), kErrBytesToText);
  EXPECT_EQ(Msg(), "源数据为空");
}

TEST_F(EarlyTakeFailureTest, TextThatIsNoContainerIsKept) {
  qm_.SetReceivedPlainText(B("hello world"));
  for (int i = 0; i < 2; ++i) {
    std::u16string out = u"x";
    HRESULT hr = i == 0 ? qm_.QMGetFormItem(&out) : qm_.QMGetFile(&out);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(out, u"");
    EXPECT_EQ(Num(), kErrBytesToText);
    EXPECT_EQ(Msg(), "不是约定原文，不可分解");
    EXPECT_EQ(Received(), "hello world");
  }
}

TEST_F(EarlyTakeFailureTest, AnEmptyReceivedTextIsSourceEmpty) {
  qm_.SetReceivedPlainText(Bytes());  // present, length 0
  std::u16string out;
  EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
  EXPECT_EQ(Msg(), "源数据为空");
}

TEST_F(EarlyTakeFailureTest, GetPlainTextOfNothingReceivedIsAnEmptySuccess) {
  std::u16string out = u"x";
  ASSERT_EQ(qm_.QMGetPlainText(&out), S_OK);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "");
}

TEST_F(ReceivedPlaintextTest, GetPlainTextReadsWithoutConsuming) {
  qm_.SetReceivedPlainText(B("\xD6\xD0\xCE\xC4"));
  std::u16string out;
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(qm_.QMGetPlainText(&out), S_OK);
    EXPECT_EQ(U8(out), "中文");
  }
  qm_.QMSetCodePage(65001);
  ASSERT_EQ(qm_.QMGetPlainText(&out), S_OK);
  EXPECT_EQ(U8(out), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST_F(ReceivedPlaintextTest, GetPlainTextOfAnEmptyContentFails) {
  qm_.SetReceivedPlainText(Bytes());  // an empty content was received
  std::u16string out;
  EXPECT_EQ(qm_.QMGetPlainText(&out), S_FALSE);
  EXPECT_EQ(Num(), kErrBytesToText);
  EXPECT_EQ(Msg(), "编码转换失败");
}

TEST_F(ReceivedPlaintextTest, CancelledSaveLosesTheFileAndReportsSaveFailed) {
  Receive({}, {{"x.txt", "data"}, {"y.txt", "more"}});
  Script("cancel\n");
  std::u16string out = u"x";
  EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(Num(), kFailed);
  EXPECT_EQ(Msg(), "保存文件失败");
  // x.txt is gone; y.txt is next.
  Script("save " + dir_.File("y") + "\n");
  ASSERT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(out, u"y.txt");
}

// A folder that does not exist cannot take the file.
TEST_F(ReceivedPlaintextTest, SavingIntoAMissingFolderFails) {
  Receive({}, {{"z.txt", "data"}});
  Script("save " + dir_.File("no/such/folder/z.txt") + "\n");
  std::u16string out;
  EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
  EXPECT_EQ(Num(), kFailed);
}

TEST_F(ReceivedPlaintextTest, ServerModeWithoutTheSettingsKeyLosesTheFile) {
  qm_.put_QMServerMode(1);
  std::string stub = dir_.File("stub") + "/";
  ASSERT_TRUE(platform::MakeDirectories(stub));
  std::u16string out;
  Receive({}, {{"a.txt", "A"}, {"b.txt", "B"}});
  EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
  EXPECT_EQ(Num(), kErrNoDetachedSource);
  EXPECT_EQ(Msg(), "找不到包含文件保存路径的注册表记录项!");

  SetStubPath(platform::kRegSz, platform::RegistryStringBytes(U16(stub)));
  ASSERT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(out, u"b.txt");
  EXPECT_EQ(Read(stub + "b.txt"), "B");
  EXPECT_EQ(Read(stub + "a.txt"), "<unreadable>");  // a.txt was lost to the failure
  EXPECT_TRUE(Reports().empty());
}

// An expandable string is used as written.
TEST_F(ReceivedPlaintextTest, ServerModeTakesAnExpandableStubPathAsWritten) {
  ServerModeWithStubPath();
  std::string literal = dir_.File("%STUB%") + "/";
  ASSERT_TRUE(platform::MakeDirectories(literal));
  SetStubPath(platform::kRegExpandSz, platform::RegistryStringBytes(U16(literal)));
  Receive({}, {{"c.txt", "C"}});
  std::u16string out;
  ASSERT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(Read(literal + "c.txt"), "C");
}

// Values that are no usable string.
TEST_F(ReceivedPlaintextTest, ServerModeRefusesAStubPathThatIsNoString) {
  std::string stub = ServerModeWithStubPath();
  Bytes odd = platform::RegistryStringBytes(U16(stub));
  odd.pop_back();
  Bytes unterminated = platform::RegistryStringBytes(U16(stub));
  unterminated.resize(unterminated.size() - 2);
  const std::pair<std::uint32_t, Bytes> bad_values[] = {
      {platform::kRegSz, odd},
      {platform::kRegSz, unterminated},
      {platform::kRegDword, Bytes{1, 0, 0, 0}},
  };
  std::u16string out;
  for (const auto& [type, data] : bad_values) {
    Receive({}, {{"e.txt", "E"}});
    SetStubPath(type, data);
    EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
    EXPECT_EQ(Num(), kErrNoDetachedSource);
    EXPECT_EQ(Msg(), "在相应注册表记录项中找不到“stubPath”值域!");
    EXPECT_EQ(Received(), "<absent>");
  }
  EXPECT_TRUE(Reports().empty());
}

TEST_F(ReceivedPlaintextTest, ServerModeWithoutTheStubPathValueFails) {
  ServerModeWithStubPath();
  platform::RegKey key;
  ASSERT_EQ(platform::RegOpenKeyExW(platform::kHkeyClassesRoot, kCtlSettingsKeyPath, 0,
                                    platform::kKeyAllAccess, &key),
            platform::kErrorSuccess);
  ASSERT_EQ(platform::RegDeleteValueW(key, kStubPathValueName), platform::kErrorSuccess);
  Receive({}, {{"f.txt", "F"}});
  std::u16string out;
  EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
  EXPECT_EQ(Msg(), "在相应注册表记录项中找不到“stubPath”值域!");
  EXPECT_TRUE(Reports().empty());
}

TEST_F(ReceivedPlaintextTest, ServerModeRefusesNamesThatLeaveTheStubFolder) {
  std::string stub = ServerModeWithStubPath();
  std::u16string out = u"x";
  for (std::string_view name : {"../escaped.txt", "..", "sub/inner.txt"}) {
    Receive({}, {{name, "payload"}});
    EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE) << name;
    EXPECT_EQ(out, u"");
    EXPECT_EQ(Num(), kFailed);
    EXPECT_EQ(Msg(), "保存文件失败");
  }
  EXPECT_EQ(Read(dir_.File("escaped.txt")), "<unreadable>");
  EXPECT_TRUE(platform::ListDirectory(stub).empty());
}

TEST_F(ReceivedPlaintextTest, ServerModeRefusesNamesWithControlCharacters) {
  std::string stub = ServerModeWithStubPath();
  std::u16string out = u"x";
  for (std::string_view name :
       {std::string_view("line\nbreak.txt"), std::string_view("tab\t.txt"),
        std::string_view("\x1b[31mred.txt"), std::string_view("del\x7f.txt"),
        std::string_view("nul\0.txt", 8)}) {
    Receive({}, {{name, "payload"}});
    EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
    EXPECT_EQ(out, u"");
    EXPECT_EQ(Num(), kFailed);
    EXPECT_EQ(Msg(), "保存文件失败");
  }
  EXPECT_TRUE(platform::ListDirectory(stub).empty());
  Receive({}, {{"plain name.txt", "payload"}});
  EXPECT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(out, u"plain name.txt");
}

// A web page writes into stubPath without any dialog: it gets plain,
// visible names only, and a bounded number of files per control.
class WebStubPathTest : public ReceivedPlaintextTest {
 protected:
  void SetUp() override {
    ReceivedPlaintextTest::SetUp();
    Script("");
    platform::ui::CurrentDialogHost().SetCallerOrigin(u"https://bank.example");
  }
};

TEST_F(WebStubPathTest, RefusesHiddenAndBackslashedNames) {
  std::string stub = ServerModeWithStubPath();
  std::u16string out = u"x";
  for (std::string_view name :
       {".bashrc", ".", "..", "..\\up.txt", "dir\\file.txt", "a/b.txt", "tab\t.txt"}) {
    Receive({}, {{name, "payload"}});
    EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE) << name;
    EXPECT_EQ(out, u"");
    EXPECT_EQ(Num(), kFailed);
    EXPECT_EQ(Msg(), "保存文件失败");
  }
  EXPECT_TRUE(platform::ListDirectory(stub).empty());
  // A dot inside the name is fine.
  Receive({}, {{"report.v2.txt", "payload"}});
  ASSERT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(out, u"report.v2.txt");
  EXPECT_EQ(Read(stub + "report.v2.txt"), "payload");
  EXPECT_TRUE(Reports().empty());
}

TEST_F(WebStubPathTest, WritesAtMost64FilesPerControl) {
  std::string stub = ServerModeWithStubPath();
  encoding::FormattedPlaintext fp;
  for (int i = 0; i < 66; ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    ASSERT_EQ(fp.AddFile(AsBytes(name), AsBytes(std::string_view("x"))), kOk);
  }
  Bytes encoded;
  ASSERT_EQ(fp.Encode(&encoded), kOk);
  qm_.SetReceivedPlainText(std::move(encoded));
  std::u16string out;
  for (int i = 0; i < 64; ++i) ASSERT_EQ(qm_.QMGetFile(&out), S_OK) << i;
  EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
  EXPECT_EQ(Num(), kFailed);
  EXPECT_EQ(Msg(), "保存文件失败");
  EXPECT_EQ(Read(stub + "f64.txt"), "<unreadable>");
  EXPECT_EQ(platform::ListDirectory(stub).size(), 64u);
  // A refused name does not count, and nor does the file refused for the
  // count: the 66th is refused as well.
  EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
}

// A local program keeps the rules it always had: hidden names included.
TEST_F(ReceivedPlaintextTest, LocalServerModeStillWritesHiddenNames) {
  std::string stub = ServerModeWithStubPath();
  Receive({}, {{".settings", "payload"}});
  std::u16string out;
  ASSERT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(Read(stub + ".settings"), "payload");
}

}  // namespace
}  // namespace quillmark::control
