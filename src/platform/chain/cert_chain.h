// The chain engine: CertGetCertificateChain builds the chain of a
// certificate from the current user's stores and records what is wrong with
// each element; CertVerifyCertificateChainPolicy turns that record into one
// policy error.
//
// Building. Trust anchors are the certificates of the engine's root store
// ("ROOT"); intermediates come from its intermediate stores ("CA") and from
// the caller's additional store; CRLs come from all of them. From the end
// certificate upwards, each step takes a certificate that OpenSSL accepts as
// the issuer (name, key identifiers, key usage), preferring one whose key
// verifies the signature, then a CA, then one valid at the verification
// time, then one in the root store. The chain stops at a self-issued
// certificate (the root), at a certificate with no issuer (a partial chain)
// or after 32 elements.
// OpenSSL then checks the chain exactly as built: signatures (a root's own
// too), basic constraints and path lengths, name constraints, critical
// extensions it does not know. Time validity, the nesting of validity
// periods, requested usages and revocation are checked here.
//
// Revocation is checked only when the flags ask for it
// (kCertChainRevocationCheckEndCert: the end certificate;
// ...CheckChain: every element; ...CheckChainExcludeRoot: every element but
// a self-issued root). An element is revoked when a CRL of its issuer (name
// matches, signature verifies) lists it; with no such CRL its status is
// unknown, and with only CRLs past their nextUpdate (or before their
// thisUpdate) it is unknown and offline. Nothing is fetched from the network.
//
// Elements are kept as the store contexts they were found as (elements[0] is
// the caller's certificate), so element.cert->store_name() tells where each
// one came from. The chain's error and information statuses are the OR of
// its elements' plus kCertTrustIsPartialChain when the chain does not end in
// a root.
//
// Policy (kCertChainPolicyBase). The first error in this order, skipping the
// ones whose ignore flag is given, is the policy error:
//
//   signature not valid             TRUST_E_CERT_SIGNATURE
//   revoked                         CRYPT_E_REVOKED
//   partial or cyclic chain         CERT_E_CHAINING
//   untrusted root                  CERT_E_UNTRUSTEDROOT (kAllowUnknownCa)
//   not valid for the usage         CERT_E_WRONG_USAGE (kIgnoreWrongUsage)
//   name constraints                CERT_E_INVALID_NAME (kIgnoreInvalidName)
//   basic constraints               TRUST_E_BASIC_CONSTRAINTS (kIgnoreInvalidBasicConstraints)
//   unknown critical extension      CERT_E_CRITICAL (kIgnoreNotSupportedCriticalExt)
//   revocation unknown              CRYPT_E_REVOCATION_OFFLINE when offline, else
//                                   CRYPT_E_NO_REVOCATION_CHECK (kIgnoreEnd/Ca/RootRevUnknown,
//                                   by the element's place in the chain)
//   not time valid                  CERT_E_EXPIRED (kIgnoreNotTimeValid)
//   validity not nested             CERT_E_VALIDITYPERIODNESTING (kIgnoreNotTimeNested)
//
// The time errors come last on purpose: callers that accept an expired
// certificate must still see every other fault of its chain.
//
// Chains and engines are freed by dropping their pointers (the platform's
// CertFreeCertificateChain and CertFreeCertificateChainEngine).
//
// Use:
//   CertChainContextPtr chain;
//   CertChainPolicyStatus status;
//   if (!CertGetCertificateChain(nullptr, cert, std::nullopt, nullptr, CertChainPara(),
//                                kCertChainRevocationCheckEndCert, &chain) ||
//       !CertVerifyCertificateChainPolicy(kCertChainPolicyBase, chain.get(),
//                                         {kCertChainPolicyIgnoreAllRevUnknownFlags}, &status)) {
//     ... the chain could not be checked (GetLastError()) ...
//   } else if (status.error != 0) {
//     ... status.error is CERT_E_UNTRUSTEDROOT, CRYPT_E_REVOKED, ...
//   }
#ifndef QUILLMARK_PLATFORM_CHAIN_CERT_CHAIN_H_
#define QUILLMARK_PLATFORM_CHAIN_CERT_CHAIN_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::platform {

// Element and chain error status (CERT_TRUST_*).
inline constexpr std::uint32_t kCertTrustNoError = 0x00000000;
inline constexpr std::uint32_t kCertTrustIsNotTimeValid = 0x00000001;
inline constexpr std::uint32_t kCertTrustIsNotTimeNested = 0x00000002;
inline constexpr std::uint32_t kCertTrustIsRevoked = 0x00000004;
inline constexpr std::uint32_t kCertTrustIsNotSignatureValid = 0x00000008;
inline constexpr std::uint32_t kCertTrustIsNotValidForUsage = 0x00000010;
inline constexpr std::uint32_t kCertTrustIsUntrustedRoot = 0x00000020;
inline constexpr std::uint32_t kCertTrustRevocationStatusUnknown = 0x00000040;
inline constexpr std::uint32_t kCertTrustIsCyclic = 0x00000080;
inline constexpr std::uint32_t kCertTrustInvalidExtension = 0x00000100;
inline constexpr std::uint32_t kCertTrustInvalidBasicConstraints = 0x00000400;
inline constexpr std::uint32_t kCertTrustInvalidNameConstraints = 0x00000800;
inline constexpr std::uint32_t kCertTrustIsPartialChain = 0x00010000;
inline constexpr std::uint32_t kCertTrustIsOfflineRevocation = 0x01000000;

// Element information status.
inline constexpr std::uint32_t kCertTrustHasKeyMatchIssuer = 0x00000002;
inline constexpr std::uint32_t kCertTrustHasNameMatchIssuer = 0x00000004;
inline constexpr std::uint32_t kCertTrustIsSelfSigned = 0x00000008;

// CertGetCertificateChain flags. Others are accepted and change nothing.
inline constexpr std::uint32_t kCertChainRevocationCheckEndCert = 0x10000000;
inline constexpr std::uint32_t kCertChainRevocationCheckChain = 0x20000000;
inline constexpr std::uint32_t kCertChainRevocationCheckChainExcludeRoot = 0x40000000;

// Requested usage match types.
inline constexpr std::uint32_t kUsageMatchTypeAnd = 0;
inline constexpr std::uint32_t kUsageMatchTypeOr = 1;

// Policies and their flags.
inline constexpr std::uint32_t kCertChainPolicyBase = 1;
inline constexpr std::uint32_t kCertChainPolicyIgnoreNotTimeValidFlag = 0x00000001;
inline constexpr std::uint32_t kCertChainPolicyIgnoreCtlNotTimeValidFlag = 0x00000002;
inline constexpr std::uint32_t kCertChainPolicyIgnoreNotTimeNestedFlag = 0x00000004;
inline constexpr std::uint32_t kCertChainPolicyIgnoreAllNotTimeValidFlags = 0x00000007;
inline constexpr std::uint32_t kCertChainPolicyIgnoreInvalidBasicConstraintsFlag = 0x00000008;
inline constexpr std::uint32_t kCertChainPolicyAllowUnknownCaFlag = 0x00000010;
inline constexpr std::uint32_t kCertChainPolicyIgnoreWrongUsageFlag = 0x00000020;
inline constexpr std::uint32_t kCertChainPolicyIgnoreInvalidNameFlag = 0x00000040;
inline constexpr std::uint32_t kCertChainPolicyIgnoreInvalidPolicyFlag = 0x00000080;
inline constexpr std::uint32_t kCertChainPolicyIgnoreEndRevUnknownFlag = 0x00000100;
inline constexpr std::uint32_t kCertChainPolicyIgnoreCtlSignerRevUnknownFlag = 0x00000200;
inline constexpr std::uint32_t kCertChainPolicyIgnoreCaRevUnknownFlag = 0x00000400;
inline constexpr std::uint32_t kCertChainPolicyIgnoreRootRevUnknownFlag = 0x00000800;
inline constexpr std::uint32_t kCertChainPolicyIgnoreAllRevUnknownFlags = 0x00000F00;
inline constexpr std::uint32_t kCertChainPolicyIgnoreNotSupportedCriticalExtFlag = 0x00002000;
inline constexpr std::uint32_t kCertChainPolicyTrustTestrootFlag = 0x00004000;  // no effect
inline constexpr std::uint32_t kCertChainPolicyAllowTestrootFlag = 0x00008000;  // no effect

// Policy errors not in last_error.h.
inline constexpr std::uint32_t kTrustECertSignature = 0x80096004;
inline constexpr std::uint32_t kTrustEBasicConstraints = 0x80096019;
inline constexpr std::uint32_t kCertECritical = 0x800B0105;
inline constexpr std::uint32_t kCertEWrongUsage = 0x800B0110;
inline constexpr std::uint32_t kCertEInvalidName = 0x800B0114;
inline constexpr std::uint32_t kCryptENoRevocationCheck = 0x80092012;
inline constexpr std::uint32_t kCryptERevocationOffline = 0x80092013;

// Which stores an engine reads. Store names are looked up in the current
// user's home at each CertGetCertificateChain call, so a chain always sees
// the stores as they are then; a store that does not exist is empty.
struct CertChainEngineConfig {
  std::u16string root_store = u"ROOT";
  std::vector<std::u16string> intermediate_stores = {u"CA"};
};

class CertChainEngine {
 public:
  explicit CertChainEngine(CertChainEngineConfig config) : config_(std::move(config)) {}
  const CertChainEngineConfig& config() const { return config_; }

 private:
  CertChainEngineConfig config_;
};

// An engine of its own (freed with the pointer). A root store name that is
// empty fails with kEInvalidArg.
std::unique_ptr<CertChainEngine> CertCreateCertificateChainEngine(
    const CertChainEngineConfig& config);

struct CertUsageMatch {
  std::uint32_t type = kUsageMatchTypeAnd;
  std::vector<std::string> usages;  // dotted extended-key-usage OIDs; empty: any
};

// Requested usage: with usages given, every element that has an extended key
// usage extension must allow all of them (kUsageMatchTypeAnd) or one of them
// (kUsageMatchTypeOr); anyExtendedKeyUsage allows everything.
struct CertChainPara {
  CertUsageMatch requested_usage;
};

struct CertTrustStatus {
  std::uint32_t error_status = kCertTrustNoError;
  std::uint32_t info_status = 0;
};

struct CertChainElement {
  CertContextPtr cert;
  CertTrustStatus trust_status;
};

struct CertChainContext {
  CertTrustStatus trust_status;
  std::vector<CertChainElement> elements;  // end certificate first
};
using CertChainContextPtr = std::shared_ptr<const CertChainContext>;

// |engine|: null for the current user's default engine (ROOT and CA).
// |time|: seconds since 1970-01-01T00:00:00Z; now when absent.
// |additional_store|: null or an open store searched for intermediates and
// CRLs. Fails with kEInvalidArg for a null certificate or chain pointer or a
// closed additional store, kErrorNotEnoughMemory when memory runs out and
// kCryptEOssError when OpenSSL cannot run the checks; every certificate
// problem is reported in the chain, not as a failure.
bool CertGetCertificateChain(const CertChainEngine* engine, const CertContextPtr& cert,
                             std::optional<std::int64_t> time, const CertStore* additional_store,
                             const CertChainPara& para, std::uint32_t flags,
                             CertChainContextPtr* chain);

struct CertChainPolicyPara {
  std::uint32_t flags = 0;
};

struct CertChainPolicyStatus {
  std::uint32_t error = 0;
  std::int32_t chain_index = -1;    // 0 when there is an error
  std::int32_t element_index = -1;  // the first element with that error
};

// True when the policy could be applied (the verdict is in |status|). An
// unknown policy, a null chain or status fails with kEInvalidArg.
bool CertVerifyCertificateChainPolicy(std::uint32_t policy, const CertChainContext* chain,
                                      const CertChainPolicyPara& para,
                                      CertChainPolicyStatus* status);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_CHAIN_CERT_CHAIN_H_
