// DllRegisterServer / DllUnregisterServer and `quillmark register|unregister`
// against the registry of a scratch home, read back through the registry API.
#include "com/registration.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "common/unicode.h"
#include "control/guids.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/registry/registry.h"
#include "support/test_dirs.h"

namespace quillmark::com {

using ::quillmark::control::HRESULT;
using ::quillmark::control::ILydraCorvaneQuillmark;
using ::quillmark::control::kClassKeyPath;
using ::quillmark::control::kCtlSettingsKeyPath;
using ::quillmark::control::kStubPathValueName;
using ::quillmark::control::S_OK;
using ::quillmark::control::SELFREG_E_CLASS;
namespace {

using platform::kErrorSuccess;
using platform::kHkeyClassesRoot;

// Key path below HKEY_CLASSES_ROOT -> value name -> text; every key appears,
// with or without values. Names are as stored (registry names compare
// without case, the test spells them as written).
using Tree = std::map<std::u16string, std::map<std::u16string, std::u16string>>;

void DumpKey(const platform::RegKey& key, const std::u16string& path, Tree* tree) {
  auto& values = (*tree)[path];
  std::u16string name;
  std::uint32_t type = 0;
  Bytes data;
  for (std::uint32_t i = 0; platform::RegEnumValueW(key, i, &name, &type, &data) == kErrorSuccess;
       ++i) {
    std::u16string text;
    EXPECT_EQ(type, platform::kRegSz) << Utf16ToUtf8Lossy(path + u"\\" + name);
    EXPECT_TRUE(platform::RegistryStringText(data, &text));
    values[name] = text;
  }
  for (std::uint32_t i = 0; platform::RegEnumKeyExW(key, i, &name) == kErrorSuccess; ++i) {
    platform::RegKey sub;
    ASSERT_EQ(platform::RegOpenKeyExW(key, name, 0, platform::kKeyRead, &sub), kErrorSuccess);
    DumpKey(sub, path.empty() ? name : path + u"\\" + name, tree);
  }
}

Tree DumpClassesRoot() {
  Tree tree;
  DumpKey(kHkeyClassesRoot, u"", &tree);
  tree.erase(u"");
  return tree;
}

std::string Show(const Tree& tree) {
  std::string out;
  for (const auto& [key, values] : tree) {
    out += "[" + Utf16ToUtf8Lossy(key) + "]\n";
    for (const auto& [name, text] : values) {
      out += "  " + Utf16ToUtf8Lossy(name.empty() ? u"@" : name) + " = " + Utf16ToUtf8Lossy(text) +
             "\n";
    }
  }
  return out;
}

std::u16string U16(const std::string& utf8) { return Utf8ToUtf16Lossy(utf8); }

// The library's file, found independently of the code under test.
std::u16string LibraryPath() {
  Dl_info info{};
  EXPECT_NE(dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info), 0);
  char resolved[PATH_MAX];
  EXPECT_NE(realpath(info.dli_fname, resolved), nullptr);
  return U16(resolved);
}

void SetString(std::u16string_view path, std::u16string_view name, std::u16string_view text) {
  platform::RegKey key;
  ASSERT_EQ(
      platform::RegCreateKeyExW(kHkeyClassesRoot, path, 0, platform::kKeyAllAccess, &key, nullptr),
      kErrorSuccess);
  ASSERT_EQ(
      platform::RegSetValueExW(key, name, platform::kRegSz, platform::RegistryStringBytes(text)),
      kErrorSuccess);
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* home = getenv("HOME");
    if (home != nullptr) saved_home_ = home;
    setenv("HOME", user_.path().c_str(), 1);
    platform::SetQuillmarkHome(home_.path());
  }
  void TearDown() override {
    platform::SetQuillmarkHome("");
    if (saved_home_.empty()) {
      unsetenv("HOME");
    } else {
      setenv("HOME", saved_home_.c_str(), 1);
    }
  }

  // Everything one registration writes, on an empty registry.
  Tree Expected() {
    const std::u16string module = LibraryPath();
    const std::u16string clsid = u"{F05580A8-E757-478E-B4E2-453BFDF94D69}";
    const std::u16string libid = u"{F4ABE35D-ED6E-447B-A4F4-B19CAFA02AE8}";
    const std::u16string iid = u"{2D1053EE-19C5-44D6-87CB-269A3B33791D}";
    const std::u16string cls = u"CLSID\\" + clsid;
    const std::u16string lib = u"TypeLib\\" + libid;
    const std::u16string itf = u"Interface\\" + iid;
    const std::u16string ps = u"{00020424-0000-0000-C000-000000000046}";
    return Tree{
        {u"Quillmark.LydraCorvaneQuillmark2.1", {{u"", u"Lydra CorvaneQuillmark Class"}}},
        {u"Quillmark.LydraCorvaneQuillmark2.1\\CLSID", {{u"", clsid}}},
        {u"Quillmark.LydraCorvaneQuillmark2", {{u"", u"Lydra CorvaneQuillmark Class"}}},
        {u"Quillmark.LydraCorvaneQuillmark2\\CLSID", {{u"", clsid}}},
        {u"Quillmark.LydraCorvaneQuillmark2\\CurVer",
         {{u"", u"Quillmark.LydraCorvaneQuillmark2.1"}}},
        {u"CLSID", {}},
        {cls, {{u"", u"Lydra CorvaneQuillmark Class"}}},
        {cls + u"\\ProgID", {{u"", u"Quillmark.LydraCorvaneQuillmark2.1"}}},
        {cls + u"\\VersionIndependentProgID", {{u"", u"Quillmark.LydraCorvaneQuillmark2"}}},
        {cls + u"\\Programmable", {}},
        {cls + u"\\InprocServer32", {{u"", module}, {u"ThreadingModel", u"Apartment"}}},
        {cls + u"\\CtlSettings", {{u"stubPath", U16(user_.path()) + u"/quillmarkStub/"}}},
        {cls + u"\\Control", {}},
        {cls + u"\\Insertable", {}},
        {cls + u"\\ToolboxBitmap32", {{u"", module + u", 101"}}},
        {cls + u"\\MiscStatus", {{u"", u"0"}}},
        {cls + u"\\MiscStatus\\1", {{u"", u"131473"}}},
        {cls + u"\\TypeLib", {{u"", libid}}},
        {cls + u"\\Version", {{u"", u"1.0"}}},
        {u"TypeLib", {}},
        {lib, {}},
        {lib + u"\\1.0", {{u"", u"LydraQuillmark 1.0 Type Library"}}},
        {lib + u"\\1.0\\0", {}},
        {lib + u"\\1.0\\0\\win32", {{u"", module}}},
        {lib + u"\\1.0\\FLAGS", {{u"", u"0"}}},
        {lib + u"\\1.0\\HELPDIR", {{u"", module.substr(0, module.rfind(u'/') + 1)}}},
        {u"Interface", {}},
        {itf, {{u"", u"ILydraCorvaneQuillmark"}}},
        {itf + u"\\ProxyStubClsid", {{u"", ps}}},
        {itf + u"\\ProxyStubClsid32", {{u"", ps}}},
        {itf + u"\\TypeLib", {{u"", libid}, {u"Version", u"1.0"}}},
    };
  }

  testing::ScratchDir home_;
  testing::ScratchDir user_;
  std::string saved_home_;
};

TEST_F(RegistrationTest, WritesExactlyTheEntries) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  Tree got = DumpClassesRoot();
  EXPECT_EQ(got, Expected()) << Show(got);

  // The control finds its file-save folder through the published names.
  platform::RegKey settings;
  ASSERT_EQ(platform::RegOpenKeyExW(kHkeyClassesRoot, kCtlSettingsKeyPath, 0,
                                    platform::kKeyQueryValue, &settings),
            kErrorSuccess);
  Bytes data;
  std::u16string stub;
  ASSERT_EQ(platform::RegQueryValueExW(settings, kStubPathValueName, nullptr, &data),
            kErrorSuccess);
  ASSERT_TRUE(platform::RegistryStringText(data, &stub));
  EXPECT_EQ(stub, U16(user_.path()) + u"/quillmarkStub/");
  EXPECT_EQ(DefaultStubPath(), stub);
  // ... and the folder exists, so server-mode saves work at once.
  EXPECT_TRUE(platform::IsDirectory(user_.path() + "/quillmarkStub"));
}

TEST_F(RegistrationTest, ReregisteringResetsTheClassKeyOnly) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  const std::u16string cls(kClassKeyPath);
  SetString(kCtlSettingsKeyPath, u"stubPath", u"/srv/elsewhere/");
  SetString(kCtlSettingsKeyPath, u"extra", u"x");
  SetString(cls, u"Stray", u"value");
  SetString(cls + u"\\Stray\\Deeper", u"", u"y");
  SetString(cls + u"\\MiscStatus", u"", u"1");
  SetString(u"CLSID\\{00000000-1111-2222-3333-444444444444}", u"", u"Another class");

  ASSERT_EQ(DllRegisterServer(), S_OK);
  Tree expected = Expected();
  expected[u"CLSID\\{00000000-1111-2222-3333-444444444444}"] = {{u"", u"Another class"}};
  Tree got = DumpClassesRoot();
  EXPECT_EQ(got, expected) << Show(got);
}

TEST_F(RegistrationTest, UnregisterRemovesAllButTheClsidParent) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  SetString(u"CLSID\\{00000000-1111-2222-3333-444444444444}", u"", u"Another class");
  SetString(u"TypeLib\\{F4ABE35D-ED6E-447B-A4F4-B19CAFA02AE8}\\2.0", u"", u"A later version");
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  Tree got = DumpClassesRoot();
  EXPECT_EQ(
      got,
      (Tree{
          {u"CLSID", {}},
          {u"CLSID\\{00000000-1111-2222-3333-444444444444}", {{u"", u"Another class"}}},
          {u"Interface", {}},
          {u"TypeLib", {}},
          {u"TypeLib\\{F4ABE35D-ED6E-447B-A4F4-B19CAFA02AE8}", {}},
          {u"TypeLib\\{F4ABE35D-ED6E-447B-A4F4-B19CAFA02AE8}\\2.0", {{u"", u"A later version"}}},
      }))
      << Show(got);

  // Nothing left to remove is not an error; the library key goes with its
  // last version.
  EXPECT_EQ(DllUnregisterServer(), S_OK);
  platform::RegDeleteTreeW(kHkeyClassesRoot,
                           u"TypeLib\\{F4ABE35D-ED6E-447B-A4F4-B19CAFA02AE8}\\2.0");
  ASSERT_EQ(DllRegisterServer(), S_OK);
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  got = DumpClassesRoot();
  EXPECT_EQ(got,
            (Tree{{u"CLSID", {}},
                  {u"CLSID\\{00000000-1111-2222-3333-444444444444}", {{u"", u"Another class"}}},
                  {u"Interface", {}},
                  {u"TypeLib", {}}}))
      << Show(got);
  EXPECT_EQ(got.count(u"TypeLib\\{F4ABE35D-ED6E-447B-A4F4-B19CAFA02AE8}"), 0u) << Show(got);
}

// The 32- and 64-bit modules share the library's version key, each with its
// own entry below 0: unregistering one leaves the other's entry and the
// version key it needs.
TEST_F(RegistrationTest, UnregisterKeepsTheOtherBitnesssTypeLibEntry) {
  const std::u16string version = u"TypeLib\\{F4ABE35D-ED6E-447B-A4F4-B19CAFA02AE8}\\1.0";
  ASSERT_EQ(DllRegisterServer(), S_OK);
  SetString(version + u"\\0\\win64", u"", u"C:\\x64\\quillmark.dll");
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  Tree got = DumpClassesRoot();
  EXPECT_EQ(got.count(version + u"\\0\\win32"), 0u) << Show(got);
  ASSERT_EQ(got.count(version + u"\\0\\win64"), 1u) << Show(got);
  EXPECT_EQ(got[version + u"\\0\\win64"][u""], u"C:\\x64\\quillmark.dll");

  // Once the other entry is gone too, the next unregistration takes the rest.
  platform::RegDeleteTreeW(kHkeyClassesRoot, version + u"\\0\\win64");
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  got = DumpClassesRoot();
  EXPECT_EQ(got.count(u"TypeLib\\{F4ABE35D-ED6E-447B-A4F4-B19CAFA02AE8}"), 0u) << Show(got);
}

TEST_F(RegistrationTest, FailuresAreReportedAsErrors) {
  // A home folder that cannot exist: below a regular file.
  std::string file = home_.File("plain");
  ASSERT_EQ(testing::RunShell("touch '" + file + "'"), 0);
  platform::SetQuillmarkHome(file + "/home");
  HRESULT hr = DllRegisterServer();
  EXPECT_LT(hr, 0);
  EXPECT_LT(DllUnregisterServer(), 0);

  // No user home folder: no default stubPath, nothing written.
  platform::SetQuillmarkHome(home_.path());
  setenv("HOME", "", 1);
  if (platform::UserHomeDirectory().empty()) {
    EXPECT_EQ(DllRegisterServer(), SELFREG_E_CLASS);
    EXPECT_TRUE(DumpClassesRoot().empty());
  }
}

TEST_F(RegistrationTest, CommandRegistersAndUnregisters) {
  std::string out;
  const std::string env = "HOME='" + user_.path() + "' ";
  ASSERT_EQ(
      testing::RunShellCapture(env + QM_CLI_PATH " register --home '" + home_.path() + "'", &out),
      0);
  EXPECT_EQ(out, "registered LydraCorvaneQuillmark {F05580A8-E757-478E-B4E2-453BFDF94D69}\n");
  EXPECT_EQ(DumpClassesRoot(), Expected()) << "the command's library is the tests' library";

  ASSERT_EQ(
      testing::RunShellCapture(env + QM_CLI_PATH " unregister --home '" + home_.path() + "'", &out),
      0);
  EXPECT_EQ(out, "unregistered LydraCorvaneQuillmark {F05580A8-E757-478E-B4E2-453BFDF94D69}\n");
  EXPECT_EQ(DumpClassesRoot().count(std::u16string(kClassKeyPath)), 0u);
  EXPECT_EQ(testing::RunShell(QM_CLI_PATH " register --home 2>/dev/null"), 2);
  EXPECT_EQ(testing::RunShell(QM_CLI_PATH " unregister extra 2>/dev/null"), 2);
}

}  // namespace
}  // namespace quillmark::com
