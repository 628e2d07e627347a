#include "certs/verify_chain.h"

#include <array>
#include <new>
#include <string>

#include "common/status.h"
#include "platform/chain/cert_chain.h"
#include "platform/chain/cert_key_usage.h"
#include "platform/chain/cert_verify.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_store.h"

namespace quillmark::certs {
namespace {

using platform::CertContextPtr;

constexpr std::uint32_t kNameStrFlags = platform::kCertX500NameStr | platform::kCertNameStrCrlfFlag;

// The stores that hold issuers, in search order.
constexpr std::array<std::u16string_view, 2> kIssuerStores = {u"CA", u"ROOT"};

// The flags left by one subject check of |cert| against |issuer|: |flag| is
// still set when the check failed. Only the flags count, not the call's
// result (a call that cannot run leaves them set).
std::uint32_t CheckFlags(const CertContextPtr& cert, const CertContextPtr& issuer,
                         std::uint32_t flag) {
  std::uint32_t flags = flag;
  platform::CertVerifySubjectCertificateContext(cert, issuer, &flags);
  return flags;
}

// The first certificate above the signer (a CA of its chain, the root
// included) that carries |bit|, or -1.
int FirstCaWith(const platform::CertChainContext& chain, std::uint32_t bit) {
  for (std::size_t i = 1; i < chain.elements.size(); ++i) {
    if ((chain.elements[i].trust_status.error_status & bit) != 0) return static_cast<int>(i);
  }
  return -1;
}

// The chain step. The CAs of the chain answer to the same time and
// revocation checks as the signer when |mask| selects them: a revoked CA
// fails as kErrCertRevoked and one outside its validity period as
// kErrCertExpired, before the policy is asked. Revocation is looked up for
// every element but a self-issued root.
Status CheckChain(const CertContextPtr& cert, std::uint32_t mask) {
  platform::CertChainContextPtr chain;
  if (!platform::CertGetCertificateChain(
          nullptr, cert, std::nullopt, nullptr, platform::CertChainPara(),
          platform::kCertChainRevocationCheckChainExcludeRoot, &chain)) {
    return Status(kErrChainFailed, platform::GetLastError());
  }
  if ((mask & kCheckRevocation) != 0 && FirstCaWith(*chain, platform::kCertTrustIsRevoked) > 0) {
    return kErrCertRevoked;
  }
  if ((mask & kCheckTimeValidity) != 0 &&
      FirstCaWith(*chain, platform::kCertTrustIsNotTimeValid) > 0) {
    return kErrCertExpired;
  }
  platform::CertChainPolicyStatus policy;
  if (!platform::CertVerifyCertificateChainPolicy(platform::kCertChainPolicyBase, chain.get(),
                                                  {kChainPolicyFlags}, &policy)) {
    return Status(kErrChainFailed, platform::GetLastError());
  }
  if (policy.error != 0 && policy.error != platform::kCertEExpired &&
      policy.error != platform::kCertEValidityPeriodNesting) {
    return Status(kErrChainFailed, policy.error);
  }
  return kOk;
}

}  // namespace

CertContextPtr FindInstalledIssuer(const CertContextPtr& cert, int* status) {
  try {
    if (cert == nullptr) {
      *status = kErrEmptyInput;
      return nullptr;
    }
    std::u16string key = platform::CertGetNameStringW(*cert, platform::kCertNameSimpleDisplayType,
                                                      platform::kCertNameIssuerFlag);
    if (key.empty()) {
      *status = kErrCertFieldUndecodable;
      return nullptr;
    }
    std::u16string issuer_text;
    if (!platform::CertNameToStrW(platform::kDefaultEncoding, cert->issuer_der(), kNameStrFlags,
                                  &issuer_text)) {
      // A name that cannot be rendered equals no subject.
      *status = kErrIssuerNotFound;
      return nullptr;
    }
    CertContextPtr first_named;
    for (std::u16string_view name : kIssuerStores) {
      platform::CertStore store = platform::CertOpenStore(
          platform::kCertStoreProvSystemW, 0, platform::kCertSystemStoreCurrentUser, name);
      if (!store) continue;
      CertContextPtr candidate;
      while ((candidate = platform::CertFindCertificateInStore(store, platform::kDefaultEncoding, 0,
                                                               platform::kCertFindSubjectStrW, key,
                                                               candidate)) != nullptr) {
        std::u16string subject;
        if (!platform::CertNameToStrW(platform::kDefaultEncoding, candidate->subject_der(),
                                      kNameStrFlags, &subject) ||
            subject != issuer_text) {
          continue;
        }
        if (CheckFlags(cert, candidate, platform::kCertStoreSignatureFlag) == 0) {
          *status = kOk;
          return candidate;
        }
        if (first_named == nullptr) first_named = candidate;
      }
      platform::CertCloseStore(store, platform::kCertCloseStoreCheckFlag);
    }
    *status = first_named != nullptr ? kOk : kErrIssuerNotFound;
    return first_named;
  } catch (const std::bad_alloc&) {
    *status = kErrNoMemory;
    return nullptr;
  }
}

Status VerifyCertificateChain(const CertContextPtr& cert, std::uint32_t mask) {
  int status = kOk;
  CertContextPtr issuer = FindInstalledIssuer(cert, &status);
  if (issuer == nullptr) return status;
  try {
    if ((mask & kCheckIssuerSignature) != 0 &&
        (CheckFlags(cert, issuer, platform::kCertStoreSignatureFlag) &
         platform::kCertStoreSignatureFlag) != 0) {
      return kErrCertSignatureFaulty;
    }
    if ((mask & kCheckTimeValidity) != 0 &&
        (CheckFlags(cert, issuer, platform::kCertStoreTimeValidityFlag) &
         platform::kCertStoreTimeValidityFlag) != 0) {
      return kErrCertExpired;
    }
    if ((mask & kCheckRevocation) != 0) {
      std::uint32_t flags = CheckFlags(cert, issuer, platform::kCertStoreRevocationFlag);
      if ((flags & platform::kCertStoreRevocationFlag) != 0 &&
          (flags & platform::kCertStoreNoCrlFlag) == 0) {
        return kErrCertRevoked;
      }
    }
    if ((mask & kCheckChain) != 0) return CheckChain(cert, mask);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

Status CheckSignerKeyUsage(const platform::CertContext& cert) {
  std::uint32_t usage = 0;
  if (!platform::CertGetIntendedKeyUsage(cert, &usage)) return kOk;
  constexpr std::uint32_t kSigning =
      platform::kCertDigitalSignatureKeyUsage | platform::kCertNonRepudiationKeyUsage;
  if ((usage & kSigning) != 0) return kOk;
  return Status(kErrChainFailed, platform::kCertEWrongUsage);
}

}  // namespace quillmark::certs
