// The Windows backend of platform/os against the real system: files under
// names that need UTF-16, the atomic replace, folders and paths in Windows
// form, code pages where the system's rules differ from ours, the adapters.
#include <gtest/gtest.h>
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <string>
#include <vector>

#include "platform/os/bounded_read.h"
#include "platform/os/codepage.h"
#include "platform/os/executable_path.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/os/module_path.h"
#include "platform/os/network.h"
#include "platform/os/paths.h"
#include "platform/os/shell.h"
#include "platform/os/shell_viewer_file.h"
#include "platform/os/win/certificate_viewer.h"
#include "platform/os/win/module_handle.h"
#include "platform/os/win/wide.h"

namespace quillmark::platform {
namespace {

bool UnderWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// A fresh folder under the temporary folder, removed afterwards.
class Scratch {
 public:
  Scratch() { EXPECT_TRUE(MakeTemporaryDirectory("qm-os-", &path_)); }
  ~Scratch() { EXPECT_TRUE(RemoveTree(path_)); }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string Read(const std::string& path) {
  Bytes data;
  EXPECT_TRUE(ReadWholeFile(path, &data)) << path;
  return std::string(data.begin(), data.end());
}

// "签名" (signature) and "证书" (certificate): names no ANSI page but 936 holds.
const std::string kChineseFolder = "\xE7\xAD\xBE\xE5\x90\x8D";
const std::string kChineseFile = "\xE8\xAF\x81\xE4\xB9\xA6.cer";

TEST(WinFiles, NonAsciiNamesReachTheFileSystemAsUtf16) {
  Scratch dir;
  std::string folder = dir.File(kChineseFolder);
  ASSERT_TRUE(MakeDirectories(folder + "/a\\b"));  // both separators
  ASSERT_TRUE(WriteFileAtomically(folder + "\\" + kChineseFile, B("der")));
  // The system sees the very UTF-16 name, not bytes of some ANSI page.
  std::wstring wide = win::Wide(dir.path()) + L"\\\u7B7E\u540D\\\u8BC1\u4E66.cer";
  EXPECT_NE(::GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Read(folder + "\\" + kChineseFile), "der");
  EXPECT_EQ(ListDirectory(folder), (std::vector<std::string>{"a", kChineseFile}));
  std::uint64_t size = 0;
  EXPECT_TRUE(RegularFileSize(folder + "\\" + kChineseFile, &size));
  EXPECT_EQ(size, 3u);
  EXPECT_TRUE(IsDirectory(folder + "\\a\\b"));
  EXPECT_FALSE(IsRegularFile(folder + "\\a"));
  EXPECT_EQ(BaseName(folder + "\\" + kChineseFile), kChineseFile);
  EXPECT_EQ(BaseName("C:/x/y.txt"), "y.txt");
}

TEST(WinFiles, ListingsAreSortedBytewiseAndSkipDotEntries) {
  Scratch dir;
  // Names differ in more than case: the file system does not tell "a" from "A".
  for (const char* name : {"b", "B2", "a", "_c", "\xC3\xA9"}) {
    ASSERT_TRUE(WriteFileAtomically(dir.File(name), B(name)));
  }
  EXPECT_EQ(ListDirectory(dir.path()),
            (std::vector<std::string>{"B2", "_c", "a", "b", "\xC3\xA9"}));
  EXPECT_TRUE(ListDirectory(dir.File("missing")).empty());
}

TEST(WinFiles, AtomicReplaceSwapsContentAndLeavesNoTemporary) {
  Scratch dir;
  const std::string target = dir.File("registry.reg");
  ASSERT_TRUE(WriteFileAtomically(target, B("old")));
  ASSERT_TRUE(WriteFileAtomically(target, B("new content")));
  EXPECT_EQ(Read(target), "new content");
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"registry.reg"});
}

TEST(WinFiles, AFailedReplaceKeepsTheOldContentAndRemovesItsTemporary) {
  Scratch dir;
  const std::string target = dir.File("store.cer");
  ASSERT_TRUE(WriteFileAtomically(target, B("old")));
  {
    // A reader that shares neither writing nor deletion: no rename may
    // replace the file while it holds it.
    HANDLE reader = ::CreateFileW(win::Wide(target).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteFileAtomically(target, B("new")));
    ::CloseHandle(reader);
  }
  EXPECT_EQ(Read(target), "old");
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"store.cer"});
  // Into a folder that is not there nothing is written at all.
  EXPECT_FALSE(WriteFileAtomically(dir.File("none\\x"), B("x")));
}

TEST(WinFiles, StaleTemporariesOfAGoneWriterAreRemoved) {
  Scratch dir;
  // Process ids are multiples of 4 on Windows: 3 is never a running one.
  const std::string stale = dir.File(".tmp-3-abcdef");
  const std::string mine = dir.File(".tmp-" + std::to_string(::GetCurrentProcessId()) + "-abcdef");
  ASSERT_TRUE(WriteFileAtomically(stale, B("x")));
  ASSERT_TRUE(WriteFileAtomically(mine, B("x")));
  // Aged past the grace period of a gone writer.
  FILETIME old;
  ::GetSystemTimeAsFileTime(&old);
  ULARGE_INTEGER t{{old.dwLowDateTime, old.dwHighDateTime}};
  t.QuadPart -= 60ull * 10'000'000;
  old = {t.LowPart, t.HighPart};
  for (const std::string& path : {stale, mine}) {
    HANDLE h = ::CreateFileW(win::Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &old));
    ::CloseHandle(h);
  }
  EXPECT_EQ(RemoveStaleTemporaries(dir.path()), 1);
  EXPECT_FALSE(IsRegularFile(stale));
  EXPECT_TRUE(IsRegularFile(mine));
}

TEST(WinFiles, SecretsAndRemovals) {
  Scratch dir;
  const std::string key = dir.File("key.pem");
  ASSERT_TRUE(WriteFileAtomically(key, B("secret")));
  Bytes out = B("previous");
  EXPECT_FALSE(ReadSecretFile(key, 5, &out));
  EXPECT_EQ(out, B("previous"));
  EXPECT_TRUE(ReadSecretFile(key, 6, &out));
  EXPECT_EQ(out, B("secret"));
  EXPECT_FALSE(ReadWholeFile(dir.path(), &out));  // a folder is no file
  EXPECT_TRUE(RemoveFile(key));
  EXPECT_TRUE(RemoveFile(key));  // already gone counts as removed
  EXPECT_FALSE(IsRegularFile(key));
}

TEST(WinBoundedRead, RefusesFoldersDevicesAndFilesAboveTheBound) {
  Scratch dir;
  const std::string file = dir.File("page.txt");
  ASSERT_TRUE(WriteFileAtomically(file, B("12345")));
  Bytes out;
  EXPECT_EQ(ReadFileAtMost(file, 4, &out), BoundedRead::kTooLarge);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(ReadFileAtMost(file, 5, &out), BoundedRead::kOk);
  EXPECT_EQ(out, B("12345"));
  EXPECT_EQ(ReadFileAtMost(dir.path(), 100, &out), BoundedRead::kNotRegular);
  EXPECT_EQ(ReadFileAtMost("NUL", 100, &out), BoundedRead::kNotRegular);
  EXPECT_EQ(ReadFileAtMost(dir.File("missing"), 100, &out), BoundedRead::kCannotOpen);
}

TEST(WinPaths, BothSeparatorsAndDrivePaths) {
  EXPECT_EQ(PathFileName(u"C:\\Users\\a\\out.cry"), u"out.cry");
  EXPECT_EQ(PathFileName(u"C:/Users/a/out.cry"), u"out.cry");
  EXPECT_EQ(PathFileName(u"C:\\Users\\"), u"");
  EXPECT_EQ(PathFileName(u"plain.txt"), u"plain.txt");
  EXPECT_TRUE(PathHasSeparator(u"a\\b"));
  EXPECT_FALSE(PathHasSeparator(u"C:b"));
  std::u16string absolute;
  ASSERT_TRUE(MakeAbsolutePath(u"D:\\x\\y", &absolute));
  EXPECT_EQ(absolute, u"D:\\x\\y");
  ASSERT_TRUE(MakeAbsolutePath(u"rel.txt", &absolute));
  wchar_t cwd[MAX_PATH];
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, cwd), 0u);
  std::u16string expected = win::Utf16(cwd);
  if (expected.back() != u'\\') expected.push_back(u'\\');
  EXPECT_EQ(absolute, expected + u"rel.txt");
  std::u16string temp = GetTempPathW();
  EXPECT_EQ(temp.back(), u'\\');
  EXPECT_TRUE(IsDirectory(win::Utf8(win::Wide(temp))));
}

TEST(WinHome, AppDataUnlessOverriddenAndLinksOrFilesAreRefused) {
  const std::string appdata = win::EnvironmentUtf8(L"APPDATA");
  ASSERT_FALSE(appdata.empty());
  ::SetEnvironmentVariableW(L"QUILLMARK_HOME", nullptr);
  SetQuillmarkHome("");
  EXPECT_EQ(QuillmarkHomePath(), appdata + "\\Quillmark");

  Scratch dir;
  const std::string home = dir.File("home\\");
  SetQuillmarkHome(home);
  EXPECT_EQ(QuillmarkHomePath(), dir.File("home"));
  EXPECT_EQ(QuillmarkHome(), dir.File("home"));  // made on first use
  EXPECT_TRUE(IsDirectory(dir.File("home")));
  ASSERT_TRUE(WriteFileAtomically(dir.File("home\\stores"), B("x")));
  EXPECT_EQ(HomeFolderProblem(), "refusing home folder " + dir.File("home") + ": " +
                                     dir.File("home") + "\\stores is not a folder");
  EXPECT_EQ(QuillmarkHome(), "");
  SetQuillmarkHome("");
}

TEST(WinViewerFiles, NewPrivateFilesUnderTheHomeFolder) {
  Scratch dir;
  SetQuillmarkHome(dir.path());
  std::string folder, path, second;
  ASSERT_TRUE(PrepareViewerFolder(&folder));
  EXPECT_EQ(folder, dir.path() + "\\view");
  ASSERT_TRUE(CreateViewerFile(folder, ".cer", B("der"), &path));
  ASSERT_TRUE(CreateViewerFile(folder, ".cer", B("der2"), &second));
  EXPECT_NE(path, second);
  const std::string name = BaseName(path);
  ASSERT_EQ(name.size(), kViewerFileStemLength + 4);
  EXPECT_EQ(name.substr(0, 5), "view-");
  EXPECT_EQ(name.find_first_not_of("0123456789abcdef", 5), kViewerFileStemLength);
  EXPECT_EQ(Read(path), "der");
  EXPECT_FALSE(CreateViewerFile(folder, "\\..\\x.cer", B("x"), &path));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  SetQuillmarkHome("");
}

bool Shell(std::u16string verb, std::u16string file) {
  ShellExecuteInfo info;
  info.verb = std::move(verb);
  info.file = std::move(file);
  return ShellExecuteExW(info);
}

TEST(WinShell, RefusalsCarryTheirErrors) {
  EXPECT_FALSE(Shell(u"open", u"C:\\no\\such\\file.cer"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(Shell(u"print", u"C:\\windows\\win.ini"));
  EXPECT_EQ(GetLastError(), kErrorNoAssociation);
  EXPECT_FALSE(Shell(u"open", u""));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(Shell(u"open", std::u16string(1, u'\xD800')));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST(WinShell, CertificateFilesAreToldByTheirExtension) {
  EXPECT_TRUE(win::IsCertificateFile(u"C:\\Users\\a\\view-0123.cer"));
  EXPECT_TRUE(win::IsCertificateFile(u"x.CRT"));
  EXPECT_TRUE(win::IsCertificateFile(u"x.Der"));
  EXPECT_FALSE(win::IsCertificateFile(u"C:\\certs.cer\\readme"));
  EXPECT_FALSE(win::IsCertificateFile(u"key.pem"));
  EXPECT_FALSE(win::IsCertificateFile(u"cer"));
  // A file that holds no certificate is never handed to the viewer.
  Scratch dir;
  ASSERT_TRUE(WriteFileAtomically(dir.File("bad.cer"), B("not DER")));
  EXPECT_FALSE(win::ViewCertificateFile(win::Wide(dir.File("bad.cer")), nullptr));
  EXPECT_FALSE(win::ViewCertificateFile(win::Wide(dir.File("missing.cer")), nullptr));
}

TEST(WinCodePage, LoneSurrogatesAndMissingCharactersBecomeQuestionMarks) {
  // The system itself writes U+FFFD's bytes for a lone surrogate in UTF-8
  // and may pick a look-alike elsewhere; the contract is '?' everywhere.
  Bytes bytes;
  EXPECT_EQ(WideCharToMultiByte(kCpUtf8, u"a\xD800z", TextLength::kExact, &bytes), 3u);
  EXPECT_EQ(bytes, B("a?z"));
  bool used = false;
  EXPECT_EQ(
      WideCharToMultiByte(kCpWindows1252, u"\u0101\xDC00", TextLength::kExact, &bytes, {0, &used}),
      2u);
  EXPECT_EQ(bytes, B("??"));
  EXPECT_TRUE(used);
  EXPECT_EQ(WideCharToMultiByte(kCpGbk, u"\u4E2D\xD800", TextLength::kNulTerminated, &bytes), 4u);
  EXPECT_EQ(bytes, (Bytes{0xD6, 0xD0, '?', 0}));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(kCpUtf8, u"\xDC00", TextLength::kExact, &bytes,
                                {kWcErrInvalidChars, nullptr}),
            0u);
  EXPECT_EQ(GetLastError(), kErrorNoUnicodeTranslation);
}

TEST(WinCodePage, MalformedBytesGiveOneReplacementPerByteAndKeepTheLastError) {
  std::u16string text;
  SetLastError(kCryptENotFound);
  // A GBK lead byte with no trail, and one followed by a byte that cannot trail.
  EXPECT_EQ(MultiByteToWideChar(kCpGbk, Bytes{'a', 0xD6}, &text), 2u);
  EXPECT_EQ(text, u"a\uFFFD");
  EXPECT_EQ(MultiByteToWideChar(kCpGbk, Bytes{0xD6, 0xD0, 0x81, 0x7F}, &text), 3u);
  EXPECT_EQ(text, u"\u4E2D\uFFFD\u007F");
  EXPECT_EQ(MultiByteToWideChar(kCpUtf8, Bytes{0xE4, 0xB8}, &text), 2u);
  EXPECT_EQ(text, u"\uFFFD\uFFFD");
  EXPECT_EQ(MultiByteToWideChar(kCpUsAscii, Bytes{'A', 0xE9}, &text), 2u);
  EXPECT_EQ(text, u"A\uFFFD");
  EXPECT_EQ(GetLastError(), kCryptENotFound);
}

// "中文€😀ÿ한" in GB18030, whose four-byte forms the system's tables hold.
TEST(WinCodePage, Gb18030HoldsEveryCharacterWhereTheSystemHasIt) {
  if (UnderWine()) {
    // Without the system's tables the page fails as the system would.
    EXPECT_FALSE(IsValidCodePage(kCpGb18030));
    Bytes bytes;
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(kCpGb18030, u"a", TextLength::kExact, &bytes), 0u);
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
    GTEST_SKIP() << "wine lacks code page 54936";
  }
  const std::u16string text = u"\u4E2D\u6587\u20AC\U0001F600\u00FF\uD55C";
  const Bytes gb{0xD6, 0xD0, 0xCE, 0xC4, 0xA2, 0xE3, 0x94, 0x39, 0xFC,
                 0x36, 0x81, 0x30, 0x8B, 0x37, 0x83, 0x36, 0x84, 0x33};
  Bytes bytes;
  bool used = true;
  EXPECT_EQ(WideCharToMultiByte(kCpGb18030, text, TextLength::kExact, &bytes, {0, &used}),
            gb.size());
  EXPECT_EQ(bytes, gb);
  EXPECT_FALSE(used);
  std::u16string back;
  EXPECT_EQ(MultiByteToWideChar(kCpGb18030, gb, &back), text.size());
  EXPECT_EQ(back, text);
}

TEST(WinCodePage, ChineseAndUtf8RoundTripExactly) {
  const std::u16string text = u"\u4E2D\u6587\u7B7E\u540D abc \u00E9\u20AC";
  Bytes gbk, utf8;
  ASSERT_GT(WideCharToMultiByte(kCpGbk, text, TextLength::kExact, &gbk), 0u);
  EXPECT_EQ(gbk, (Bytes{0xD6, 0xD0, 0xCE, 0xC4, 0xC7, 0xA9, 0xC3, 0xFB, ' ', 'a', 'b', 'c', ' ',
                        0xA8, 0xA6, 0x80}));
  ASSERT_GT(WideCharToMultiByte(kCpUtf8, text, TextLength::kNulTerminated, &utf8), 0u);
  EXPECT_EQ(utf8.back(), 0);
  std::u16string back;
  EXPECT_EQ(MultiByteToWideChar(kCpGbk, gbk, &back), text.size());
  EXPECT_EQ(back, text);
  utf8.pop_back();
  EXPECT_EQ(MultiByteToWideChar(kCpUtf8, utf8, &back), text.size());
  EXPECT_EQ(back, text);
  // The ANSI code page is 936 here too, whatever the system's own is.
  Bytes ansi;
  ASSERT_GT(WideCharToMultiByte(kCpAcp, text, TextLength::kExact, &ansi), 0u);
  EXPECT_EQ(ansi, gbk);
  // Unknown pages and empty input fail and leave the output alone.
  Bytes keep{1};
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(12345, text, TextLength::kExact, &keep), 0u);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_EQ(keep, Bytes{1});
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(kCpGbk, ByteSpan(), &back), 0u);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_EQ(back, text);
}

TEST(WinLastError, IsTheSystemsOwn) {
  SetLastError(kNteBadAlgId);
  EXPECT_EQ(::GetLastError(), kNteBadAlgId);
  ::SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
}

TEST(WinModule, ThisCodesModuleAndTheProgram) {
  // Linked into the test program, the module is the program itself.
  EXPECT_EQ(win::ThisModule(), ::GetModuleHandleW(nullptr));
  std::u16string module;
  std::string program;
  ASSERT_TRUE(GetModuleFileNameW(&module));
  ASSERT_TRUE(ExecutablePath(&program));
  EXPECT_EQ(win::Utf8(win::Wide(module)), program);
  EXPECT_EQ(BaseName(program), "wintest_os_win.exe");
  EXPECT_TRUE(IsRegularFile(program));
}

TEST(WinNetwork, AdaptersHaveRealAddressesInIndexOrder) {
  std::vector<IpAdapterInfo> adapters;
  std::uint32_t rc = GetAdaptersInfo(&adapters);
  if (rc == kErrorNoData) GTEST_SKIP() << "this machine reports no network adapter";
  ASSERT_EQ(rc, kErrorSuccess);
  ASSERT_FALSE(adapters.empty());
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    const IpAdapterInfo& a = adapters[i];
    EXPECT_GE(a.address.size(), 6u);
    EXPECT_NE(std::count(a.address.begin(), a.address.end(), 0), std::ptrdiff_t(a.address.size()));
    EXPECT_FALSE(a.adapter_name.empty());
    if (i > 0) {
      EXPECT_LT(adapters[i - 1].index, a.index);
    }
  }
  EXPECT_EQ(GetAdaptersInfo(nullptr), kErrorInvalidParameter);

  // Each address is the system's own for that adapter index, byte for byte:
  // GetMac prints these as "00-1A-2B-3C-4D-5E;...".
  ULONG size = 0;
  ASSERT_EQ(::GetAdaptersInfo(nullptr, &size), ERROR_BUFFER_OVERFLOW);
  std::vector<std::uint8_t> buffer(size);
  auto* raw = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  ASSERT_EQ(::GetAdaptersInfo(raw, &size), ERROR_SUCCESS);
  for (const IpAdapterInfo& a : adapters) {
    const IP_ADAPTER_INFO* match = raw;
    while (match != nullptr && match->Index != a.index) match = match->Next;
    ASSERT_NE(match, nullptr) << a.adapter_name;
    EXPECT_EQ(a.address, Bytes(match->Address, match->Address + match->AddressLength));
    EXPECT_EQ(a.adapter_name, match->AdapterName);
    EXPECT_NE(match->Type, 24u);  // never the loopback adapter
  }
}

}  // namespace
}  // namespace quillmark::platform
