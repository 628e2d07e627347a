// quillmark store import and quillmark store demo, run as the real command
// against files made by the real openssl command.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/files.h"
#include "support/test_dirs.h"

namespace quillmark {
namespace {

using testing::RunShell;
using testing::RunShellCapture;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

class StoreKeysTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    files_ = new testing::ScratchDir();
    std::string script =
        "set -e; cd " + files_->path() +
        "; openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key"
        "; openssl req -new -x509 -key rsa.key -days 30 -out rsa.crt"
        "   -subj '/CN=Zhang San/OU=Personal/O=Demo Bank/C=CN'"
        "; openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out other.key"
        "; openssl genpkey -algorithm SM2 -out sm2.key"
        "; openssl req -new -x509 -key sm2.key -sm3 -sigopt distid:1234567812345678 -days 30"
        "   -subj '/CN=SM2 User/O=Demo Bank/C=CN' -out sm2.crt"
        "; openssl pkcs12 -export -inkey rsa.key -in rsa.crt -passout pass:secret -out rsa.p12"
        "; openssl pkcs12 -export -inkey sm2.key -in sm2.crt -passout pass:secret -out sm2.p12"
        "; openssl x509 -in rsa.crt -noout -fingerprint -sha1 | tr -d : | sed 's/.*=//' > rsa.thumb"
        "; openssl x509 -in sm2.crt -noout -fingerprint -sha1 | tr -d : | sed 's/.*=//' > sm2.thumb"
        "; echo 'just text' > notes.txt";
    ASSERT_EQ(RunShell("(" + script + ") >/dev/null 2>&1"), 0);
  }
  static void TearDownTestSuite() {
    delete files_;
    files_ = nullptr;
  }

  // Runs quillmark with this test's home; arguments are shell words.
  Result Run(const std::string& args) {
    Result r;
    std::string err_file = home_.File("stderr.txt");
    r.status = RunShellCapture("cd " + files_->path() + " && QUILLMARK_HOME=" + home_.path() +
                                   " " QM_CLI_PATH " " + args + " 2>" + err_file,
                               &r.out);
    Bytes err;
    platform::ReadWholeFile(err_file, &err);
    r.err = std::string(AsChars(err));
    platform::RemoveFile(err_file);
    return r;
  }

  static std::string Thumb(const std::string& name) {
    Bytes data;
    EXPECT_TRUE(platform::ReadWholeFile(files_->File(name + ".thumb"), &data));
    std::string text(AsChars(data));
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }

  // Objects of a JSON array as printed by store list --json (one per line).
  static std::vector<std::string> Rows(const std::string& json) {
    std::vector<std::string> rows;
    size_t pos = 0;
    while ((pos = json.find("{\"thumbprint\"", pos)) != std::string::npos) {
      size_t end = json.find('\n', pos);
      rows.push_back(json.substr(pos, end - pos));
      pos = end;
    }
    return rows;
  }

  static testing::ScratchDir* files_;
  testing::ScratchDir home_;
};

testing::ScratchDir* StoreKeysTest::files_ = nullptr;

TEST_F(StoreKeysTest, ImportsRsaAndSm2KeysInBothForms) {
  Result r = Run("store import MY rsa.p12 --password secret");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("imported " + Thumb("rsa") + " into MY"), std::string::npos) << r.out;
  r = Run("store import SM2 sm2.p12 --password secret --key-spec signature");
  ASSERT_EQ(r.status, 0) << r.err;
  // The same SM2 certificate from its PEM files into another store.
  r = Run("store import my --cert sm2.crt --key sm2.key --key-spec signature");
  ASSERT_EQ(r.status, 0) << r.err;

  r = Run("store list MY --json");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> rows = Rows(r.out);
  ASSERT_EQ(rows.size(), 2u) << r.out;
  std::string container = "\"container\":\"Quillmark-";
  std::string provider = "\"provider\":\"Quillmark Software Provider\"";
  for (const std::string& row : rows) {
    EXPECT_NE(row.find(container), std::string::npos) << row;
    EXPECT_NE(row.find(provider), std::string::npos) << row;
    bool sm2 = row.find(Thumb("sm2")) != std::string::npos;
    EXPECT_NE(row.find(sm2 ? "\"spec\":2}" : "\"spec\":1}"), std::string::npos) << row;
  }
  r = Run("store list SM2 --json");
  ASSERT_EQ(Rows(r.out).size(), 1u) << r.out;
  EXPECT_TRUE(
      platform::IsRegularFile(home_.File("keys/Quillmark-" + Thumb("sm2") + "/signature.pem")));
  EXPECT_TRUE(
      platform::IsRegularFile(home_.File("keys/Quillmark-" + Thumb("rsa") + "/exchange.pem")));
}

TEST_F(StoreKeysTest, BadInputsGetOneErrorLineAndWriteNothing) {
  struct Case {
    const char* args;
    const char* message;
  } cases[] = {
      {"store import MY rsa.p12 --password wrong", "wrong password for 'rsa.p12'"},
      {"store import MY rsa.p12", "'rsa.p12' is protected by a password (use --password)"},
      {"store import MY missing.p12 --password secret", "cannot read 'missing.p12'"},
      {"store import MY . --password secret", "cannot read '.'"},
      {"store import MY notes.txt --password secret", "'notes.txt' is not a PKCS#12 file"},
      {"store import MY rsa.crt --password secret", "'rsa.crt' is not a PKCS#12 file"},
      {"store import MY --cert rsa.key --key rsa.key", "'rsa.key' is not a certificate"},
      {"store import MY --cert notes.txt --key rsa.key", "'notes.txt' is not a certificate"},
      {"store import MY --cert rsa.crt --key rsa.crt", "'rsa.crt' holds no private key"},
      {"store import MY --cert rsa.crt --key other.key",
       "the private key in 'other.key' does not match the certificate"},
      {"store import MY --cert sm2.crt --key rsa.key",
       "the private key in 'rsa.key' does not match the certificate"},
      {"store import MY --cert rsa.crt --key gone.key", "cannot read 'gone.key'"},
      {"store import a/b rsa.p12 --password secret", "invalid store name 'a/b'"},
      {"store import .. rsa.p12 --password secret", "invalid store name '..'"},
      {"store import '' rsa.p12 --password secret", "invalid store name ''"},
      {"store import MY rsa.p12 --password secret --key-spec both",
       "unknown key spec 'both' (exchange or signature)"},
      {"store import MY rsa.p12 --password", "option --password needs a value"},
      {"store import MY rsa.p12 --pin 1", "unknown option '--pin'"},
      {"store import MY", "usage: quillmark store import"},
      {"store import MY rsa.p12 sm2.p12", "usage: quillmark store import"},
      {"store import MY rsa.p12 --cert rsa.crt --key rsa.key", "usage: quillmark store import"},
      {"store import MY --cert rsa.crt", "usage: quillmark store import"},
      {"store demo extra", "usage: quillmark store demo"},
  };
  for (const Case& c : cases) {
    Result r = Run(c.args);
    EXPECT_NE(r.status, 0) << c.args;
    std::string expected = std::string("quillmark store: ") + c.message;
    if (std::string_view(c.message).starts_with("usage:")) {
      EXPECT_TRUE(r.err.starts_with(expected)) << c.args << ": " << r.err;
    } else {
      EXPECT_EQ(r.err, expected + "\n") << c.args;
    }
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.args << ": " << r.err;
    EXPECT_TRUE(r.out.empty()) << c.args;
  }
  EXPECT_TRUE(platform::ListDirectory(home_.File("keys")).empty());
  EXPECT_TRUE(platform::ListDirectory(home_.File("stores/MY")).empty());
}

TEST_F(StoreKeysTest, PasswordComesFromADescriptorOrTheOptionOnce) {
  ASSERT_TRUE(platform::WriteFileAtomically(home_.File("right"), AsBytes("secret\n")));
  ASSERT_TRUE(platform::WriteFileAtomically(home_.File("wrong"), AsBytes("Secret\n")));
  ASSERT_EQ(RunShell("truncate -s 16777217 " + files_->File("big.p12")), 0);
  Result r = Run("store import MY rsa.p12 --password-fd 3 3<" + home_.File("right"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("imported " + Thumb("rsa") + " into MY"), std::string::npos) << r.out;
  // Standard input works as the descriptor too, and for a key file.
  r = Run("store import CA --cert sm2.crt --key sm2.key --password-fd 0 <" + home_.File("right"));
  ASSERT_EQ(r.status, 0) << r.err;

  struct Case {
    std::string args;
    std::string message;
  } cases[] = {
      {"store import AB rsa.p12 --password-fd 3 3<" + home_.File("wrong"),
       "wrong password for 'rsa.p12'"},
      {"store import AB rsa.p12 --password-fd 7",
       "cannot read a password from descriptor 7"
       " (one line, at most 4096 bytes)"},
      {"store import AB rsa.p12 --password-fd three", "'three' is not a file descriptor"},
      {"store import AB rsa.p12 --password-fd -1", "'-1' is not a file descriptor"},
      {"store import AB rsa.p12 --password secret --password-fd 0", "give the password only once"},
      {"store import AB rsa.p12 --password-fd", "option --password-fd needs a value"},
      {"store import AB big.p12 --password secret", "'big.p12' is larger than 16 MB"},
  };
  for (const Case& c : cases) {
    r = Run(c.args + " </dev/null");
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(r.err, "quillmark store: " + c.message + "\n") << c.args;
  }
  EXPECT_FALSE(platform::IsDirectory(home_.File("stores/AB")));
}

TEST_F(StoreKeysTest, AtATerminalThePasswordIsAskedForWithoutEcho) {
  if (RunShell("command -v script >/dev/null") != 0) GTEST_SKIP() << "no script(1) for a terminal";
  // script(1) runs the command on a terminal of its own and types for it.
  auto at_terminal = [&](const std::string& typed, std::string* screen) {
    return RunShellCapture("cd " + files_->path() + " && (sleep 1; printf '" + typed +
                               "\\n') | QUILLMARK_HOME=" + home_.path() +
                               " script -qec '" QM_CLI_PATH " store import MY rsa.p12' /dev/null",
                           screen);
  };
  std::string screen;
  EXPECT_NE(at_terminal("Secret", &screen), 0);
  EXPECT_NE(screen.find("password for rsa.p12: "), std::string::npos) << screen;
  EXPECT_NE(screen.find("wrong password for 'rsa.p12'"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("Secret"), std::string::npos) << screen;
  ASSERT_EQ(at_terminal("secret", &screen), 0) << screen;
  EXPECT_EQ(screen.find("secret"), std::string::npos) << screen;
  EXPECT_NE(screen.find("imported " + Thumb("rsa") + " into MY"), std::string::npos) << screen;
}

TEST_F(StoreKeysTest, RemovingACertificateRemovesItsKeyUnlessAnotherUsesIt) {
  const std::string container = "Quillmark-" + Thumb("rsa");
  ASSERT_EQ(Run("store import MY rsa.p12 --password secret").status, 0);
  ASSERT_EQ(Run("store import AddressBook rsa.p12 --password secret").status, 0);
  Result r = Run("store remove MY " + Thumb("rsa"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "removed certificate " + Thumb("rsa") + "\n");
  EXPECT_TRUE(platform::IsRegularFile(home_.File("keys/" + container + "/exchange.pem")));
  r = Run("store remove AddressBook " + Thumb("rsa"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "removed certificate " + Thumb("rsa") + "\nremoved key container " + container + "\n");
  EXPECT_FALSE(platform::IsDirectory(home_.File("keys/" + container)));
  // A certificate without a key, and one whose key belongs to nobody's
  // container, are removed alone.
  ASSERT_EQ(Run("store add CA rsa.crt").status, 0);
  r = Run("store remove CA " + Thumb("rsa"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "removed certificate " + Thumb("rsa") + "\n");
}

// Run in the home after `store demo`: one line "subject|verify output" per
// certificate of MY (and one for the SM2 CA). openssl verify applies the SM2
// user ID to the certificate it checks only, so the SM2 links are checked
// one at a time.
constexpr char kVerifyDemoChains[] =
    "sm2() { openssl x509 -in $1 -noout -text | grep -q SM2-with-SM3; }"
    "; for f in stores/ROOT/*.cer stores/CA/*.cer; do openssl x509 -inform DER -in $f -out c.pem"
    ";   if ! sm2 c.pem; then cat c.pem >> chain.pem"
    ";   elif [ ${f#stores/CA} != $f ]; then cp c.pem sm2ca.pem; else cp c.pem sm2root.pem; fi"
    "; done"
    "; for f in stores/ROOT/*.crl stores/CA/*.crl; do"
    "   openssl crl -inform DER -in $f >> chain.pem; done"
    "; id='-vfyopt distid:1234567812345678'"
    "; echo \"sm2 CA|$(openssl verify $id -CAfile sm2root.pem sm2ca.pem 2>&1 | tr '\\n' ' ')\""
    "; for f in stores/MY/*.cer; do openssl x509 -inform DER -in $f -out u.pem"
    ";   subject=$(openssl x509 -in u.pem -noout -subject -nameopt utf8,sep_comma_plus_space)"
    ";   if sm2 u.pem; then check=\"$id -partial_chain -CAfile sm2ca.pem\""
    ";   else check='-crl_check_all -CAfile chain.pem'; fi"
    ";   result=$(openssl verify $check u.pem 2>&1 | tr '\\n' ' ' || true)"
    ";   echo \"$subject|$result\"; done";

class StoreDemoTest : public StoreKeysTest {
 protected:
  void SetUp() override {
    StoreKeysTest::SetUp();
    Result first = Run("store demo");
    ASSERT_EQ(first.status, 0) << first.err;
    Result my = Run("store list MY --json");
    ASSERT_EQ(my.status, 0) << my.err;
    my_ = my.out;
  }
  std::string my_;  // store list MY --json after the first run
};

TEST_F(StoreDemoTest, DemoFillsTheStoresWithUsersKeysAndRecipients) {
  std::vector<std::string> rows = Rows(my_);
  ASSERT_EQ(rows.size(), 4u) << my_;
  for (const char* who :
       {"CN=张三, OU=Personal, O=Demo Bank, C=CN", "CN=Li Si, OU=Corporate, O=Demo Bank, C=CN",
        "CN=王五, OU=Personal, O=Demo Bank, C=CN", "CN=赵六, OU=Personal, O=Demo Bank, C=CN"}) {
    EXPECT_NE(my_.find(std::string("\"subject\":\"") + who + "\""), std::string::npos) << who;
  }
  for (const std::string& row : rows) {
    EXPECT_NE(row.find("\"key\":{\"container\":\"Quillmark-"), std::string::npos) << row;
  }
  EXPECT_NE(my_.find("\"spec\":1}"), std::string::npos);
  EXPECT_NE(my_.find("\"spec\":2}"), std::string::npos);
  Result sm2 = Run("store list SM2 --json");
  ASSERT_EQ(Rows(sm2.out).size(), 1u);
  EXPECT_NE(sm2.out.find("\"issuer\":\"CN=Demo Bank SM2 Customer CA"), std::string::npos);
  Result book = Run("store list AddressBook --json");
  EXPECT_EQ(Rows(book.out).size(), 4u);
  EXPECT_EQ(book.out.find("\"key\":{"), std::string::npos) << book.out;
}

// openssl accepts the chains and sees the revocation in the CRL.
TEST_F(StoreDemoTest, OpensslAcceptsTheChainsAndSeesTheRevocation) {
  std::string out;
  ASSERT_EQ(
      RunShellCapture("(set -e; cd " + home_.path() + "; " + kVerifyDemoChains + ") 2>&1", &out), 0)
      << out;
  struct Expect {
    const char* subject;
    const char* result;
  } expects[] = {
      {"sm2 CA|", "sm2ca.pem: OK"},
      {"subject=CN=张三, OU=Personal, O=Demo Bank, C=CN|", "u.pem: OK"},
      {"subject=CN=Li Si, OU=Corporate, O=Demo Bank, C=CN|", "u.pem: OK"},
      {"subject=CN=赵六, OU=Personal, O=Demo Bank, C=CN|", "u.pem: OK"},
      {"subject=CN=王五, OU=Personal, O=Demo Bank, C=CN|", "certificate revoked"},
  };
  for (const Expect& e : expects) {
    size_t at = out.find(e.subject);
    ASSERT_NE(at, std::string::npos) << e.subject << "\n" << out;
    std::string line = out.substr(at, out.find('\n', at) - at);
    EXPECT_NE(line.find(e.result), std::string::npos) << line;
  }
}

// A second run replaces the first: same counts, none of the old objects.
TEST_F(StoreDemoTest, ASecondRunReplacesTheFirst) {
  std::vector<std::string> rows = Rows(my_);
  ASSERT_EQ(rows.size(), 4u) << my_;
  Result second = Run("store demo");
  ASSERT_EQ(second.status, 0) << second.err;
  Result my2 = Run("store list MY --json");
  ASSERT_EQ(Rows(my2.out).size(), 4u);
  for (const std::string& row : rows) {
    std::string thumb = row.substr(15, 40);
    EXPECT_EQ(my2.out.find(thumb), std::string::npos) << thumb;
  }
  EXPECT_EQ(platform::ListDirectory(home_.File("keys")).size(), 4u);
  EXPECT_EQ(platform::ListDirectory(home_.File("stores/ROOT")).size(), 3u);  // 2 roots, 1 CRL
  EXPECT_EQ(platform::ListDirectory(home_.File("stores/CA")).size(), 3u);    // 2 CAs, 1 CRL
  EXPECT_EQ(Rows(Run("store list AddressBook --json").out).size(), 4u);
}

}  // namespace
}  // namespace quillmark
