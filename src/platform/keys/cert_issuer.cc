#include "platform/keys/cert_issuer.h"

#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include "platform/keys/sm2.h"

namespace quillmark::platform {

namespace {

// A message-digest context set up to sign with |key|: SHA-256 for RSA, SM3
// with the default user ID for SM2.
ossl::MdCtxPtr SigningContext(EVP_PKEY* key) {
  ossl::MdCtxPtr ctx(EVP_MD_CTX_new());
  if (ctx == nullptr) return nullptr;
  bool sm2 = IsSm2Key(key);
  EVP_PKEY_CTX* pctx = nullptr;
  if (EVP_DigestSignInit_ex(ctx.get(), &pctx, sm2 ? "SM3" : "SHA256", nullptr, nullptr, key,
                            nullptr) != 1) {
    return nullptr;
  }
  if (sm2 && EVP_PKEY_CTX_set1_id(pctx, kSm2DefaultUserId.data(),
                                  static_cast<int>(kSm2DefaultUserId.size())) != 1) {
    return nullptr;
  }
  return ctx;
}

bool AddExtension(X509* cert, X509V3_CTX* ctx, int nid, const std::string& value) {
  ossl::X509ExtensionPtr ext(X509V3_EXT_nconf_nid(nullptr, ctx, nid, value.c_str()));
  return ext != nullptr && X509_add_ext(cert, ext.get(), -1) == 1;
}

bool RandomSerial(X509* cert) {
  std::uint8_t bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
  bytes[0] = static_cast<std::uint8_t>((bytes[0] & 0x3F) | 0x10);  // positive, 16 bytes long
  ossl::BnPtr bn(BN_bin2bn(bytes, sizeof bytes, nullptr));
  return bn != nullptr && BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert)) != nullptr;
}

template <typename T, int (*I2d)(const T*, unsigned char**)>
bool ToDer(const T* object, Bytes* der) {
  unsigned char* out = nullptr;
  int len = I2d(object, &out);
  if (len <= 0) return false;
  der->assign(out, out + len);
  OPENSSL_free(out);
  return true;
}

}  // namespace

ossl::X509Ptr IssueCertificate(const IssueRequest& request) {
  ossl::X509Ptr cert(X509_new());
  ossl::X509NamePtr name(X509_NAME_new());
  if (cert == nullptr || name == nullptr || request.subject_key == nullptr) return nullptr;
  for (const auto& [key, value] : request.subject) {
    if (X509_NAME_add_entry_by_txt(name.get(), key.c_str(), MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.data()),
                                   static_cast<int>(value.size()), -1, 0) != 1) {
      return nullptr;
    }
  }
  X509* issuer = request.issuer != nullptr ? request.issuer : cert.get();
  EVP_PKEY* issuer_key = request.issuer != nullptr ? request.issuer_key : request.subject_key;
  if (X509_set_version(cert.get(), 2) != 1 || !RandomSerial(cert.get()) ||
      X509_set_subject_name(cert.get(), name.get()) != 1 ||
      X509_set_issuer_name(cert.get(), request.issuer != nullptr
                                           ? X509_get_subject_name(request.issuer)
                                           : name.get()) != 1 ||
      X509_gmtime_adj(X509_getm_notBefore(cert.get()), -86400) == nullptr ||
      X509_time_adj_ex(X509_getm_notAfter(cert.get()), request.days_valid, 0, nullptr) == nullptr ||
      X509_set_pubkey(cert.get(), request.subject_key) != 1) {
    return nullptr;
  }
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer, cert.get(), nullptr, nullptr, 0);
  std::string basic = request.ca ? "critical,CA:TRUE" : "critical,CA:FALSE";
  if (request.ca && request.path_length >= 0) {
    basic += ",pathlen:" + std::to_string(request.path_length);
  }
  bool ok = AddExtension(cert.get(), &ctx, NID_basic_constraints, basic) &&
            AddExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash") &&
            AddExtension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
  if (ok && !request.key_usage.empty()) {
    ok = AddExtension(cert.get(), &ctx, NID_key_usage, "critical," + request.key_usage);
  }
  if (ok && !request.extended_key_usage.empty()) {
    ok = AddExtension(cert.get(), &ctx, NID_ext_key_usage, request.extended_key_usage);
  }
  if (ok && !request.email.empty()) {
    ok = AddExtension(cert.get(), &ctx, NID_subject_alt_name, "email:" + request.email);
  }
  if (ok && !request.crl_url.empty()) {
    ok = AddExtension(cert.get(), &ctx, NID_crl_distribution_points, "URI:" + request.crl_url);
  }
  if (!ok) return nullptr;
  ossl::MdCtxPtr signer = SigningContext(issuer_key);
  if (signer == nullptr || X509_sign_ctx(cert.get(), signer.get()) <= 0) return nullptr;
  return cert;
}

ossl::X509CrlPtr IssueCrl(X509* issuer, EVP_PKEY* issuer_key, const std::vector<X509*>& revoked,
                          int days) {
  ossl::X509CrlPtr crl(X509_CRL_new());
  ossl::Asn1TimePtr now(X509_gmtime_adj(nullptr, -3600));
  ossl::Asn1TimePtr next(X509_time_adj_ex(nullptr, days, 0, nullptr));
  if (crl == nullptr || now == nullptr || next == nullptr ||
      X509_CRL_set_version(crl.get(), 1) != 1 ||
      X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuer)) != 1 ||
      X509_CRL_set1_lastUpdate(crl.get(), now.get()) != 1 ||
      X509_CRL_set1_nextUpdate(crl.get(), next.get()) != 1) {
    return nullptr;
  }
  for (X509* cert : revoked) {
    ossl::X509RevokedPtr entry(X509_REVOKED_new());
    if (entry == nullptr ||
        X509_REVOKED_set_serialNumber(entry.get(), X509_get_serialNumber(cert)) != 1 ||
        X509_REVOKED_set_revocationDate(entry.get(), now.get()) != 1 ||
        X509_CRL_add0_revoked(crl.get(), entry.get()) != 1) {
      return nullptr;
    }
    entry.release();  // now owned by |crl|
  }
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer, nullptr, nullptr, crl.get(), 0);
  ossl::X509ExtensionPtr aki(
      X509V3_EXT_nconf_nid(nullptr, &ctx, NID_authority_key_identifier, "keyid:always"));
  ossl::MdCtxPtr signer = SigningContext(issuer_key);
  if (aki == nullptr || X509_CRL_add_ext(crl.get(), aki.get(), -1) != 1 ||
      X509_CRL_sort(crl.get()) != 1 || signer == nullptr ||
      X509_CRL_sign_ctx(crl.get(), signer.get()) <= 0) {
    return nullptr;
  }
  return crl;
}

bool CertificateDer(X509* cert, Bytes* der) { return ToDer<X509, i2d_X509>(cert, der); }

bool CrlDer(X509_CRL* crl, Bytes* der) { return ToDer<X509_CRL, i2d_X509_CRL>(crl, der); }

}  // namespace quillmark::platform
