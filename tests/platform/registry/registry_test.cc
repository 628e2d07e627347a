#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "common/unicode.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "support/test_dirs.h"

extern char** environ;

namespace quillmark::platform {
namespace {

// Points the home folder (and so the registry file) at a scratch folder.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { SetQuillmarkHome(dir_.path()); }
  void TearDown() override { SetQuillmarkHome(""); }

  std::string FileText() {
    Bytes b;
    EXPECT_TRUE(ReadWholeFile(dir_.File("registry.reg"), &b));
    return std::string(AsChars(b));
  }
  void WriteFile(std::string_view text) {
    ASSERT_TRUE(WriteFileAtomically(dir_.File("registry.reg"), AsBytes(text)));
  }

  testing::ScratchDir dir_;
};

std::u16string QueryString(const RegKey& key, std::u16string_view name, std::uint32_t* type) {
  Bytes data;
  EXPECT_EQ(RegQueryValueExW(key, name, type, &data), kErrorSuccess);
  std::u16string text;
  EXPECT_TRUE(RegistryStringText(data, &text));
  return text;
}

TEST_F(RegistryTest, KeysAndValuesWrittenReadBackAndDeleted) {
  const std::u16string kClass = u"CLSID\\{0AB1C2D3-0000-4000-8000-00AA00BB00CC}";
  RegKey key;
  std::uint32_t disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(kHkeyClassesRoot, kClass + u"\\CtlSettings", 0, kKeyAllAccess, &key,
                            &disposition),
            kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  ASSERT_EQ(RegSetValueExW(key, u"stubPath", kRegSz, RegistryStringBytes(u"/home/a/stub/")),
            kErrorSuccess);
  RegKey cls;
  ASSERT_EQ(RegCreateKeyExW(kHkeyClassesRoot, kClass, 0, kKeyAllAccess, &cls, &disposition),
            kErrorSuccess);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  ASSERT_EQ(RegSetValueExW(cls, u"", kRegSz, RegistryStringBytes(u"Lydra CorvaneQuillmark Class")),
            kErrorSuccess);

  // Another handle, opened read-only, sees both values.
  RegKey reader;
  ASSERT_EQ(RegOpenKeyExW(kHkeyClassesRoot, kClass + u"\\CtlSettings", 0, kKeyRead, &reader),
            kErrorSuccess);
  std::uint32_t type = 0;
  EXPECT_EQ(QueryString(reader, u"stubPath", &type), u"/home/a/stub/");
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(QueryString(cls, u"", &type), u"Lydra CorvaneQuillmark Class");
  EXPECT_EQ(RegSetValueExW(reader, u"x", kRegSz, RegistryStringBytes(u"y")), kErrorAccessDenied);

  std::string text = FileText();
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u) << text;
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\" + Utf16ToUtf8Lossy(kClass) +
                      "\\CtlSettings]\n\"stubPath\"=\"/home/a/stub/\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("@=\"Lydra CorvaneQuillmark Class\"\n"), std::string::npos) << text;

  ASSERT_EQ(RegDeleteValueW(key, u"STUBPATH"), kErrorSuccess);
  EXPECT_EQ(RegQueryValueExW(reader, u"stubPath", nullptr, nullptr), kErrorFileNotFound);
  EXPECT_EQ(RegDeleteValueW(key, u"stubPath"), kErrorFileNotFound);

  ASSERT_EQ(RegDeleteTreeW(kHkeyClassesRoot, kClass), kErrorSuccess);
  RegKey gone;
  EXPECT_EQ(RegOpenKeyExW(kHkeyClassesRoot, kClass, 0, kKeyRead, &gone), kErrorFileNotFound);
  EXPECT_FALSE(gone.valid());
  // Handles to deleted keys report it; the parent CLSID key stays.
  EXPECT_EQ(RegQueryValueExW(cls, u"", nullptr, nullptr), kErrorKeyDeleted);
  EXPECT_EQ(RegSetValueExW(key, u"a", kRegSz, RegistryStringBytes(u"b")), kErrorKeyDeleted);
  EXPECT_EQ(RegOpenKeyExW(kHkeyClassesRoot, u"CLSID", 0, kKeyRead, &gone), kErrorSuccess);
  EXPECT_EQ(RegDeleteTreeW(kHkeyClassesRoot, kClass), kErrorFileNotFound);

  EXPECT_EQ(RegCloseKey(&key), kErrorSuccess);
  EXPECT_EQ(RegCloseKey(&key), kErrorInvalidHandle);
  EXPECT_EQ(RegQueryValueExW(key, u"stubPath", nullptr, nullptr), kErrorInvalidHandle);
}

TEST_F(RegistryTest, NamesCompareCaseInsensitivelyAndClassesRootIsMachineClasses) {
  RegKey key;
  ASSERT_EQ(
      RegCreateKeyExW(kHkeyClassesRoot, u"Quillmark.Test\\ÄbcΣ", 0, kKeyAllAccess, &key, nullptr),
      kErrorSuccess);
  ASSERT_EQ(RegSetValueExW(key, u"CurVer", kRegSz, RegistryStringBytes(u"1")), kErrorSuccess);

  RegKey same;
  ASSERT_EQ(RegOpenKeyExW(kHkeyLocalMachine, u"software\\CLASSES\\quillmark.test\\äBCσ\\", 0,
                          kKeyAllAccess, &same),
            kErrorSuccess);
  EXPECT_EQ(same.path(), u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Quillmark.Test\\ÄbcΣ");
  std::uint32_t type;
  EXPECT_EQ(QueryString(same, u"curver", &type), u"1");
  // Setting through another spelling replaces the value and keeps its first spelling.
  ASSERT_EQ(RegSetValueExW(same, u"CURVER", kRegSz, RegistryStringBytes(u"2")), kErrorSuccess);
  std::u16string name;
  ASSERT_EQ(RegEnumValueW(key, 0, &name, &type, nullptr), kErrorSuccess);
  EXPECT_EQ(name, u"CurVer");
  EXPECT_EQ(RegEnumValueW(key, 1, &name, &type, nullptr), kErrorNoMoreItems);
  EXPECT_EQ(QueryString(key, u"CurVer", &type), u"2");

  // Creating under HKLM with another case joins the same key.
  std::uint32_t disposition = 0;
  RegKey again;
  ASSERT_EQ(RegCreateKeyExW(kHkeyLocalMachine, u"SOFTWARE\\classes\\QUILLMARK.TEST", 0,
                            kKeyAllAccess, &again, &disposition),
            kErrorSuccess);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  ASSERT_EQ(RegEnumKeyExW(again, 0, &name), kErrorSuccess);
  EXPECT_EQ(name, u"ÄbcΣ");
  EXPECT_EQ(RegEnumKeyExW(again, 1, &name), kErrorNoMoreItems);

  // Enumeration of subkeys is in case-insensitive name order.
  for (const char16_t* sub : {u"b", u"C", u"a"}) {
    RegKey k;
    ASSERT_EQ(RegCreateKeyExW(again, sub, 0, kKeyRead, &k, nullptr), kErrorSuccess);
  }
  std::u16string order;
  for (std::uint32_t i = 0; RegEnumKeyExW(again, i, &name) == kErrorSuccess; ++i) order += name;
  EXPECT_EQ(order, u"abCÄbcΣ");

  EXPECT_EQ(FileText().find("HKEY_CLASSES_ROOT"), std::string::npos);
}

TEST_F(RegistryTest, ExpandableStringsTravelAsHexTwoAcrossContinuationLines) {
  RegKey key;
  ASSERT_EQ(
      RegCreateKeyExW(kHkeyCurrentUser, u"Software\\Quillmark", 0, kKeyAllAccess, &key, nullptr),
      kErrorSuccess);
  const std::u16string kLong = u"%HOME%/quillmarkStub/一个很长的中文路径/and/some/more/text/";
  Bytes data = RegistryStringBytes(kLong);
  ASSERT_EQ(RegSetValueExW(key, u"stubPath", kRegExpandSz, data), kErrorSuccess);
  ASSERT_EQ(RegSetValueExW(key, u"short", kRegExpandSz, RegistryStringBytes(u"%A%")),
            kErrorSuccess);

  std::string text = FileText();
  EXPECT_NE(text.find("\"short\"=hex(2):25,00,41,00,25,00,00,00\n"), std::string::npos) << text;
  size_t at = text.find("\"stubPath\"=hex(2):25,00,48,00,");
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_NE(text.find(",\\\n  ", at), std::string::npos) << "long data continues: " << text;
  for (size_t pos = 0, nl; (nl = text.find('\n', pos)) != std::string::npos; pos = nl + 1) {
    EXPECT_LE(nl - pos, 80u) << text.substr(pos, nl - pos);
  }

  std::uint32_t type = 0;
  Bytes back;
  ASSERT_EQ(RegQueryValueExW(key, u"stubPath", &type, &back), kErrorSuccess);
  EXPECT_EQ(type, kRegExpandSz);
  EXPECT_EQ(back, data);

  // The same value written by hand, continued with CRLF line ends and odd spacing.
  WriteFile(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Quillmark]\r\n"
      "\"v\"=hex(2):2f,00,74,00,\\\r\n"
      "    6d,00,70,00,\\   \r\n"
      "  00,00\r\n");
  ASSERT_EQ(RegQueryValueExW(key, u"v", &type, &back), kErrorSuccess);
  EXPECT_EQ(type, kRegExpandSz);
  EXPECT_EQ(back, RegistryStringBytes(u"/tmp"));
}

TEST_F(RegistryTest, StringsWithQuotesBackslashesAndChineseRoundTrip) {
  RegKey key;
  ASSERT_EQ(RegCreateKeyExW(kHkeyLocalMachine, u"SOFTWARE\\Q", 0, kKeyAllAccess, &key, nullptr),
            kErrorSuccess);
  struct Case {
    const char16_t* name;
    std::u16string text;
    const char* in_file;  // how the line reads, or null when not quoted
  } cases[] = {
      {u"path", u"c:\\quillmarkStub\\", "\"path\"=\"c:\\\\quillmarkStub\\\\\""},
      {u"say \"hi\"", u"he said \"hi\"", "\"say \\\"hi\\\"\"=\"he said \\\"hi\\\"\""},
      {u"中文名", u"中文路径/文件", "\"中文名\"=\"中文路径/文件\""},
      {u"empty", u"", "\"empty\"=\"\""},
      {u"emoji", u"\U0001F600", "\"emoji\"=\"\xF0\x9F\x98\x80\""},
      {u"two lines", u"a\r\nb", nullptr},  // cannot be one quoted line: hex(1)
      {u"nul", std::u16string(u"a\0b", 3), nullptr},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(RegSetValueExW(key, c.name, kRegSz, RegistryStringBytes(c.text)), kErrorSuccess);
  }
  // REG_SZ data set without a terminator comes back exactly as set.
  Bytes unterminated = {'a', 0, 'b', 0};
  ASSERT_EQ(RegSetValueExW(key, u"raw", kRegSz, unterminated), kErrorSuccess);
  Bytes odd = {'a', 0, 0};
  ASSERT_EQ(RegSetValueExW(key, u"odd", kRegSz, odd), kErrorSuccess);

  std::string text = FileText();
  for (const Case& c : cases) {
    if (c.in_file != nullptr) {
      EXPECT_NE(text.find(std::string(c.in_file) + "\n"), text.npos) << c.in_file;
    }
    std::uint32_t type;
    EXPECT_EQ(QueryString(key, c.name, &type), c.text);
    EXPECT_EQ(type, kRegSz);
  }
  EXPECT_NE(text.find("\"two lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\n"), text.npos) << text;
  Bytes back;
  ASSERT_EQ(RegQueryValueExW(key, u"raw", nullptr, &back), kErrorSuccess);
  EXPECT_EQ(back, unterminated);
  ASSERT_EQ(RegQueryValueExW(key, u"odd", nullptr, &back), kErrorSuccess);
  EXPECT_EQ(back, odd);

  // Names the file cannot hold are refused, not mangled.
  EXPECT_EQ(RegSetValueExW(key, u"a\nb", kRegSz, RegistryStringBytes(u"x")),
            kErrorInvalidParameter);
  EXPECT_EQ(
      RegSetValueExW(key, std::u16string(1, char16_t(0xD800)), kRegSz, RegistryStringBytes(u"x")),
      kErrorInvalidParameter);
  RegKey bad;
  EXPECT_EQ(RegCreateKeyExW(key, u"a\\\\b", 0, kKeyRead, &bad, nullptr), kErrorInvalidParameter);
  EXPECT_EQ(RegCreateKeyExW(key, u"\\a", 0, kKeyRead, &bad, nullptr), kErrorInvalidParameter);
  EXPECT_EQ(RegCreateKeyExW(key, std::u16string(256, u'k'), 0, kKeyRead, &bad, nullptr),
            kErrorInvalidParameter);
}

constexpr char kHandWritten[] =
    "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
    "; exported by hand\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\Quillmark.LydraCorvaneQuillmark2]\r\n"
    "@=\"Lydra CorvaneQuillmark Class\"\r\n"
    "; the current version\r\n"
    "\"CurVer\"=\"Quillmark.LydraCorvaneQuillmark2.1\"\r\n"
    "\"Flags\"=dword:0000002A\r\n"
    "\"Blob\"=hex:de,ad,BE,ef\r\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,\\\r\n"
    "  00,00\r\n"
    "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
    "this line is not a value\r\n"
    "\"broken\"=\"unterminated\r\n"
    "\"badhex\"=hex:zz,01\r\n"
    "\"Dropped\"=\"soon gone\"\r\n"
    "\"Dropped\"=-\r\n"
    "\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n"
    "\"x\"=\"y\"\r\n"
    "\r\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n"
    "\r\n"
    "[HKEY_NOWHERE\\Something]\r\n"
    "\"kept\"=\"as is\"\r\n"
    "\r\n"
    "[HKLM\\SOFTWARE\\Empty]\r\n";

TEST_F(RegistryTest, HandEditedFileIsReadAndNothingUnknownIsLostOnRewrite) {
  WriteFile(kHandWritten);
  RegKey key;
  ASSERT_EQ(
      RegOpenKeyExW(kHkeyClassesRoot, u"Quillmark.LydraCorvaneQuillmark2", 0, kKeyAllAccess, &key),
      kErrorSuccess);
  std::uint32_t type;
  EXPECT_EQ(QueryString(key, u"", &type), u"Lydra CorvaneQuillmark Class");
  EXPECT_EQ(QueryString(key, u"curver", &type), u"Quillmark.LydraCorvaneQuillmark2.1");
  Bytes data;
  ASSERT_EQ(RegQueryValueExW(key, u"Flags", &type, &data), kErrorSuccess);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(data, (Bytes{0x2A, 0, 0, 0}));
  ASSERT_EQ(RegQueryValueExW(key, u"Blob", &type, &data), kErrorSuccess);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(data, (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
  ASSERT_EQ(RegQueryValueExW(key, u"Multi", &type, &data), kErrorSuccess);
  EXPECT_EQ(type, kRegMultiSz);
  EXPECT_EQ(data, (Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}));
  ASSERT_EQ(RegQueryValueExW(key, u"Big", &type, &data), kErrorSuccess);
  EXPECT_EQ(type, kRegQword);
  for (const char16_t* missing : {u"Dropped", u"broken", u"badhex"}) {
    EXPECT_EQ(RegQueryValueExW(key, missing, nullptr, nullptr), kErrorFileNotFound) << "missing";
  }
  RegKey old;
  EXPECT_EQ(RegOpenKeyExW(kHkeyLocalMachine, u"SOFTWARE\\Old", 0, kKeyRead, &old),
            kErrorFileNotFound);
  EXPECT_EQ(RegOpenKeyExW(kHkeyLocalMachine, u"SOFTWARE\\Empty", 0, kKeyRead, &old), kErrorSuccess);

  // A write rewrites the file: everything unknown is still there afterwards.
  ASSERT_EQ(RegSetValueExW(key, u"New", kRegSz, RegistryStringBytes(u"added")), kErrorSuccess);
  std::string text = FileText();
  for (const char* kept : {
           "; exported by hand\n",
           "; the current version\n\"CurVer\"=\"Quillmark.LydraCorvaneQuillmark2.1\"\n",
           "\"Flags\"=dword:0000002a\n",
           "\"Blob\"=hex:de,ad,be,ef\n",
           "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n",
           "\"Big\"=hex(b):01,00,00,00,00,00,00,00\n",
           "this line is not a value\n\"broken\"=\"unterminated\n\"badhex\"=hex:zz,01\n"
           "\"New\"=\"added\"\n",
           "[HKEY_NOWHERE\\Something]\n\"kept\"=\"as is\"\n",
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Empty]\n",
       }) {
    EXPECT_NE(text.find(kept), std::string::npos) << "lost: " << kept << "\nin:\n" << text;
  }
  EXPECT_EQ(text.find("Old"), std::string::npos) << text;
  EXPECT_EQ(text.find("Dropped"), std::string::npos) << text;
  EXPECT_EQ(text.find('\r'), std::string::npos);

  // Rewriting what was written changes nothing: the form is stable.
  RegistryDocument doc = RegistryDocument::Parse(AsBytes(text));
  EXPECT_EQ(doc.Serialize(), text);
}

TEST_F(RegistryTest, Utf16FilesAndGarbageAreReadWithoutHarm) {
  // regedit's own export encoding: UTF-16LE with a byte-order mark.
  std::u16string wide =
      u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\W]\r\n"
      u"\"名\"=\"值\"\r\n";
  Bytes file = {0xFF, 0xFE};
  for (char16_t c : wide) {
    file.push_back(static_cast<std::uint8_t>(c));
    file.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  ASSERT_TRUE(WriteFileAtomically(dir_.File("registry.reg"), file));
  RegKey key;
  ASSERT_EQ(RegOpenKeyExW(kHkeyCurrentUser, u"Software\\W", 0, kKeyRead, &key), kErrorSuccess);
  std::uint32_t type;
  EXPECT_EQ(QueryString(key, u"名", &type), u"值");

  // Bytes that are no registry file at all: nothing crashes, nothing is lost.
  std::string garbage = "\x01\x02[\xFF\xFE]\n\"a\"=hex(zz):\\\n\\\n[\n]]]\n\"\xC3\x28\"=\"x\"\n";
  for (int i = 0; i < 64; ++i) garbage.push_back(static_cast<char>(i * 37 + 11));
  WriteFile(garbage);
  RegKey root;
  ASSERT_EQ(RegOpenKeyExW(kHkeyLocalMachine, u"", 0, kKeyAllAccess, &root), kErrorSuccess);
  std::u16string name;
  EXPECT_EQ(RegEnumKeyExW(root, 0, &name), kErrorNoMoreItems);
  ASSERT_EQ(RegSetValueExW(kHkeyCurrentUser, u"after", kRegSz, RegistryStringBytes(u"garbage")),
            kErrorSuccess);
  std::string text = FileText();
  for (std::string_view line : {"\x01\x02[\xFF\xFE]", "\"\xC3\x28\"=\"x\""}) {
    EXPECT_NE(text.find(line), std::string::npos) << "lost a line of the original";
  }
  EXPECT_EQ(RegistryDocument::Parse(AsBytes(text)).Serialize(), text);
}

// Hex data whose last line ends in a backslash, at the end of a section or
// of the file, ends there as it does before a blank line; a rewrite never
// joins such a kept line with the entry written after it, and kept lines do
// not lose a carriage return on every rewrite.
TEST_F(RegistryTest, OddHandEditsReadTheSameAfterARewrite) {
  const std::string file =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\a]\n\"bin\"=hex:01,02,\\\n"
      "[HKEY_CURRENT_USER\\a]\n\"bad\"=hex:zz,\\\n"
      "[HKEY_CURRENT_USER\\a]\n\"after\"=\"kept\"\nodd line\r\r\n\"dbl\"=hex:05,\\\\\n"
      "[HKEY_CURRENT_USER\\b]\n\"end\"=hex:0a,\\";
  std::vector<std::u16string> a, b;
  ASSERT_TRUE(RegistryDocument::CanonicalPath(u"HKCU\\a", &a));
  ASSERT_TRUE(RegistryDocument::CanonicalPath(u"HKCU\\b", &b));
  std::string text = file;
  for (int round = 0; round < 2; ++round) {
    RegistryDocument doc = RegistryDocument::Parse(AsBytes(text));
    RegistryKey* key_a = doc.Find(a);
    RegistryKey* key_b = doc.Find(b);
    ASSERT_TRUE(key_a != nullptr && key_b != nullptr) << text;
    ASSERT_NE(key_a->FindValue(u"bin"), nullptr) << text;
    EXPECT_EQ(key_a->FindValue(u"bin")->data, (Bytes{1, 2}));
    EXPECT_EQ(key_a->FindValue(u"bad"), nullptr);
    EXPECT_EQ(key_a->FindValue(u"dbl"), nullptr);
    ASSERT_NE(key_a->FindValue(u"after"), nullptr) << text;
    EXPECT_EQ(key_a->FindValue(u"after")->type, kRegSz);
    ASSERT_NE(key_b->FindValue(u"end"), nullptr) << text;
    EXPECT_EQ(key_b->FindValue(u"end")->data, (Bytes{0x0A}));
    const std::string rewritten = doc.Serialize();
    EXPECT_NE(rewritten.find("\"bad\"=hex:zz,\\\n"), std::string::npos) << rewritten;
    EXPECT_NE(rewritten.find("\nodd line\n"), std::string::npos) << rewritten;
    if (round == 1) {
      EXPECT_EQ(rewritten, text);
    }
    text = rewritten;
  }
}

TEST_F(RegistryTest, HandleRightsAndKeyDeletionRules) {
  RegKey parent;
  ASSERT_EQ(RegCreateKeyExW(kHkeyCurrentUser, u"P", 0, kKeyRead, &parent, nullptr), kErrorSuccess);
  RegKey child;
  // KEY_READ lacks the right to create subkeys (opening an existing one is fine).
  EXPECT_EQ(RegCreateKeyExW(parent, u"c", 0, kKeyRead, &child, nullptr), kErrorAccessDenied);
  ASSERT_EQ(RegCreateKeyExW(kHkeyCurrentUser, u"P\\c\\d", 0, kKeyAllAccess, &child, nullptr),
            kErrorSuccess);
  EXPECT_EQ(RegCreateKeyExW(parent, u"c", 0, kKeyRead, &child, nullptr), kErrorSuccess);
  EXPECT_EQ(RegDeleteTreeW(parent, u"c"), kErrorAccessDenied);
  EXPECT_EQ(RegDeleteKeyW(parent, u"c"), kErrorAccessDenied);  // it has a subkey
  EXPECT_EQ(RegDeleteKeyW(parent, u"c\\d"), kErrorSuccess);
  EXPECT_EQ(RegDeleteKeyW(parent, u"c\\d"), kErrorFileNotFound);
  EXPECT_EQ(RegDeleteKeyW(parent, u"c"), kErrorSuccess);

  // RegDeleteTreeW without a subkey empties the key but keeps it.
  RegKey all;
  ASSERT_EQ(RegOpenKeyExW(kHkeyCurrentUser, u"P", 0, kKeyAllAccess, &all), kErrorSuccess);
  ASSERT_EQ(RegSetValueExW(all, u"v", kRegSz, RegistryStringBytes(u"1")), kErrorSuccess);
  ASSERT_EQ(RegCreateKeyExW(all, u"s\\t", 0, kKeyRead, &child, nullptr), kErrorSuccess);
  ASSERT_EQ(RegDeleteTreeW(all, u""), kErrorSuccess);
  std::u16string name;
  EXPECT_EQ(RegEnumKeyExW(all, 0, &name), kErrorNoMoreItems);
  EXPECT_EQ(RegQueryValueExW(all, u"v", nullptr, nullptr), kErrorFileNotFound);
  EXPECT_EQ(RegOpenKeyExW(kHkeyCurrentUser, u"P", 0, kKeyRead, &child), kErrorSuccess);
  EXPECT_EQ(RegOpenKeyExW(kHkeyCurrentUser, u"P", 1, kKeyRead, &child), kErrorInvalidParameter);

  // Moving a handle leaves the source empty.
  RegKey moved = std::move(all);
  EXPECT_FALSE(all.valid());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(moved.path(), u"HKEY_CURRENT_USER\\P");
}

TEST_F(RegistryTest, ConcurrentWritersInOtherProcessesLoseNothing) {
  constexpr int kWriters = 4, kValues = 15;
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kValues; ++i) {
        std::u16string name = u"w" + std::u16string(1, char16_t(u'0' + w)) + u"v" +
                              Utf8ToUtf16Lossy(std::to_string(i));
        failures += RegSetValueExW(kHkeyCurrentUser, name, kRegSz, RegistryStringBytes(name)) !=
                    kErrorSuccess;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  int count = 0;
  while (RegEnumValueW(kHkeyCurrentUser, static_cast<std::uint32_t>(count), nullptr, nullptr,
                       nullptr) == kErrorSuccess) {
    ++count;
  }
  EXPECT_EQ(count, kWriters * kValues);
}

TEST_F(RegistryTest, TransactionWritesAllItsChangesWithOneRenameOrNothing) {
  RegKey existing;
  ASSERT_EQ(RegCreateKeyExW(kHkeyClassesRoot, u"Old", 0, kKeyAllAccess, &existing, nullptr),
            kErrorSuccess);
  ASSERT_EQ(RegSetValueExW(existing, u"v", kRegSz, RegistryStringBytes(u"1")), kErrorSuccess);
  const std::string before = FileText();
  {
    RegTransaction tx;
    ASSERT_EQ(tx.status(), kErrorSuccess);
    RegKey key;
    ASSERT_EQ(RegCreateKeyExW(kHkeyClassesRoot, u"New\\Sub", 0, kKeyAllAccess, &key, nullptr),
              kErrorSuccess);
    ASSERT_EQ(RegSetValueExW(key, u"name", kRegSz, RegistryStringBytes(u"value")), kErrorSuccess);
    ASSERT_EQ(RegDeleteTreeW(kHkeyClassesRoot, u"Old"), kErrorSuccess);
    // Reads inside the transaction see its changes; the file does not yet.
    std::uint32_t type = 0;
    EXPECT_EQ(QueryString(key, u"name", &type), u"value");
    RegKey gone;
    EXPECT_EQ(RegOpenKeyExW(kHkeyClassesRoot, u"Old", 0, kKeyRead, &gone), kErrorFileNotFound);
    EXPECT_EQ(FileText(), before);
    // Dropped without Commit: nothing is written.
  }
  EXPECT_EQ(FileText(), before);
  RegKey probe;
  EXPECT_EQ(RegOpenKeyExW(kHkeyClassesRoot, u"New", 0, kKeyRead, &probe), kErrorFileNotFound);

  RegTransaction tx;
  ASSERT_EQ(tx.status(), kErrorSuccess);
  RegTransaction nested;  // transactions do not nest
  EXPECT_EQ(nested.status(), kErrorInvalidParameter);
  EXPECT_EQ(nested.Commit(), kErrorInvalidParameter);
  RegKey key;
  ASSERT_EQ(RegCreateKeyExW(kHkeyClassesRoot, u"New", 0, kKeyAllAccess, &key, nullptr),
            kErrorSuccess);
  ASSERT_EQ(RegSetValueExW(key, u"a", kRegSz, RegistryStringBytes(u"1")), kErrorSuccess);
  ASSERT_EQ(RegDeleteValueW(existing, u"v"), kErrorSuccess);
  EXPECT_EQ(FileText(), before);
  EXPECT_EQ(tx.Commit(), kErrorSuccess);
  std::uint32_t type = 0;
  EXPECT_EQ(QueryString(key, u"a", &type), u"1");
  EXPECT_EQ(RegQueryValueExW(existing, u"v", nullptr, nullptr), kErrorFileNotFound);
  // After Commit the calls write the file directly again.
  ASSERT_EQ(RegSetValueExW(key, u"b", kRegSz, RegistryStringBytes(u"2")), kErrorSuccess);
  EXPECT_NE(FileText().find("\"b\"=\"2\""), std::string::npos);
}

TEST_F(RegistryTest, TransactionHoldsOffOtherWritersUntilItEnds) {
  auto tx = std::make_unique<RegTransaction>();
  ASSERT_EQ(tx->status(), kErrorSuccess);
  ASSERT_EQ(RegSetValueExW(kHkeyCurrentUser, u"mine", kRegSz, RegistryStringBytes(u"1")),
            kErrorSuccess);
  // Another process (the command, registering the control): its rewrite
  // waits for the transaction, then keeps both.
  std::string line = "QUILLMARK_HOME=" + dir_.path() + " exec " QM_CLI_PATH " register >/dev/null";
  const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  ::usleep(100000);
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0);  // still waiting for the lock
  ASSERT_EQ(tx->Commit(), kErrorSuccess);
  tx.reset();
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(RegQueryValueExW(kHkeyCurrentUser, u"mine", nullptr, nullptr), kErrorSuccess);
  RegKey clsid;
  EXPECT_EQ(RegOpenKeyExW(kHkeyClassesRoot, u"CLSID", 0, kKeyRead, &clsid), kErrorSuccess);
}

}  // namespace
}  // namespace quillmark::platform
