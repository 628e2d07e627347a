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

}  // namespace

bool CertVerifySubjectCertificateContext(const CertContextPtr& subject,
                                         const CertContextPtr& issuer, std::uint32_t* flags,
                                         std::optional<std::int64_t> time) {
  if (subject == nullptr || flags == nullptr || (*flags & ~kKnownFlags) != 0 ||
      (issuer == nullptr && (*flags & (kCertStoreSignatureFlag | kCertStoreRevocationFlag)))) {
    SetLastError(kEInvalidArg);
    return false;
  }
  const std::uint32_t saved_error = GetLastError();
  const std::int64_t at = time.has_value() ? *time : UnixNow();
  std::uint32_t out = *flags;
  try {
    if ((out & kCertStoreSignatureFlag) && CertSignatureVerifies(*subject, *issuer)) {
      out &= ~kCertStoreSignatureFlag;
    }
    if ((out & kCertStoreTimeValidityFlag) && CertTimeValidAt(*subject, at)) {
      out &= ~kCertStoreTimeValidityFlag;
    }
    if (out & kCertStoreRevocationFlag) {
      std::vector<CrlContextPtr> crls = CrlsOfStoreOf(*issuer);
      RevocationResult r = CheckRevocation(*subject, *issuer, crls, at);
      if (!r.found_crl) {
        out |= kCertStoreNoCrlFlag;
      } else if (!r.revoked) {
        out &= ~kCertStoreRevocationFlag;
      }
    }
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return false;
  }
  // Store look-ups above may have left their own last error behind.
  SetLastError(saved_error);
  *flags = out;
  return true;
}

}  // namespace quillmark::platform
