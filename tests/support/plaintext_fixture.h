// The fixture of the plain-text, form-item and file members' tests: a
// control over a scratch home with scripted Open and Save dialogs.
#ifndef QUILLMARK_TESTS_SUPPORT_PLAINTEXT_FIXTURE_H_
#define QUILLMARK_TESTS_SUPPORT_PLAINTEXT_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

namespace quillmark::testing {

using control::CCorvaneQuillmark;
using platform::ui::DialogReport;

inline std::string U8(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }
inline std::u16string U16(std::string_view s) { return Utf8ToUtf16Lossy(s); }
inline Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }
inline std::string S(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A control over a scratch home (its registry included) with scripted
// dialogs, readers of its error state and plain texts, and files to add.
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
    ASSERT_EQ(platform::RegCreateKeyExW(platform::kHkeyClassesRoot, control::kCtlSettingsKeyPath, 0,
                                        platform::kKeyAllAccess, &key, nullptr),
              platform::kErrorSuccess);
    ASSERT_EQ(platform::RegSetValueExW(key, control::kStubPathValueName, type, data),
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

  ScratchDir home_;
  ScratchDir dir_;
  CCorvaneQuillmark qm_;
};

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_SUPPORT_PLAINTEXT_FIXTURE_H_
