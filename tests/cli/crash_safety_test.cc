// The command killed at any moment, and signers running while it works:
// store import (first and repeated, same and other key spec), store remove
// and register are stopped at every write step in turn and by SIGKILL after
// a random delay; after each kill every certificate left must sign through
// the real signing path, none may show without its key, and the registry
// file must be whole with the registration complete or absent.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/status.h"
#include "control/guids.h"
#include "crypto/sign_message.h"
#include "platform/keys/cert_private_key.h"
#include "platform/keys/hash.h"
#include "platform/keys/key_provider.h"
#include "platform/keys/sign_verify.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_text.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/cert_store.h"
#include "support/test_dirs.h"

extern char** environ;

namespace quillmark {
namespace {

namespace pf = platform;
using testing::RunShell;

constexpr int kCrashedStatus = 137;  // what a process ended at a crash point returns

std::u16string Utf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

class CrashSafetyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    files_ = new testing::ScratchDir();
    std::string script =
        "set -e; cd " + files_->path() +
        "; openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key"
        "; openssl req -new -x509 -key rsa.key -days 30 -out rsa.crt -subj '/CN=Zhang San/C=CN'"
        "; openssl pkcs12 -export -inkey rsa.key -in rsa.crt -passout pass:secret -out rsa.p12"
        "; openssl genpkey -algorithm SM2 -out sm2.key"
        "; openssl req -new -x509 -key sm2.key -sm3 -sigopt distid:1234567812345678 -days 30"
        "   -subj '/CN=SM2 User/C=CN' -out sm2.crt"
        "; openssl pkcs12 -export -inkey sm2.key -in sm2.crt -passout pass:secret -out sm2.p12"
        "; openssl x509 -in rsa.crt -noout -fingerprint -sha1 | tr -d : | sed 's/.*=//' > "
        "rsa.thumb";
    ASSERT_EQ(RunShell("(" + script + ") >/dev/null 2>&1"), 0);
    Bytes thumb;
    ASSERT_TRUE(pf::ReadWholeFile(files_->File("rsa.thumb"), &thumb));
    rsa_thumb_ = new std::string(AsChars(thumb).substr(0, 40));
  }
  static void TearDownTestSuite() {
    delete files_;
    delete rsa_thumb_;
    files_ = nullptr;
    rsa_thumb_ = nullptr;
  }

  void SetUp() override {
    home_ = scratch_.File("home");
    pf::SetQuillmarkHome(home_);
  }
  void TearDown() override { pf::SetQuillmarkHome(""); }

  // A new empty home folder.
  void FreshHome() {
    ASSERT_TRUE(pf::RemoveTree(home_));
    ASSERT_TRUE(pf::MakeDirectories(home_, 0700));
    pf::ClearCertStoreCache();
  }

  // The command line (shell words) run in the key files' folder.
  // With |exec| the shell becomes quillmark, so its pid is the command's.
  std::string CommandLine(const std::string& args, int crash_at, bool exec = false) const {
    std::string env = "QUILLMARK_HOME=" + home_;
    if (crash_at > 0) env += " QUILLMARK_TEST_CRASH_AT=" + std::to_string(crash_at);
    return "cd " + files_->path() + " && " + env + (exec ? " exec " : " ") + QM_CLI_PATH " " +
           args + " >/dev/null 2>&1";
  }

  // Runs quillmark; with |crash_at| it ends at that write step. The exit status.
  int Run(const std::string& args, int crash_at = 0) const {
    return RunShell(CommandLine(args, crash_at));
  }

  // Starts quillmark without waiting; its pid.
  pid_t Start(const std::string& args) const {
    std::string line = CommandLine(args, 0, /*exec=*/true);
    const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      return -1;
    }
    return pid;
  }

  // Runs |args| once per write step, each time in a home prepared by |setup|
  // and ended at that step, and hands the state left to |check|. Returns how
  // many steps the command has; fails when the command never runs through.
  int CrashAtEveryStep(const std::function<void()>& setup, const std::string& args,
                       const std::function<void()>& check) {
    for (int step = 1; step < 40; ++step) {
      SCOPED_TRACE(args + " ended at step " + std::to_string(step));
      FreshHome();
      setup();
      int status = Run(args, step);
      if (status == 0) return step - 1;
      EXPECT_EQ(status, kCrashedStatus);
      pf::ClearCertStoreCache();
      check();
      if (::testing::Test::HasFailure()) return step;
    }
    ADD_FAILURE() << args << " never ran through";
    return 0;
  }

  // Runs |args| in a fresh home and keeps a copy of the home it leaves; the
  // copy's folder.
  std::string SavedHomeAfter(const std::string& args) {
    FreshHome();
    EXPECT_EQ(Run(args), 0) << args;
    std::string saved = scratch_.File("saved-" + std::to_string(++saved_homes_));
    EXPECT_EQ(RunShell("cp -a " + home_ + " " + saved), 0);
    return saved;
  }

  // Fills the (fresh, empty) home with a copy saved by SavedHomeAfter.
  void RestoreHome(const std::string& saved) {
    ASSERT_EQ(RunShell("cp -a " + saved + "/. " + home_), 0);
  }

  static pf::CertStore OpenStore(std::u16string_view name) {
    return pf::CertOpenStore(pf::kCertStoreProvSystemW, pf::kDefaultEncoding,
                             pf::kCertSystemStoreCurrentUser, name);
  }

  // Signs with the certificate's key through its property and checks the
  // signature with the certificate's own public key.
  static void ExpectSigns(const pf::CertContext& cert) {
    SCOPED_TRACE("certificate " + cert.thumbprint());
    ASSERT_TRUE(cert.key_prov_info().has_value()) << "a certificate without its key shows";
    pf::ProvHandle prov;
    std::uint32_t spec = 0;
    ASSERT_TRUE(
        pf::CryptAcquireCertificatePrivateKey(cert, pf::kCryptAcquireCompareKeyFlag, &prov, &spec))
        << std::hex << pf::GetLastError();
    const bool sm2 = cert.public_key_algorithm_oid() != "1.2.840.113549.1.1.1";
    const std::uint32_t algid = sm2 ? pf::kCalgSm3 : pf::kCalgSha256;
    pf::HashHandle hash;
    ASSERT_TRUE(pf::CryptCreateHash(*prov, algid, nullptr, 0, &hash));
    ASSERT_TRUE(pf::CryptHashData(*hash, AsBytes("crash"), 0));
    Bytes sig;
    ASSERT_TRUE(pf::CryptSignHashW(*hash, spec, u"", 0, &sig)) << std::hex << pf::GetLastError();
    pf::ProvHandle verifier;
    ASSERT_TRUE(pf::CryptAcquireContextW(&verifier, u"", u"", pf::kProvRsaFull, 0));
    pf::KeyHandle key;
    ASSERT_TRUE(pf::CryptImportPublicKeyInfo(*verifier, pf::kDefaultEncoding,
                                             cert.public_key_info_der(), &key));
    pf::HashHandle check;
    ASSERT_TRUE(pf::CryptCreateHash(*verifier, algid, nullptr, 0, &check));
    ASSERT_TRUE(pf::CryptHashData(*check, AsBytes("crash"), 0));
    EXPECT_TRUE(pf::CryptVerifySignatureW(*check, sig, *key, u"", 0));
  }

  // Zhang San's certificate in "MY", signing a message the way a page asks.
  static Status SignAsZhangSan() {
    Bytes text;
    return crypto::SignMessage(AsBytes("payment order 42"),
                               {.dn = u"CN=Zhang San", .server_mode = true}, {}, {}, &text,
                               nullptr);
  }

  // Every certificate of every store signs; returns how many there are.
  static int ExpectEveryCertificateSigns() {
    int count = 0;
    for (std::u16string_view name : {u"MY", u"AddressBook"}) {
      pf::CertStore store = OpenStore(name);
      for (pf::CertContextPtr c = pf::CertEnumCertificatesInStore(store, nullptr); c;
           c = pf::CertEnumCertificatesInStore(store, c)) {
        ExpectSigns(*c);
        ++count;
      }
    }
    return count;
  }

  bool ZhangSanInMy() const {
    return pf::IsRegularFile(home_ + "/stores/MY/" + *rsa_thumb_ + ".cer");
  }

  // The registry file is one whole file written by the registry (it reads
  // back to the same text), and the registration is all there or not at all.
  void ExpectRegistryWhole(bool* registered) const {
    *registered = false;
    Bytes text;
    if (!pf::ReadWholeFile(home_ + "/registry.reg", &text)) return;
    EXPECT_EQ(pf::RegistryDocument::Parse(text).Serialize(), std::string(AsChars(text)));
    const std::u16string clsid(control::kClsidText), libid(control::kLibidText);
    const std::u16string keys[] = {
        u"CLSID\\" + clsid + u"\\InprocServer32",
        u"CLSID\\" + clsid + u"\\CtlSettings",
        u"Quillmark.LydraCorvaneQuillmark2.1\\CLSID",
        u"Quillmark.LydraCorvaneQuillmark2\\CurVer",
        u"TypeLib\\" + libid + u"\\1.0\\0\\win32",
        u"Interface\\" + Utf16(control::GuidToString(control::kIidILydraCorvaneQuillmark)) +
            u"\\TypeLib",
    };
    int present = 0, total = 0;
    for (const std::u16string& key : keys) {
      pf::RegKey k;
      ++total;
      if (pf::RegOpenKeyExW(pf::kHkeyClassesRoot, key, 0, pf::kKeyRead, &k) == pf::kErrorSuccess) {
        ++present;
      }
    }
    EXPECT_TRUE(present == 0 || present == total) << present << " of " << total << " keys";
    *registered = present == total;
  }

  // Sets the times of the temporaries below |dir| back, as if they had been
  // left some time ago.
  static void AgeTemporaries(const std::string& dir) {
    for (const std::string& name : pf::ListDirectory(dir)) {
      std::string path = dir + "/" + name;
      if (pf::IsTemporaryFileName(name)) {
        struct timespec times[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
      } else if (pf::IsDirectory(path)) {
        AgeTemporaries(path);
      }
    }
  }

  static int CountTemporaries(const std::string& dir) {
    int count = 0;
    for (const std::string& name : pf::ListDirectory(dir)) {
      if (pf::IsTemporaryFileName(name)) ++count;
      if (pf::IsDirectory(dir + "/" + name)) count += CountTemporaries(dir + "/" + name);
    }
    return count;
  }

  static testing::ScratchDir* files_;
  static std::string* rsa_thumb_;
  testing::ScratchDir scratch_;
  std::string home_;
  int saved_homes_ = 0;
};

testing::ScratchDir* CrashSafetyTest::files_ = nullptr;
std::string* CrashSafetyTest::rsa_thumb_ = nullptr;

const char kImportRsa[] = "store import MY rsa.p12 --password secret";
const char kImportRsaSignature[] = "store import MY rsa.p12 --password secret --key-spec signature";

TEST_F(CrashSafetyTest, FirstImportKilledLeavesNothingOrTheWholePair) {
  int leftovers = 0;
  int steps = CrashAtEveryStep([] {}, kImportRsa,
                               [&] {
                                 if (ZhangSanInMy()) {
                                   EXPECT_EQ(ExpectEveryCertificateSigns(), 1);
                                   EXPECT_EQ(SignAsZhangSan(), kOk);
                                 } else {
                                   EXPECT_EQ(ExpectEveryCertificateSigns(), 0);
                                 }
                                 leftovers += CountTemporaries(home_);
                               });
  // Key file, property file and certificate: a temporary and a rename each.
  EXPECT_GE(steps, 6);
  EXPECT_GT(leftovers, 0);  // some steps were ended with a temporary written
}

TEST_F(CrashSafetyTest, RepeatedImportKilledNeverLosesTheWorkingKey) {
  struct Case {
    const char* first;
    const char* again;
  } cases[] = {
      {kImportRsa, kImportRsa},           // same key, same spec
      {kImportRsa, kImportRsaSignature},  // the key moves to the other spec
      {"store import MY sm2.p12 --password secret", "store import MY sm2.p12 --password secret"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.again);
    const std::string before = SavedHomeAfter(c.first);
    int steps = CrashAtEveryStep([&] { RestoreHome(before); }, c.again,
                                 [&] {
                                   EXPECT_EQ(ExpectEveryCertificateSigns(), 1);
                                   if (ZhangSanInMy()) {
                                     EXPECT_EQ(SignAsZhangSan(), kOk);
                                   }
                                 });
    EXPECT_GE(steps, 4);
  }
}

TEST_F(CrashSafetyTest, TemporariesOfKilledWritersAreRemovedByTheNextWrite) {
  FreshHome();
  ASSERT_EQ(Run(kImportRsa), 0);
  // End re-imports at their first steps: each leaves a temporary behind.
  for (int step : {1, 3}) ASSERT_EQ(Run(kImportRsa, step), kCrashedStatus);
  ASSERT_EQ(CountTemporaries(home_), 2);
  // Young temporaries may belong to a writer still running: they stay.
  ASSERT_EQ(Run(kImportRsa), 0);
  EXPECT_EQ(CountTemporaries(home_), 2);
  AgeTemporaries(home_);
  ASSERT_EQ(Run(kImportRsa), 0);
  EXPECT_EQ(CountTemporaries(home_), 0);
  EXPECT_EQ(ExpectEveryCertificateSigns(), 1);
}

TEST_F(CrashSafetyTest, RemoveKilledLeavesTheCertificateWithItsKeyOrNeither) {
  const std::string remove = "store remove MY " + *rsa_thumb_;
  const std::string before = SavedHomeAfter(kImportRsa);
  int steps = CrashAtEveryStep([&] { RestoreHome(before); }, remove,
                               [&] {
                                 if (ZhangSanInMy()) {
                                   EXPECT_EQ(ExpectEveryCertificateSigns(), 1);
                                   EXPECT_EQ(SignAsZhangSan(), kOk);
                                 }
                               });
  EXPECT_GE(steps, 2);
}

TEST_F(CrashSafetyTest, RegistrationKilledLeavesTheFileBeforeOrAfter) {
  // One rewrite each: before the rename nothing changed, after it all did.
  std::vector<bool> seen;
  int steps = CrashAtEveryStep([] {}, "register",
                               [&] {
                                 bool registered = false;
                                 ExpectRegistryWhole(&registered);
                                 seen.push_back(registered);
                               });
  EXPECT_EQ(steps, 2);
  EXPECT_EQ(seen, (std::vector<bool>{false, true}));
  seen.clear();
  const std::string after_register = SavedHomeAfter("register");
  steps = CrashAtEveryStep([&] { RestoreHome(after_register); }, "unregister",
                           [&] {
                             bool registered = false;
                             ExpectRegistryWhole(&registered);
                             seen.push_back(registered);
                           });
  EXPECT_EQ(steps, 2);
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));
  // Killed at random moments, over and over, in one home.
  FreshHome();
  std::mt19937 rng(20261207);
  for (int i = 0; i < 12; ++i) {
    pid_t pid = Start(i % 2 == 0 ? "register" : "unregister");
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 30000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    bool registered;
    ExpectRegistryWhole(&registered);
  }
}

TEST_F(CrashSafetyTest, ImportsKilledAtRandomMomentsKeepEveryCertificateSigning) {
  FreshHome();
  ASSERT_EQ(Run(kImportRsa), 0);
  // How long an import takes here, to spread the kills over it.
  auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(Run(kImportRsaSignature), 0);
  auto span = std::chrono::duration_cast<std::chrono::microseconds>(
                  std::chrono::steady_clock::now() - begin)
                  .count();
  std::mt19937 rng(42);
  int killed = 0;
  for (int i = 0; i < 15; ++i) {
    const char* args = i % 3 == 0   ? "store import MY sm2.p12 --password secret"
                       : i % 2 == 0 ? kImportRsa
                                    : kImportRsaSignature;
    pid_t pid = Start(args);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % (span + 1)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) ++killed;
    pf::ClearCertStoreCache();
    EXPECT_GE(ExpectEveryCertificateSigns(), 1);
    EXPECT_EQ(SignAsZhangSan(), kOk);
  }
  EXPECT_GT(killed, 0);
}

TEST_F(CrashSafetyTest, SignersNeverFailWhileAnotherProcessReimportsTheSigner) {
  FreshHome();
  ASSERT_EQ(Run(kImportRsa), 0);
  // Another process imports the signer again and again, moving its key
  // between the two specs.
  std::string loop = "for i in 1 2 3 4 5; do " + CommandLine(kImportRsaSignature, 0) +
                     " || exit 1; " + CommandLine(kImportRsa, 0) + " || exit 1; done";
  const char* argv[] = {"/bin/sh", "-c", loop.c_str(), nullptr};
  pid_t importer = -1;
  ASSERT_EQ(posix_spawn(&importer, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ),
            0);
  std::atomic<bool> done{false};
  std::atomic<int> signed_ok{0}, failed{0};
  auto signer = [&] {
    while (!done.load()) {
      (SignAsZhangSan() == kOk ? signed_ok : failed).fetch_add(1);
    }
  };
  std::vector<std::thread> signers;
  for (int i = 0; i < 2; ++i) signers.emplace_back(signer);
  int status = 0;
  ::waitpid(importer, &status, 0);
  done = true;
  for (std::thread& t : signers) t.join();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(failed.load(), 0) << "of " << signed_ok.load() + failed.load() << " signatures";
  EXPECT_GT(signed_ok.load(), 10);
  EXPECT_EQ(ExpectEveryCertificateSigns(), 1);
}

}  // namespace
}  // namespace quillmark
