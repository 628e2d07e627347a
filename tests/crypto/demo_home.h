// A test fixture for the engine operations: one demonstration PKI made per
// test program in a scratch home, the chooser answered by a script, and
// statuses printed as "number/0xCODE" in failure messages.
//
//   class SignMessageTest : public crypto::DemoHomeTest {};
//   TEST_F(SignMessageTest, X) { Answer("choose 0\n"); ... Reports(); }
#ifndef QUILLMARK_TESTS_CRYPTO_DEMO_HOME_H_
#define QUILLMARK_TESTS_CRYPTO_DEMO_HOME_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "common/unicode.h"
#include "demo/demo_pki.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/ui/dialog_factory.h"
#include "platform/ui/script_host.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark {

inline void PrintTo(const Status& status, std::ostream* os) {
  *os << status.number() << "/0x" << std::hex << status.platform_code() << std::dec;
}

namespace crypto {

class DemoHomeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = new testing::ScratchDir;
    platform::SetQuillmarkHome(home_->path());
    std::string error;
    ASSERT_TRUE(::quillmark::demo::CreateDemoPki(&items_, &error)) << error;
  }
  static void TearDownTestSuite() {
    platform::ui::SetCurrentDialogHost(nullptr);
    platform::SetQuillmarkHome("");
    delete home_;
    home_ = nullptr;
    items_.clear();
  }
  void TearDown() override { platform::ui::SetCurrentDialogHost(nullptr); }

  // The DER of the demo item |name| (its subject starts so) in |store|.
  static Bytes ItemDer(const char* store, std::u16string_view name) {
    for (const ::quillmark::demo::DemoItem& item : items_) {
      if (item.store == store && item.name.starts_with(name)) {
        Bytes der;
        EXPECT_TRUE(platform::ReadWholeFile(
            home_->path() + "/stores/" + store + "/" + item.thumbprint + ".cer", &der));
        return der;
      }
    }
    ADD_FAILURE() << store;
    return {};
  }

  // The PEM key file of the demo user |name| in "MY".
  static std::string KeyFile(std::u16string_view name) {
    for (const ::quillmark::demo::DemoItem& item : items_) {
      if (item.store == "MY" && item.name.starts_with(name) && !item.container.empty()) {
        return home_->path() + "/keys/" + Utf16ToUtf8Lossy(item.container) +
               (item.key_spec == 2 ? "/signature.pem" : "/exchange.pem");
      }
    }
    ADD_FAILURE() << "no key";
    return {};
  }

  // Writes the certificate of |name| in "MY" as PEM into the work folder.
  std::string CertFile(std::u16string_view name) {
    const std::string path = work_.File("cert.pem");
    EXPECT_TRUE(
        testing::WriteBytes(path, AsBytes(testing::DerToPem(ItemDer("MY", name), "CERTIFICATE"))));
    return path;
  }

  // Answers the dialogs from |script| from now on.
  static void Answer(std::string_view script) {
    platform::ui::SetCurrentDialogHost(std::make_unique<platform::ui::ScriptDialogHost>(script));
  }
  // The dialogs shown since the last call.
  static std::vector<platform::ui::DialogReport> Reports() {
    return platform::ui::CurrentDialogHost().TakeReports();
  }

  static inline testing::ScratchDir* home_ = nullptr;
  static inline std::vector<::quillmark::demo::DemoItem> items_;
  testing::ScratchDir work_;
};

// A status whose platform code is its own number, as the Advance checks
// report it.
inline Status NumberAsCode(int number) {
  return Status(number, static_cast<std::uint32_t>(number));
}

// The content `openssl smime -verify` reads out of the DER signature |der|,
// written to |dir| (which ends in '/'); a detached signature is checked
// against |dir|data.bin. False when openssl refuses the signature.
inline bool OpensslSmimeVerify(const std::string& dir, const Bytes& der, bool detached,
                               Bytes* content) {
  if (!testing::WriteBytes(dir + "p7.der", der)) return false;
  const std::string with = detached ? " -content " + dir + "data.bin" : "";
  return testing::RunShell("openssl smime -verify -inform DER -noverify -binary -in " + dir +
                           "p7.der" + with + " -out " + dir + "out.bin 2>/dev/null") == 0 &&
         platform::ReadWholeFile(dir + "out.bin", content);
}

}  // namespace crypto
}  // namespace quillmark

#endif  // QUILLMARK_TESTS_CRYPTO_DEMO_HOME_H_
