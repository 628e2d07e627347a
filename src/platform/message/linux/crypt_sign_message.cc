// CryptSignMessage: SignedData with one signer and no authenticated
// attributes, signed through the certificate's key provider.
#include <openssl/x509.h>

#include <limits>
#include <new>

#include "platform/keys/cert_private_key.h"
#include "platform/keys/hash.h"
#include "platform/keys/key_provider_internal.h"
#include "platform/keys/sign_verify.h"
#include "platform/keys/sm2.h"
#include "platform/message/message_internal.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context_internal.h"
#include "platform/ui/dialog_factory.h"

namespace quillmark::platform {

namespace msg {

namespace {

constexpr char kOidRsaEncryption[] = "1.2.840.113549.1.1.1";
constexpr char kOidSm2Signature[] = "1.2.156.10197.1.301.1";

// ecdsa-with-SHA1/SHA256/SHA384/SHA512 for the hash; null for any other.
const char* EcdsaSignatureOid(std::uint32_t algid) {
  switch (algid) {
    case kCalgSha1:
      return "1.2.840.10045.4.1";
    case kCalgSha256:
      return "1.2.840.10045.4.3.2";
    case kCalgSha384:
      return "1.2.840.10045.4.3.3";
    case kCalgSha512:
      return "1.2.840.10045.4.3.4";
    default:
      return nullptr;
  }
}

// Errors of opening the key that mean the signer has no key to sign with.
bool MeansNoKey(std::uint32_t error) {
  switch (error) {
    case kCryptENoKeyProperty:
    case kNteBadKeyset:
    case kNteBadKeysetParam:
    case kNteKeysetNotDef:
    case kNteProvTypeNoMatch:
    case kNteNoKey:
    case kNteBadPublicKey:
      return true;
    default:
      return false;
  }
}

// Signs |data| with the certificate's key: the value as a SignerInfo carries
// it (RSA most significant byte first, SM2 as DER r and s) and the OID of
// the signature algorithm.
std::uint32_t SignWithCertificateKey(const CertContext& cert, std::uint32_t algid, ByteSpan data,
                                     Bytes* signature, const char** signature_oid) {
  KeyKind kind;
  if (!SignerKindOfKey(X509_get0_pubkey(CertContextX509(cert)), &kind)) {
    return kCryptENoKeyProperty;
  }
  ProvHandle prov;
  std::uint32_t key_spec = 0;
  if (!CryptAcquireCertificatePrivateKey(cert, kCryptAcquireCompareKeyFlag, &prov, &key_spec)) {
    std::uint32_t error = LastFailure();
    return MeansNoKey(error) ? kCryptENoKeyProperty : error;
  }
  // A web page's caller signs only what the person saw, with their word.
  if (!ui::CurrentDialogHost().ConfirmKeyUse(
          {.action = ui::KeyUseAction::kSign, .key_owner = &cert, .content = data})) {
    return kScardWCancelledByUser;
  }
  HashHandle hash;
  Bytes raw;
  if (!CryptCreateHash(*prov, algid, nullptr, 0, &hash) || !CryptHashData(*hash, data, 0) ||
      !CryptSignHashW(*hash, key_spec, u"", 0, &raw)) {
    return LastFailure();
  }
  if (kind == KeyKind::kSm2) {
    if (!Sm2SignatureToDer(raw, signature)) return kNteFail;
    *signature_oid = kOidSm2Signature;
  } else if (kind == KeyKind::kEc) {
    *signature_oid = EcdsaSignatureOid(algid);
    if (*signature_oid == nullptr) return kNteBadAlgId;
    signature->assign(raw.rbegin(), raw.rend());
  } else {
    signature->assign(raw.rbegin(), raw.rend());
    *signature_oid = kOidRsaEncryption;
  }
  return 0;
}

std::uint32_t MakeSignerInfo(const X509* signer, std::string_view digest_oid,
                             const char* signature_oid, ByteSpan signature,
                             ossl::Pkcs7SignerInfoPtr* out) {
  ossl::Pkcs7SignerInfoPtr si(PKCS7_SIGNER_INFO_new());
  if (si == nullptr || ASN1_INTEGER_set(si->version, 1) != 1) return kErrorNotEnoughMemory;
  if (std::uint32_t e = SetIssuerAndSerial(si->issuer_and_serial, signer)) return e;
  if (std::uint32_t e = SetAlgorithm(si->digest_alg, digest_oid, V_ASN1_NULL)) return e;
  bool rsa = std::string_view(signature_oid) == kOidRsaEncryption;
  if (std::uint32_t e =
          SetAlgorithm(si->digest_enc_alg, signature_oid, rsa ? V_ASN1_NULL : V_ASN1_UNDEF)) {
    return e;
  }
  if (std::uint32_t e = SetOctets(si->enc_digest, signature)) return e;
  *out = std::move(si);
  return 0;
}

// Points an OCTET STRING at bytes it does not own for as long as it lives,
// and leaves it empty again before its owner frees it.
class BorrowedOctets {
 public:
  explicit BorrowedOctets(ASN1_OCTET_STRING* s) : s_(s) {}
  // Set0 would free the bytes it replaces: the fields are cleared instead.
  ~BorrowedOctets() {
    s_->data = nullptr;
    s_->length = 0;
  }
  BorrowedOctets(const BorrowedOctets&) = delete;
  BorrowedOctets& operator=(const BorrowedOctets&) = delete;

  std::uint32_t Lend(ByteSpan data) {
    if (data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
      return kErrorInvalidParameter;
    }
    // Only read from here on: the encoder copies the bytes out.
    ASN1_STRING_set0(s_, const_cast<std::uint8_t*>(data.data()), static_cast<int>(data.size()));
    return 0;
  }

 private:
  ASN1_OCTET_STRING* s_;
};

}  // namespace

std::uint32_t SignToDer(const CryptSignMessagePara& para, bool detached, ByteSpan content,
                        Bytes* der) {
  if (!IsMessageEncoding(para.msg_encoding_type) || para.signing_cert == nullptr) {
    return kErrorInvalidParameter;
  }
  for (const CertContextPtr& cert : para.msg_certs) {
    if (cert == nullptr) return kErrorInvalidParameter;
  }
  std::uint32_t algid = CertOIDToAlgId(para.hash_algorithm_oid);
  if (algid == 0) return kNteBadAlgId;

  Bytes signature;
  const char* signature_oid = nullptr;
  if (std::uint32_t e =
          SignWithCertificateKey(*para.signing_cert, algid, content, &signature, &signature_oid)) {
    return e;
  }
  ossl::Pkcs7SignerInfoPtr si;
  if (std::uint32_t e = MakeSignerInfo(CertContextX509(*para.signing_cert), para.hash_algorithm_oid,
                                       signature_oid, signature, &si)) {
    return e;
  }

  ossl::Pkcs7Ptr p7(PKCS7_new());
  if (p7 == nullptr || PKCS7_set_type(p7.get(), NID_pkcs7_signed) != 1 ||
      PKCS7_content_new(p7.get(), NID_pkcs7_data) != 1) {
    return kErrorNotEnoughMemory;
  }
  if (detached) PKCS7_set_detached(p7.get(), 1);  // drops the content OCTET STRING
  if (PKCS7_add_signer(p7.get(), si.get()) != 1) return kErrorNotEnoughMemory;
  si.release();  // owned by the message now
  for (const CertContextPtr& cert : para.msg_certs) {
    if (PKCS7_add_certificate(p7.get(), CertContextX509(*cert)) != 1) {
      return kErrorNotEnoughMemory;
    }
  }
  if (detached) return EncodeMessage(p7.get(), der);
  if (content.empty()) {
    if (std::uint32_t e = SetOctets(p7->d.sign->contents->d.data, content)) return e;
    return EncodeMessage(p7.get(), der);
  }
  // The content OCTET STRING only lends the caller's bytes to the encoder,
  // so a large content is not copied into the message before its DER.
  BorrowedOctets lent(p7->d.sign->contents->d.data);
  if (std::uint32_t e = lent.Lend(content)) return e;
  return EncodeMessage(p7.get(), der);
}

}  // namespace msg

bool CryptSignMessage(const CryptSignMessagePara& para, bool detached, ByteSpan content,
                      Bytes* signed_blob) {
  return msg::MakeInto(signed_blob,
                       [&](Bytes* der) { return msg::SignToDer(para, detached, content, der); });
}

}  // namespace quillmark::platform
