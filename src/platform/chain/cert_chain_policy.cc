// CertVerifyCertificateChainPolicy: the base policy over a chain's status.
#include "platform/chain/cert_chain.h"
#include "platform/chain/cert_verify.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {

class BasePolicy {
 public:
  BasePolicy(const CertChainContext& chain, std::uint32_t flags, CertChainPolicyStatus* status)
      : chain_(chain), flags_(flags), status_(status) {}

  void Apply() {
    const std::uint32_t e = chain_.trust_status.error_status;
    const std::int32_t last = static_cast<std::int32_t>(chain_.elements.size()) - 1;
    if (Check(e, kCertTrustIsNotSignatureValid, 0, kTrustECertSignature)) return;
    if (Check(e, kCertTrustIsRevoked, 0, kCryptERevoked)) return;
    if (e & kCertTrustIsPartialChain) return Report(kCertEChaining, last);
    if (Check(e, kCertTrustIsCyclic, 0, kCertEChaining)) return;
    if (Check(e, kCertTrustIsUntrustedRoot, kCertChainPolicyAllowUnknownCaFlag,
              kCertEUntrustedRoot)) {
      return;
    }
    if (Check(e, kCertTrustIsNotValidForUsage, kCertChainPolicyIgnoreWrongUsageFlag,
              kCertEWrongUsage)) {
      return;
    }
    if (Check(e, kCertTrustInvalidNameConstraints, kCertChainPolicyIgnoreInvalidNameFlag,
              kCertEInvalidName)) {
      return;
    }
    if (Check(e, kCertTrustInvalidBasicConstraints,
              kCertChainPolicyIgnoreInvalidBasicConstraintsFlag, kTrustEBasicConstraints)) {
      return;
    }
    if (Check(e, kCertTrustInvalidExtension, kCertChainPolicyIgnoreNotSupportedCriticalExtFlag,
              kCertECritical)) {
      return;
    }
    if (CheckRevocationUnknown()) return;
    if (Check(e, kCertTrustIsNotTimeValid, kCertChainPolicyIgnoreNotTimeValidFlag, kCertEExpired)) {
      return;
    }
    Check(e, kCertTrustIsNotTimeNested, kCertChainPolicyIgnoreNotTimeNestedFlag,
          kCertEValidityPeriodNesting);
  }

 private:
  // Reports |error| at the first element carrying |bit| unless the chain
  // lacks it or |ignore| is among the flags.
  bool Check(std::uint32_t chain_status, std::uint32_t bit, std::uint32_t ignore,
             std::uint32_t error) {
    if (!(chain_status & bit) || (flags_ & ignore)) return false;
    Report(error, FirstWith(bit));
    return true;
  }

  // Each element's unknown revocation status is ignored by the flag of its
  // place: the end certificate, a CA, or a self-signed root.
  bool CheckRevocationUnknown() {
    const std::size_t n = chain_.elements.size();
    for (std::size_t i = 0; i < n; ++i) {
      const CertTrustStatus& s = chain_.elements[i].trust_status;
      if (!(s.error_status & kCertTrustRevocationStatusUnknown)) continue;
      std::uint32_t ignore = kCertChainPolicyIgnoreCaRevUnknownFlag;
      if (i == 0) {
        ignore = kCertChainPolicyIgnoreEndRevUnknownFlag;
      } else if (i + 1 == n && (s.info_status & kCertTrustIsSelfSigned)) {
        ignore = kCertChainPolicyIgnoreRootRevUnknownFlag;
      }
      if (flags_ & ignore) continue;
      Report((s.error_status & kCertTrustIsOfflineRevocation) ? kCryptERevocationOffline
                                                              : kCryptENoRevocationCheck,
             static_cast<std::int32_t>(i));
      return true;
    }
    return false;
  }

  std::int32_t FirstWith(std::uint32_t bit) const {
    for (std::size_t i = 0; i < chain_.elements.size(); ++i) {
      if (chain_.elements[i].trust_status.error_status & bit) return static_cast<std::int32_t>(i);
    }
    return -1;
  }

  void Report(std::uint32_t error, std::int32_t element) {
    status_->error = error;
    status_->chain_index = 0;
    status_->element_index = element;
  }

  const CertChainContext& chain_;
  const std::uint32_t flags_;
  CertChainPolicyStatus* status_;
};

}  // namespace

bool CertVerifyCertificateChainPolicy(std::uint32_t policy, const CertChainContext* chain,
                                      const CertChainPolicyPara& para,
                                      CertChainPolicyStatus* status) {
  if (policy != kCertChainPolicyBase || chain == nullptr || status == nullptr) {
    SetLastError(kEInvalidArg);
    return false;
  }
  *status = CertChainPolicyStatus();
  BasePolicy(*chain, para.flags, status).Apply();
  return true;
}

}  // namespace quillmark::platform
