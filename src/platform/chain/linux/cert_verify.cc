#include "platform/chain/cert_verify.h"

#include <new>
#include <string>
#include <vector>

#include "common/unicode.h"
#include "platform/chain/cert_revocation.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_store.h"

namespace quillmark::platform {

namespace {

constexpr std::uint32_t kKnownFlags =
    kCertStoreSignatureFlag | kCertStoreTimeValidityFlag | kCertStoreRevocationFlag;

// The CRLs kept in the store |cert| came from; none for a context that
// belongs to no store or whose store is gone.
std::vector<CrlContextPtr> CrlsOfStoreOf(const CertContext& cert) {
  std::vector<CrlContextPtr> crls;
  std::u16string name;
  if (cert.store_name().empty() || !Utf8ToUtf16(cert.store_name(), &name)) return crls;
  CertStore store = CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding,
                                  kCertSystemStoreCurrentUser | kCertStoreOpenExistingFlag, name);
  if (!store) return crls;
  for (CrlContextPtr crl = CertEnumCRLsInStore(store, nullptr); crl;
       crl = CertEnumCRLsInStore(store, crl)) {
    crls.push_back(crl);
  }
  return crls;
}

// |flags| with each check that passes cleared; a revocation check that
// finds no CRL of the issuer sets kCertStoreNoCrlFlag instead. |issuer| is
// used only by the signature and revocation checks.
std::uint32_t ClearPassedChecks(const CertContext& subject, const CertContextPtr& issuer,
                                std::int64_t at, std::uint32_t flags) {
  if ((flags & kCertStoreSignatureFlag) && CertSignatureVerifies(subject, *issuer)) {
    flags &= ~kCertStoreSignatureFlag;
  }
  if ((flags & kCertStoreTimeValidityFlag) && CertTimeValidAt(subject, at)) {
    flags &= ~kCertStoreTimeValidityFlag;
  }
  if (flags & kCertStoreRevocationFlag) {
    std::vector<CrlContextPtr> crls = CrlsOfStoreOf(*issuer);
    RevocationResult r = CheckRevocation(subject, *issuer, crls, at);
    if (!r.found_crl) {
      flags |= kCertStoreNoCrlFlag;
    } else if (!r.revoked) {
      flags &= ~kCertStoreRevocationFlag;
    }
  }
  return flags;
}

}  // namespace

bool CertVerifySubjectCertificateContext(const CertContextPtr& subject,
                                         const CertContextPtr& issuer, std::uint32_t* flags,
                                         std::optional<std::int64_t> time) {
  if (subject == nullptr || flags == nullptr || (*flags & ~kKnownFlags) != 0 ||
      (issuer == nullptr && (*flags & (kCertStoreSignatureFlag | kCertStoreRevocationFlag)))) {
    SetLastError(kEInvalidArg);
    return false;
  }
  const std::int64_t at = time.has_value() ? *time : UnixNow();
  std::uint32_t out = *flags;
  // Store look-ups may leave their own last error behind.
  if (!RunKeepingLastError([&]() -> std::uint32_t {
        out = ClearPassedChecks(*subject, issuer, at, out);
        return kErrorSuccess;
      })) {
    return false;
  }
  *flags = out;
  return true;
}

}  // namespace quillmark::platform
