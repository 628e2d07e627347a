#include "platform/keys/cert_issuer.h"

#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include "platform/keys/sm2.h"
#include "platform/openssl/openssl_ptr.h"

namespace quillmark::platform {

struct IssuingKey::Impl {
  ossl::PkeyPtr pkey;
};

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

ossl::X509Ptr ParseCertificate(ByteSpan der) {
  const unsigned char* p = der.data();
  ossl::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (cert != nullptr && p != der.data() + der.size()) cert.reset();
  return cert;
}

EVP_PKEY* KeyOf(const IssuingKey* key) {
  return key != nullptr && *key ? key->impl()->pkey.get() : nullptr;
}

// Version, serial, names, validity and public key of a new certificate.
bool SetCertificateFields(X509* cert, const X509_NAME* subject, const X509_NAME* issuer_name,
                          int days_valid, EVP_PKEY* subject_key) {
  return X509_set_version(cert, 2) == 1 && RandomSerial(cert) &&
         X509_set_subject_name(cert, subject) == 1 &&
         X509_set_issuer_name(cert, issuer_name) == 1 &&
         X509_gmtime_adj(X509_getm_notBefore(cert), -86400) != nullptr &&
         X509_time_adj_ex(X509_getm_notAfter(cert), days_valid, 0, nullptr) != nullptr &&
         X509_set_pubkey(cert, subject_key) == 1;
}

bool AddExtensions(const IssueRequest& request, X509* issuer, X509* cert) {
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  std::string basic = request.ca ? "critical,CA:TRUE" : "critical,CA:FALSE";
  if (request.ca && request.path_length >= 0) {
    basic += ",pathlen:" + std::to_string(request.path_length);
  }
  bool ok = AddExtension(cert, &ctx, NID_basic_constraints, basic) &&
            AddExtension(cert, &ctx, NID_subject_key_identifier, "hash") &&
            AddExtension(cert, &ctx, NID_authority_key_identifier, "keyid:always");
  if (ok && !request.key_usage.empty()) {
    ok = AddExtension(cert, &ctx, NID_key_usage, "critical," + request.key_usage);
  }
  if (ok && !request.extended_key_usage.empty()) {
    ok = AddExtension(cert, &ctx, NID_ext_key_usage, request.extended_key_usage);
  }
  if (ok && !request.email.empty()) {
    ok = AddExtension(cert, &ctx, NID_subject_alt_name, "email:" + request.email);
  }
  if (ok && !request.crl_url.empty()) {
    ok = AddExtension(cert, &ctx, NID_crl_distribution_points, "URI:" + request.crl_url);
  }
  return ok;
}

ossl::X509NamePtr MakeName(const std::vector<std::pair<std::string, std::string>>& attributes) {
  ossl::X509NamePtr name(X509_NAME_new());
  if (name == nullptr) return nullptr;
  for (const auto& [key, value] : attributes) {
    if (X509_NAME_add_entry_by_txt(name.get(), key.c_str(), MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.data()),
                                   static_cast<int>(value.size()), -1, 0) != 1) {
      return nullptr;
    }
  }
  return name;
}

}  // namespace

IssuingKey::IssuingKey() = default;
IssuingKey::~IssuingKey() = default;
IssuingKey::IssuingKey(IssuingKey&&) noexcept = default;
IssuingKey& IssuingKey::operator=(IssuingKey&&) noexcept = default;
IssuingKey::IssuingKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

IssuingKey IssuingKey::GenerateRsa(int bits) {
  ossl::PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
  if (key == nullptr) return IssuingKey();
  return IssuingKey(std::make_unique<Impl>(Impl{std::move(key)}));
}

IssuingKey IssuingKey::GenerateSm2() {
  ossl::PkeyPtr key = GenerateSm2Key();
  if (key == nullptr) return IssuingKey();
  return IssuingKey(std::make_unique<Impl>(Impl{std::move(key)}));
}

bool IssuingKey::PrivateKeyInfo(Bytes* der) const {
  return impl_ != nullptr &&
         ossl::EncodeDer</*kSecret=*/true>(i2d_PrivateKey, impl_->pkey.get(), der);
}

bool IssueCertificate(const IssueRequest& request, Bytes* der) {
  EVP_PKEY* subject_key = KeyOf(request.subject_key);
  ossl::X509Ptr cert(X509_new());
  ossl::X509NamePtr name = MakeName(request.subject);
  if (cert == nullptr || name == nullptr || subject_key == nullptr) return false;
  const bool self_signed = request.issuer_cert.empty();
  ossl::X509Ptr issuer_cert;
  if (!self_signed && (issuer_cert = ParseCertificate(request.issuer_cert)) == nullptr)
    return false;
  X509* issuer = self_signed ? cert.get() : issuer_cert.get();
  EVP_PKEY* issuer_key = self_signed ? subject_key : KeyOf(request.issuer_key);
  if (!SetCertificateFields(cert.get(), name.get(),
                            self_signed ? name.get() : X509_get_subject_name(issuer),
                            request.days_valid, subject_key) ||
      !AddExtensions(request, issuer, cert.get())) {
    return false;
  }
  ossl::MdCtxPtr signer = SigningContext(issuer_key);
  if (signer == nullptr || X509_sign_ctx(cert.get(), signer.get()) <= 0) return false;
  return ossl::EncodeDer(i2d_X509, cert.get(), der);
}

bool IssueCrl(const CrlRequest& request, Bytes* der) {
  ossl::X509Ptr issuer = ParseCertificate(request.issuer_cert);
  EVP_PKEY* issuer_key = KeyOf(request.issuer_key);
  ossl::X509CrlPtr crl(X509_CRL_new());
  ossl::Asn1TimePtr now(X509_gmtime_adj(nullptr, -3600));
  ossl::Asn1TimePtr next(X509_time_adj_ex(nullptr, request.days_valid, 0, nullptr));
  if (issuer == nullptr || issuer_key == nullptr || crl == nullptr || now == nullptr ||
      next == nullptr || X509_CRL_set_version(crl.get(), 1) != 1 ||
      X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuer.get())) != 1 ||
      X509_CRL_set1_lastUpdate(crl.get(), now.get()) != 1 ||
      X509_CRL_set1_nextUpdate(crl.get(), next.get()) != 1) {
    return false;
  }
  for (ByteSpan revoked : request.revoked) {
    ossl::X509Ptr cert = ParseCertificate(revoked);
    ossl::X509RevokedPtr entry(X509_REVOKED_new());
    if (cert == nullptr || entry == nullptr ||
        X509_REVOKED_set_serialNumber(entry.get(), X509_get_serialNumber(cert.get())) != 1 ||
        X509_REVOKED_set_revocationDate(entry.get(), now.get()) != 1 ||
        X509_CRL_add0_revoked(crl.get(), entry.get()) != 1) {
      return false;
    }
    entry.release();  // now owned by |crl|
  }
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer.get(), nullptr, nullptr, crl.get(), 0);
  ossl::X509ExtensionPtr aki(
      X509V3_EXT_nconf_nid(nullptr, &ctx, NID_authority_key_identifier, "keyid:always"));
  ossl::MdCtxPtr signer = SigningContext(issuer_key);
  if (aki == nullptr || X509_CRL_add_ext(crl.get(), aki.get(), -1) != 1 ||
      X509_CRL_sort(crl.get()) != 1 || signer == nullptr ||
      X509_CRL_sign_ctx(crl.get(), signer.get()) <= 0) {
    return false;
  }
  return ossl::EncodeDer(i2d_X509_CRL, crl.get(), der);
}

}  // namespace quillmark::platform
