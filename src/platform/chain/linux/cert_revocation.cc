#include "platform/chain/cert_revocation.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>

#include <chrono>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>

#include "common/no_destructor.h"
#include "platform/keys/sm2.h"
#include "platform/openssl/der_walk.h"
#include "platform/store/cert_context_internal.h"

namespace quillmark::platform {

namespace {

constexpr std::string_view kSm2WithSm3Oid = "1.2.156.10197.1.501";

// The tbsCertList of a DER CRL: the first element of the outer SEQUENCE.
bool CrlTbs(ByteSpan der, ByteSpan* tbs) {
  der::Tlv outer, first;
  if (!der::Expect(&der, der::kSequence, &outer)) return false;
  ByteSpan body = outer.content;
  if (!der::Expect(&body, der::kSequence, &first)) return false;
  *tbs = first.whole;
  return true;
}

bool VerifySm2Crl(const CrlContext& crl, EVP_PKEY* key) {
  const ASN1_BIT_STRING* sig = nullptr;
  const X509_ALGOR* alg = nullptr;
  X509_CRL_get0_signature(CrlContextX509Crl(crl), &sig, &alg);
  ByteSpan tbs;
  if (sig == nullptr || !CrlTbs(crl.der(), &tbs)) return false;
  ossl::MdCtxPtr ctx(EVP_MD_CTX_new());
  EVP_PKEY_CTX* pctx = nullptr;
  return ctx != nullptr &&
         EVP_DigestVerifyInit_ex(ctx.get(), &pctx, "SM3", nullptr, nullptr, key, nullptr) == 1 &&
         EVP_PKEY_CTX_set1_id(pctx, kSm2DefaultUserId.data(),
                              static_cast<int>(kSm2DefaultUserId.size())) == 1 &&
         EVP_DigestVerify(ctx.get(), ASN1_STRING_get0_data(sig),
                          static_cast<size_t>(ASN1_STRING_length(sig)), tbs.data(),
                          tbs.size()) == 1;
}

// Signature checks that succeeded, kept per process: a check's outcome is a
// fact about the signed bytes and the signer's key alone, and the same
// certificates and CRLs are checked on every verification. An entry is the
// SHA-256 of the signed object's DER followed by the signer's
// SubjectPublicKeyInfo DER. Failures are not kept, so a check that failed for
// want of memory or of an OpenSSL algorithm is tried again.
class VerifiedSignatures {
 public:
  static VerifiedSignatures& Instance() {
    static NoDestructor<VerifiedSignatures> cache;
    return *cache;
  }

  // The entry for |signed_der| under |signer_spki|; false when SHA-256
  // cannot be computed (then nothing is looked up or kept).
  static bool MakeKey(ByteSpan signed_der, ByteSpan signer_spki, std::string* key) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(signed_der.data(), signed_der.size(), digest, &n, EVP_sha256(), nullptr) != 1) {
      ERR_clear_error();
      return false;
    }
    key->assign(reinterpret_cast<const char*>(digest), n);
    key->append(reinterpret_cast<const char*>(signer_spki.data()), signer_spki.size());
    return true;
  }

  bool Contains(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.contains(key);
  }

  void Keep(std::string key) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.size() >= kMaxEntries) entries_.clear();
    entries_.insert(std::move(key));
  }

 private:
  static constexpr std::size_t kMaxEntries = 1024;

  std::mutex mutex_;
  std::unordered_set<std::string> entries_;
};

// Runs |check| unless a success for (|signed_der|, |signer_spki|) is known,
// and remembers a success.
template <typename Check>
bool CachedSignatureCheck(ByteSpan signed_der, ByteSpan signer_spki, Check check) {
  std::string key;
  bool keyed = false;
  try {
    keyed = VerifiedSignatures::MakeKey(signed_der, signer_spki, &key);
    if (keyed && VerifiedSignatures::Instance().Contains(key)) return true;
  } catch (const std::bad_alloc&) {
    keyed = false;  // checked without the cache
  }
  if (!check()) return false;
  if (keyed) {
    try {
      VerifiedSignatures::Instance().Keep(std::move(key));
    } catch (const std::bad_alloc&) {
      // Not kept: the next check runs again.
    }
  }
  return true;
}

}  // namespace

std::int64_t UnixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool CertTimeValidAt(const CertContext& cert, std::int64_t time) {
  return cert.not_before().unix_seconds <= time && time <= cert.not_after().unix_seconds;
}

ossl::X509Ptr X509ForVerify(const CertContext& cert) {
  X509* shared = CertContextX509(cert);
  if (cert.signature_algorithm_oid() != kSm2WithSm3Oid) {
    if (X509_up_ref(shared) != 1) return nullptr;
    return ossl::X509Ptr(shared);
  }
  // Setting the ID on the shared object would race with other readers.
  const unsigned char* p = cert.der().data();
  ossl::X509Ptr copy(d2i_X509(nullptr, &p, static_cast<long>(cert.der().size())));
  ossl::Asn1OctetStringPtr id(ASN1_OCTET_STRING_new());
  if (copy == nullptr || id == nullptr ||
      ASN1_OCTET_STRING_set(id.get(),
                            reinterpret_cast<const unsigned char*>(kSm2DefaultUserId.data()),
                            static_cast<int>(kSm2DefaultUserId.size())) != 1) {
    return nullptr;
  }
  X509_set0_distinguishing_id(copy.get(), id.release());  // takes |id|
  return copy;
}

namespace {

bool UncachedCertSignatureVerifies(const CertContext& subject, const CertContext& issuer) {
  ossl::X509Ptr x = X509ForVerify(subject);
  EVP_PKEY* key = X509_get0_pubkey(CertContextX509(issuer));
  bool ok = x != nullptr && key != nullptr && X509_verify(x.get(), key) == 1;
  if (!ok) ERR_clear_error();
  return ok;
}

bool UncachedCrlSignatureVerifies(const CrlContext& crl, const CertContext& issuer) {
  EVP_PKEY* key = X509_get0_pubkey(CertContextX509(issuer));
  if (key == nullptr) {
    ERR_clear_error();
    return false;
  }
  const ASN1_BIT_STRING* sig = nullptr;
  const X509_ALGOR* alg = nullptr;
  X509_CRL_get0_signature(CrlContextX509Crl(crl), &sig, &alg);
  const ASN1_OBJECT* alg_oid = nullptr;
  if (alg != nullptr) X509_ALGOR_get0(&alg_oid, nullptr, nullptr, alg);
  bool ok = OBJ_obj2nid(alg_oid) == NID_SM2_with_SM3
                ? VerifySm2Crl(crl, key)
                : X509_CRL_verify(CrlContextX509Crl(crl), key) == 1;
  if (!ok) ERR_clear_error();
  return ok;
}

}  // namespace

bool CertSignatureVerifies(const CertContext& subject, const CertContext& issuer) {
  return CachedSignatureCheck(subject.der(), issuer.public_key_info_der(),
                              [&] { return UncachedCertSignatureVerifies(subject, issuer); });
}

bool CrlSignatureVerifies(const CrlContext& crl, const CertContext& issuer) {
  return CachedSignatureCheck(crl.der(), issuer.public_key_info_der(),
                              [&] { return UncachedCrlSignatureVerifies(crl, issuer); });
}

RevocationResult CheckRevocation(const CertContext& subject, const CertContext& issuer,
                                 std::span<const CrlContextPtr> crls, std::int64_t time) {
  RevocationResult result;
  X509* issuer_x = CertContextX509(issuer);
  const ASN1_INTEGER* serial = X509_get0_serialNumber(CertContextX509(subject));
  for (const CrlContextPtr& crl : crls) {
    if (crl == nullptr) continue;
    X509_CRL* c = CrlContextX509Crl(*crl);
    if (X509_NAME_cmp(X509_CRL_get_issuer(c), X509_get_subject_name(issuer_x)) != 0 ||
        !CrlSignatureVerifies(*crl, issuer)) {
      continue;
    }
    result.found_crl = true;
    const std::optional<CertTime>& next = crl->next_update();
    if (crl->this_update().unix_seconds <= time &&
        (!next.has_value() || time <= next->unix_seconds)) {
      result.current = true;
    }
    X509_REVOKED* entry = nullptr;
    if (X509_CRL_get0_by_serial(c, &entry, serial) == 1) result.revoked = true;
  }
  return result;
}

}  // namespace quillmark::platform
