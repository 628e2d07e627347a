#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "common/unicode.h"
#include "platform/os/files.h"
#include "platform/os/last_error.h"
#include "platform/os/network.h"
#include "platform/os/paths.h"
#include "platform/os/shell.h"
#include "support/test_dirs.h"

namespace quillmark::platform {
namespace {

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

std::string ReadText(const std::string& path) {
  Bytes b;
  if (!ReadWholeFile(path, &b)) return std::string();
  std::string s(AsChars(b));
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

TEST(Paths, FileNameSeparatorAndTemporaryFolder) {
  struct {
    std::u16string_view path, name;
    bool separator;
  } cases[] = {
      {u"/tmp/x/report.pdf.sign", u"report.pdf.sign", true},
      {u"report.pdf", u"report.pdf", false},
      {u"/tmp/dir/", u"", true},
      {u"c:\\quillmarkStub\\a.txt", u"c:\\quillmarkStub\\a.txt", false},
      {u"/中文/文件.txt", u"文件.txt", true},
      {u"", u"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathFileName(c.path), c.name) << Utf16ToUtf8Lossy(c.path);
    EXPECT_EQ(PathHasSeparator(c.path), c.separator) << Utf16ToUtf8Lossy(c.path);
  }

  {
    ScopedEnv env("TMPDIR", "/var/tmp/qm");
    EXPECT_EQ(GetTempPathW(), u"/var/tmp/qm/");
  }
  {
    ScopedEnv env("TMPDIR", "/var/tmp/");
    EXPECT_EQ(GetTempPathW(), u"/var/tmp/");
  }
  {
    ScopedEnv env("TMPDIR", "");
    EXPECT_EQ(GetTempPathW(), u"/tmp/");
  }
  {
    ScopedEnv env("TMPDIR", nullptr);
    EXPECT_EQ(GetTempPathW(), u"/tmp/");
  }
}

TEST(Network, AdaptersMatchTheKernelsInterfacesInIndexOrder) {
  // What the kernel reports: every interface with a hardware address of 6 bytes
  // or more that is not loopback (type 772) and not all zeros, by index.
  std::map<std::uint32_t, std::pair<std::string, std::string>> expected;
  for (const std::string& name : ListDirectory("/sys/class/net")) {
    std::string base = "/sys/class/net/" + name + "/";
    if (ReadText(base + "type") == "772") continue;
    if (std::atoi(ReadText(base + "addr_len").c_str()) < 6) continue;
    std::string address = ReadText(base + "address");
    if (address.find_first_not_of("0:") == std::string::npos) continue;
    expected[static_cast<std::uint32_t>(std::atoi(ReadText(base + "ifindex").c_str()))] = {name,
                                                                                           address};
  }

  std::vector<IpAdapterInfo> adapters;
  std::uint32_t rc = GetAdaptersInfo(&adapters);
  if (expected.empty()) {
    EXPECT_EQ(rc, kErrorNoData);
    EXPECT_EQ(GetLastError(), kErrorNoData);
    GTEST_SKIP() << "this machine has no adapter with a hardware address";
  }
  ASSERT_EQ(rc, kErrorSuccess);
  ASSERT_EQ(adapters.size(), expected.size());
  auto want = expected.begin();
  for (const IpAdapterInfo& a : adapters) {
    EXPECT_EQ(a.index, want->first);
    EXPECT_EQ(a.adapter_name, want->second.first);
    std::string text;
    for (std::uint8_t b : a.address) {
      char buf[4];
      std::snprintf(buf, sizeof buf, text.empty() ? "%02x" : ":%02x", b);
      text += buf;
    }
    EXPECT_EQ(text, want->second.second) << a.adapter_name;
    EXPECT_EQ(a.description.rfind(a.adapter_name, 0), 0u) << a.description;
    ++want;
  }
  EXPECT_EQ(GetAdaptersInfo(nullptr), kErrorInvalidParameter);
}

// A stand-in desktop handler on $PATH that records its arguments and then
// lingers, so that a caller who waited for it would be caught.
class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string script =
        "#!/bin/sh\n"
        "printf '%s\\n' \"$#\" \"$1\" \"$(pwd)\" > \"$QM_MARKER.part\"\n"
        "mv \"$QM_MARKER.part\" \"$QM_MARKER\"\n"
        "sleep 3\n";
    ASSERT_TRUE(MakeDirectories(dir_.File("bin")));
    ASSERT_TRUE(WriteFileAtomically(dir_.File("bin/xdg-open"), AsBytes(script), 0755));
    // The desktop's program for certificates is whatever $QM_CERT_HANDLER says.
    ASSERT_TRUE(WriteFileAtomically(
        dir_.File("bin/xdg-mime"), AsBytes("#!/bin/sh\nprintf '%s' \"$QM_CERT_HANDLER\"\n"), 0755));
    // Our own viewer records its arguments as the handler does.
    ASSERT_TRUE(WriteFileAtomically(
        dir_.File("viewer"),
        AsBytes("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" \"$2\" > \"$QM_MARKER.part\"\n"
                "/bin/mv \"$QM_MARKER.part\" \"$QM_MARKER\"\n"),
        0755));
    path_ = dir_.File("bin") + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    viewer_ = dir_.File("viewer");
  }

  // Waits up to |limit| for the marker file; its lines, or empty.
  std::string WaitForMarker(std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (IsRegularFile(marker())) return ReadText(marker());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::string();
  }
  std::string marker() const { return dir_.File("marker"); }

  testing::ScratchDir dir_;
  std::string path_;
  std::string viewer_;
  ScopedEnv handler_{"QM_CERT_HANDLER", "certificate-viewer.desktop"};
  ScopedEnv no_viewer_{"QUILLMARK_DIALOG", "/nonexistent/quillmark-dialog"};
};

TEST_F(ShellTest, WithoutADesktopNothingIsStarted) {
  std::string file = dir_.File("temp.cer");
  ASSERT_TRUE(WriteFileAtomically(file, AsBytes("x")));
  ScopedEnv p("PATH", path_.c_str()), m("QM_MARKER", marker().c_str());
  ScopedEnv d("DISPLAY", nullptr), w("WAYLAND_DISPLAY", nullptr);
  SetLastError(0);
  EXPECT_FALSE(ShellExecuteExW({u"open", Utf8ToUtf16Lossy(file), u"", u"", kSwShowNormal}));
  EXPECT_EQ(GetLastError(), kErrorNoAssociation);
  ScopedEnv empty("DISPLAY", "");
  EXPECT_FALSE(ShellExecuteExW({u"open", Utf8ToUtf16Lossy(file), u"", u"", kSwShowNormal}));
  EXPECT_EQ(WaitForMarker(std::chrono::milliseconds(300)), "");
}

TEST_F(ShellTest, WithADesktopTheHandlerGetsThePathAsOneArgumentWithoutWaiting) {
  ASSERT_TRUE(MakeDirectories(dir_.File("work")));
  std::string file = dir_.File("it's a \"file\" $(touch pwned) `touch pwned2`;.cer");
  ASSERT_TRUE(WriteFileAtomically(file, AsBytes("x")));
  ScopedEnv p("PATH", path_.c_str()), m("QM_MARKER", marker().c_str());
  ScopedEnv d("DISPLAY", nullptr), w("WAYLAND_DISPLAY", "wayland-0");

  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(ShellExecuteExW(
      {u"Open", Utf8ToUtf16Lossy(file), u"", Utf8ToUtf16Lossy(dir_.File("work")), kSwShowNormal}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_EQ(WaitForMarker(std::chrono::seconds(10)), "1\n" + file + "\n" + dir_.File("work"));
  EXPECT_FALSE(IsRegularFile(dir_.File("work/pwned")));
  EXPECT_FALSE(IsRegularFile(dir_.File("work/pwned2")));

  SetLastError(0);
  EXPECT_FALSE(ShellExecuteExW(
      {u"open", Utf8ToUtf16Lossy(dir_.File("missing.cer")), u"", u"", kSwShowNormal}));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(ShellExecuteExW({u"print", Utf8ToUtf16Lossy(file), u"", u"", kSwShowNormal}));
  EXPECT_EQ(GetLastError(), kErrorNoAssociation);
  ScopedEnv no_handler("PATH", "/nonexistent");
  EXPECT_FALSE(ShellExecuteExW({u"", Utf8ToUtf16Lossy(file), u"", u"", kSwShowNormal}));
  EXPECT_EQ(GetLastError(), kErrorNoAssociation);
}

TEST_F(ShellTest, ACertificateTheDesktopHasNoProgramForGoesToOurViewer) {
  const std::string cert = dir_.File("temp.CER");
  const std::string pdf = dir_.File("report.pdf");
  ASSERT_TRUE(WriteFileAtomically(cert, AsBytes("x")));
  ASSERT_TRUE(WriteFileAtomically(pdf, AsBytes("x")));
  ScopedEnv p("PATH", path_.c_str()), m("QM_MARKER", marker().c_str());
  ScopedEnv d("DISPLAY", ":0"), v("QUILLMARK_DIALOG", viewer_.c_str());
  ScopedEnv none("QM_CERT_HANDLER", "");

  ASSERT_TRUE(ShellExecuteExW({u"open", Utf8ToUtf16Lossy(cert), u"", u"", kSwShowNormal}));
  EXPECT_EQ(WaitForMarker(std::chrono::seconds(10)), "2\n--view\n" + cert);
  ASSERT_TRUE(RemoveFile(marker()));

  // Other files still go to the desktop's handler.
  ASSERT_TRUE(ShellExecuteExW({u"open", Utf8ToUtf16Lossy(pdf), u"", u"", kSwShowNormal}));
  EXPECT_EQ(WaitForMarker(std::chrono::seconds(10)).rfind("1\n" + pdf + "\n", 0), 0u);
  ASSERT_TRUE(RemoveFile(marker()));

  // Without xdg-open at all, a certificate is still shown.
  ScopedEnv no_desktop_programs("PATH", "/nonexistent");
  ASSERT_TRUE(ShellExecuteExW({u"open", Utf8ToUtf16Lossy(cert), u"", u"", kSwShowNormal}));
  EXPECT_EQ(WaitForMarker(std::chrono::seconds(10)), "2\n--view\n" + cert);
}

}  // namespace
}  // namespace quillmark::platform
