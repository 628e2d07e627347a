#include "platform/keys/cert_issuer.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/os/files.h"
#include "support/test_dirs.h"

namespace quillmark::platform {
namespace {

using ::quillmark::testing::RunShell;
using ::quillmark::testing::RunShellCapture;
using ::quillmark::testing::ScratchDir;

// A root, a CA below it and a user below that, as the demonstration PKI
// makes them, written as DER files and checked with the openssl command.
class CertIssuerTest : public ::testing::Test {
 protected:
  struct Issued {
    IssuingKey key;
    Bytes cert;
  };

  Issued Issue(IssueRequest request, const Issued* issuer, bool sm2) {
    Issued out{sm2 ? IssuingKey::GenerateSm2() : IssuingKey::GenerateRsa(2048), {}};
    EXPECT_TRUE(out.key);
    request.subject_key = &out.key;
    if (issuer != nullptr) {
      request.issuer_cert = issuer->cert;
      request.issuer_key = &issuer->key;
    }
    EXPECT_TRUE(IssueCertificate(request, &out.cert));
    return out;
  }

  static IssueRequest Ca(std::string cn, int path_length) {
    IssueRequest r;
    r.subject = {{"CN", std::move(cn)}, {"O", "Issuer Test"}, {"C", "CN"}};
    r.ca = true;
    r.path_length = path_length;
    r.key_usage = "keyCertSign,cRLSign,digitalSignature";
    return r;
  }

  std::string Write(const std::string& name, const Bytes& der) {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(WriteFileAtomically(path, der, 0600));
    return path;
  }

  // `openssl x509 -text` of a DER certificate.
  std::string Text(const Bytes& der) {
    std::string text;
    EXPECT_EQ(RunShellCapture(
                  "openssl x509 -inform DER -noout -text -in " + Write("shown.cer", der) + " 2>&1",
                  &text),
              0);
    return text;
  }

  // PEM of a DER certificate or CRL, for openssl verify.
  std::string Pem(const std::string& kind, const std::string& name, const Bytes& der) {
    const std::string pem = dir_.File(name + ".pem");
    EXPECT_EQ(RunShell("openssl " + kind + " -inform DER -in " + Write(name + ".der", der) +
                       " -out " + pem + " 2>/dev/null"),
              0);
    return pem;
  }

  ScratchDir dir_;
};

TEST_F(CertIssuerTest, IssuedChainVerifiesAndCarriesTheAskedExtensions) {
  Issued root = Issue(Ca("Issuer Test Root", -1), nullptr, false);
  Issued ca = Issue(Ca("Issuer Test CA", 0), &root, false);
  IssueRequest user;
  user.subject = {{"CN", "张三"}, {"OU", "Personal"}, {"O", "Issuer Test"}, {"C", "CN"}};
  user.days_valid = 30;
  user.key_usage = "digitalSignature,nonRepudiation,keyEncipherment";
  user.extended_key_usage = "clientAuth,emailProtection";
  user.email = "zhangsan@issuer.example";
  user.crl_url = "http://issuer.example/ca.crl";
  Issued leaf = Issue(user, &ca, false);

  const std::string text = Text(leaf.cert);
  EXPECT_NE(text.find("Issuer: CN = Issuer Test CA, O = Issuer Test, C = CN"), std::string::npos)
      << text;
  EXPECT_NE(text.find("sha256WithRSAEncryption"), std::string::npos);
  EXPECT_NE(text.find("CA:FALSE"), std::string::npos);
  EXPECT_NE(text.find("Digital Signature, Non Repudiation, Key Encipherment"), std::string::npos);
  EXPECT_NE(text.find("TLS Web Client Authentication, E-mail Protection"), std::string::npos);
  EXPECT_NE(text.find("email:zhangsan@issuer.example"), std::string::npos);
  EXPECT_NE(text.find("URI:http://issuer.example/ca.crl"), std::string::npos);
  EXPECT_NE(Text(ca.cert).find("CA:TRUE, pathlen:0"), std::string::npos);

  const std::string root_pem = Pem("x509", "root", root.cert);
  const std::string ca_pem = Pem("x509", "ca", ca.cert);
  const std::string leaf_pem = Pem("x509", "leaf", leaf.cert);
  EXPECT_EQ(RunShell("openssl verify -CAfile " + root_pem + " -untrusted " + ca_pem + " " +
                     leaf_pem + " >/dev/null 2>&1"),
            0);
  // The leaf's key is the one exported for storing.
  Bytes pkcs8;
  ASSERT_TRUE(leaf.key.PrivateKeyInfo(&pkcs8));
  std::string from_key, from_cert;
  ASSERT_EQ(
      RunShellCapture("openssl pkey -inform DER -pubout -in " + Write("leaf.p8", pkcs8), &from_key),
      0);
  ASSERT_EQ(RunShellCapture("openssl x509 -noout -pubkey -in " + leaf_pem, &from_cert), 0);
  EXPECT_EQ(from_key, from_cert);
}

TEST_F(CertIssuerTest, CrlRevokesTheGivenCertificatesOnly) {
  Issued root = Issue(Ca("Issuer Test Root", -1), nullptr, false);
  IssueRequest user;
  user.subject = {{"CN", "User"}};
  Issued kept = Issue(user, &root, false);
  Issued revoked = Issue(user, &root, false);

  CrlRequest request;
  request.issuer_cert = root.cert;
  request.issuer_key = &root.key;
  request.revoked = {revoked.cert};
  Bytes crl;
  ASSERT_TRUE(IssueCrl(request, &crl));

  const std::string root_pem = Pem("x509", "root", root.cert);
  const std::string crl_pem = Pem("crl", "root_crl", crl);
  const std::string check =
      "openssl verify -crl_check -CAfile " + root_pem + " -CRLfile " + crl_pem + " ";
  EXPECT_EQ(RunShell(check + Pem("x509", "kept", kept.cert) + " >/dev/null 2>&1"), 0);
  std::string out;
  EXPECT_NE(RunShellCapture(check + Pem("x509", "revoked", revoked.cert) + " 2>&1", &out), 0);
  EXPECT_NE(out.find("revoked"), std::string::npos) << out;
}

TEST_F(CertIssuerTest, Sm2IssuersSignWithSm3AndBadRequestsIssueNothing) {
  Issued sm2_root = Issue(Ca("Issuer Test SM2 Root", -1), nullptr, true);
  const std::string text = Text(sm2_root.cert);
  EXPECT_NE(text.find("SM2-with-SM3"), std::string::npos) << text;

  Bytes der = {1, 2, 3};
  IssueRequest no_key;
  no_key.subject = {{"CN", "Nobody"}};
  EXPECT_FALSE(IssueCertificate(no_key, &der));
  IssueRequest bad_issuer;
  bad_issuer.subject = {{"CN", "Nobody"}};
  bad_issuer.subject_key = &sm2_root.key;
  const Bytes not_a_cert = {0x30, 0x03, 0x02, 0x01, 0x01};
  bad_issuer.issuer_cert = not_a_cert;
  bad_issuer.issuer_key = &sm2_root.key;
  EXPECT_FALSE(IssueCertificate(bad_issuer, &der));
  IssueRequest bad_attribute;
  bad_attribute.subject = {{"NOT-AN-ATTRIBUTE", "x"}};
  bad_attribute.subject_key = &sm2_root.key;
  EXPECT_FALSE(IssueCertificate(bad_attribute, &der));

  CrlRequest crl_without_key;
  crl_without_key.issuer_cert = sm2_root.cert;
  EXPECT_FALSE(IssueCrl(crl_without_key, &der));
  IssuingKey empty;
  EXPECT_FALSE(empty);
  EXPECT_FALSE(empty.PrivateKeyInfo(&der));
}

}  // namespace
}  // namespace quillmark::platform
