// The plain-text, form-item and file members with real files, scripted
// Open and Save dialogs and the registry's stubPath.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/status.h"
#include "common/unicode.h"
#include "control/guids.h"
#include "control/quillmark_control.h"
#include "encoding/formatted_plaintext.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/registry/registry.h"
#include "platform/ui/dialog_factory.h"
#include "platform/ui/script_host.h"
#include "support/test_dirs.h"

namespace quillmark::control {
namespace {

using platform::ui::DialogKind;
using platform::ui::DialogReport;

std::string U8(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }
std::u16string U16(std::string_view s) { return Utf8ToUtf16Lossy(s); }
Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }
std::string S(const Bytes& b) { return std::string(b.begin(), b.end()); }

class PlaintextMembersTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetQuillmarkHome(home_.path()); }
  void TearDown() override {
    platform::ui::SetCurrentDialogHost(nullptr);
    platform::SetQuillmarkHome("");
  }

  void Script(std::string_view answers) {
    platform::ui::SetCurrentDialogHost(std::make_unique<platform::ui::ScriptDialogHost>(answers));
  }
  std::vector<DialogReport> Reports() { return platform::ui::CurrentDialogHost().TakeReports(); }

  std::int32_t Num() {
    std::int32_t n = 0;
    qm_.get_errorNum(&n);
    return n;
  }
  std::string Msg() {
    std::u16string m;
    qm_.get_errMsg(&m);
    return U8(m);
  }
  std::string Outgoing() {
    const auto& o = qm_.settings().outgoing_plain_text;
    return o.has_value() ? S(*o) : "<absent>";
  }
  std::string Received() {
    const auto& r = qm_.settings().received_plain_text;
    return r.has_value() ? S(*r) : "<absent>";
  }
  // Writes a file in the scratch folder and returns its path.
  std::string File(const std::string& name, std::string_view content) {
    std::string path = dir_.File(name);
    EXPECT_TRUE(platform::WriteFileAtomically(path, AsBytes(content)));
    return path;
  }
  std::string Read(const std::string& path) {
    Bytes b;
    return platform::ReadWholeFile(path, &b) ? S(b) : "<unreadable>";
  }
  void SetStubPath(std::uint32_t type, ByteSpan data) {
    platform::RegKey key;
    ASSERT_EQ(platform::RegCreateKeyExW(platform::kHkeyClassesRoot, kCtlSettingsKeyPath, 0,
                                        platform::kKeyAllAccess, &key, nullptr),
              platform::kErrorSuccess);
    ASSERT_EQ(platform::RegSetValueExW(key, kStubPathValueName, type, data),
              platform::kErrorSuccess);
  }
  // Receives a container of the given entries, as a verification would.
  void Receive(std::initializer_list<std::string_view> items,
               std::initializer_list<std::pair<std::string_view, std::string_view>> files) {
    encoding::FormattedPlaintext fp;
    for (std::string_view item : items) ASSERT_EQ(fp.AddFormItem(AsBytes(item)), kOk);
    for (const auto& [name, content] : files) {
      ASSERT_EQ(fp.AddFile(AsBytes(name), AsBytes(content)), kOk);
    }
    Bytes encoded;
    ASSERT_EQ(fp.Encode(&encoded), kOk);
    qm_.SetReceivedPlainText(std::move(encoded));
  }

  testing::ScratchDir home_;
  testing::ScratchDir dir_;
  CCorvaneQuillmark qm_;
};

TEST_F(PlaintextMembersTest, SetPlainTextStoresCodePageBytes) {
  ASSERT_EQ(qm_.QMSetPlainText(u"keep"), S_OK);
  EXPECT_EQ(qm_.QMSetPlainText(u""), S_FALSE);
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "源数据为空");
  EXPECT_EQ(Outgoing(), "keep");

  EXPECT_EQ(qm_.QMSetPlainText(u"中文"), S_OK);
  EXPECT_EQ(Outgoing(), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "");
  qm_.QMSetCodePage(65001);
  EXPECT_EQ(qm_.QMSetPlainText(u"中文"), S_OK);
  EXPECT_EQ(Outgoing(), "中文");

  // One NUL: a buffer that exists with length 0.
  EXPECT_EQ(qm_.QMSetPlainText(std::u16string(1, u'\0')), S_OK);
  EXPECT_EQ(Outgoing(), "");

  // A failed conversion leaves no outgoing plain text at all.
  qm_.QMSetCodePage(12345);
  EXPECT_EQ(qm_.QMSetPlainText(u"x"), S_FALSE);
  EXPECT_EQ(Num(), kErrTextToBytes);
  EXPECT_EQ(Msg(), "编码转换失败");
  EXPECT_EQ(Outgoing(), "<absent>");
}

TEST_F(PlaintextMembersTest, FormItemsReplaceAPlainTextAndAccumulate) {
  ASSERT_EQ(qm_.QMSetPlainText(u"hello world"), S_OK);
  ASSERT_EQ(qm_.QMAddFormItem(u"ab"), S_OK);
  EXPECT_EQ(Outgoing(),
            "00000010"
            "00000002ab"
            "00000000");

  EXPECT_EQ(qm_.QMAddFormItem(u""), S_FALSE);
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "加入表单失败");
  EXPECT_EQ(Outgoing(),
            "00000010"
            "00000002ab"
            "00000000");

  ASSERT_EQ(qm_.QMAddFormItem(u"中"), S_OK);
  EXPECT_EQ(Outgoing(),
            "00000020"
            "00000002ab"
            "00000002\xD6\xD0"
            "00000000");
  EXPECT_EQ(Num(), 0);

  // A plain text of zero bytes is not decomposed either.
  ASSERT_EQ(qm_.QMSetPlainText(std::u16string(1, u'\0')), S_OK);
  ASSERT_EQ(qm_.QMAddFormItem(u"c"), S_OK);
  EXPECT_EQ(Outgoing(),
            "00000009"
            "00000001c"
            "00000000");
}

TEST_F(PlaintextMembersTest, AddFileByPath) {
  std::string path = File("报告.txt", "yz");
  EXPECT_EQ(qm_.QMAddFile(std::u16string(257, u'a')), S_FALSE);
  EXPECT_EQ(Num(), kErrTooLong);
  EXPECT_EQ(Msg(), "文件名超长");

  qm_.put_QMServerMode(1);
  EXPECT_EQ(qm_.QMAddFile(u""), S_FALSE);
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "源数据为空");

  const std::string failing[] = {File("empty.bin", ""), dir_.File("missing.bin"), dir_.path(),
                                 "relative.txt"};
  for (const std::string& bad : failing) {
    EXPECT_EQ(qm_.QMAddFile(U16(bad)), S_FALSE) << bad;
    EXPECT_EQ(Num(), kFailed);
    EXPECT_EQ(Msg(), "读取文件失败");
  }
  EXPECT_EQ(Outgoing(), "<absent>");

  ASSERT_EQ(qm_.QMAddFile(U16(path)), S_OK);
  EXPECT_EQ(Num(), 0);
  // The name is the text after the last '/', in GBK: 4 + 4 bytes.
  EXPECT_EQ(Outgoing(),
            "00000000"
            "00000026"
            "00000018"
            "00000008\xB1\xA8\xB8\xE6.txtyz");
  ASSERT_EQ(qm_.QMAddFormItem(u"f"), S_OK);
  EXPECT_EQ(Outgoing(),
            "00000009"
            "00000001f"
            "00000026"
            "00000018"
            "00000008\xB1\xA8\xB8\xE6.txtyz");
  EXPECT_TRUE(Reports().empty());  // no dialog with a path
}

TEST_F(PlaintextMembersTest, AddFileThroughTheOpenDialog) {
  std::string path = File("a.bin", std::string("\0\x01\x02", 3));
  Script("open " + path + "\ncancel\nopen " + dir_.File("nothing-here") + "\n");
  ASSERT_EQ(qm_.QMAddFile(u""), S_OK);
  EXPECT_EQ(Outgoing(), std::string("00000000"
                                    "00000024"
                                    "00000016"
                                    "00000005a.bin\0\x01\x02",
                                    40));

  EXPECT_EQ(qm_.QMAddFile(u""), S_FALSE);
  EXPECT_EQ(Num(), kErrUserCancelled);
  EXPECT_EQ(Msg(), "用户取消");
  EXPECT_EQ(qm_.QMAddFile(u""), S_FALSE);  // the chosen file does not exist
  EXPECT_EQ(Num(), kFailed);
  EXPECT_EQ(Msg(), "读取文件失败");
  EXPECT_EQ(qm_.QMAddFile(u""), S_FALSE);  // an exhausted script cancels
  EXPECT_EQ(Num(), kErrUserCancelled);

  std::vector<DialogReport> reports = Reports();
  ASSERT_EQ(reports.size(), 4u);
  EXPECT_EQ(reports[0].kind, DialogKind::kOpen);
  EXPECT_EQ(U8(reports[0].title), "Open");
  EXPECT_EQ(U8(reports[0].filter), "*.*");
  EXPECT_EQ(U8(reports[1].answer), "cancel");
}

TEST_F(PlaintextMembersTest, AddFileForEncryptTakesTheWholeFile) {
  std::string path = File("doc.pdf", "%PDF-1.4");
  ASSERT_EQ(qm_.QMSetPlainText(u"old"), S_OK);
  ASSERT_EQ(qm_.QMAddFileForEncrypt(U16(path)), S_OK);
  EXPECT_EQ(Outgoing(), "%PDF-1.4");
  EXPECT_EQ(qm_.QMAddFileForEncrypt(U16(File("empty", ""))), S_FALSE);
  EXPECT_EQ(Num(), kFailed);
  EXPECT_EQ(Msg(), "读取文件失败");
  Script("cancel\n");
  EXPECT_EQ(qm_.QMAddFileForEncrypt(u""), S_FALSE);
  EXPECT_EQ(Num(), kErrUserCancelled);
  EXPECT_EQ(qm_.QMAddFileForEncrypt(std::u16string(257, u'/')), S_FALSE);
  EXPECT_EQ(Num(), kErrTooLong);
  EXPECT_EQ(Outgoing(), "%PDF-1.4");
}

TEST_F(PlaintextMembersTest, TakingItemsAndFilesOutOfTheReceivedText) {
  Receive({"A", "\xB1\xED"}, {{"\xB1\xA8\xB8\xE6.txt", "content"}});
  std::u16string out;
  ASSERT_EQ(qm_.QMGetFormItem(&out), S_OK);
  EXPECT_EQ(out, u"A");
  ASSERT_EQ(qm_.QMGetFormItem(&out), S_OK);
  EXPECT_EQ(U8(out), "\xE8\xA1\xA8");  // 表, read back from GBK
  out = u"x";
  ASSERT_EQ(qm_.QMGetFormItem(&out), S_OK);  // none left: empty, not a failure
  EXPECT_EQ(out, u"");
  EXPECT_EQ(Num(), 0);

  // The received plain text is the rewritten container, not the original.
  ASSERT_EQ(qm_.QMGetPlainText(&out), S_OK);
  EXPECT_EQ(U8(out),
            "00000000"
            "00000031"
            "00000023"
            "00000008\xE6\x8A\xA5\xE5\x91\x8A.txtcontent");

  std::string target = dir_.File("saved.txt");
  Script("save " + target + "\n");
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

  // Nothing left: "源数据为空" with errorNum as the last call left it.
  EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "源数据为空");
  EXPECT_EQ(qm_.QMGetFormItem(&out), S_FALSE);
  EXPECT_EQ(Num(), 0);
}

TEST_F(PlaintextMembersTest, FilesAndItemsAreTakenIndependently) {
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
  // A container with items only: QMGetFile finds no file and saves nothing.
  Receive({"B"}, {});
  out = u"x";
  ASSERT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(out, u"");
  EXPECT_TRUE(Reports().size() == 2u);
}

TEST_F(PlaintextMembersTest, EarlyTakeFailuresKeepErrorNumAndTheReceivedText) {
  std::u16string out;
  ASSERT_EQ(qm_.QMBase64Decode(u"=AAA", &out), S_FALSE);
  ASSERT_EQ(Num(), kErrBytesToText);

  EXPECT_EQ(qm_.QMGetFormItem(&out), S_FALSE);
  EXPECT_EQ(Num(), kErrBytesToText);
  EXPECT_EQ(Msg(), "源数据为空");

  qm_.SetReceivedPlainText(B("hello world"));
  for (int i = 0; i < 2; ++i) {
    out = u"x";
    HRESULT hr = i == 0 ? qm_.QMGetFormItem(&out) : qm_.QMGetFile(&out);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(out, u"");
    EXPECT_EQ(Num(), kErrBytesToText);
    EXPECT_EQ(Msg(), "不是约定原文，不可分解");
    EXPECT_EQ(Received(), "hello world");
  }
  qm_.SetReceivedPlainText(Bytes());  // present, length 0
  EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
  EXPECT_EQ(Msg(), "源数据为空");
}

TEST_F(PlaintextMembersTest, GetPlainTextReadsWithoutConsuming) {
  std::u16string out = u"x";
  ASSERT_EQ(qm_.QMBase64Decode(u"=AAA", &out), S_FALSE);
  ASSERT_EQ(qm_.QMGetPlainText(&out), S_OK);  // nothing received: empty, success
  EXPECT_EQ(out, u"");
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "");

  qm_.SetReceivedPlainText(B("\xD6\xD0\xCE\xC4"));
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(qm_.QMGetPlainText(&out), S_OK);
    EXPECT_EQ(U8(out), "中文");
  }
  qm_.QMSetCodePage(65001);
  ASSERT_EQ(qm_.QMGetPlainText(&out), S_OK);
  EXPECT_EQ(U8(out), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");

  qm_.SetReceivedPlainText(Bytes());  // an empty content was received
  EXPECT_EQ(qm_.QMGetPlainText(&out), S_FALSE);
  EXPECT_EQ(Num(), kErrBytesToText);
  EXPECT_EQ(Msg(), "编码转换失败");
}

TEST_F(PlaintextMembersTest, CancelledSaveLosesTheFileAndReportsSaveFailed) {
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
  // A folder that does not exist cannot take the file.
  Receive({}, {{"z.txt", "data"}});
  Script("save " + dir_.File("no/such/folder/z.txt") + "\n");
  EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
  EXPECT_EQ(Num(), kFailed);
}

TEST_F(PlaintextMembersTest, ServerModeSavesIntoStubPathWithoutADialog) {
  qm_.put_QMServerMode(1);
  std::string stub = dir_.File("stub") + "/";
  ASSERT_TRUE(platform::MakeDirectories(stub));
  std::u16string out;

  // No CtlSettings key yet.
  Receive({}, {{"a.txt", "A"}, {"b.txt", "B"}, {"c.txt", "C"}, {"d.txt", "D"}});
  EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
  EXPECT_EQ(Num(), kErrNoDetachedSource);
  EXPECT_EQ(Msg(), "找不到包含文件保存路径的注册表记录项!");

  SetStubPath(platform::kRegSz, platform::RegistryStringBytes(U16(stub)));
  ASSERT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(out, u"b.txt");
  EXPECT_EQ(Read(stub + "b.txt"), "B");
  EXPECT_EQ(Read(stub + "a.txt"), "<unreadable>");  // a.txt was lost to the failure

  // An expandable string is used as written.
  std::string literal = dir_.File("%STUB%") + "/";
  ASSERT_TRUE(platform::MakeDirectories(literal));
  SetStubPath(platform::kRegExpandSz, platform::RegistryStringBytes(U16(literal)));
  ASSERT_EQ(qm_.QMGetFile(&out), S_OK);
  EXPECT_EQ(Read(literal + "c.txt"), "C");

  // Values that are no usable string.
  Bytes odd = platform::RegistryStringBytes(U16(stub));
  odd.pop_back();
  Bytes unterminated = platform::RegistryStringBytes(U16(stub));
  unterminated.resize(unterminated.size() - 2);
  const std::pair<std::uint32_t, Bytes> bad_values[] = {
      {platform::kRegSz, odd},
      {platform::kRegSz, unterminated},
      {platform::kRegDword, Bytes{1, 0, 0, 0}},
  };
  for (const auto& [type, data] : bad_values) {
    Receive({}, {{"e.txt", "E"}});
    SetStubPath(type, data);
    EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
    EXPECT_EQ(Num(), kErrNoDetachedSource);
    EXPECT_EQ(Msg(), "在相应注册表记录项中找不到“stubPath”值域!");
    EXPECT_EQ(Received(), "<absent>");
  }
  platform::RegKey key;
  ASSERT_EQ(platform::RegOpenKeyExW(platform::kHkeyClassesRoot, kCtlSettingsKeyPath, 0,
                                    platform::kKeyAllAccess, &key),
            platform::kErrorSuccess);
  ASSERT_EQ(platform::RegDeleteValueW(key, kStubPathValueName), platform::kErrorSuccess);
  Receive({}, {{"f.txt", "F"}});
  EXPECT_EQ(qm_.QMGetFile(&out), S_FALSE);
  EXPECT_EQ(Msg(), "在相应注册表记录项中找不到“stubPath”值域!");
  EXPECT_TRUE(Reports().empty());
}

TEST_F(PlaintextMembersTest, ServerModeRefusesNamesThatLeaveTheStubFolder) {
  qm_.put_QMServerMode(1);
  std::string stub = dir_.File("stub") + "/";
  ASSERT_TRUE(platform::MakeDirectories(stub));
  SetStubPath(platform::kRegSz, platform::RegistryStringBytes(U16(stub)));
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

}  // namespace
}  // namespace quillmark::control
