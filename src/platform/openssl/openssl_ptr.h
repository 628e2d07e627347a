// Owning pointers for the OpenSSL objects used by the key, hash and issuing
// code, in the style of bssl::UniquePtr: each type frees itself with the
// matching OpenSSL free function.
#ifndef QUILLMARK_PLATFORM_OPENSSL_OPENSSL_PTR_H_
#define QUILLMARK_PLATFORM_OPENSSL_OPENSSL_PTR_H_

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace quillmark::platform::ossl {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const noexcept { Free(p); }
};

template <typename T, void (*Free)(T*)>
using Ptr = std::unique_ptr<T, Deleter<T, Free>>;

using BioPtr = Ptr<BIO, BIO_free_all>;
using BnPtr = Ptr<BIGNUM, BN_free>;
using BnCtxPtr = Ptr<BN_CTX, BN_CTX_free>;
using EcGroupPtr = Ptr<EC_GROUP, EC_GROUP_free>;
using EcPointPtr = Ptr<EC_POINT, EC_POINT_free>;
using EcdsaSigPtr = Ptr<ECDSA_SIG, ECDSA_SIG_free>;
using MdCtxPtr = Ptr<EVP_MD_CTX, EVP_MD_CTX_free>;
using PkeyCtxPtr = Ptr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using PkeyPtr = Ptr<EVP_PKEY, EVP_PKEY_free>;
using Pkcs12Ptr = Ptr<PKCS12, PKCS12_free>;
using X509Ptr = Ptr<X509, X509_free>;
using X509CrlPtr = Ptr<X509_CRL, X509_CRL_free>;
using X509NamePtr = Ptr<X509_NAME, X509_NAME_free>;
using X509ExtensionPtr = Ptr<X509_EXTENSION, X509_EXTENSION_free>;
using X509RevokedPtr = Ptr<X509_REVOKED, X509_REVOKED_free>;
using Asn1IntegerPtr = Ptr<ASN1_INTEGER, ASN1_INTEGER_free>;
using Asn1TimePtr = Ptr<ASN1_TIME, ASN1_TIME_free>;

// A stack of X509 that frees its members with it.
inline void FreeX509Stack(STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }
using X509StackPtr = Ptr<STACK_OF(X509), FreeX509Stack>;

}  // namespace quillmark::platform::ossl

#endif  // QUILLMARK_PLATFORM_OPENSSL_OPENSSL_PTR_H_
