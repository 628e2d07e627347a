// One control verifying the same signature again and again while the stores
// change under it: a new CRL, a removed CA and a CA replaced by another with
// the same name and another key each count at the very next call, whatever
// the control remembers of earlier ones.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/status.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "support/cert_factory.h"
#include "support/control_fixture.h"
#include "support/test_dirs.h"

namespace quillmark::testing {
namespace {

const std::vector<std::pair<std::string, std::string>> kCaExts = {
    {"basicConstraints", "critical,CA:TRUE"}, {"keyUsage", "critical,keyCertSign,cRLSign"}};

Bytes Cn(const std::string& cn) {
  return NameBuilder().Add("CN", cn).Add("O", "Store Change").Der();
}

class VerifyStoreChangeTest : public ControlTest {
 protected:
  void SetUp() override {
    platform::SetQuillmarkHome(home_.path());
    std::filesystem::create_directories(Store("ROOT"));
    std::filesystem::create_directories(Store("CA"));
    std::filesystem::create_directories(Store("MY"));
    root_key_ = MakeRsaKey();
    ca_key_ = MakeRsaKey();
    leaf_key_ = MakeRsaKey();
    ASSERT_TRUE(WriteBytes(Store("ROOT") + "/root.cer",
                           Issue("Root", "Root", root_key_.get(), root_key_.get(), {0x01}, true)));
    ca_der_ = Issue("CA", "Root", ca_key_.get(), root_key_.get(), {0x02}, true);
    ASSERT_TRUE(WriteBytes(Store("CA") + "/ca.cer", ca_der_));
    const Bytes leaf = Issue("Signer", "CA", leaf_key_.get(), ca_key_.get(), {0x03}, false);
    signature_ = Sign(leaf, leaf_key_.get());
  }
  void TearDown() override { platform::SetQuillmarkHome(""); }

  // Writes |path| the way the store's own writers do: a temporary file
  // renamed into place, so a reader sees the old or the new file whole.
  static bool ReplaceFile(const std::string& path, ByteSpan data) {
    return platform::WriteFileAtomically(path, data);
  }

  std::string Store(const char* name) { return home_.path() + "/stores/" + name; }

  static Bytes Issue(const std::string& cn, const std::string& issuer, EVP_PKEY* key,
                     EVP_PKEY* issuer_key, Bytes serial, bool ca) {
    CertSpec spec;
    spec.subject = Cn(cn);
    spec.issuer = Cn(issuer);
    spec.subject_key = key;
    spec.issuer_key = issuer_key;
    spec.serial = std::move(serial);
    if (ca) spec.extensions = kCaExts;
    return MakeCertificate(spec);
  }

  // Base64 text of a SignedData over "store change" by |cert_der|.
  static std::u16string Sign(const Bytes& cert_der, EVP_PKEY* key) {
    const unsigned char* p = cert_der.data();
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(cert_der.size()));
    BIO* in = BIO_new_mem_buf("store change", 12);
    PKCS7* p7 = PKCS7_sign(cert, key, nullptr, in, PKCS7_BINARY);
    EXPECT_NE(p7, nullptr);
    unsigned char* der = nullptr;
    int len = i2d_PKCS7(p7, &der);
    std::string text(static_cast<std::size_t>(4 * ((len + 2) / 3)) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), der, len)));
    OPENSSL_free(der);
    PKCS7_free(p7);
    BIO_free(in);
    X509_free(cert);
    return std::u16string(text.begin(), text.end());
  }

  // The errorNum of one QMAttachedVerify of the signature (0 on success).
  std::int32_t Verify() {
    if (qm_.QMAttachedVerify(signature_) == S_OK) return 0;
    return Num();
  }

  ScratchDir home_;
  EvpPkeyPtr root_key_, ca_key_, leaf_key_;
  Bytes ca_der_;
  std::u16string signature_;
};

TEST_F(VerifyStoreChangeTest, ChangedStoresCountAtTheNextCall) {
  ASSERT_EQ(Verify(), 0);
  ASSERT_EQ(Verify(), 0);

  // The CA revokes the signer.
  CrlSpec revoking;
  revoking.issuer = Cn("CA");
  revoking.issuer_key = ca_key_.get();
  revoking.revoked_serials = {{0x03}};
  ASSERT_TRUE(ReplaceFile(Store("CA") + "/ca.crl", MakeCrl(revoking)));
  EXPECT_EQ(Verify(), kErrCertRevoked);
  // A newer CRL of the CA without the signer on it.
  CrlSpec clean = revoking;
  clean.revoked_serials.clear();
  clean.this_update = 1600000000;
  ASSERT_TRUE(ReplaceFile(Store("CA") + "/ca.crl", MakeCrl(clean)));
  EXPECT_EQ(Verify(), 0);

  // The CA goes, then comes back.
  std::filesystem::remove(Store("CA") + "/ca.cer");
  std::filesystem::remove(Store("CA") + "/ca.crl");
  EXPECT_EQ(Verify(), kErrIssuerNotFound);
  ASSERT_TRUE(ReplaceFile(Store("CA") + "/ca.cer", ca_der_));
  EXPECT_EQ(Verify(), 0);

  // Another CA of the same name and serial, with another key, in its place.
  EvpPkeyPtr other_key = MakeRsaKey();
  ASSERT_TRUE(ReplaceFile(Store("CA") + "/ca.cer",
                          Issue("CA", "Root", other_key.get(), root_key_.get(), {0x02}, true)));
  EXPECT_EQ(Verify(), kErrCertSignatureFaulty);
  ASSERT_TRUE(ReplaceFile(Store("CA") + "/ca.cer", ca_der_));
  EXPECT_EQ(Verify(), 0);
}

}  // namespace
}  // namespace quillmark::testing
