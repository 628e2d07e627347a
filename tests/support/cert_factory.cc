#include "support/cert_factory.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>

namespace quillmark::testing {

namespace {

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "cert_factory: %s failed\n", what);
  std::abort();
}

template <typename T, void (*F)(T*)>
struct Deleter {
  void operator()(T* p) const { F(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, Deleter<X509_NAME, X509_NAME_free>>;
using X509CrlPtr = std::unique_ptr<X509_CRL, Deleter<X509_CRL, X509_CRL_free>>;
using Asn1IntegerPtr = std::unique_ptr<ASN1_INTEGER, Deleter<ASN1_INTEGER, ASN1_INTEGER_free>>;
using Asn1TimePtr = std::unique_ptr<ASN1_TIME, Deleter<ASN1_TIME, ASN1_TIME_free>>;

Bytes OidDer(std::string_view type) {
  std::string text(type);
  ASN1_OBJECT* obj = OBJ_txt2obj(text.c_str(), 0);
  if (obj == nullptr) Die("OBJ_txt2obj");
  int len = i2d_ASN1_OBJECT(obj, nullptr);
  Bytes out(static_cast<size_t>(len));
  unsigned char* p = out.data();
  i2d_ASN1_OBJECT(obj, &p);
  ASN1_OBJECT_free(obj);
  return out;
}

Bytes Attribute(std::string_view type, const Bytes& value_tlv) {
  Bytes body = OidDer(type);
  body.insert(body.end(), value_tlv.begin(), value_tlv.end());
  return Tlv(0x30, body);
}

X509NamePtr NameFromDer(const Bytes& der) {
  const unsigned char* p = der.data();
  X509NamePtr name(d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size())));
  if (!name) Die("d2i_X509_NAME");
  return name;
}

Asn1IntegerPtr IntegerFromContent(const Bytes& content) {
  Bytes tlv = Tlv(0x02, content);
  const unsigned char* p = tlv.data();
  Asn1IntegerPtr i(d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(tlv.size())));
  if (!i) Die("d2i_ASN1_INTEGER");
  return i;
}

}  // namespace

Bytes Tlv(int tag, ByteSpan content) {
  Bytes out;
  out.push_back(static_cast<std::uint8_t>(tag));
  size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<std::uint8_t>(n));
  } else {
    Bytes len;
    for (; n > 0; n >>= 8) len.insert(len.begin(), static_cast<std::uint8_t>(n & 0xFF));
    out.push_back(static_cast<std::uint8_t>(0x80 | len.size()));
    out.insert(out.end(), len.begin(), len.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

NameBuilder& NameBuilder::Add(std::string_view type, std::string_view value, int tag) {
  rdns_.push_back({Attribute(type, Tlv(tag, AsBytes(value)))});
  return *this;
}

NameBuilder& NameBuilder::Also(std::string_view type, std::string_view value, int tag) {
  if (rdns_.empty()) rdns_.emplace_back();
  rdns_.back().push_back(Attribute(type, Tlv(tag, AsBytes(value))));
  return *this;
}

NameBuilder& NameBuilder::AddRaw(std::string_view type, const Bytes& value_tlv) {
  rdns_.push_back({Attribute(type, value_tlv)});
  return *this;
}

Bytes NameBuilder::Der() const {
  Bytes rdns;
  for (const auto& rdn : rdns_) {
    Bytes set;
    for (const Bytes& atv : rdn) set.insert(set.end(), atv.begin(), atv.end());
    Bytes tlv = Tlv(0x31, set);
    rdns.insert(rdns.end(), tlv.begin(), tlv.end());
  }
  return Tlv(0x30, rdns);
}

std::string Ucs2Be(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c >> 8));
    out.push_back(static_cast<char>(c & 0xFF));
  }
  return out;
}

std::string Ucs4Be(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) {
    for (int shift = 24; shift >= 0; shift -= 8)
      out.push_back(static_cast<char>((c >> shift) & 0xFF));
  }
  return out;
}

EvpPkeyPtr MakeEcKey() {
  EvpPkeyPtr key(EVP_EC_gen("P-256"));
  if (!key) Die("EVP_EC_gen");
  return key;
}

EvpPkeyPtr MakeRsaKey(int bits) {
  EvpPkeyPtr key(EVP_RSA_gen(static_cast<unsigned>(bits)));
  if (!key) Die("EVP_RSA_gen");
  return key;
}

Bytes MakeCertificate(const CertSpec& spec) {
  X509Ptr x(X509_new());
  if (!x || spec.subject_key == nullptr) Die("X509_new");
  X509_set_version(x.get(), spec.version - 1);
  Asn1IntegerPtr serial = IntegerFromContent(spec.serial);
  X509_set_serialNumber(x.get(), serial.get());
  X509NamePtr subject = NameFromDer(spec.subject);
  X509NamePtr issuer = NameFromDer(spec.issuer.empty() ? spec.subject : spec.issuer);
  if (!X509_set_subject_name(x.get(), subject.get()) ||
      !X509_set_issuer_name(x.get(), issuer.get())) {
    Die("X509_set_*_name");
  }
  if (!ASN1_TIME_set(X509_getm_notBefore(x.get()), static_cast<time_t>(spec.not_before)) ||
      !ASN1_TIME_set(X509_getm_notAfter(x.get()), static_cast<time_t>(spec.not_after))) {
    Die("ASN1_TIME_set");
  }
  if (!X509_set_pubkey(x.get(), spec.subject_key)) Die("X509_set_pubkey");
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, x.get(), x.get(), nullptr, nullptr, 0);
  for (const auto& [name, value] : spec.extensions) {
    X509_EXTENSION* ext = X509V3_EXT_conf(nullptr, &ctx, name.c_str(), value.c_str());
    if (ext == nullptr) Die("X509V3_EXT_conf");
    X509_add_ext(x.get(), ext, -1);
    X509_EXTENSION_free(ext);
  }
  EVP_PKEY* signer = spec.issuer_key != nullptr ? spec.issuer_key : spec.subject_key;
  if (X509_sign(x.get(), signer, spec.digest != nullptr ? spec.digest : EVP_sha256()) <= 0) {
    Die("X509_sign");
  }
  int len = i2d_X509(x.get(), nullptr);
  Bytes der(static_cast<size_t>(len));
  unsigned char* p = der.data();
  i2d_X509(x.get(), &p);
  return der;
}

Bytes MakeCrl(const CrlSpec& spec) {
  X509CrlPtr crl(X509_CRL_new());
  if (!crl || spec.issuer_key == nullptr) Die("X509_CRL_new");
  X509_CRL_set_version(crl.get(), 1);
  X509NamePtr issuer = NameFromDer(spec.issuer);
  X509_CRL_set_issuer_name(crl.get(), issuer.get());
  Asn1TimePtr this_update(ASN1_TIME_set(nullptr, static_cast<time_t>(spec.this_update)));
  Asn1TimePtr next_update(ASN1_TIME_set(nullptr, static_cast<time_t>(spec.next_update)));
  X509_CRL_set1_lastUpdate(crl.get(), this_update.get());
  X509_CRL_set1_nextUpdate(crl.get(), next_update.get());
  for (const Bytes& serial : spec.revoked_serials) {
    X509_REVOKED* r = X509_REVOKED_new();
    Asn1IntegerPtr s = IntegerFromContent(serial);
    X509_REVOKED_set_serialNumber(r, s.get());
    X509_REVOKED_set_revocationDate(r, this_update.get());
    X509_CRL_add0_revoked(crl.get(), r);
  }
  X509_CRL_sort(crl.get());
  if (X509_CRL_sign(crl.get(), spec.issuer_key, EVP_sha256()) <= 0) Die("X509_CRL_sign");
  int len = i2d_X509_CRL(crl.get(), nullptr);
  Bytes der(static_cast<size_t>(len));
  unsigned char* p = der.data();
  i2d_X509_CRL(crl.get(), &p);
  return der;
}

std::string DerToPem(ByteSpan der, const char* label) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio(bio, label, "", der.data(), static_cast<long>(der.size()));
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string out(data, static_cast<size_t>(n));
  BIO_free(bio);
  return out;
}

std::string PrivateKeyPem(EVP_PKEY* key) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string out(data, static_cast<size_t>(n));
  BIO_free(bio);
  return out;
}

bool WriteBytes(const std::string& path, ByteSpan data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace quillmark::testing
