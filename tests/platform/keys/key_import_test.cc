// Importing certificates with keys from files made by the openssl command,
// and finding a certificate's key again through its key-provider property.
#include "platform/keys/key_import.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/keys/cert_private_key.h"
#include "platform/keys/hash.h"
#include "platform/keys/sign_verify.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "support/test_dirs.h"

namespace quillmark::platform {
namespace {

// Keys, certificates and PKCS#12 files made once by the openssl command.
class KeyImportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    files_ = new testing::ScratchDir();
    std::string script =
        "set -e; cd " + files_->path() +
        "; openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key"
        "; openssl req -new -x509 -key rsa.key -subj '/CN=Zhang San/O=Demo Bank/C=CN' -days 30"
        "   -out rsa.crt"
        "; openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out other.key"
        "; openssl req -new -x509 -key other.key -subj '/CN=Other' -days 30 -out other.crt"
        "; openssl genpkey -algorithm SM2 -out sm2.key"
        "; openssl req -new -x509 -key sm2.key -sm3 -sigopt distid:1234567812345678"
        "   -subj '/CN=SM2 User/O=Demo Bank/C=CN' -days 30 -out sm2.crt"
        "; openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out p256.key"
        "; openssl req -new -x509 -key p256.key -subj '/CN=P256' -days 30 -out p256.crt"
        "; openssl pkcs12 -export -inkey rsa.key -in rsa.crt -passout pass:secret -out rsa.p12"
        "; openssl pkcs12 -export -inkey rsa.key -in rsa.crt -certfile other.crt"
        "   -passout pass:secret -out rsa-chain.p12"
        "; openssl pkcs12 -export -legacy -inkey rsa.key -in rsa.crt -passout pass:old"
        "   -out rsa-legacy.p12"
        "; openssl pkcs12 -export -inkey rsa.key -in rsa.crt -passout pass: -out rsa-empty.p12"
        "; openssl pkcs12 -export -inkey sm2.key -in sm2.crt -passout pass:secret -out sm2.p12"
        "; openssl pkcs12 -export -inkey p256.key -in p256.crt -passout pass:x -out p256.p12"
        "; openssl pkcs12 -export -nokeys -in rsa.crt -passout pass:x -out nokey.p12"
        "; openssl pkcs8 -topk8 -in rsa.key -v2 aes-256-cbc -passout pass:kpw -out rsa-enc.key"
        "; openssl pkcs8 -topk8 -in rsa.key -v2 aes-256-cbc -passout pass:kpw -outform DER"
        "   -out rsa-enc.der"
        "; openssl pkey -in sm2.key -outform DER -out sm2.der"
        "; openssl x509 -in rsa.crt -outform DER -out rsa.cer"
        "; cat other.crt rsa.crt > chain.pem"
        "; cat rsa.crt rsa.key > both.pem";
    ASSERT_EQ(testing::RunShell("(" + script + ") >/dev/null 2>&1"), 0);
  }
  static void TearDownTestSuite() {
    delete files_;
    files_ = nullptr;
  }

  void SetUp() override { SetQuillmarkHome(home_.path()); }
  void TearDown() override { SetQuillmarkHome(""); }

  static Bytes Read(const std::string& name) {
    Bytes data;
    EXPECT_TRUE(ReadWholeFile(files_->File(name), &data)) << name;
    return data;
  }

  static ImportError Pkcs12(const std::string& name, std::string_view password,
                            CertificateWithKey* out) {
    return ReadPkcs12(Read(name), password, out);
  }

  static ImportError Pair(const std::string& cert, const std::string& key,
                          std::string_view password, CertificateWithKey* out) {
    return ReadCertificateAndKey(Read(cert), Read(key), password, out);
  }

  // Signs with the certificate's key through its property and checks the
  // signature against the certificate's own public key.
  static void ExpectSignsForItself(const CertContext& cert, std::uint32_t algid) {
    ProvHandle prov;
    std::uint32_t spec = 0;
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(cert, kCryptAcquireCompareKeyFlag, &prov, &spec))
        << std::hex << GetLastError();
    HashHandle hash;
    ASSERT_TRUE(CryptCreateHash(*prov, algid, nullptr, 0, &hash));
    ASSERT_TRUE(CryptHashData(*hash, AsBytes("abc"), 0));
    Bytes sig;
    ASSERT_TRUE(CryptSignHashW(*hash, spec, u"", 0, &sig)) << std::hex << GetLastError();
    ProvHandle verifier;
    ASSERT_TRUE(CryptAcquireContextW(&verifier, u"", u"", kProvRsaFull, 0));
    KeyHandle key;
    ASSERT_TRUE(
        CryptImportPublicKeyInfo(*verifier, kDefaultEncoding, cert.public_key_info_der(), &key));
    HashHandle check;
    ASSERT_TRUE(CryptCreateHash(*verifier, algid, nullptr, 0, &check));
    ASSERT_TRUE(CryptHashData(*check, AsBytes("abc"), 0));
    EXPECT_TRUE(CryptVerifySignatureW(*check, sig, *key, u"", 0)) << std::hex << GetLastError();
  }

  static testing::ScratchDir* files_;
  testing::ScratchDir home_;
};

testing::ScratchDir* KeyImportTest::files_ = nullptr;

TEST_F(KeyImportTest, Pkcs12FilesFromOpensslAreRead) {
  struct Row {
    const char* file;
    const char* password;
    const char* cert;
  } rows[] = {
      {"rsa.p12", "secret", "rsa.cer"},
      {"rsa-chain.p12", "secret", "rsa.cer"},  // the extra certificate is not the key's
      {"rsa-legacy.p12", "old", "rsa.cer"},    // RC2/3DES
      {"rsa-empty.p12", "", "rsa.cer"},
      {"sm2.p12", "secret", nullptr},
  };
  for (const Row& row : rows) {
    CertificateWithKey got;
    ASSERT_EQ(Pkcs12(row.file, row.password, &got), ImportError::kNone) << row.file;
    if (row.cert != nullptr) {
      EXPECT_EQ(got.cert_der, Read(row.cert)) << row.file;
    }
    EXPECT_FALSE(got.pkcs8_der.empty());
  }
  CertificateWithKey got;
  EXPECT_EQ(Pkcs12("rsa.p12", "Secret", &got), ImportError::kWrongPassword);
  EXPECT_EQ(Pkcs12("rsa.p12", "", &got), ImportError::kWrongPassword);
  EXPECT_EQ(Pkcs12("rsa-legacy.p12", "secret", &got), ImportError::kWrongPassword);
  EXPECT_EQ(Pkcs12("rsa.crt", "secret", &got), ImportError::kNotPkcs12);
  EXPECT_EQ(Pkcs12("rsa.cer", "secret", &got), ImportError::kNotPkcs12);
  EXPECT_EQ(Pkcs12("nokey.p12", "x", &got), ImportError::kNoPrivateKey);
  EXPECT_EQ(Pkcs12("p256.p12", "x", &got), ImportError::kUnsupportedKey);
  Bytes cut = Read("rsa.p12");
  cut.resize(cut.size() / 2);
  EXPECT_EQ(ReadPkcs12(cut, "secret", &got), ImportError::kNotPkcs12);
}

TEST_F(KeyImportTest, CertificateAndKeyFilesAreMatched) {
  CertificateWithKey got;
  EXPECT_EQ(Pair("rsa.crt", "rsa.key", "", &got), ImportError::kNone);
  EXPECT_EQ(got.cert_der, Read("rsa.cer"));
  // The key's certificate is picked out of a chain, in any position.
  CertificateWithKey from_chain;
  EXPECT_EQ(Pair("chain.pem", "rsa.key", "", &from_chain), ImportError::kNone);
  EXPECT_EQ(from_chain.cert_der, Read("rsa.cer"));
  EXPECT_EQ(Pair("rsa.cer", "both.pem", "", &got), ImportError::kNone);
  EXPECT_EQ(Pair("both.pem", "both.pem", "", &got), ImportError::kNone);
  EXPECT_EQ(Pair("rsa.cer", "rsa-enc.key", "kpw", &got), ImportError::kNone);
  EXPECT_EQ(Pair("rsa.cer", "rsa-enc.der", "kpw", &got), ImportError::kNone);
  EXPECT_EQ(Pair("sm2.crt", "sm2.der", "", &got), ImportError::kNone);

  EXPECT_EQ(Pair("rsa.crt", "other.key", "", &got), ImportError::kKeyMismatch);
  EXPECT_EQ(Pair("sm2.crt", "rsa.key", "", &got), ImportError::kKeyMismatch);
  EXPECT_EQ(Pair("rsa.cer", "rsa-enc.key", "wrong", &got), ImportError::kWrongPassword);
  EXPECT_EQ(Pair("rsa.cer", "rsa-enc.key", "", &got), ImportError::kWrongPassword);
  EXPECT_EQ(Pair("rsa.cer", "rsa-enc.der", "wrong", &got), ImportError::kWrongPassword);
  EXPECT_EQ(Pair("rsa.key", "rsa.key", "", &got), ImportError::kNotCertificate);
  EXPECT_EQ(Pair("rsa.p12", "rsa.key", "", &got), ImportError::kNotCertificate);
  EXPECT_EQ(Pair("rsa.cer", "rsa.crt", "", &got), ImportError::kNoPrivateKey);
  EXPECT_EQ(Pair("p256.crt", "p256.key", "", &got), ImportError::kUnsupportedKey);
}

TEST_F(KeyImportTest, ImportedCertificatesSignThroughTheirProperty) {
  CertStore my =
      CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, kCertSystemStoreCurrentUser, u"MY");
  ASSERT_TRUE(my.is_open());
  CertificateWithKey rsa, sm2;
  ASSERT_EQ(Pkcs12("rsa.p12", "secret", &rsa), ImportError::kNone);
  ASSERT_EQ(Pkcs12("sm2.p12", "secret", &sm2), ImportError::kNone);

  CertContextPtr rsa_cert, sm2_cert;
  ASSERT_EQ(ImportCertificateWithKey(my, rsa, kAtKeyExchange, &rsa_cert), ImportError::kNone);
  ASSERT_EQ(ImportCertificateWithKey(my, sm2, kAtSignature, &sm2_cert), ImportError::kNone);
  ExpectSignsForItself(*rsa_cert, kCalgSha1);
  ExpectSignsForItself(*sm2_cert, kCalgSm3);

  // A fresh read of the store sees the property.
  CertStore again =
      CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, kCertSystemStoreCurrentUser, u"my");
  CertContextPtr found = CertFindCertificateInStore(again, kDefaultEncoding, 0, kCertFindSha1Hash,
                                                    ByteSpan(sm2_cert->sha1()), nullptr);
  ASSERT_NE(found, nullptr);
  std::optional<KeyProvInfo> info = found->key_prov_info();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->container, ImportContainerName(sm2_cert->thumbprint()));
  EXPECT_EQ(info->provider, kSoftwareProviderName);
  EXPECT_EQ(info->key_spec, kAtSignature);
  EXPECT_TRUE(
      IsRegularFile(home_.File("keys/Quillmark-" + sm2_cert->thumbprint() + "/signature.pem")));

  // Importing again replaces the container: the old spec's file is gone.
  ASSERT_EQ(ImportCertificateWithKey(my, sm2, kAtKeyExchange, &sm2_cert), ImportError::kNone);
  EXPECT_EQ(ListDirectory(home_.File("keys/Quillmark-" + sm2_cert->thumbprint())),
            std::vector<std::string>{"exchange.pem"});
  ExpectSignsForItself(*sm2_cert, kCalgSm3);
  int count = 0;
  for (CertContextPtr c = CertEnumCertificatesInStore(again, nullptr); c;
       c = CertEnumCertificatesInStore(again, c)) {
    ++count;
  }
  EXPECT_EQ(count, 2);
}

TEST_F(KeyImportTest, PrivateKeyLookupReportsEachMissingPiece) {
  CertContextPtr cert = CertCreateCertificateContext(kDefaultEncoding, Read("rsa.cer"));
  ASSERT_NE(cert, nullptr);
  ProvHandle prov;
  std::uint32_t spec = 0;
  SetLastError(0);
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(*cert, 0, &prov, &spec));
  EXPECT_EQ(GetLastError(), kCryptENoKeyProperty);

  KeyProvInfo info;
  info.container = u"missing";
  info.provider = std::u16string(kMsEnhancedProviderName);
  info.key_spec = kAtSignature;
  ASSERT_TRUE(CertSetCertificateContextProperty(*cert, kCertKeyProvInfoPropId, 0, &info));
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(*cert, 0, &prov, &spec));
  EXPECT_EQ(GetLastError(), kNteBadKeyset);

  // A container with another certificate's key under the wrong spec first.
  ProvHandle other;
  ASSERT_TRUE(CryptAcquireContextW(&other, u"missing", u"", kProvRsaFull, kCryptNewKeyset));
  CertificateWithKey other_pair;
  ASSERT_EQ(Pair("other.crt", "other.key", "", &other_pair), ImportError::kNone);
  ASSERT_TRUE(ImportPrivateKeyInfo(*other, kAtKeyExchange, other_pair.pkcs8_der));
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(*cert, 0, &prov, &spec));
  EXPECT_EQ(GetLastError(), kNteNoKey);
  ASSERT_TRUE(ImportPrivateKeyInfo(*other, kAtSignature, other_pair.pkcs8_der));
  // Without the compare flag the container is handed out as it is.
  EXPECT_TRUE(CryptAcquireCertificatePrivateKey(*cert, 0, &prov, &spec));
  EXPECT_EQ(spec, kAtSignature);
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(*cert, kCryptAcquireCompareKeyFlag, &prov, &spec));
  EXPECT_EQ(GetLastError(), kNteBadPublicKey);
  EXPECT_EQ(prov, nullptr);

  info.provider = u"Some Token CSP";
  ASSERT_TRUE(CertSetCertificateContextProperty(*cert, kCertKeyProvInfoPropId, 0, &info));
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(*cert, 0, &prov, &spec));
  EXPECT_EQ(GetLastError(), kNteKeysetNotDef);
}

TEST_F(KeyImportTest, ReimportKeepsTheKeyEveryCopyOfTheCertificateNames) {
  CertStore my =
      CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, kCertSystemStoreCurrentUser, u"MY");
  CertStore book = CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding,
                                 kCertSystemStoreCurrentUser, u"AddressBook");
  CertificateWithKey rsa;
  ASSERT_EQ(Pkcs12("rsa.p12", "secret", &rsa), ImportError::kNone);
  CertContextPtr in_my, in_book;
  ASSERT_EQ(ImportCertificateWithKey(my, rsa, kAtKeyExchange, &in_my), ImportError::kNone);
  const std::string folder = home_.File("keys/Quillmark-" + in_my->thumbprint());
  struct stat before;
  ASSERT_EQ(::stat(folder.c_str(), &before), 0);
  // The same certificate into another store under the other spec: the
  // first copy's key stays, since that copy still names it.
  ASSERT_EQ(ImportCertificateWithKey(book, rsa, kAtSignature, &in_book), ImportError::kNone);
  EXPECT_EQ(ListDirectory(folder), (std::vector<std::string>{"exchange.pem", "signature.pem"}));
  ExpectSignsForItself(*in_my, kCalgSha1);
  ExpectSignsForItself(*in_book, kCalgSha1);
  // Moving MY's copy to the signature key too frees the exchange key.
  ASSERT_EQ(ImportCertificateWithKey(my, rsa, kAtSignature, &in_my), ImportError::kNone);
  EXPECT_EQ(ListDirectory(folder), std::vector<std::string>{"signature.pem"});
  ExpectSignsForItself(*in_my, kCalgSha1);
  // The container was kept throughout, never made anew.
  struct stat after;
  ASSERT_EQ(::stat(folder.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);

  bool in_use = false;
  ASSERT_TRUE(SoftwareContainerInUse(ImportContainerName(in_my->thumbprint()), 0, &in_use));
  EXPECT_TRUE(in_use);
  ASSERT_TRUE(
      SoftwareContainerInUse(ImportContainerName(in_my->thumbprint()), kAtKeyExchange, &in_use));
  EXPECT_FALSE(in_use);
}

TEST_F(KeyImportTest, SignersHoldingTheOldPropertyFollowAKeyMovedByAnotherProcess) {
  CertStore my =
      CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, kCertSystemStoreCurrentUser, u"MY");
  CertificateWithKey rsa;
  ASSERT_EQ(Pkcs12("rsa.p12", "secret", &rsa), ImportError::kNone);
  CertContextPtr cert;
  ASSERT_EQ(ImportCertificateWithKey(my, rsa, kAtKeyExchange, &cert), ImportError::kNone);
  // A signer that opened the key before the move.
  ProvHandle early;
  std::uint32_t early_spec = 0;
  ASSERT_TRUE(
      CryptAcquireCertificatePrivateKey(*cert, kCryptAcquireCompareKeyFlag, &early, &early_spec));
  // Another process moves the key to the signature spec; this process's
  // context still holds the exchange property.
  ASSERT_EQ(testing::RunShell("QUILLMARK_HOME=" + home_.path() +
                              " " QM_CLI_PATH " store import MY " + files_->File("rsa.p12") +
                              " --password secret --key-spec signature >/dev/null 2>&1"),
            0);
  ASSERT_FALSE(IsRegularFile(home_.File("keys/Quillmark-" + cert->thumbprint() + "/exchange.pem")));
  ASSERT_EQ(cert->key_prov_info()->key_spec, kAtKeyExchange);
  // The early handle finishes with the key it began with.
  HashHandle hash;
  ASSERT_TRUE(CryptCreateHash(*early, kCalgSha1, nullptr, 0, &hash));
  ASSERT_TRUE(CryptHashData(*hash, AsBytes("abc"), 0));
  Bytes sig;
  EXPECT_TRUE(CryptSignHashW(*hash, early_spec, u"", 0, &sig)) << std::hex << GetLastError();
  // A new signer with the old context reads the property again.
  ExpectSignsForItself(*cert, kCalgSha1);
  EXPECT_EQ(cert->key_prov_info()->key_spec, kAtSignature);
}

TEST_F(KeyImportTest, ContainersGoWithTheLastCertificateThatNamesThem) {
  CertStore my =
      CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, kCertSystemStoreCurrentUser, u"MY");
  CertStore ca =
      CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, kCertSystemStoreCurrentUser, u"CA");
  CertificateWithKey rsa;
  ASSERT_EQ(Pkcs12("rsa.p12", "secret", &rsa), ImportError::kNone);
  CertContextPtr a, b;
  ASSERT_EQ(ImportCertificateWithKey(my, rsa, kAtKeyExchange, &a), ImportError::kNone);
  ASSERT_EQ(ImportCertificateWithKey(ca, rsa, kAtKeyExchange, &b), ImportError::kNone);
  const std::u16string container = ImportContainerName(a->thumbprint());
  const std::string folder = home_.File("keys/Quillmark-" + a->thumbprint());
  ASSERT_TRUE(CertDeleteCertificateFromStore(a));
  bool deleted = true;
  ASSERT_TRUE(DeleteContainerIfUnused(container, &deleted));
  EXPECT_FALSE(deleted);
  EXPECT_TRUE(IsDirectory(folder));
  ASSERT_TRUE(CertDeleteCertificateFromStore(b));
  ASSERT_TRUE(DeleteContainerIfUnused(container, &deleted));
  EXPECT_TRUE(deleted);
  EXPECT_FALSE(IsDirectory(folder));
  // Already gone: nothing to do, and no error.
  ASSERT_TRUE(DeleteContainerIfUnused(container, &deleted));
  EXPECT_FALSE(deleted);
}

}  // namespace
}  // namespace quillmark::platform
