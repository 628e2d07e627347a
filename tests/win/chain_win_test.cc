// The Windows chain backend against the system's chain engine, under wine
// or on Windows: a self-signed root and a leaf it issued, kept in test
// stores that an engine of the test names, so the current user's real
// ROOT store is never touched.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/chain/cert_chain.h"
#include "platform/chain/cert_key_usage.h"
#include "platform/chain/cert_verify.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_store.h"
#include "win/win_test_pki.h"

namespace quillmark::platform {
namespace {

using qmwintest::CertProfile;
using qmwintest::Now;
using qmwintest::SystemCertPtr;
using qmwintest::TestContainer;
using qmwintest::TestStore;

constexpr std::uint8_t kLeafSerial = 0x42;

class ChainWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_key_.ok() && leaf_key_.ok()) << ::GetLastError();
    ASSERT_NE(roots_.get(), nullptr);
    ASSERT_NE(users_.get(), nullptr);
    CertProfile root_profile;
    root_profile.subject = L"CN=Quillmark Test Root, O=Quillmark Tests";
    root_profile.ca = true;
    root_profile.key_usage = CERT_KEY_CERT_SIGN_KEY_USAGE | CERT_CRL_SIGN_KEY_USAGE;
    root_system_.reset(qmwintest::MakeCertificate(root_key_, root_profile, root_key_, nullptr));
    ASSERT_NE(root_system_, nullptr) << std::hex << ::GetLastError();
    root_ = roots_.Add(root_system_.get());
    ASSERT_NE(root_, nullptr);

    CertProfile leaf_profile;
    leaf_profile.subject = L"CN=Quillmark Test Leaf, O=Quillmark Tests";
    leaf_profile.serial = kLeafSerial;
    leaf_profile.not_after = Now() + 86400 * 30;
    leaf_profile.key_usage = CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_NON_REPUDIATION_KEY_USAGE;
    SystemCertPtr leaf(
        qmwintest::MakeCertificate(leaf_key_, leaf_profile, root_key_, root_system_.get()));
    ASSERT_NE(leaf, nullptr) << std::hex << ::GetLastError();
    leaf_ = users_.Add(leaf.get());
    ASSERT_NE(leaf_, nullptr);
  }

  // An engine whose trust anchors are the test's root store.
  std::unique_ptr<CertChainEngine> Engine(std::u16string root_store) const {
    CertChainEngineConfig config;
    config.root_store = std::move(root_store);
    config.intermediate_stores = {users_.name16()};
    return CertCreateCertificateChainEngine(config);
  }

  CertChainContextPtr Chain(const CertChainEngine* engine, std::optional<std::int64_t> time,
                            std::uint32_t flags = 0, const CertStore* additional = nullptr) {
    CertChainContextPtr chain;
    EXPECT_TRUE(
        CertGetCertificateChain(engine, leaf_, time, additional, CertChainPara(), flags, &chain))
        << std::hex << GetLastError();
    return chain;
  }

  CertChainPolicyStatus Policy(const CertChainContextPtr& chain, std::uint32_t flags = 0) {
    CertChainPolicyStatus status;
    EXPECT_TRUE(
        CertVerifyCertificateChainPolicy(kCertChainPolicyBase, chain.get(), {flags}, &status));
    return status;
  }

  TestContainer root_key_{L"QuillmarkChainWinRoot"};
  TestContainer leaf_key_{L"QuillmarkChainWinLeaf"};
  TestStore roots_{L"QuillmarkChainWinRoots"};
  TestStore users_{L"QuillmarkChainWinUsers"};
  SystemCertPtr root_system_;
  CertContextPtr root_;
  CertContextPtr leaf_;
};

TEST_F(ChainWinTest, LeafChainsToTheRootOfTheEngine) {
  auto engine = Engine(roots_.name16());
  ASSERT_NE(engine, nullptr);
  CertChainContextPtr chain = Chain(engine.get(), std::nullopt);
  ASSERT_NE(chain, nullptr);
  ASSERT_EQ(chain->elements.size(), 2u);
  EXPECT_EQ(chain->elements[0].cert, leaf_);
  EXPECT_EQ(chain->elements[1].cert->thumbprint(), root_->thumbprint());
  EXPECT_EQ(chain->elements[1].cert->store_name(), roots_.name());
  EXPECT_TRUE(chain->elements[1].trust_status.info_status & kCertTrustIsSelfSigned);
  EXPECT_EQ(chain->trust_status.error_status, kCertTrustNoError);
  EXPECT_EQ(Policy(chain).error, 0u);
}

TEST_F(ChainWinTest, RootOutsideTheAnchorsIsUntrusted) {
  // The engine trusts an empty store; the root is found only through the
  // caller's additional store.
  TestStore empty(L"QuillmarkChainWinEmpty");
  auto engine = Engine(empty.name16());
  ASSERT_NE(engine, nullptr);
  CertStore extra = CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding,
                                  kCertSystemStoreCurrentUser, roots_.name16());
  ASSERT_TRUE(extra.is_open());
  CertChainContextPtr chain = Chain(engine.get(), std::nullopt, 0, &extra);
  ASSERT_NE(chain, nullptr);
  ASSERT_EQ(chain->elements.size(), 2u);
  EXPECT_TRUE(chain->trust_status.error_status & kCertTrustIsUntrustedRoot);
  CertChainPolicyStatus status = Policy(chain);
  EXPECT_EQ(status.error, kCertEUntrustedRoot);
  EXPECT_EQ(status.element_index, 1);
  EXPECT_EQ(Policy(chain, kCertChainPolicyAllowUnknownCaFlag).error, 0u);
}

TEST_F(ChainWinTest, ExpiredLeafFailsUnlessTimeIsIgnored) {
  auto engine = Engine(roots_.name16());
  ASSERT_NE(engine, nullptr);
  CertChainContextPtr chain = Chain(engine.get(), Now() + 86400 * 60);
  ASSERT_NE(chain, nullptr);
  ASSERT_FALSE(chain->elements.empty());
  EXPECT_TRUE(chain->elements[0].trust_status.error_status & kCertTrustIsNotTimeValid);
  CertChainPolicyStatus status = Policy(chain);
  EXPECT_EQ(status.error, kCertEExpired);
  EXPECT_EQ(status.element_index, 0);
  EXPECT_EQ(Policy(chain, kCertChainPolicyIgnoreNotTimeValidFlag).error, 0u);
  // The same chain today is fine.
  EXPECT_EQ(Policy(Chain(engine.get(), Now())).error, 0u);
}

TEST_F(ChainWinTest, RevocationUnknownWithoutAnyCrl) {
  auto engine = Engine(roots_.name16());
  ASSERT_NE(engine, nullptr);
  CertChainContextPtr chain = Chain(engine.get(), std::nullopt, kCertChainRevocationCheckEndCert);
  ASSERT_NE(chain, nullptr);
  ASSERT_EQ(chain->elements.size(), 2u);
  EXPECT_TRUE(chain->elements[0].trust_status.error_status & kCertTrustRevocationStatusUnknown);
  EXPECT_FALSE(chain->elements[1].trust_status.error_status & kCertTrustRevocationStatusUnknown);
  CertChainPolicyStatus status = Policy(chain);
  EXPECT_EQ(status.error, kCryptENoRevocationCheck);
  EXPECT_EQ(status.element_index, 0);
  EXPECT_EQ(Policy(chain, kCertChainPolicyIgnoreEndRevUnknownFlag).error, 0u);

  // The whole chain: the root is unknown too, unless it is left out.
  chain = Chain(engine.get(), std::nullopt, kCertChainRevocationCheckChain);
  ASSERT_NE(chain, nullptr);
  status = Policy(chain, kCertChainPolicyIgnoreEndRevUnknownFlag);
  EXPECT_EQ(status.error, kCryptENoRevocationCheck);
  EXPECT_EQ(status.element_index, 1);
  EXPECT_EQ(Policy(chain, kCertChainPolicyIgnoreAllRevUnknownFlags).error, 0u);
  chain = Chain(engine.get(), std::nullopt, kCertChainRevocationCheckChainExcludeRoot);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(Policy(chain, kCertChainPolicyIgnoreEndRevUnknownFlag).error, 0u);
}

TEST_F(ChainWinTest, RevocationReadsTheCrlsOfTheEngineStores) {
  auto engine = Engine(roots_.name16());
  ASSERT_NE(engine, nullptr);
  // A current CRL of the root that lists another certificate.
  ASSERT_TRUE(roots_.AddCrl(qmwintest::MakeCrl(root_key_, root_system_.get(), {0x07})));
  CertChainContextPtr chain = Chain(engine.get(), std::nullopt, kCertChainRevocationCheckChain);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(chain->trust_status.error_status, kCertTrustNoError);
  EXPECT_EQ(Policy(chain).error, 0u);

  // Once that CRL is past its next update, the status is unknown and offline.
  chain = Chain(engine.get(), Now() + 86400 * 2, kCertChainRevocationCheckEndCert);
  ASSERT_NE(chain, nullptr);
  EXPECT_TRUE(chain->elements[0].trust_status.error_status & kCertTrustIsOfflineRevocation);
  EXPECT_EQ(Policy(chain).error, kCryptERevocationOffline);
}

TEST_F(ChainWinTest, LeafListedInACrlIsRevoked) {
  auto engine = Engine(roots_.name16());
  ASSERT_NE(engine, nullptr);
  // Listed on a CRL that is already past its next update: revoked all the
  // same, whatever the ignore flags.
  ASSERT_TRUE(roots_.AddCrl(qmwintest::MakeCrl(root_key_, root_system_.get(), {0x07, kLeafSerial},
                                               Now() - 86400 * 3, Now() - 86400 * 2)));
  CertChainContextPtr chain = Chain(engine.get(), std::nullopt, kCertChainRevocationCheckEndCert);
  ASSERT_NE(chain, nullptr);
  EXPECT_TRUE(chain->elements[0].trust_status.error_status & kCertTrustIsRevoked);
  EXPECT_FALSE(chain->elements[1].trust_status.error_status & kCertTrustIsRevoked);
  CertChainPolicyStatus status = Policy(
      chain, kCertChainPolicyIgnoreAllRevUnknownFlags | kCertChainPolicyIgnoreAllNotTimeValidFlags);
  EXPECT_EQ(status.error, kCryptERevoked);
  EXPECT_EQ(status.element_index, 0);
  // Without a revocation flag nothing is checked.
  EXPECT_EQ(Policy(Chain(engine.get(), std::nullopt)).error, 0u);
}

TEST_F(ChainWinTest, RequestedUsageMustBeAllowedByTheLeaf) {
  auto engine = Engine(roots_.name16());
  ASSERT_NE(engine, nullptr);
  CertProfile profile;
  profile.subject = L"CN=Quillmark Client Only";
  profile.serial = 0x43;
  profile.extended_usages = {szOID_PKIX_KP_CLIENT_AUTH};
  SystemCertPtr made(qmwintest::MakeCertificate(leaf_key_, profile, root_key_, root_system_.get()));
  ASSERT_NE(made, nullptr);
  CertContextPtr client = users_.Add(made.get());
  ASSERT_NE(client, nullptr);

  auto policy_for = [&](std::vector<std::string> usages, std::uint32_t type) {
    CertChainPara para;
    para.requested_usage.type = type;
    para.requested_usage.usages = std::move(usages);
    CertChainContextPtr chain;
    EXPECT_TRUE(
        CertGetCertificateChain(engine.get(), client, std::nullopt, nullptr, para, 0, &chain))
        << std::hex << GetLastError();
    return chain != nullptr ? Policy(chain).error : 0xFFFFFFFFu;
  };
  EXPECT_EQ(policy_for({}, kUsageMatchTypeAnd), 0u);
  EXPECT_EQ(policy_for({szOID_PKIX_KP_CLIENT_AUTH}, kUsageMatchTypeAnd), 0u);
  EXPECT_EQ(policy_for({szOID_PKIX_KP_EMAIL_PROTECTION}, kUsageMatchTypeAnd), kCertEWrongUsage);
  EXPECT_EQ(
      policy_for({szOID_PKIX_KP_CLIENT_AUTH, szOID_PKIX_KP_EMAIL_PROTECTION}, kUsageMatchTypeAnd),
      kCertEWrongUsage);
  EXPECT_EQ(
      policy_for({szOID_PKIX_KP_CLIENT_AUTH, szOID_PKIX_KP_EMAIL_PROTECTION}, kUsageMatchTypeOr),
      0u);
}

TEST_F(ChainWinTest, BadArgumentsFailWithInvalidArg) {
  CertChainContextPtr chain;
  EXPECT_FALSE(
      CertGetCertificateChain(nullptr, nullptr, std::nullopt, nullptr, CertChainPara(), 0, &chain));
  EXPECT_EQ(GetLastError(), kEInvalidArg);
  EXPECT_FALSE(
      CertGetCertificateChain(nullptr, leaf_, std::nullopt, nullptr, CertChainPara(), 0, nullptr));
  EXPECT_EQ(GetLastError(), kEInvalidArg);
  CertStore closed;
  EXPECT_FALSE(
      CertGetCertificateChain(nullptr, leaf_, std::nullopt, &closed, CertChainPara(), 0, &chain));
  EXPECT_EQ(GetLastError(), kEInvalidArg);
  CertChainEngineConfig no_root;
  no_root.root_store.clear();
  EXPECT_EQ(CertCreateCertificateChainEngine(no_root), nullptr);
  EXPECT_EQ(GetLastError(), kEInvalidArg);
}

TEST_F(ChainWinTest, SubjectCheckClearsThePassingFlags) {
  std::uint32_t flags = kCertStoreSignatureFlag | kCertStoreTimeValidityFlag;
  ASSERT_TRUE(CertVerifySubjectCertificateContext(leaf_, root_, &flags));
  EXPECT_EQ(flags, 0u);

  // The leaf did not sign itself.
  flags = kCertStoreSignatureFlag;
  ASSERT_TRUE(CertVerifySubjectCertificateContext(leaf_, leaf_, &flags));
  EXPECT_EQ(flags, kCertStoreSignatureFlag);

  // A time of the caller's after the leaf's end.
  flags = kCertStoreTimeValidityFlag;
  ASSERT_TRUE(CertVerifySubjectCertificateContext(leaf_, nullptr, &flags, Now() + 86400 * 60));
  EXPECT_EQ(flags, kCertStoreTimeValidityFlag);
  flags = kCertStoreTimeValidityFlag;
  ASSERT_TRUE(CertVerifySubjectCertificateContext(leaf_, nullptr, &flags, Now()));
  EXPECT_EQ(flags, 0u);

  // Arguments it cannot use leave the flags alone.
  flags = kCertStoreSignatureFlag;
  EXPECT_FALSE(CertVerifySubjectCertificateContext(leaf_, nullptr, &flags));
  EXPECT_EQ(GetLastError(), kEInvalidArg);
  EXPECT_EQ(flags, kCertStoreSignatureFlag);
  flags = 0x8;
  EXPECT_FALSE(CertVerifySubjectCertificateContext(leaf_, root_, &flags));
  EXPECT_EQ(GetLastError(), kEInvalidArg);
  EXPECT_FALSE(CertVerifySubjectCertificateContext(leaf_, root_, nullptr));
}

TEST_F(ChainWinTest, SubjectRevocationReadsTheIssuerStoreCrls) {
  std::uint32_t flags = kCertStoreRevocationFlag;
  ASSERT_TRUE(CertVerifySubjectCertificateContext(leaf_, root_, &flags));
  EXPECT_EQ(flags, kCertStoreRevocationFlag | kCertStoreNoCrlFlag);

  // A CRL of the root that lists another serial number: not revoked.
  ASSERT_TRUE(roots_.AddCrl(qmwintest::MakeCrl(root_key_, root_system_.get(), {0x07})));
  flags = kCertStoreRevocationFlag;
  ASSERT_TRUE(CertVerifySubjectCertificateContext(leaf_, root_, &flags));
  EXPECT_EQ(flags, 0u);

  // One that lists the leaf: revoked (set, without the no-CRL flag).
  ASSERT_TRUE(roots_.AddCrl(qmwintest::MakeCrl(root_key_, root_system_.get(), {kLeafSerial})));
  flags = kCertStoreRevocationFlag;
  ASSERT_TRUE(CertVerifySubjectCertificateContext(leaf_, root_, &flags));
  EXPECT_EQ(flags, kCertStoreRevocationFlag);
}

TEST_F(ChainWinTest, IntendedKeyUsageGivesTheExtensionBits) {
  std::uint32_t usage = 0xFFFF;
  ASSERT_TRUE(CertGetIntendedKeyUsage(*leaf_, &usage));
  EXPECT_EQ(usage, kCertDigitalSignatureKeyUsage | kCertNonRepudiationKeyUsage);
  ASSERT_TRUE(CertGetIntendedKeyUsage(*root_, &usage));
  EXPECT_EQ(usage, kCertKeyCertSignKeyUsage | kCertCrlSignKeyUsage);

  // A certificate without the extension allows every use.
  CertProfile plain;
  plain.subject = L"CN=Quillmark No Usage";
  SystemCertPtr made(qmwintest::MakeCertificate(leaf_key_, plain, leaf_key_, nullptr));
  ASSERT_NE(made, nullptr);
  CertContextPtr wrapped = WrapCertContext(made.get(), "");
  ASSERT_NE(wrapped, nullptr);
  usage = 0xFFFF;
  EXPECT_FALSE(CertGetIntendedKeyUsage(*wrapped, &usage));
  EXPECT_EQ(usage, 0u);
}

}  // namespace
}  // namespace quillmark::platform
