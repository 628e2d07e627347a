// Decoding and encoding of messages, the algorithm tables and the legacy
// provider.
#include <openssl/crypto.h>
#include <openssl/objects.h>

#include <limits>
#include <vector>

#include "platform/keys/hash.h"
#include "platform/keys/key_provider.h"
#include "platform/message/message_internal.h"
#include "platform/openssl/openssl_providers.h"
#include "platform/os/last_error.h"

namespace quillmark::platform::msg {

namespace {

constexpr std::size_t kMaxSplitMessage = std::size_t{1} << 20;

constexpr ContentCipher kContentCiphers[] = {
    {kOidRc4, "RC4", true, false, 16},
    {kOidDesEde3Cbc, "DES-EDE3-CBC", false, true, 24},
    {kOidAes128Cbc, "AES-128-CBC", false, true, 16},
    {kOidAes192Cbc, "AES-192-CBC", false, true, 24},
    {kOidAes256Cbc, "AES-256-CBC", false, true, 32},
    {kOidSm4, "SM4-CBC", false, true, 16},
    {kOidSm4Cbc, "SM4-CBC", false, true, 16},
};

// Decodes a SignedData whose certificates come from the cache: the message
// without them through OpenSSL, then each one by its bytes. False when the
// message has no such simple form or any part fails to decode, so that the
// whole message goes through OpenSSL and fails (or not) exactly as it would.
// A message above kMaxSplitMessage goes through OpenSSL whole too: copying
// it without its certificates would cost more than decoding them again.
bool DecodeWithCachedCertificates(ByteSpan der, ossl::Pkcs7Ptr* out) {
  if (der.size() > kMaxSplitMessage) return false;
  Bytes rest;
  std::vector<ByteSpan> cert_ders;
  if (!SplitCertificates(der, &rest, &cert_ders)) return false;
  const unsigned char* p = rest.data();
  ossl::Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, static_cast<long>(rest.size())));
  if (p7 == nullptr || p != rest.data() + rest.size() || !PKCS7_type_is_signed(p7.get()) ||
      p7->d.sign == nullptr || p7->d.sign->cert != nullptr) {
    return false;
  }
  ossl::X509StackPtr certs(sk_X509_new_null());
  if (certs == nullptr) return false;
  for (ByteSpan cert_der : cert_ders) {
    ossl::X509Ptr x = DecodeCachedCertificate(cert_der);
    if (x == nullptr || sk_X509_push(certs.get(), x.get()) <= 0) return false;
    x.release();  // owned by |certs| now
  }
  p7->d.sign->cert = certs.release();
  *out = std::move(p7);
  return true;
}

}  // namespace

bool Succeeded(std::uint32_t error) {
  if (error == 0) return true;
  SetLastError(error);
  return false;
}

std::uint32_t LastFailure() {
  std::uint32_t error = GetLastError();
  return error != 0 ? error : kNteFail;
}

SecretBytes::~SecretBytes() {
  if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
}

bool IsMessageEncoding(std::uint32_t encoding) {
  return (encoding & kPkcs7AsnEncoding) != 0 && (encoding & ~kDefaultEncoding) == 0;
}

std::uint32_t DecodeMessage(ByteSpan der, ossl::Pkcs7Ptr* out) {
  if (der.empty() || der.size() > static_cast<std::size_t>(std::numeric_limits<long>::max())) {
    return kCryptEOssError;
  }
  if (std::uint32_t e = CheckMessageShape(der)) return e;
  if (DecodeWithCachedCertificates(der, out)) return 0;
  const unsigned char* p = der.data();
  ossl::Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
  if (p7 == nullptr || p != der.data() + der.size()) return kCryptEOssError;
  *out = std::move(p7);
  return 0;
}

std::uint32_t EncodeMessage(PKCS7* p7, Bytes* der) {
  int len = i2d_PKCS7(p7, nullptr);
  if (len <= 0) return kCryptEOssError;
  Bytes out(static_cast<std::size_t>(len));
  unsigned char* p = out.data();
  if (i2d_PKCS7(p7, &p) != len) return kCryptEOssError;
  *der = std::move(out);
  return 0;
}

std::string OidText(const ASN1_OBJECT* oid) {
  if (oid == nullptr) return std::string();
  int len = OBJ_obj2txt(nullptr, 0, oid, 1);
  if (len <= 0) return std::string();
  std::string text(static_cast<std::size_t>(len) + 1, '\0');
  OBJ_obj2txt(text.data(), len + 1, oid, 1);
  text.resize(static_cast<std::size_t>(len));
  return text;
}

std::uint32_t SetOctets(ASN1_STRING* s, ByteSpan data) {
  if (data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return kErrorInvalidParameter;
  }
  if (ASN1_STRING_set(s, data.data(), static_cast<int>(data.size())) != 1) {
    return kErrorNotEnoughMemory;
  }
  return 0;
}

std::uint32_t SetAlgorithm(X509_ALGOR* alg, std::string_view oid, int parameter_type,
                           void* parameter) {
  ossl::Asn1ObjectPtr obj(OBJ_txt2obj(std::string(oid).c_str(), 1));
  if (obj == nullptr) return kNteBadAlgId;
  if (X509_ALGOR_set0(alg, obj.get(), parameter_type, parameter) != 1) return kErrorNotEnoughMemory;
  obj.release();  // owned by |alg| now
  return 0;
}

std::uint32_t SetIssuerAndSerial(PKCS7_ISSUER_AND_SERIAL* ias, const X509* cert) {
  ossl::Asn1IntegerPtr serial(ASN1_INTEGER_dup(X509_get0_serialNumber(cert)));
  if (serial == nullptr || X509_NAME_set(&ias->issuer, X509_get_issuer_name(cert)) != 1) {
    return kErrorNotEnoughMemory;
  }
  ASN1_INTEGER_free(ias->serial);  // the empty one PKCS7 made
  ias->serial = serial.release();
  return 0;
}

const ContentCipher* FindContentCipher(std::string_view oid) {
  for (const ContentCipher& c : kContentCiphers) {
    if (c.oid == oid) return &c;
  }
  return nullptr;
}

std::uint32_t FetchCipher(const ContentCipher& cipher, ossl::CipherPtr* out) {
  if (cipher.legacy && !LoadLegacyProvider()) return kNteBadAlgId;
  ossl::CipherPtr fetched(EVP_CIPHER_fetch(nullptr, cipher.name, nullptr));
  if (fetched == nullptr) return kNteBadAlgId;
  *out = std::move(fetched);
  return 0;
}

std::uint32_t DigestData(std::string_view oid, ByteSpan data, Bytes* digest) {
  std::uint32_t algid = CertOIDToAlgId(oid);
  if (algid == 0) return kNteBadAlgId;
  // A verification context holds no keys, so an SM3 hash here is plain SM3.
  ProvHandle prov;
  HashHandle hash;
  if (!CryptAcquireContextW(&prov, u"", u"", kProvRsaFull, kCryptVerifyContext) ||
      !CryptCreateHash(*prov, algid, nullptr, 0, &hash) || !CryptHashData(*hash, data, 0) ||
      !CryptGetHashParam(*hash, kHpHashVal, digest)) {
    return LastFailure();
  }
  return 0;
}

}  // namespace quillmark::platform::msg
