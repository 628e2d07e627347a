// The registry calls on Windows against the system's own registry, below
// HKEY_CURRENT_USER\Software\QuillmarkTest, which each test removes again.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/registry/registry.h"

namespace quillmark::platform {
namespace {

constexpr char16_t kTestKey[] = u"Software\\QuillmarkTest";

class WinRegistry : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(kHkeyCurrentUser, kTestKey); }
  void TearDown() override {
    EXPECT_EQ(RegDeleteTreeW(kHkeyCurrentUser, kTestKey), kErrorSuccess);
    HKEY gone = nullptr;
    EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\QuillmarkTest", 0, KEY_READ, &gone),
              ERROR_FILE_NOT_FOUND);
  }

  RegKey Create(std::u16string_view sub, std::uint32_t sam = kKeyAllAccess,
                std::uint32_t* disposition = nullptr) {
    RegKey key;
    EXPECT_EQ(
        RegCreateKeyExW(kHkeyCurrentUser, std::u16string(kTestKey) + u"\\" + std::u16string(sub), 0,
                        sam, &key, disposition),
        kErrorSuccess);
    return key;
  }
};

TEST_F(WinRegistry, CreatedKeysAndValuesAreTheSystemsOwn) {
  std::uint32_t disposition = 0;
  RegKey key = Create(u"CLSID\\{X}\\CtlSettings", kKeyAllAccess, &disposition);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  EXPECT_EQ(key.path(), u"HKEY_CURRENT_USER\\Software\\QuillmarkTest\\CLSID\\{X}\\CtlSettings");
  ASSERT_EQ(RegSetValueExW(key, u"stubPath", kRegSz, RegistryStringBytes(u"C:\\stub\\")),
            kErrorSuccess);
  const Bytes raw = {1, 2, 3};
  ASSERT_EQ(RegSetValueExW(key, u"", kRegBinary, raw), kErrorSuccess);  // the default value

  // What the system holds, read with its own calls.
  wchar_t text[64];
  DWORD size = sizeof text, type = 0;
  ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, L"Software\\QuillmarkTest\\CLSID\\{X}\\CtlSettings",
                           L"stubPath", RRF_RT_REG_SZ, &type, text, &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(text, L"C:\\stub\\");

  // And through ours, byte for byte, from a second handle opened read-only.
  RegKey reader;
  ASSERT_EQ(RegOpenKeyExW(kHkeyCurrentUser, u"software\\quillmarktest\\clsid\\{x}\\ctlsettings", 0,
                          kKeyRead, &reader),
            kErrorSuccess);
  std::uint32_t value_type = 0;
  Bytes data;
  ASSERT_EQ(RegQueryValueExW(reader, u"STUBPATH", &value_type, &data), kErrorSuccess);
  EXPECT_EQ(value_type, kRegSz);
  std::u16string stub;
  ASSERT_TRUE(RegistryStringText(data, &stub));
  EXPECT_EQ(stub, u"C:\\stub\\");
  ASSERT_EQ(RegQueryValueExW(reader, u"", &value_type, &data), kErrorSuccess);
  EXPECT_EQ(value_type, kRegBinary);
  EXPECT_EQ(data, raw);
  // A REG_SZ set without its terminator comes back without it.
  const Bytes bare = {'a', 0};
  ASSERT_EQ(RegSetValueExW(key, u"bare", kRegSz, bare), kErrorSuccess);
  ASSERT_EQ(RegQueryValueExW(reader, u"bare", nullptr, &data), kErrorSuccess);
  EXPECT_EQ(data, bare);

  EXPECT_EQ(RegQueryValueExW(reader, u"missing", nullptr, &data), kErrorFileNotFound);
  // The read-only handle may not write; the system is asked nothing.
  EXPECT_EQ(RegSetValueExW(reader, u"x", kRegSz, bare), kErrorAccessDenied);
  EXPECT_EQ(RegDeleteValueW(key, u"stubPath"), kErrorSuccess);
  EXPECT_EQ(RegDeleteValueW(key, u"stubPath"), kErrorFileNotFound);

  std::uint32_t again = 0;
  Create(u"CLSID\\{X}\\CtlSettings", kKeyRead, &again);
  EXPECT_EQ(again, kRegOpenedExistingKey);
}

TEST_F(WinRegistry, SubkeysEnumerateInCaseInsensitiveNameOrder) {
  for (const char16_t* name : {u"b", u"C", u"a", u"_z"}) Create(std::u16string(u"list\\") + name);
  RegKey list;
  ASSERT_EQ(
      RegOpenKeyExW(kHkeyCurrentUser, std::u16string(kTestKey) + u"\\list", 0, kKeyRead, &list),
      kErrorSuccess);
  std::vector<std::u16string> names;
  std::u16string name;
  for (std::uint32_t i = 0; RegEnumKeyExW(list, i, &name) == kErrorSuccess; ++i) {
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"a", u"b", u"C", u"_z"}));
  EXPECT_EQ(RegEnumKeyExW(list, 4, &name), kErrorNoMoreItems);

  RegKey values = Create(u"values");
  ASSERT_EQ(RegSetValueExW(values, u"one", kRegDword, Bytes{1, 0, 0, 0}), kErrorSuccess);
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_EQ(RegEnumValueW(values, 0, &name, &type, &data), kErrorSuccess);
  EXPECT_EQ(name, u"one");
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(data, (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(RegEnumValueW(values, 1, &name, &type, &data), kErrorNoMoreItems);
}

TEST_F(WinRegistry, DeletingTreesKeysAndHandlesOfDeletedKeys) {
  RegKey top = Create(u"tree");
  Create(u"tree\\a\\b");
  ASSERT_EQ(RegSetValueExW(top, u"v", kRegSz, RegistryStringBytes(u"x")), kErrorSuccess);
  // A key with subkeys is not deleted by RegDeleteKeyW.
  EXPECT_EQ(RegDeleteKeyW(top, u"a"), kErrorAccessDenied);
  EXPECT_EQ(RegDeleteKeyW(top, u"a\\b"), kErrorSuccess);
  EXPECT_EQ(RegDeleteKeyW(top, u"a\\b"), kErrorFileNotFound);
  Create(u"tree\\a\\c");
  // An empty sub-key empties the key and keeps it.
  EXPECT_EQ(RegDeleteTreeW(top, u""), kErrorSuccess);
  std::u16string name;
  EXPECT_EQ(RegEnumKeyExW(top, 0, &name), kErrorNoMoreItems);
  EXPECT_EQ(RegQueryValueExW(top, u"v", nullptr, nullptr), kErrorFileNotFound);

  RegKey inner = Create(u"tree\\gone");
  EXPECT_EQ(RegDeleteTreeW(top, u"gone"), kErrorSuccess);
  EXPECT_EQ(RegDeleteTreeW(top, u"gone"), kErrorFileNotFound);
  EXPECT_EQ(RegSetValueExW(inner, u"v", kRegSz, Bytes{0, 0}), kErrorKeyDeleted);
  RegKey below;
  EXPECT_EQ(RegOpenKeyExW(inner, u"x", 0, kKeyRead, &below), kErrorKeyDeleted);
  EXPECT_EQ(RegOpenKeyExW(top, u"gone", 0, kKeyRead, &below), kErrorFileNotFound);
}

TEST_F(WinRegistry, BadNamesHandlesAndOptionsAreRefused) {
  RegKey key = Create(u"names");
  RegKey out;
  EXPECT_EQ(RegOpenKeyExW(key, u"a\\\\b", 0, kKeyRead, &out), kErrorInvalidParameter);
  EXPECT_EQ(RegOpenKeyExW(key, u"", 1, kKeyRead, &out), kErrorInvalidParameter);
  EXPECT_EQ(RegCreateKeyExW(key, std::u16string(256, u'k'), 0, kKeyRead, &out, nullptr),
            kErrorInvalidParameter);
  EXPECT_EQ(RegSetValueExW(key, u"a\nb", kRegSz, Bytes{0, 0}), kErrorInvalidParameter);
  // Making a key needs the right to create one below the parent.
  RegKey read_only;
  ASSERT_EQ(RegOpenKeyExW(key, u"", 0, kKeyRead, &read_only), kErrorSuccess);
  EXPECT_EQ(RegCreateKeyExW(read_only, u"new", 0, kKeyRead, &out, nullptr), kErrorAccessDenied);
  EXPECT_EQ(RegCloseKey(&read_only), kErrorSuccess);
  EXPECT_EQ(RegCloseKey(&read_only), kErrorInvalidHandle);
  EXPECT_EQ(RegQueryValueExW(read_only, u"", nullptr, nullptr), kErrorInvalidHandle);
}

TEST_F(WinRegistry, ATransactionNeitherWaitsForCommitNorRollsBack) {
  EXPECT_EQ(RegistryFilePath(), "");
  {
    RegTransaction tx;
    ASSERT_EQ(tx.status(), kErrorSuccess);
    RegTransaction nested;
    EXPECT_EQ(nested.status(), kErrorInvalidParameter);
    RegKey key = Create(u"tx");
    // Visible to the system before Commit...
    HKEY raw = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\QuillmarkTest\\tx", 0, KEY_READ, &raw),
              ERROR_SUCCESS);
    ::RegCloseKey(raw);
  }
  // ...and still there without one.
  RegKey key;
  EXPECT_EQ(RegOpenKeyExW(kHkeyCurrentUser, std::u16string(kTestKey) + u"\\tx", 0, kKeyRead, &key),
            kErrorSuccess);
  RegTransaction after;
  EXPECT_EQ(after.status(), kErrorSuccess);
  EXPECT_EQ(after.Commit(), kErrorSuccess);
  EXPECT_EQ(after.Commit(), kErrorInvalidHandle);
}

}  // namespace
}  // namespace quillmark::platform
