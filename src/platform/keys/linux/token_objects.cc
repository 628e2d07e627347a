#include "platform/keys/token_objects.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

namespace quillmark::platform::p11 {

namespace {

ossl::PkeyPtr RsaKey(const Bytes& modulus, const Bytes& exponent) {
  ossl::BnPtr n(BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr));
  ossl::BnPtr e(BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr));
  OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
  if (n == nullptr || e == nullptr || bld == nullptr ||
      OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, e.get()) != 1) {
    OSSL_PARAM_BLD_free(bld);
    return nullptr;
  }
  OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
  OSSL_PARAM_BLD_free(bld);
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* key = nullptr;
  if (params == nullptr || ctx == nullptr || EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
      EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) <= 0) {
    key = nullptr;
  }
  OSSL_PARAM_free(params);
  return ossl::PkeyPtr(key);
}

// An EC key (an SM2 key on the SM2 curve) from CKA_EC_PARAMS (the curve's
// OID) and CKA_EC_POINT (the point, in an OCTET STRING or bare).
ossl::PkeyPtr EcKey(const Bytes& params, const Bytes& point) {
  const unsigned char* p = params.data();
  ASN1_OBJECT* curve = d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(params.size()));
  if (curve == nullptr) return nullptr;
  Bytes bare = point;
  p = point.data();
  if (ASN1_OCTET_STRING* wrapped =
          d2i_ASN1_OCTET_STRING(nullptr, &p, static_cast<long>(point.size()));
      wrapped != nullptr) {
    if (p == point.data() + point.size()) {
      const unsigned char* data = ASN1_STRING_get0_data(wrapped);
      bare.assign(data, data + ASN1_STRING_length(wrapped));
    }
    ASN1_OCTET_STRING_free(wrapped);
  }
  X509_PUBKEY* spki = X509_PUBKEY_new();
  unsigned char* bits = static_cast<unsigned char*>(OPENSSL_memdup(bare.data(), bare.size()));
  if (spki == nullptr || bits == nullptr ||
      X509_PUBKEY_set0_param(spki, OBJ_nid2obj(NID_X9_62_id_ecPublicKey), V_ASN1_OBJECT, curve,
                             bits, static_cast<int>(bare.size())) != 1) {
    X509_PUBKEY_free(spki);
    ASN1_OBJECT_free(curve);
    OPENSSL_free(bits);
    return nullptr;
  }
  Bytes der;
  bool encoded = ossl::EncodeDer(i2d_X509_PUBKEY, spki, &der);
  X509_PUBKEY_free(spki);
  if (!encoded) return nullptr;
  p = der.data();
  return ossl::PkeyPtr(d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
}

std::string LabelOf(const Session& session, CK_OBJECT_HANDLE object) {
  Bytes label;
  if (!GetAttribute(session, object, CKA_LABEL, &label)) return std::string();
  return std::string(label.begin(), label.end());
}

}  // namespace

ossl::PkeyPtr PublicHalfOfPrivateKey(const Session& session, CK_OBJECT_HANDLE object) {
  Bytes modulus, exponent;
  if (GetAttribute(session, object, CKA_MODULUS, &modulus) &&
      GetAttribute(session, object, CKA_PUBLIC_EXPONENT, &exponent) && !modulus.empty()) {
    return RsaKey(modulus, exponent);
  }
  return nullptr;
}

ossl::PkeyPtr PublicKeyOf(const Session& session, const Bytes& id) {
  for (CK_OBJECT_HANDLE object : FindObjects(session, CKO_PUBLIC_KEY, &id, 1)) {
    Bytes a, b;
    if (GetAttribute(session, object, CKA_MODULUS, &a) &&
        GetAttribute(session, object, CKA_PUBLIC_EXPONENT, &b)) {
      return RsaKey(a, b);
    }
    if (GetAttribute(session, object, CKA_EC_PARAMS, &a) &&
        GetAttribute(session, object, CKA_EC_POINT, &b)) {
      return EcKey(a, b);
    }
  }
  for (CK_OBJECT_HANDLE object : FindObjects(session, CKO_CERTIFICATE, &id, 1)) {
    Bytes der;
    if (!GetAttribute(session, object, CKA_VALUE, &der)) continue;
    const unsigned char* p = der.data();
    ossl::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (cert == nullptr) continue;
    EVP_PKEY* key = X509_get_pubkey(cert.get());
    if (key != nullptr) return ossl::PkeyPtr(key);
  }
  return nullptr;
}

std::vector<TokenCertificate> CertificatesOn(const Session& session, std::size_t limit) {
  std::vector<TokenCertificate> certs;
  for (CK_OBJECT_HANDLE object : FindObjects(session, CKO_CERTIFICATE, nullptr, limit)) {
    CK_ULONG type = 0;
    TokenCertificate cert;
    if (!GetUlongAttribute(session, object, CKA_CERTIFICATE_TYPE, &type) || type != CKC_X_509 ||
        !GetAttribute(session, object, CKA_VALUE, &cert.der)) {
      continue;
    }
    GetAttribute(session, object, CKA_ID, &cert.id);
    cert.label = LabelOf(session, object);
    certs.push_back(std::move(cert));
  }
  return certs;
}

std::vector<TokenKey> KeysOn(const Session& session, std::size_t limit) {
  std::vector<TokenKey> keys;
  for (CK_OBJECT_CLASS object_class : {CKO_PRIVATE_KEY, CKO_PUBLIC_KEY}) {
    for (CK_OBJECT_HANDLE object : FindObjects(session, object_class, nullptr, limit)) {
      TokenKey key;
      key.object_class = object_class;
      GetAttribute(session, object, CKA_ID, &key.id);
      CK_ULONG type = 0;
      if (GetUlongAttribute(session, object, CKA_KEY_TYPE, &type)) key.key_type = type;
      key.label = LabelOf(session, object);
      keys.push_back(std::move(key));
    }
  }
  return keys;
}

bool TokenInfoOf(const Module& module, CK_SLOT_ID slot, CK_TOKEN_INFO* info) {
  return module.f()->C_GetTokenInfo(slot, info) == CKR_OK;
}

}  // namespace quillmark::platform::p11
