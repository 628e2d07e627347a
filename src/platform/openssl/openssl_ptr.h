// Owning pointers for every OpenSSL object the platform layer holds, in the
// style of bssl::UniquePtr: each type frees itself with the matching OpenSSL
// free function. Also the owner of buffers OpenSSL allocates (i2d output, PEM
// fields) and EncodeDer, which turns an i2d call into bytes.
#ifndef QUILLMARK_PLATFORM_OPENSSL_OPENSSL_PTR_H_
#define QUILLMARK_PLATFORM_OPENSSL_OPENSSL_PTR_H_

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/decoder.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstddef>
#include <memory>

#include "common/bytes.h"

namespace quillmark::platform::ossl {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const noexcept { Free(p); }
};

template <typename T, void (*Free)(T*)>
using Ptr = std::unique_ptr<T, Deleter<T, Free>>;

using Asn1IntegerPtr = Ptr<ASN1_INTEGER, ASN1_INTEGER_free>;
using Asn1ObjectPtr = Ptr<ASN1_OBJECT, ASN1_OBJECT_free>;
using Asn1OctetStringPtr = Ptr<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;
using Asn1TimePtr = Ptr<ASN1_TIME, ASN1_TIME_free>;
using BioPtr = Ptr<BIO, BIO_free_all>;
using BnCtxPtr = Ptr<BN_CTX, BN_CTX_free>;
using BnPtr = Ptr<BIGNUM, BN_free>;
using CipherCtxPtr = Ptr<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;
using CipherPtr = Ptr<EVP_CIPHER, EVP_CIPHER_free>;
using DecoderCtxPtr = Ptr<OSSL_DECODER_CTX, OSSL_DECODER_CTX_free>;
using EcGroupPtr = Ptr<EC_GROUP, EC_GROUP_free>;
using EcPointPtr = Ptr<EC_POINT, EC_POINT_free>;
using EcdsaSigPtr = Ptr<ECDSA_SIG, ECDSA_SIG_free>;
using MdCtxPtr = Ptr<EVP_MD_CTX, EVP_MD_CTX_free>;
using Pkcs12Ptr = Ptr<PKCS12, PKCS12_free>;
using Pkcs7Ptr = Ptr<PKCS7, PKCS7_free>;
using Pkcs7RecipInfoPtr = Ptr<PKCS7_RECIP_INFO, PKCS7_RECIP_INFO_free>;
using Pkcs7SignerInfoPtr = Ptr<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>;
using PkeyCtxPtr = Ptr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using PkeyPtr = Ptr<EVP_PKEY, EVP_PKEY_free>;
using X509CrlPtr = Ptr<X509_CRL, X509_CRL_free>;
using X509ExtensionPtr = Ptr<X509_EXTENSION, X509_EXTENSION_free>;
using X509NamePtr = Ptr<X509_NAME, X509_NAME_free>;
using X509Ptr = Ptr<X509, X509_free>;
using X509RevokedPtr = Ptr<X509_REVOKED, X509_REVOKED_free>;
using X509SigPtr = Ptr<X509_SIG, X509_SIG_free>;
using X509StoreCtxPtr = Ptr<X509_STORE_CTX, X509_STORE_CTX_free>;
using X509StorePtr = Ptr<X509_STORE, X509_STORE_free>;

// A stack of X509 that frees its members with it.
inline void FreeX509Stack(STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }
using X509StackPtr = Ptr<STACK_OF(X509), FreeX509Stack>;

// A stack of X509 that only borrows its members.
inline void FreeX509StackShallow(STACK_OF(X509) * s) { sk_X509_free(s); }
using X509RefStackPtr = Ptr<STACK_OF(X509), FreeX509StackShallow>;

// Memory OpenSSL allocated for the caller (OPENSSL_free is a macro, so it
// gets a function here).
template <typename T>
void OpensslFree(T* p) {
  OPENSSL_free(p);
}
template <typename T>
using OpensslMemory = Ptr<T, OpensslFree<T>>;
using OpensslBuffer = OpensslMemory<unsigned char>;

// Memory holding a secret (private key DER): wiped before it is freed.
class SecretBuffer {
 public:
  SecretBuffer() = default;
  SecretBuffer(unsigned char* p, int length) : p_(p), length_(length > 0 ? length : 0) {}
  ~SecretBuffer() {
    if (p_ != nullptr) OPENSSL_clear_free(p_, length_);
  }
  SecretBuffer(const SecretBuffer&) = delete;
  SecretBuffer& operator=(const SecretBuffer&) = delete;

 private:
  unsigned char* p_ = nullptr;
  std::size_t length_ = 0;
};

// Runs an i2d function over |object| and copies its output to |out|; false
// when it writes nothing. |kSecret| wipes OpenSSL's copy before freeing it.
template <bool kSecret = false, typename T, typename I2d>
bool EncodeDer(I2d i2d, const T* object, Bytes* out) {
  unsigned char* raw = nullptr;
  const int len = i2d(object, &raw);
  if constexpr (kSecret) {
    SecretBuffer owned(raw, len);
    if (len <= 0) return false;
    out->assign(raw, raw + len);
  } else {
    OpensslBuffer owned(raw);
    if (len <= 0) return false;
    out->assign(raw, raw + len);
  }
  return true;
}

}  // namespace quillmark::platform::ossl

#endif  // QUILLMARK_PLATFORM_OPENSSL_OPENSSL_PTR_H_
