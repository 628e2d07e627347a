// Every use of a private key by the Windows key and message backends, for
// a web page's caller, waits for the user's word: with no one to answer (no
// dialogs, an empty script) each is refused as cancelled by the user and
// gives nothing back; a scripted confirmation lets it go on, and a local
// caller is never asked. The same rule the Linux backends follow, against
// the system's crypt32 under wine.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/keys/cert_private_key.h"
#include "platform/keys/hash.h"
#include "platform/keys/key_match.h"
#include "platform/keys/key_provider.h"
#include "platform/keys/sign_verify.h"
#include "platform/message/message.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_store.h"
#include "platform/ui/dialog_factory.h"
#include "platform/ui/script_host.h"
#include "win/win_test_pki.h"

namespace quillmark::platform {
namespace {

using qmwintest::CertProfile;
using qmwintest::RunningUnderWine;
using qmwintest::SystemCertPtr;
using qmwintest::TestContainer;
using qmwintest::TestStore;
using ui::DialogHost;

constexpr char16_t kOrigin[] = u"https://bank.example";
const Bytes kContent = {'p', 'a', 'y', ' ', '1', '0', '0', ' ', 't', 'o', ' ', 'B', 'o', 'b'};

// Starts a member call on |host| that is about to use a key on |content|.
// The call's content is what the control hands to the engine; a host that
// checks it against what a backend signs is given it here.
void StartCall(DialogHost& host, ByteSpan content) {
  host.BeginCall();
  ui::KeyUseReview review;
  review.text = u"pay 100 to Bob";
  review.text_units = review.text.size();
  review.byte_count = content.size();
  host.StageKeyUse(std::move(review), content);
}

class KeyUseWinTest : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(key_.ok()) << ::GetLastError();
    ASSERT_NE(store_.get(), nullptr);
    CertProfile profile;
    profile.subject = L"CN=Quillmark Key Use, O=Quillmark Tests";
    profile.key_usage = CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_KEY_ENCIPHERMENT_KEY_USAGE;
    SystemCertPtr made(qmwintest::MakeCertificate(key_, profile, key_, nullptr));
    ASSERT_NE(made, nullptr) << std::hex << ::GetLastError();
    signer_ = store_.Add(made.get());
    ASSERT_NE(signer_, nullptr);
    // Encrypting uses no private key: the envelope is made before any host.
    CryptEncryptMessagePara para;
    ASSERT_TRUE(CryptEncryptMessage(para, std::span(&signer_, 1), kContent, &envelope_))
        << std::hex << GetLastError();
    stores_.push_back(CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding,
                                    kCertSystemStoreCurrentUser, store_.name16()));
    ASSERT_TRUE(stores_[0].is_open());
  }
  void TearDown() override { ui::SetCurrentDialogHost(nullptr); }

  // Makes |host| the current one, serving |origin| (empty: a local caller).
  DialogHost& Use(std::unique_ptr<DialogHost> host, std::u16string origin) {
    DialogHost& current = *host;
    current.SetCallerOrigin(std::move(origin));
    StartCall(current, kContent);
    ui::SetCurrentDialogHost(std::move(host));
    return current;
  }

  CryptSignMessagePara SignPara() const {
    CryptSignMessagePara para;
    para.signing_cert = signer_;
    para.hash_algorithm_oid = kOidSha256;
    para.msg_certs = {signer_};
    return para;
  }
  CryptDecryptMessagePara OpenPara() const {
    CryptDecryptMessagePara para;
    para.cert_stores = stores_;
    return para;
  }

  static constexpr char16_t kContainer[] = u"QuillmarkKeyUseWinTest";
  static constexpr char16_t kProvider[] = u"Microsoft Enhanced RSA and AES Cryptographic Provider";
  TestContainer key_{L"QuillmarkKeyUseWinTest"};
  TestStore store_{L"QuillmarkKeyUseWinTest"};
  CertContextPtr signer_;
  Bytes envelope_;
  std::vector<CertStore> stores_;
};

// One way a backend uses the signer's private key; false with the last
// error set when it did not, |out| the signature or the content.
struct KeyUseCase {
  const char* name;
  std::function<bool(KeyUseWinTest*, Bytes*)> use;
  const char* wine_lacks;  // the system call wine does not have, or null
};

class KeyUses : public KeyUseWinTest {
 protected:
  // Signs the SHA-256 hash of kContent with the key of |prov|.
  static bool SignContentHash(ProvHandle prov, std::uint32_t key_spec, Bytes* out) {
    HashHandle hash;
    if (!CryptCreateHash(*prov, kCalgSha256, nullptr, 0, &hash) ||
        !CryptHashData(*hash, kContent, 0)) {
      ADD_FAILURE() << "no hash to sign: " << std::hex << GetLastError();
      return false;
    }
    const bool signed_ = CryptSignHashW(*hash, key_spec, u"", 0, out);
    // Freeing the handles sets the system's last error: keep the call's.
    const std::uint32_t error = GetLastError();
    hash.reset();
    prov.reset();
    SetLastError(error);
    return signed_;
  }
  // |c| goes on once the user confirms, asking once.
  void ExpectConfirmed(const KeyUseCase& c) {
    DialogHost& host = Use(std::make_unique<ui::ScriptDialogHost>("confirm\n"), kOrigin);
    Bytes out;
    EXPECT_TRUE(c.use(this, &out)) << std::hex << GetLastError();
    EXPECT_FALSE(out.empty());
    std::vector<ui::DialogReport> reports = host.TakeReports();
    ASSERT_EQ(reports.size(), 1u) << "one confirmation, asked once";
    EXPECT_EQ(reports[0].kind, ui::DialogKind::kConfirm);
    EXPECT_EQ(reports[0].answer, u"confirm");
  }
  std::vector<KeyUseCase> Cases() {
    return {
        {"CryptSignMessage",
         [](KeyUseWinTest* t, Bytes* out) {
           return CryptSignMessage(t->SignPara(), false, kContent, out);
         },
         nullptr},
        {"CryptSignHashW",
         [](KeyUseWinTest* t, Bytes* out) {
           ProvHandle prov;
           std::uint32_t key_spec = 0;
           if (!CryptAcquireCertificatePrivateKey(*t->signer_, kCryptAcquireCompareKeyFlag, &prov,
                                                  &key_spec)) {
             ADD_FAILURE() << "no key: " << std::hex << GetLastError();
             return false;
           }
           return SignContentHash(std::move(prov), key_spec, out);
         },
         nullptr},
        // As the raw and Advance signers open it: by its container's name,
        // then matched against the certificate, which names the key's owner.
        {"CryptSignHashW on a container opened by name",
         [](KeyUseWinTest* t, Bytes* out) {
           ProvHandle prov;
           if (!CryptAcquireContextW(&prov, kContainer, kProvider, kProvRsaFull, 0) ||
               !CryptKeyMatchesCertificate(*prov, kAtKeyExchange, *t->signer_)) {
             ADD_FAILURE() << "no key: " << std::hex << GetLastError();
             return false;
           }
           return SignContentHash(std::move(prov), kAtKeyExchange, out);
         },
         nullptr},
        {"CryptDecryptMessage",
         [](KeyUseWinTest* t, Bytes* out) {
           auto* self = t;
           return CryptDecryptMessage(self->OpenPara(), self->envelope_, out, nullptr);
         },
         "CryptDecryptMessage"},
        {"CryptSignAndEncryptMessage",
         [](KeyUseWinTest* t, Bytes* out) {
           auto* self = t;
           CryptEncryptMessagePara encrypt;
           return CryptSignAndEncryptMessage(self->SignPara(), encrypt,
                                             std::span(&self->signer_, 1), kContent, out);
         },
         "CryptSignAndEncryptMessage"},
        {"CryptDecryptAndVerifyMessageSignature",
         [](KeyUseWinTest* t, Bytes* out) {
           auto* self = t;
           // Refused before the envelope is opened, so any envelope for the
           // signer will do.
           return CryptDecryptAndVerifyMessageSignature(self->OpenPara(), CryptVerifyMessagePara(),
                                                        0, self->envelope_, out, nullptr, nullptr);
         },
         "CryptDecryptAndVerifyMessageSignature"},
    };
  }
};

TEST_F(KeyUses, WithNoOneToAnswerEveryKeyUseOfAPageIsCancelledAndGivesNothing) {
  struct Host {
    const char* name;
    std::function<std::unique_ptr<DialogHost>()> make;
  };
  const Host hosts[] = {
      {"none", [] { return std::make_unique<ui::NoDialogHost>(); }},
      {"an empty script", [] { return std::make_unique<ui::ScriptDialogHost>(""); }},
      {"a script that cancels", [] { return std::make_unique<ui::ScriptDialogHost>("cancel\n"); }},
  };
  for (const Host& host : hosts) {
    for (const KeyUseCase& c : Cases()) {
      SCOPED_TRACE(std::string(host.name) + ": " + c.name);
      Use(host.make(), kOrigin);
      Bytes out = {1, 2, 3};
      SetLastError(0);
      EXPECT_FALSE(c.use(this, &out));
      EXPECT_EQ(GetLastError(), kScardWCancelledByUser);
      EXPECT_TRUE(out.empty());
    }
  }
}

TEST_F(KeyUses, AScriptedConfirmationLetsTheSignaturesGo) {
  for (const KeyUseCase& c : Cases()) {
    if (c.wine_lacks != nullptr) continue;  // the next test
    SCOPED_TRACE(c.name);
    ExpectConfirmed(c);
  }
}

TEST_F(KeyUses, AScriptedConfirmationLetsTheEnvelopesOpen) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "wine lacks CryptDecryptMessage, CryptSignAndEncryptMessage and "
                    "CryptDecryptAndVerifyMessageSignature";
  }
  for (const KeyUseCase& c : Cases()) {
    if (c.wine_lacks == nullptr) continue;
    SCOPED_TRACE(c.name);
    ExpectConfirmed(c);
  }
}

TEST_F(KeyUses, ALocalCallerIsNeverAsked) {
  for (const KeyUseCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    if (c.wine_lacks != nullptr && RunningUnderWine()) continue;
    DialogHost& host = Use(std::make_unique<ui::NoDialogHost>(), u"");
    Bytes out;
    EXPECT_TRUE(c.use(this, &out)) << std::hex << GetLastError();
    EXPECT_FALSE(out.empty());
    EXPECT_TRUE(host.TakeReports().empty());
  }
}

TEST_F(KeyUseWinTest, AnEnvelopeForNoKeyHereAsksNothing) {
  if (RunningUnderWine()) GTEST_SKIP() << "wine lacks CryptDecryptMessage";
  // The stores hold no recipient of the envelope: no key would be used, so
  // the person is not asked and the system's own error stands.
  TestStore empty{L"QuillmarkKeyUseWinTestEmpty"};
  const CertStore stores[] = {CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding,
                                            kCertSystemStoreCurrentUser, empty.name16())};
  ASSERT_TRUE(stores[0].is_open());
  CryptDecryptMessagePara para;
  para.cert_stores = stores;
  DialogHost& host = Use(std::make_unique<ui::NoDialogHost>(), kOrigin);
  Bytes out;
  EXPECT_FALSE(CryptDecryptMessage(para, envelope_, &out, nullptr));
  EXPECT_NE(GetLastError(), kScardWCancelledByUser);
  EXPECT_TRUE(host.TakeReports().empty());
}

}  // namespace
}  // namespace quillmark::platform
