#include "platform/keys/sm2.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include <algorithm>

namespace quillmark::platform {

namespace {

constexpr int kFieldBytes = 32;

bool AppendFieldElement(const BIGNUM* v, Bytes* out) {
  std::uint8_t buf[kFieldBytes];
  if (BN_bn2binpad(v, buf, kFieldBytes) != kFieldBytes) return false;
  out->insert(out->end(), buf, buf + kFieldBytes);
  return true;
}

// Writes |v| as 32 bytes, least significant first, at |out|.
bool PutLittleEndian(const BIGNUM* v, std::uint8_t* out) {
  if (BN_bn2binpad(v, out, kFieldBytes) != kFieldBytes) return false;
  std::reverse(out, out + kFieldBytes);
  return true;
}

}  // namespace

bool IsSm2Key(const EVP_PKEY* key) { return key != nullptr && EVP_PKEY_is_a(key, "SM2"); }

ossl::PkeyPtr GenerateSm2Key() {
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
  EVP_PKEY* key = nullptr;
  if (ctx == nullptr || EVP_PKEY_keygen_init(ctx.get()) <= 0 ||
      EVP_PKEY_generate(ctx.get(), &key) <= 0) {
    return nullptr;
  }
  return ossl::PkeyPtr(key);
}

bool Sm2PublicPoint(const EVP_PKEY* key, Bytes* point) {
  if (!IsSm2Key(key)) return false;
  std::uint8_t buf[2 * kFieldBytes + 1];
  size_t len = 0;
  if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, buf, sizeof buf,
                                      &len) != 1) {
    return false;
  }
  ossl::EcGroupPtr group(EC_GROUP_new_by_curve_name(NID_sm2));
  ossl::EcPointPtr p(group ? EC_POINT_new(group.get()) : nullptr);
  if (p == nullptr || EC_POINT_oct2point(group.get(), p.get(), buf, len, nullptr) != 1) {
    return false;
  }
  point->assign(sizeof buf, 0);
  return EC_POINT_point2oct(group.get(), p.get(), POINT_CONVERSION_UNCOMPRESSED, point->data(),
                            point->size(), nullptr) == sizeof buf;
}

bool Sm2UserHash(const EVP_PKEY* key, std::string_view user_id, Bytes* z) {
  Bytes point;
  if (!Sm2PublicPoint(key, &point) || user_id.size() >= 8192) return false;
  ossl::EcGroupPtr group(EC_GROUP_new_by_curve_name(NID_sm2));
  ossl::BnPtr p(BN_new()), a(BN_new()), b(BN_new()), gx(BN_new()), gy(BN_new());
  if (!group || !p || !a || !b || !gx || !gy ||
      EC_GROUP_get_curve(group.get(), p.get(), a.get(), b.get(), nullptr) != 1 ||
      EC_POINT_get_affine_coordinates(group.get(), EC_GROUP_get0_generator(group.get()), gx.get(),
                                      gy.get(), nullptr) != 1) {
    return false;
  }
  unsigned bits = static_cast<unsigned>(user_id.size()) * 8;
  Bytes input = {static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
  input.insert(input.end(), user_id.begin(), user_id.end());
  if (!AppendFieldElement(a.get(), &input) || !AppendFieldElement(b.get(), &input) ||
      !AppendFieldElement(gx.get(), &input) || !AppendFieldElement(gy.get(), &input)) {
    return false;
  }
  input.insert(input.end(), point.begin() + 1, point.end());
  z->assign(32, 0);
  unsigned int len = 0;
  return EVP_Digest(input.data(), input.size(), z->data(), &len, EVP_sm3(), nullptr) == 1 &&
         len == 32;
}

bool Sm2SignatureFromDer(ByteSpan der, Bytes* raw) {
  const unsigned char* p = der.data();
  ossl::EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size())));
  if (sig == nullptr || p != der.data() + der.size()) return false;
  Bytes out(2 * kFieldBytes);
  if (!PutLittleEndian(ECDSA_SIG_get0_r(sig.get()), out.data()) ||
      !PutLittleEndian(ECDSA_SIG_get0_s(sig.get()), out.data() + kFieldBytes)) {
    return false;
  }
  *raw = std::move(out);
  return true;
}

bool Sm2SignatureToDer(ByteSpan raw, Bytes* der) {
  if (raw.size() != 2 * kFieldBytes) return false;
  std::uint8_t half[kFieldBytes];
  std::reverse_copy(raw.begin(), raw.begin() + kFieldBytes, half);
  ossl::BnPtr r(BN_bin2bn(half, kFieldBytes, nullptr));
  std::reverse_copy(raw.begin() + kFieldBytes, raw.end(), half);
  ossl::BnPtr s(BN_bin2bn(half, kFieldBytes, nullptr));
  ossl::EcdsaSigPtr sig(ECDSA_SIG_new());
  if (!r || !s || !sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return false;
  r.release();  // now owned by |sig|
  s.release();
  return ossl::EncodeDer(i2d_ECDSA_SIG, sig.get(), der);
}

}  // namespace quillmark::platform
