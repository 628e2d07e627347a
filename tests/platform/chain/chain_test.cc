// The subject check and the chain engine on small PKIs issued by the tests:
// root in ROOT, intermediate in CA, leaf; and every way such a chain breaks.
#include "platform/chain/cert_chain.h"
#include "platform/chain/cert_revocation.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/chain/cert_verify.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/cert_store.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

// Certificates are described with designated initializers that leave the
// defaults of the other fields in place, which GCC reports.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quillmark::platform {
namespace {

using testing::NameBuilder;

constexpr std::int64_t k2020 = 1577836800;
constexpr std::int64_t k2021 = 1609459200;
constexpr std::int64_t k2040 = 2208988800;
constexpr std::int64_t k2041 = 2240611200;
constexpr std::uint32_t kCallerPolicyFlags = 0x4F00;  // what the certs layer passes

const std::vector<std::pair<std::string, std::string>> kCaExts = {
    {"basicConstraints", "critical,CA:TRUE"},
    {"keyUsage", "critical,keyCertSign,cRLSign"},
    {"subjectKeyIdentifier", "hash"}};

Bytes Cn(const std::string& cn) { return NameBuilder().Add("CN", cn).Add("O", "Chain Test").Der(); }

EVP_PKEY* Key(int i) {
  static testing::EvpPkeyPtr keys[] = {testing::MakeEcKey(), testing::MakeEcKey(),
                                       testing::MakeEcKey(), testing::MakeEcKey(),
                                       testing::MakeEcKey()};
  return keys[i].get();
}
EVP_PKEY* RootKey() { return Key(0); }
EVP_PKEY* CaKey() { return Key(1); }
EVP_PKEY* LeafKey() { return Key(2); }
EVP_PKEY* OtherKey() { return Key(3); }

struct Spec {
  std::string cn;
  std::string issuer_cn;  // empty: self-signed
  EVP_PKEY* key = nullptr;
  EVP_PKEY* issuer_key = nullptr;
  bool ca = false;
  Bytes serial = {0x01};
  std::int64_t not_before = k2020;
  std::int64_t not_after = k2040;
  std::vector<std::pair<std::string, std::string>> exts;
};

Bytes Issue(const Spec& s) {
  testing::CertSpec spec;
  spec.subject = Cn(s.cn);
  spec.issuer = s.issuer_cn.empty() ? Bytes() : Cn(s.issuer_cn);
  spec.subject_key = s.key;
  spec.issuer_key = s.issuer_key;
  spec.serial = s.serial;
  spec.not_before = s.not_before;
  spec.not_after = s.not_after;
  spec.extensions = s.ca ? kCaExts : s.exts;
  return testing::MakeCertificate(spec);
}

Bytes Crl(const std::string& issuer_cn, EVP_PKEY* key, std::vector<Bytes> revoked,
          std::int64_t next_update = k2040) {
  testing::CrlSpec spec;
  spec.issuer = Cn(issuer_cn);
  spec.issuer_key = key;
  spec.revoked_serials = std::move(revoked);
  spec.next_update = next_update;
  return testing::MakeCrl(spec);
}

// Signs a certificate or CRL again with SM2-with-SM3 and the user ID given.
template <typename T, T* (*D2i)(T**, const unsigned char**, long), int (*Sign)(T*, EVP_MD_CTX*),
          int (*I2d)(const T*, unsigned char**), void (*Free)(T*)>
Bytes ResignSm2(const Bytes& der, EVP_PKEY* key, const char* id = "1234567812345678") {
  const unsigned char* p = der.data();
  T* obj = D2i(nullptr, &p, static_cast<long>(der.size()));
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_PKEY_CTX* pctx = nullptr;
  EXPECT_EQ(EVP_DigestSignInit_ex(ctx, &pctx, "SM3", nullptr, nullptr, key, nullptr), 1);
  EXPECT_EQ(EVP_PKEY_CTX_set1_id(pctx, id, static_cast<int>(std::strlen(id))), 1);
  EXPECT_GT(Sign(obj, ctx), 0);
  unsigned char* out = nullptr;
  int len = I2d(obj, &out);
  Bytes result(out, out + len);
  OPENSSL_free(out);
  EVP_MD_CTX_free(ctx);
  Free(obj);
  return result;
}
Bytes ResignCertSm2(const Bytes& der, EVP_PKEY* key, const char* id) {
  return ResignSm2<X509, d2i_X509, X509_sign_ctx, i2d_X509, X509_free>(der, key, id);
}
Bytes ResignCrlSm2(const Bytes& der, EVP_PKEY* key) {
  return ResignSm2<X509_CRL, d2i_X509_CRL, X509_CRL_sign_ctx, i2d_X509_CRL, X509_CRL_free>(der,
                                                                                           key);
}

class ChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetQuillmarkHome(home_.path());
    ClearCertStoreCache();
    root_ = Issue({.cn = "Root", .key = RootKey(), .ca = true});
    ca_ = Issue({.cn = "Issuing CA",
                 .issuer_cn = "Root",
                 .key = CaKey(),
                 .issuer_key = RootKey(),
                 .ca = true,
                 .serial = {0x02}});
    leaf_spec_ = {.cn = "Alice",
                  .issuer_cn = "Issuing CA",
                  .key = LeafKey(),
                  .issuer_key = CaKey(),
                  .serial = {0x0A, 0x0B}};
  }
  void TearDown() override {
    ClearCertStoreCache();
    SetQuillmarkHome("");
  }

  static CertStore Open(std::u16string_view name) {
    return CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, kCertSystemStoreCurrentUser,
                         name);
  }
  static CertContextPtr Put(std::u16string_view store, const Bytes& der) {
    CertContextPtr added;
    EXPECT_TRUE(CertAddEncodedCertificateToStore(Open(store), kDefaultEncoding, der,
                                                 kCertStoreAddAlways, &added));
    return added;
  }
  static void PutCrl(std::u16string_view store, const Bytes& der) {
    EXPECT_TRUE(
        CertAddEncodedCRLToStore(Open(store), kDefaultEncoding, der, kCertStoreAddAlways, nullptr));
  }
  static CertContextPtr Parse(const Bytes& der) {
    return CertCreateCertificateContext(kDefaultEncoding, der);
  }
  // The standard PKI installed: root in ROOT, the CA in CA.
  CertContextPtr InstallPki() {
    Put(u"ROOT", root_);
    return Put(u"CA", ca_);
  }

  static CertChainContextPtr Chain(const CertContextPtr& cert, std::uint32_t flags = 0,
                                   std::optional<std::int64_t> time = std::nullopt,
                                   const CertStore* extra = nullptr,
                                   const CertChainEngine* engine = nullptr) {
    CertChainContextPtr chain;
    EXPECT_TRUE(CertGetCertificateChain(engine, cert, time, extra, CertChainPara(), flags, &chain));
    return chain;
  }
  static std::uint32_t Policy(const CertChainContextPtr& chain, std::uint32_t flags = 0,
                              std::int32_t* element = nullptr) {
    CertChainPolicyStatus status;
    EXPECT_TRUE(CertVerifyCertificateChainPolicy(kCertChainPolicyBase, chain.get(),
                                                 CertChainPolicyPara{flags}, &status));
    if (element != nullptr) *element = status.element_index;
    return status.error;
  }
  static std::uint32_t Flags(const CertContextPtr& subject, const CertContextPtr& issuer,
                             std::uint32_t flags, std::optional<std::int64_t> time = {}) {
    EXPECT_TRUE(CertVerifySubjectCertificateContext(subject, issuer, &flags, time));
    return flags;
  }

  testing::ScratchDir home_;
  Bytes root_, ca_;
  Spec leaf_spec_;
};

constexpr std::uint32_t kAll =
    kCertStoreSignatureFlag | kCertStoreTimeValidityFlag | kCertStoreRevocationFlag;

TEST_F(ChainTest, SubjectCheckClearsPassingFlagsAndReadsCrlsOfTheIssuersStore) {
  CertContextPtr ca = InstallPki();
  CertContextPtr leaf = Parse(Issue(leaf_spec_));
  // No CRL anywhere: not revoked as far as anyone knows, and said so.
  EXPECT_EQ(Flags(leaf, ca, kAll), kCertStoreRevocationFlag | kCertStoreNoCrlFlag);
  EXPECT_EQ(Flags(leaf, ca, kCertStoreSignatureFlag), 0u);
  EXPECT_EQ(Flags(leaf, ca, kCertStoreTimeValidityFlag), 0u);

  // A CRL revoking the leaf, but in ROOT rather than the issuer's store, and
  // one with the issuer's name signed by another key: neither counts.
  PutCrl(u"ROOT", Crl("Issuing CA", CaKey(), {{0x0A, 0x0B}}));
  PutCrl(u"CA", Crl("Issuing CA", OtherKey(), {{0x0A, 0x0B}}));
  EXPECT_EQ(Flags(leaf, ca, kCertStoreRevocationFlag),
            kCertStoreRevocationFlag | kCertStoreNoCrlFlag);

  // The issuer's real CRL that lists other serials clears the flag.
  PutCrl(u"CA", Crl("Issuing CA", CaKey(), {{0x0A}, {0x0A, 0x0B, 0x00}}));
  EXPECT_EQ(Flags(leaf, ca, kAll), 0u);

  // One listing it revokes: the flag stays set without the no-CRL flag.
  PutCrl(u"CA", Crl("Issuing CA", CaKey(), {{0x0A, 0x0B}}, k2021));
  EXPECT_EQ(Flags(leaf, ca, kAll), kCertStoreRevocationFlag);

  // An issuer that belongs to no store has no CRLs.
  EXPECT_EQ(Flags(leaf, Parse(ca_), kCertStoreRevocationFlag),
            kCertStoreRevocationFlag | kCertStoreNoCrlFlag);
}

TEST_F(ChainTest, SubjectCheckSignatureAndTime) {
  CertContextPtr ca = InstallPki();
  // A look-alike: same name, other key. Only the real issuer verifies.
  CertContextPtr twin = Put(u"CA", Issue({.cn = "Issuing CA",
                                          .issuer_cn = "Root",
                                          .key = OtherKey(),
                                          .issuer_key = RootKey(),
                                          .ca = true,
                                          .serial = {0x03}}));
  CertContextPtr leaf = Parse(Issue(leaf_spec_));
  EXPECT_EQ(Flags(leaf, twin, kCertStoreSignatureFlag), kCertStoreSignatureFlag);
  EXPECT_EQ(Flags(leaf, ca, kCertStoreSignatureFlag), 0u);
  EXPECT_EQ(Flags(ca, Parse(root_), kCertStoreSignatureFlag), 0u);

  // RSA.
  testing::EvpPkeyPtr rsa = testing::MakeRsaKey(2048);
  CertContextPtr rsa_root = Parse(Issue({.cn = "RSA Root", .key = rsa.get(), .ca = true}));
  CertContextPtr rsa_leaf = Parse(
      Issue({.cn = "Bob", .issuer_cn = "RSA Root", .key = LeafKey(), .issuer_key = rsa.get()}));
  EXPECT_EQ(Flags(rsa_leaf, rsa_root, kCertStoreSignatureFlag), 0u);
  EXPECT_EQ(Flags(rsa_leaf, ca, kCertStoreSignatureFlag), kCertStoreSignatureFlag);

  // Validity bounds are inclusive; the time alone needs no issuer.
  CertContextPtr expired = Parse(Issue({.cn = "Old",
                                        .issuer_cn = "Issuing CA",
                                        .key = LeafKey(),
                                        .issuer_key = CaKey(),
                                        .not_after = k2021}));
  EXPECT_EQ(Flags(expired, nullptr, kCertStoreTimeValidityFlag), kCertStoreTimeValidityFlag);
  EXPECT_EQ(Flags(expired, nullptr, kCertStoreTimeValidityFlag, k2021), 0u);
  EXPECT_EQ(Flags(expired, nullptr, kCertStoreTimeValidityFlag, k2020), 0u);
  EXPECT_EQ(Flags(expired, nullptr, kCertStoreTimeValidityFlag, k2020 - 1),
            kCertStoreTimeValidityFlag);
  EXPECT_EQ(Flags(expired, nullptr, kCertStoreTimeValidityFlag, k2021 + 1),
            kCertStoreTimeValidityFlag);
  EXPECT_EQ(Flags(leaf, nullptr, kCertStoreTimeValidityFlag, k2041), kCertStoreTimeValidityFlag);
}

TEST_F(ChainTest, SubjectCheckRefusesArgumentsItCannotUse) {
  CertContextPtr ca = InstallPki();
  CertContextPtr leaf = Parse(Issue(leaf_spec_));
  struct Case {
    CertContextPtr subject, issuer;
    std::uint32_t flags;
  } cases[] = {
      {leaf, ca, 0x8},
      {leaf, ca, kCertStoreSignatureFlag | kCertStoreNoCrlFlag},
      {leaf, nullptr, kCertStoreSignatureFlag},
      {leaf, nullptr, kCertStoreRevocationFlag | kCertStoreTimeValidityFlag},
      {nullptr, ca, kCertStoreTimeValidityFlag},
  };
  for (Case& c : cases) {
    SetLastError(0);
    std::uint32_t flags = c.flags;
    EXPECT_FALSE(CertVerifySubjectCertificateContext(c.subject, c.issuer, &flags)) << c.flags;
    EXPECT_EQ(GetLastError(), kEInvalidArg);
    EXPECT_EQ(flags, c.flags);
  }
  EXPECT_FALSE(CertVerifySubjectCertificateContext(leaf, ca, nullptr));
  // Success leaves the last error alone.
  SetLastError(1234);
  EXPECT_EQ(Flags(leaf, ca, kAll), kCertStoreRevocationFlag | kCertStoreNoCrlFlag);
  EXPECT_EQ(GetLastError(), 1234u);
}

TEST_F(ChainTest, CompleteChainsFromRootAndCaStores) {
  InstallPki();
  CertChainContextPtr chain = Chain(Parse(Issue(leaf_spec_)));
  ASSERT_TRUE(chain);
  ASSERT_EQ(chain->elements.size(), 3u);
  EXPECT_EQ(chain->elements[1].cert->store_name(), "CA");
  EXPECT_EQ(chain->elements[2].cert->store_name(), "ROOT");
  EXPECT_EQ(chain->trust_status.error_status, kCertTrustNoError);
  EXPECT_TRUE(chain->elements[2].trust_status.info_status & kCertTrustIsSelfSigned);
  EXPECT_FALSE(chain->elements[0].trust_status.info_status & kCertTrustIsSelfSigned);
  EXPECT_EQ(Policy(chain), 0u);

  // A leaf issued by the root directly: the issuer is only in ROOT.
  CertContextPtr direct = Parse(Issue({.cn = "Carol",
                                       .issuer_cn = "Root",
                                       .key = LeafKey(),
                                       .issuer_key = RootKey(),
                                       .serial = {0x07}}));
  chain = Chain(direct);
  ASSERT_EQ(chain->elements.size(), 2u);
  EXPECT_EQ(Policy(chain), 0u);

  // An intermediate found only in the caller's additional store.
  Bytes other_ca = Issue({.cn = "Other CA",
                          .issuer_cn = "Root",
                          .key = OtherKey(),
                          .issuer_key = RootKey(),
                          .ca = true,
                          .serial = {0x09}});
  Put(u"Extra", other_ca);
  CertContextPtr via_extra = Parse(
      Issue({.cn = "Dave", .issuer_cn = "Other CA", .key = LeafKey(), .issuer_key = OtherKey()}));
  EXPECT_EQ(Policy(Chain(via_extra)), kCertEChaining);
  CertStore extra = Open(u"Extra");
  chain = Chain(via_extra, 0, std::nullopt, &extra);
  ASSERT_EQ(chain->elements.size(), 3u);
  EXPECT_EQ(Policy(chain), 0u);
}

TEST_F(ChainTest, MissingIssuersAndUntrustedRoots) {
  // The intermediate is not installed: a partial chain.
  CertContextPtr root = Put(u"ROOT", root_);
  CertContextPtr leaf = Parse(Issue(leaf_spec_));
  CertChainContextPtr chain = Chain(leaf);
  ASSERT_EQ(chain->elements.size(), 1u);
  EXPECT_TRUE(chain->trust_status.error_status & kCertTrustIsPartialChain);
  std::int32_t element = -2;
  EXPECT_EQ(Policy(chain, kCallerPolicyFlags, &element), kCertEChaining);
  EXPECT_EQ(element, 0);
  EXPECT_EQ(Policy(chain, kCertChainPolicyAllowUnknownCaFlag), kCertEChaining);

  // The root is installed only in CA: it is found but not trusted.
  ASSERT_TRUE(CertDeleteCertificateFromStore(root));
  Put(u"CA", root_);
  Put(u"CA", ca_);
  chain = Chain(leaf);
  ASSERT_EQ(chain->elements.size(), 3u);
  EXPECT_TRUE(chain->elements[2].trust_status.error_status & kCertTrustIsUntrustedRoot);
  EXPECT_EQ(Policy(chain, kCallerPolicyFlags, &element), kCertEUntrustedRoot);
  EXPECT_EQ(element, 2);
  EXPECT_EQ(Policy(chain, kCertChainPolicyAllowUnknownCaFlag), 0u);

  // A self-signed certificate nobody trusts, expired too: the trust fault
  // wins over the time fault that callers ignore.
  Bytes lone_der = Issue({.cn = "Lone", .key = OtherKey(), .not_after = k2021});
  CertContextPtr lone = Parse(lone_der);
  chain = Chain(lone);
  ASSERT_EQ(chain->elements.size(), 1u);
  EXPECT_EQ(chain->elements[0].trust_status.error_status,
            kCertTrustIsUntrustedRoot | kCertTrustIsNotTimeValid);
  EXPECT_EQ(Policy(chain, kCallerPolicyFlags), kCertEUntrustedRoot);

  // Trusted once it is in ROOT; the engine's root store decides.
  Put(u"ROOT", lone_der);
  EXPECT_EQ(Policy(Chain(lone), kCertChainPolicyIgnoreNotTimeValidFlag), 0u);
  std::unique_ptr<CertChainEngine> engine =
      CertCreateCertificateChainEngine({.root_store = u"Nobody", .intermediate_stores = {u"CA"}});
  ASSERT_TRUE(engine);
  EXPECT_EQ(Policy(Chain(leaf, 0, std::nullopt, nullptr, engine.get())), kCertEUntrustedRoot);
}

TEST_F(ChainTest, ExpiryAndNesting) {
  InstallPki();
  Spec s = leaf_spec_;
  s.not_after = k2021;
  CertChainContextPtr chain = Chain(Parse(Issue(s)));
  EXPECT_EQ(chain->elements[0].trust_status.error_status, kCertTrustIsNotTimeValid);
  EXPECT_EQ(chain->trust_status.error_status, kCertTrustIsNotTimeValid);
  EXPECT_EQ(Policy(chain, kCallerPolicyFlags), kCertEExpired);
  EXPECT_EQ(Policy(chain, kCertChainPolicyIgnoreNotTimeValidFlag), 0u);
  // The same leaf judged at a time within its validity.
  EXPECT_EQ(Policy(Chain(Parse(Issue(s)), 0, k2020 + 10)), 0u);
  // Not yet valid counts as not time valid too.
  EXPECT_EQ(Policy(Chain(Parse(Issue(leaf_spec_)), 0, k2020 - 10)), kCertEExpired);

  // A leaf that outlives its issuer.
  s = leaf_spec_;
  s.not_after = k2041;
  chain = Chain(Parse(Issue(s)));
  EXPECT_EQ(chain->elements[0].trust_status.error_status, kCertTrustIsNotTimeNested);
  EXPECT_EQ(Policy(chain), kCertEValidityPeriodNesting);
  EXPECT_EQ(Policy(chain, kCertChainPolicyIgnoreNotTimeNestedFlag), 0u);
}

TEST_F(ChainTest, RevocationOfTheEndCertificateAndTheChain) {
  InstallPki();
  CertContextPtr leaf = Parse(Issue(leaf_spec_));
  // Not asked: nothing is said about revocation.
  EXPECT_EQ(Chain(leaf)->trust_status.error_status, 0u);

  // Asked, no CRL: unknown, which the caller's flags ignore.
  CertChainContextPtr chain = Chain(leaf, kCertChainRevocationCheckEndCert);
  EXPECT_EQ(chain->elements[0].trust_status.error_status, kCertTrustRevocationStatusUnknown);
  EXPECT_EQ(Policy(chain), kCryptENoRevocationCheck);
  EXPECT_EQ(Policy(chain, kCallerPolicyFlags), 0u);
  EXPECT_EQ(Policy(chain, kCertChainPolicyIgnoreCaRevUnknownFlag), kCryptENoRevocationCheck);
  // Unknown and expired: the revocation fault is the one reported.
  Spec expired = leaf_spec_;
  expired.not_after = k2021;
  EXPECT_EQ(Policy(Chain(Parse(Issue(expired)), kCertChainRevocationCheckEndCert)),
            kCryptENoRevocationCheck);

  // A CRL past its nextUpdate that does not list the leaf: offline.
  PutCrl(u"CA", Crl("Issuing CA", CaKey(), {}, k2021));
  chain = Chain(leaf, kCertChainRevocationCheckEndCert);
  EXPECT_EQ(chain->elements[0].trust_status.error_status,
            kCertTrustRevocationStatusUnknown | kCertTrustIsOfflineRevocation);
  EXPECT_EQ(Policy(chain), kCryptERevocationOffline);
  EXPECT_EQ(Chain(leaf, kCertChainRevocationCheckEndCert, k2020 + 10)->trust_status.error_status,
            0u);

  // A CRL in ROOT that lists it: revoked, whatever the ignore flags.
  PutCrl(u"ROOT", Crl("Issuing CA", CaKey(), {{0x0A, 0x0B}}));
  chain = Chain(leaf, kCertChainRevocationCheckEndCert);
  EXPECT_TRUE(chain->elements[0].trust_status.error_status & kCertTrustIsRevoked);
  EXPECT_EQ(Policy(chain, kCallerPolicyFlags | kCertChainPolicyIgnoreAllNotTimeValidFlags),
            kCryptERevoked);

  // Revoked and expired: revocation is the error reported.
  Spec s = leaf_spec_;
  s.not_after = k2021;
  EXPECT_EQ(Policy(Chain(Parse(Issue(s)), kCertChainRevocationCheckEndCert), kCallerPolicyFlags),
            kCryptERevoked);

  // The root revokes the intermediate: only a whole-chain check sees it.
  CertContextPtr other = Parse(Issue({.cn = "Eve",
                                      .issuer_cn = "Issuing CA",
                                      .key = LeafKey(),
                                      .issuer_key = CaKey(),
                                      .serial = {0x33}}));
  chain = Chain(other, kCertChainRevocationCheckChain);
  EXPECT_EQ(chain->elements[2].trust_status.error_status, kCertTrustRevocationStatusUnknown);
  EXPECT_EQ(Policy(chain, kCertChainPolicyIgnoreEndRevUnknownFlag |
                              kCertChainPolicyIgnoreCaRevUnknownFlag),
            kCryptENoRevocationCheck);
  chain = Chain(other, kCertChainRevocationCheckChainExcludeRoot);
  EXPECT_EQ(chain->elements[2].trust_status.error_status, 0u);

  PutCrl(u"ROOT", Crl("Root", RootKey(), {{0x02}}));
  EXPECT_EQ(Policy(Chain(other, kCertChainRevocationCheckEndCert), kCallerPolicyFlags), 0u);
  chain = Chain(other, kCertChainRevocationCheckChainExcludeRoot);
  std::int32_t element = -2;
  EXPECT_EQ(Policy(chain, kCallerPolicyFlags, &element), kCryptERevoked);
  EXPECT_EQ(element, 1);
  chain = Chain(other, kCertChainRevocationCheckChain);
  EXPECT_EQ(chain->elements[2].trust_status.error_status, 0u);  // its own CRL covers it
}

TEST_F(ChainTest, LookAlikeIssuersAndBrokenSignatures) {
  Put(u"ROOT", root_);
  // Two CAs with the same name; only one holds the key that signed the
  // leaf. The other one is made to come first in the store.
  Bytes twin;
  do {
    twin = Issue({.cn = "Issuing CA",
                  .issuer_cn = "Root",
                  .key = OtherKey(),
                  .issuer_key = RootKey(),
                  .ca = true,
                  .serial = {0x03}});
  } while (Parse(twin)->thumbprint() > Parse(ca_)->thumbprint());
  Put(u"CA", twin);
  CertContextPtr leaf = Parse(Issue(leaf_spec_));
  CertChainContextPtr chain = Chain(leaf);
  EXPECT_TRUE(chain->elements[0].trust_status.error_status & kCertTrustIsNotSignatureValid);
  EXPECT_EQ(Policy(chain), kTrustECertSignature);  // only the wrong twin so far
  CertContextPtr real = Put(u"CA", ca_);
  chain = Chain(leaf);
  ASSERT_EQ(chain->elements.size(), 3u);
  EXPECT_EQ(chain->elements[1].cert->thumbprint(), real->thumbprint());
  EXPECT_EQ(Policy(chain), 0u);

  // A root in ROOT whose self-signature is made with another key.
  Put(u"ROOT",
      Issue({.cn = "Forged Root", .key = RootKey(), .issuer_key = OtherKey(), .ca = true}));
  chain = Chain(Parse(Issue(
      {.cn = "Frank", .issuer_cn = "Forged Root", .key = LeafKey(), .issuer_key = RootKey()})));
  ASSERT_EQ(chain->elements.size(), 2u);
  EXPECT_TRUE(chain->elements[1].trust_status.error_status & kCertTrustIsNotSignatureValid);
  EXPECT_EQ(Policy(chain, kCallerPolicyFlags), kTrustECertSignature);
}

TEST_F(ChainTest, AuthorityKeyIdentifierSelectsTheIssuer) {
  Put(u"ROOT", root_);
  Put(u"CA", ca_);
  CertContextPtr ca = Parse(ca_);
  const ASN1_OCTET_STRING* skid = X509_get0_subject_key_id(CertContextX509(*ca));
  ASSERT_NE(skid, nullptr);
  std::string hex;
  for (int i = 0; i < ASN1_STRING_length(skid); ++i) {
    char b[4];
    snprintf(b, sizeof b, "%02X", ASN1_STRING_get0_data(skid)[i]);
    hex += std::string(i ? ":" : "") + b;
  }
  // The leaf names the CA's key: found. Naming another key: not found.
  Spec s = leaf_spec_;
  s.exts = {{"authorityKeyIdentifier", "DER:30:16:80:14:" + hex}};
  CertChainContextPtr chain = Chain(Parse(Issue(s)));
  ASSERT_EQ(chain->elements.size(), 3u);
  EXPECT_TRUE(chain->elements[0].trust_status.info_status & kCertTrustHasKeyMatchIssuer);
  EXPECT_EQ(Policy(chain), 0u);
  s.exts = {{"authorityKeyIdentifier", "DER:30:06:80:04:01:02:03:04"}};
  EXPECT_EQ(Policy(Chain(Parse(Issue(s)))), kCertEChaining);
}

TEST_F(ChainTest, ConstraintsAndUsage) {
  Put(u"ROOT", root_);
  // An "intermediate" that is no CA, made to come before the real one.
  Bytes not_ca;
  do {
    not_ca = Issue({.cn = "Issuing CA",
                    .issuer_cn = "Root",
                    .key = CaKey(),
                    .issuer_key = RootKey(),
                    .serial = {0x02},
                    .exts = {{"basicConstraints", "critical,CA:FALSE"}}});
  } while (Parse(not_ca)->thumbprint() > Parse(ca_)->thumbprint());
  Put(u"CA", not_ca);
  CertChainContextPtr chain = Chain(Parse(Issue(leaf_spec_)));
  ASSERT_EQ(chain->elements.size(), 3u);
  EXPECT_EQ(Policy(chain, kCallerPolicyFlags), kTrustEBasicConstraints);
  EXPECT_EQ(Policy(chain, kCertChainPolicyIgnoreInvalidBasicConstraintsFlag), 0u);

  // With both installed, the CA is taken.
  Put(u"CA", ca_);
  EXPECT_EQ(Policy(Chain(Parse(Issue(leaf_spec_)))), 0u);

  // A CA whose key usage does not allow signing certificates is no issuer,
  // also once its signature on the leaf is known to verify.
  Spec by_signing_only = leaf_spec_;
  by_signing_only.issuer_cn = "Signing Only CA";
  const CertContextPtr signing_only =
      Put(u"CA", Issue({.cn = "Signing Only CA",
                        .issuer_cn = "Root",
                        .key = CaKey(),
                        .issuer_key = RootKey(),
                        .serial = {0x05},
                        .exts = {{"basicConstraints", "critical,CA:TRUE"},
                                 {"keyUsage", "critical,digitalSignature"}}}));
  const CertContextPtr signed_leaf = Parse(Issue(by_signing_only));
  ASSERT_TRUE(CertSignatureVerifies(*signed_leaf, *signing_only));
  chain = Chain(signed_leaf);
  ASSERT_EQ(chain->elements.size(), 1u);
  EXPECT_TRUE(chain->trust_status.error_status & kCertTrustIsPartialChain);
  EXPECT_EQ(Policy(chain), kCertEChaining);

  Spec s = leaf_spec_;
  s.exts = {{"extendedKeyUsage", "clientAuth,emailProtection"}};
  CertContextPtr leaf = Parse(Issue(s));
  struct Case {
    std::uint32_t type;
    std::vector<std::string> usages;
    bool valid;
  } cases[] = {
      {kUsageMatchTypeAnd, {"1.3.6.1.5.5.7.3.2"}, true},
      {kUsageMatchTypeAnd, {"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.1"}, false},
      {kUsageMatchTypeOr, {"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.1"}, true},
      {kUsageMatchTypeOr, {"1.3.6.1.5.5.7.3.1"}, false},
  };
  for (const Case& c : cases) {
    CertChainPara para;
    para.requested_usage = {c.type, c.usages};
    CertChainContextPtr ch;
    ASSERT_TRUE(CertGetCertificateChain(nullptr, leaf, std::nullopt, nullptr, para, 0, &ch));
    EXPECT_EQ(Policy(ch), c.valid ? 0u : kCertEWrongUsage) << c.usages.size();
  }
}

TEST_F(ChainTest, Sm2ChainWithSm2Crl) {
  testing::EvpPkeyPtr root_key(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
  testing::EvpPkeyPtr ca_key(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
  testing::EvpPkeyPtr leaf_key(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
  ASSERT_TRUE(root_key && ca_key && leaf_key);
  // Issued with a throwaway key, then signed again with SM2-with-SM3.
  auto sm2 = [&](Spec s, EVP_PKEY* signer, const char* id = "1234567812345678") {
    s.issuer_key = OtherKey();
    return ResignCertSm2(Issue(s), signer, id);
  };
  Put(u"ROOT", sm2({.cn = "SM2 Root", .key = root_key.get(), .ca = true}, root_key.get()));
  CertContextPtr ca = Put(u"CA", sm2({.cn = "SM2 CA",
                                      .issuer_cn = "SM2 Root",
                                      .key = ca_key.get(),
                                      .ca = true,
                                      .serial = {0x02}},
                                     root_key.get()));
  Spec leaf_spec{.cn = "SM2 User", .issuer_cn = "SM2 CA", .key = leaf_key.get(), .serial = {0x44}};
  CertContextPtr leaf = Parse(sm2(leaf_spec, ca_key.get()));
  EXPECT_EQ(leaf->signature_algorithm_oid(), "1.2.156.10197.1.501");
  EXPECT_EQ(Flags(leaf, ca, kCertStoreSignatureFlag), 0u);
  CertChainContextPtr chain = Chain(leaf, kCertChainRevocationCheckEndCert);
  ASSERT_EQ(chain->elements.size(), 3u);
  EXPECT_EQ(Policy(chain, kCallerPolicyFlags), 0u);

  // Signed with another user ID: the signature does not verify.
  CertContextPtr odd = Parse(sm2(leaf_spec, ca_key.get(), "another id"));
  EXPECT_EQ(Flags(odd, ca, kCertStoreSignatureFlag), kCertStoreSignatureFlag);
  EXPECT_EQ(Policy(Chain(odd)), kTrustECertSignature);

  // An SM2-signed CRL revokes.
  PutCrl(u"CA", ResignCrlSm2(Crl("SM2 CA", OtherKey(), {{0x44}}), ca_key.get()));
  EXPECT_EQ(Flags(leaf, ca, kCertStoreRevocationFlag), kCertStoreRevocationFlag);
  EXPECT_EQ(Policy(Chain(leaf, kCertChainRevocationCheckEndCert), kCallerPolicyFlags),
            kCryptERevoked);
}

TEST_F(ChainTest, ChainCallsRefuseArgumentsTheyCannotUse) {
  CertContextPtr leaf = Parse(Issue(leaf_spec_));
  CertChainContextPtr chain;
  SetLastError(0);
  EXPECT_FALSE(CertGetCertificateChain(nullptr, nullptr, std::nullopt, nullptr, {}, 0, &chain));
  EXPECT_EQ(GetLastError(), kEInvalidArg);
  CertStore closed;
  EXPECT_FALSE(CertGetCertificateChain(nullptr, leaf, std::nullopt, &closed, {}, 0, &chain));
  EXPECT_FALSE(CertGetCertificateChain(nullptr, leaf, std::nullopt, nullptr, {}, 0, nullptr));
  ASSERT_TRUE(CertGetCertificateChain(nullptr, leaf, std::nullopt, nullptr, {}, 0, &chain));
  CertChainPolicyStatus status;
  EXPECT_FALSE(CertVerifyCertificateChainPolicy(2, chain.get(), {}, &status));
  EXPECT_FALSE(CertVerifyCertificateChainPolicy(kCertChainPolicyBase, nullptr, {}, &status));
  EXPECT_EQ(GetLastError(), kEInvalidArg);
  EXPECT_EQ(CertCreateCertificateChainEngine({.root_store = u""}), nullptr);
}

}  // namespace
}  // namespace quillmark::platform
