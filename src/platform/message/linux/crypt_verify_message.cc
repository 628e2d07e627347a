// CryptVerifyMessageSignature and CryptVerifyDetachedMessageSignature: one
// signer of a SignedData checked against the certificate in the message.
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/keys/hash.h"
#include "platform/keys/key_provider_internal.h"
#include "platform/keys/sign_verify.h"
#include "platform/keys/sm2.h"
#include "platform/message/message_internal.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context_internal.h"

namespace quillmark::platform {

namespace msg {

namespace {

// The content inside a SignedData: the data OCTET STRING (empty when the
// signature is detached).
std::uint32_t EmbeddedContent(PKCS7* p7, ByteSpan* content) {
  *content = ByteSpan();
  PKCS7* inner = p7->d.sign->contents;
  if (inner == nullptr) return 0;
  const ASN1_OCTET_STRING* os = nullptr;
  switch (OBJ_obj2nid(inner->type)) {
    case NID_pkcs7_data:
      os = inner->d.data;
      break;
    case NID_pkcs7_signed:
    case NID_pkcs7_enveloped:
    case NID_pkcs7_signedAndEnveloped:
    case NID_pkcs7_digest:
    case NID_pkcs7_encrypted:
      if (inner->d.ptr != nullptr) return kCryptEUnexpectedMsgType;
      break;
    default:  // another content type, kept as it was decoded
      if (inner->d.other == nullptr) break;
      if (inner->d.other->type != V_ASN1_OCTET_STRING) return kCryptEUnexpectedMsgType;
      os = inner->d.other->value.octet_string;
      break;
  }
  if (os != nullptr) {
    *content =
        ByteSpan(ASN1_STRING_get0_data(os), static_cast<std::size_t>(ASN1_STRING_length(os)));
  }
  return 0;
}

// The certificate among the message's whose issuer and serial number the
// SignerInfo names.
X509* FindSignerCertificate(PKCS7* p7, const PKCS7_ISSUER_AND_SERIAL* ias) {
  STACK_OF(X509)* certs = p7->d.sign->cert;
  for (int i = 0; i < sk_X509_num(certs); ++i) {
    X509* x = sk_X509_value(certs, i);
    if (X509_NAME_cmp(X509_get_issuer_name(x), ias->issuer) == 0 &&
        ASN1_INTEGER_cmp(X509_get0_serialNumber(x), ias->serial) == 0) {
      return x;
    }
  }
  return nullptr;
}

std::uint32_t ContextOf(X509* x, CertContextPtr* out) {
  *out = CertContextFromX509(x);  // shares the message's parse
  return *out != nullptr ? 0 : LastFailure();
}

// Checks |signature| (as a SignerInfo carries it) over |signed_bytes| with the
// certificate's public key, through a verification context.
std::uint32_t CheckSignature(const CertContext& cert, std::uint32_t algid, ByteSpan signed_bytes,
                             ByteSpan signature) {
  KeyKind kind;
  if (!KindOfKey(X509_get0_pubkey(CertContextX509(cert)), &kind)) return kNteBadAlgId;
  ProvHandle prov;
  KeyHandle key;
  HashHandle hash;
  // The key goes in before the hash is made, so that an SM3 hash knows the
  // SM2 key's identity hash.
  if (!CryptAcquireContextW(&prov, u"", u"", kProvRsaFull, kCryptVerifyContext) ||
      !CryptImportPublicKeyInfo(*prov, kDefaultEncoding, cert.public_key_info_der(), &key) ||
      !CryptCreateHash(*prov, algid, nullptr, 0, &hash) || !CryptHashData(*hash, signed_bytes, 0)) {
    return LastFailure();
  }
  Bytes provider_form;
  if (kind == KeyKind::kSm2) {
    if (!Sm2SignatureFromDer(signature, &provider_form)) return kNteBadSignature;
  } else {
    provider_form.assign(signature.rbegin(), signature.rend());
  }
  if (!CryptVerifySignatureW(*hash, provider_form, *key, u"", 0)) return LastFailure();
  return 0;
}

// What the signature covers: the content itself, or, when the SignerInfo has
// authenticated attributes, their DER once messageDigest matches the content.
std::uint32_t SignedBytes(PKCS7_SIGNER_INFO* si, const std::string& digest_oid, ByteSpan content,
                          Bytes* attributes_der, ByteSpan* signed_bytes) {
  STACK_OF(X509_ATTRIBUTE)* attrs = si->auth_attr;
  if (sk_X509_ATTRIBUTE_num(attrs) <= 0) {
    *signed_bytes = content;
    return 0;
  }
  Bytes digest;
  if (std::uint32_t e = DigestData(digest_oid, content, &digest)) return e;
  ASN1_OCTET_STRING* md = PKCS7_digest_from_attributes(attrs);
  if (md == nullptr || static_cast<std::size_t>(ASN1_STRING_length(md)) != digest.size() ||
      std::memcmp(ASN1_STRING_get0_data(md), digest.data(), digest.size()) != 0) {
    return kCryptEHashValue;
  }
  unsigned char* der = nullptr;
  int len =
      ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(attrs), &der, ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
  if (len <= 0) return kCryptEOssError;
  ossl::OpensslBuffer owned(der);
  attributes_der->assign(der, der + len);
  *signed_bytes = *attributes_der;
  return 0;
}

}  // namespace

std::uint32_t VerifyDecoded(PKCS7* p7, std::uint32_t signer_index, const ByteSpan* detached,
                            Bytes* content, CertContextPtr* signer) {
  if (!PKCS7_type_is_signed(p7) || p7->d.sign == nullptr) return kCryptEUnexpectedMsgType;
  STACK_OF(PKCS7_SIGNER_INFO)* infos = p7->d.sign->signer_info;
  if (signer_index >= static_cast<std::uint32_t>(std::max(sk_PKCS7_SIGNER_INFO_num(infos), 0))) {
    return kCryptENoSigner;
  }
  PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(infos, static_cast<int>(signer_index));

  ByteSpan data;
  if (detached != nullptr) {
    data = *detached;
  } else if (std::uint32_t e = EmbeddedContent(p7, &data)) {
    return e;
  }
  X509* x = FindSignerCertificate(p7, si->issuer_and_serial);
  if (x == nullptr) return kCryptENotFound;
  CertContextPtr cert;
  if (std::uint32_t e = ContextOf(x, &cert)) return e;

  std::string digest_oid = OidText(si->digest_alg->algorithm);
  std::uint32_t algid = CertOIDToAlgId(digest_oid);
  if (algid == 0) return kNteBadAlgId;
  Bytes attributes_der;
  ByteSpan signed_bytes;
  if (std::uint32_t e = SignedBytes(si, digest_oid, data, &attributes_der, &signed_bytes)) {
    return e;
  }
  ByteSpan signature(ASN1_STRING_get0_data(si->enc_digest),
                     static_cast<std::size_t>(ASN1_STRING_length(si->enc_digest)));
  if (std::uint32_t e = CheckSignature(*cert, algid, signed_bytes, signature)) return e;

  if (content != nullptr) content->assign(data.begin(), data.end());
  if (signer != nullptr) *signer = std::move(cert);
  return 0;
}

}  // namespace msg

namespace {

// Decodes and verifies; |detached| as in VerifyDecoded.
bool Verify(const CryptVerifyMessagePara& para, std::uint32_t signer_index, ByteSpan blob,
            const ByteSpan* detached, Bytes* content, CertContextPtr* signer) {
  // Without |content| the message's own content is not copied out.
  return msg::DecodeAndOpen(para.msg_and_cert_encoding_type, blob, content, signer,
                            [&](PKCS7* p7, Bytes* out, CertContextPtr* cert) {
                              return msg::VerifyDecoded(p7, signer_index, detached,
                                                        content != nullptr ? out : nullptr, cert);
                            });
}

}  // namespace

bool CryptVerifyMessageSignature(const CryptVerifyMessagePara& para, std::uint32_t signer_index,
                                 ByteSpan signed_blob, Bytes* content, CertContextPtr* signer) {
  return Verify(para, signer_index, signed_blob, nullptr, content, signer);
}

bool CryptVerifyDetachedMessageSignature(const CryptVerifyMessagePara& para,
                                         std::uint32_t signer_index, ByteSpan signature_blob,
                                         ByteSpan content, CertContextPtr* signer) {
  return Verify(para, signer_index, signature_blob, &content, nullptr, signer);
}

}  // namespace quillmark::platform
