// The members that build the outgoing plain text: QMSetPlainText,
// QMAddFormItem, QMAddFile (by path and through the Open dialog) and
// QMAddFileForEncrypt, with real files and scripted dialogs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/plaintext_fixture.h"

namespace quillmark::control {
namespace {

using platform::ui::DialogKind;
using platform::ui::DialogReport;
using testing::PlaintextMembersTest;
using testing::U16;
using testing::U8;

TEST_F(PlaintextMembersTest, AnEmptyPlainTextFailsAndKeepsTheOldOne) {
  ASSERT_EQ(qm_.QMSetPlainText(u"keep"), S_OK);
  EXPECT_EQ(qm_.QMSetPlainText(u""), S_FALSE);
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "源数据为空");
  EXPECT_EQ(Outgoing(), "keep");
}

TEST_F(PlaintextMembersTest, SetPlainTextStoresCodePageBytes) {
  EXPECT_EQ(qm_.QMSetPlainText(u""), S_FALSE);
  EXPECT_EQ(qm_.QMSetPlainText(u"中文"), S_OK);
  EXPECT_EQ(Outgoing(), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(Num(), 0);
  EXPECT_EQ(Msg(), "");
  qm_.QMSetCodePage(65001);
  EXPECT_EQ(qm_.QMSetPlainText(u"中文"), S_OK);
  EXPECT_EQ(Outgoing(), "中文");
}

// One NUL, or one inside the text: refused whole, never cut to what comes
// before it, and the text stored before is gone.
TEST_F(PlaintextMembersTest, APlainTextHoldingNulIsRefused) {
  for (const std::u16string& text : {std::u16string(1, u'\0'), std::u16string(u"ab\0cd", 5)}) {
    ASSERT_EQ(qm_.QMSetPlainText(u"keep"), S_OK);
    EXPECT_EQ(qm_.QMSetPlainText(text), S_FALSE);
    EXPECT_EQ(Num(), kErrTextToBytes);
    EXPECT_EQ(Msg(), "编码转换失败");
    EXPECT_EQ(Outgoing(), "<absent>");
  }
  // A character the code page cannot hold, in the plain text or an item.
  EXPECT_EQ(qm_.QMSetPlainText(u"a😀"), S_FALSE);
  EXPECT_EQ(Num(), kErrTextToBytes);
  ASSERT_EQ(qm_.QMAddFormItem(u"ab"), S_OK);
  EXPECT_EQ(qm_.QMAddFormItem(u"\xD800"), S_FALSE);
  EXPECT_EQ(Num(), kErrTextToBytes);
  EXPECT_EQ(Msg(), "编码转换失败");
  EXPECT_EQ(Outgoing(),
            "00000010"
            "00000002ab"
            "00000000");
}

// A failed conversion leaves no outgoing plain text at all.
TEST_F(PlaintextMembersTest, AFailedConversionLeavesNoPlainText) {
  ASSERT_EQ(qm_.QMSetPlainText(u"keep"), S_OK);
  qm_.QMSetCodePage(12345);
  EXPECT_EQ(qm_.QMSetPlainText(u"x"), S_FALSE);
  EXPECT_EQ(Num(), kErrTextToBytes);
  EXPECT_EQ(Msg(), "编码转换失败");
  EXPECT_EQ(Outgoing(), "<absent>");
}

TEST_F(PlaintextMembersTest, AFormItemReplacesAPlainText) {
  ASSERT_EQ(qm_.QMSetPlainText(u"hello world"), S_OK);
  ASSERT_EQ(qm_.QMAddFormItem(u"ab"), S_OK);
  EXPECT_EQ(Outgoing(),
            "00000010"
            "00000002ab"
            "00000000");
}

TEST_F(PlaintextMembersTest, AnEmptyFormItemFailsAndChangesNothing) {
  ASSERT_EQ(qm_.QMAddFormItem(u"ab"), S_OK);
  EXPECT_EQ(qm_.QMAddFormItem(u""), S_FALSE);
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "加入表单失败");
  EXPECT_EQ(Outgoing(),
            "00000010"
            "00000002ab"
            "00000000");
}

TEST_F(PlaintextMembersTest, FormItemsAccumulateInCodePageBytes) {
  ASSERT_EQ(qm_.QMAddFormItem(u"ab"), S_OK);
  EXPECT_EQ(qm_.QMAddFormItem(u""), S_FALSE);
  ASSERT_EQ(qm_.QMAddFormItem(u"中"), S_OK);
  EXPECT_EQ(Outgoing(),
            "00000020"
            "00000002ab"
            "00000002\xD6\xD0"
            "00000000");
  EXPECT_EQ(Num(), 0);
}

// A refused plain text leaves nothing for a form item to decompose.
TEST_F(PlaintextMembersTest, AZeroBytePlainTextIsReplacedByAFormItem) {
  ASSERT_EQ(qm_.QMSetPlainText(std::u16string(1, u'\0')), S_FALSE);
  ASSERT_EQ(qm_.QMAddFormItem(u"c"), S_OK);
  EXPECT_EQ(Outgoing(),
            "00000009"
            "00000001c"
            "00000000");
}

TEST_F(PlaintextMembersTest, AFileNameTooLongFails) {
  EXPECT_EQ(qm_.QMAddFile(std::u16string(257, u'a')), S_FALSE);
  EXPECT_EQ(Num(), kErrTooLong);
  EXPECT_EQ(Msg(), "文件名超长");
}

TEST_F(PlaintextMembersTest, AnEmptyPathInServerModeFails) {
  qm_.put_QMServerMode(1);
  EXPECT_EQ(qm_.QMAddFile(u""), S_FALSE);
  EXPECT_EQ(Num(), kErrEmptyInput);
  EXPECT_EQ(Msg(), "源数据为空");
}

TEST_F(PlaintextMembersTest, FilesThatCannotBeReadFail) {
  const std::string failing[] = {File("empty.bin", ""), dir_.File("missing.bin"), dir_.path(),
                                 "relative.txt"};
  for (const std::string& bad : failing) {
    EXPECT_EQ(qm_.QMAddFile(U16(bad)), S_FALSE) << bad;
    EXPECT_EQ(Num(), kFailed);
    EXPECT_EQ(Msg(), "读取文件失败");
  }
  EXPECT_EQ(Outgoing(), "<absent>");
}

TEST_F(PlaintextMembersTest, FilesBeyondTheContainerOrNotRegularAreRefusedUnread) {
  // Sparse files: an 8 GiB one, and one byte over the 99,999,999 any file
  // read for a page may hold. Refused from their size with
  // ERROR_FILE_TOO_LARGE.
  const std::string path = dir_.File("big.bin");
  for (std::int64_t size : {std::int64_t{8} << 30, std::int64_t{100'000'000}}) {
    SCOPED_TRACE(size);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
    for (bool encrypt : {false, true}) {
      EXPECT_EQ(encrypt ? qm_.QMAddFileForEncrypt(U16(path)) : qm_.QMAddFile(U16(path)), S_FALSE);
      EXPECT_EQ(Num(), kFailed);
      EXPECT_EQ(Msg(), "读取文件失败");
      std::int32_t code = 0;
      qm_.get_errorCode(&code);
      EXPECT_EQ(code, 223);
    }
  }
  EXPECT_EQ(Outgoing(), "<absent>");

  // A device and a FIFO are no files to read; errorCode is left as it was
  // (the 223 of the calls before).
  ASSERT_EQ(::mkfifo(dir_.File("fifo").c_str(), 0600), 0);
  for (const std::string& special : {std::string("/dev/zero"), dir_.File("fifo")}) {
    EXPECT_EQ(qm_.QMAddFile(U16(special)), S_FALSE) << special;
    EXPECT_EQ(Num(), kFailed);
    EXPECT_EQ(Msg(), "读取文件失败");
    std::int32_t code = 0;
    qm_.get_errorCode(&code);
    EXPECT_EQ(code, 223);
  }
  EXPECT_EQ(Outgoing(), "<absent>");
}

// The largest file the container holds is 99,999,999 less its name and its
// two length fields: that one is added; one byte more is refused from its
// size (ERROR_FILE_TOO_LARGE) with nothing added. QMAddFileForEncrypt takes
// the file whole, so its bound is the full 99,999,999. Sparse files.
TEST_F(PlaintextMembersTest, AFileIsAddedUpToWhatTheContainerHolds) {
  auto sparse = [&](const std::string& name, std::int64_t size) {
    const std::string path = dir_.File(name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
    return U16(path);
  };
  auto outgoing_size = [&]() -> std::int64_t {
    const auto& o = qm_.settings().outgoing_plain_text;
    return o.has_value() ? static_cast<std::int64_t>(o->size()) : -1;
  };
  struct Case {
    const char* name;
    std::int64_t size;
    bool encrypt;
    bool added;
  };
  const Case cases[] = {
      {"f", 99'999'983, false, false},        {"f", 99'999'982, false, true},
      {"报告.bin", 99'999'976, false, false},  // 8 bytes in GBK
      {"报告.bin", 99'999'975, false, true},  {"f", 100'000'000, true, false},
      {"f", 99'999'999, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.size) +
                 (c.encrypt ? " encrypt" : ""));
    ASSERT_EQ(qm_.QMSetPlainText(u"before"), S_OK);
    const std::u16string path = sparse(c.name, c.size);
    const HRESULT hr = c.encrypt ? qm_.QMAddFileForEncrypt(path) : qm_.QMAddFile(path);
    std::int32_t code = 0;
    qm_.get_errorCode(&code);
    if (c.added) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(Num(), 0);
      // The whole container: both totals, E and N, the name, the content.
      const std::int64_t name_size = std::string(c.name) == "f" ? 1 : 8;
      EXPECT_EQ(outgoing_size(), c.encrypt ? c.size : 32 + name_size + c.size);
      if (!c.encrypt) {
        EXPECT_EQ(outgoing_size() - 16, 99'999'999);  // the file section's total
      }
    } else {
      EXPECT_EQ(hr, S_FALSE);
      EXPECT_EQ(Num(), kFailed);
      EXPECT_EQ(Msg(), "读取文件失败");
      EXPECT_EQ(code, 223);
      EXPECT_EQ(Outgoing(), "before");
    }
    ::unlink(dir_.File(c.name).c_str());
  }
}

TEST_F(PlaintextMembersTest, ASignedFileMayHoldItsBase64TextButNoMore) {
  auto sparse = [&](std::int64_t size) {
    const std::string path = dir_.File("big.sign");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
    return U16(path);
  };
  auto code = [&] {
    std::int32_t c = 0;
    qm_.get_errorCode(&c);
    return c;
  };
  for (std::int64_t size : {std::int64_t{8} << 30, (std::int64_t{192} << 20) + 1}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(qm_.QMAttachedVerifySignedFile(sparse(size)), S_FALSE);
    EXPECT_EQ(Num(), kFailed);
    EXPECT_EQ(Msg(), "读取文件失败");
    EXPECT_EQ(code(), 223);
  }
  // Above the container's limit the text of a large signature is still
  // read; these zeros then fail as a message, not as a file.
  EXPECT_EQ(qm_.QMAttachedVerifySignedFile(sparse(100'000'000)), S_FALSE);
  EXPECT_NE(Num(), kFailed);
  EXPECT_NE(Msg(), "读取文件失败");
}

TEST_F(PlaintextMembersTest, AddFileByPathStoresTheNameAndContent) {
  std::string path = File("报告.txt", "yz");
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

TEST_F(PlaintextMembersTest, AddFileWithoutAPathOpensTheChosenFile) {
  std::string path = File("a.bin", std::string("\0\x01\x02", 3));
  Script("open " + path + "\n");
  ASSERT_EQ(qm_.QMAddFile(u""), S_OK);
  EXPECT_EQ(Outgoing(), std::string("00000000"
                                    "00000024"
                                    "00000016"
                                    "00000005a.bin\0\x01\x02",
                                    40));
  std::vector<DialogReport> reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].kind, DialogKind::kOpen);
  EXPECT_EQ(U8(reports[0].title), "Open");
  EXPECT_EQ(U8(reports[0].filter), "*.*");
}

TEST_F(PlaintextMembersTest, ACancelledOpenIsUserCancelled) {
  Script("cancel\n");
  EXPECT_EQ(qm_.QMAddFile(u""), S_FALSE);
  EXPECT_EQ(Num(), kErrUserCancelled);
  EXPECT_EQ(Msg(), "用户取消");
  std::vector<DialogReport> reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(U8(reports[0].answer), "cancel");
}

TEST_F(PlaintextMembersTest, AChosenFileThatDoesNotExistCannotBeRead) {
  Script("open " + dir_.File("nothing-here") + "\n");
  EXPECT_EQ(qm_.QMAddFile(u""), S_FALSE);
  EXPECT_EQ(Num(), kFailed);
  EXPECT_EQ(Msg(), "读取文件失败");
  EXPECT_EQ(Reports().size(), 1u);
}

TEST_F(PlaintextMembersTest, AnExhaustedScriptCancelsTheOpenDialog) {
  Script("");
  EXPECT_EQ(qm_.QMAddFile(u""), S_FALSE);
  EXPECT_EQ(Num(), kErrUserCancelled);
  EXPECT_EQ(Reports().size(), 1u);
}

TEST_F(PlaintextMembersTest, AddFileForEncryptTakesTheWholeFile) {
  std::string path = File("doc.pdf", "%PDF-1.4");
  ASSERT_EQ(qm_.QMSetPlainText(u"old"), S_OK);
  ASSERT_EQ(qm_.QMAddFileForEncrypt(U16(path)), S_OK);
  EXPECT_EQ(Outgoing(), "%PDF-1.4");
}

TEST_F(PlaintextMembersTest, AddFileForEncryptFailuresKeepThePlainText) {
  ASSERT_EQ(qm_.QMAddFileForEncrypt(U16(File("doc.pdf", "%PDF-1.4"))), S_OK);
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

}  // namespace
}  // namespace quillmark::control
