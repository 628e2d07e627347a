// CryptEncryptMessage and CryptDecryptMessage: EnvelopedData with RSA key
// transport. Both sides run the content cipher themselves, so that the
// algorithm's parameters are exactly what each cipher needs (RC4 with none,
// absent or NULL; the CBC ciphers with their IV).
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <bit>
#include <mutex>
#include <new>

#include "platform/keys/cert_private_key.h"
#include "platform/keys/key_provider_internal.h"
#include "platform/keys/token_provider.h"
#include "platform/message/message_internal.h"
#include "platform/os/effect_audit.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context_internal.h"
#include "platform/ui/dialog_factory.h"

namespace quillmark::platform {

namespace msg {

namespace {

constexpr char kOidRsaEncryption[] = "1.2.840.113549.1.1.1";

// Runs |cipher| over |in|. A key of another length than the cipher's is
// refused unless the cipher takes variable-length keys (RC4).
std::uint32_t RunCipher(const EVP_CIPHER* cipher, bool encrypt, ByteSpan key, ByteSpan iv,
                        ByteSpan in, Bytes* out) {
  const int enc = encrypt ? 1 : 0;
  ossl::CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  if (ctx == nullptr ||
      EVP_CipherInit_ex2(ctx.get(), cipher, nullptr, nullptr, enc, nullptr) != 1) {
    return kNteFail;
  }
  if (key.size() != static_cast<std::size_t>(EVP_CIPHER_CTX_get_key_length(ctx.get())) &&
      EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(key.size())) != 1) {
    return kNteBadKey;
  }
  if (EVP_CipherInit_ex2(ctx.get(), nullptr, key.data(), iv.empty() ? nullptr : iv.data(), enc,
                         nullptr) != 1) {
    return kNteBadKey;
  }
  const std::size_t block = static_cast<std::size_t>(EVP_CIPHER_CTX_get_block_size(ctx.get()));
  Bytes result(in.size() + block);
  std::size_t done = 0;
  constexpr std::size_t kChunk = std::size_t{1} << 30;  // within OpenSSL's int lengths
  for (std::size_t pos = 0; pos < in.size(); pos += kChunk) {
    int n = 0;
    int len = static_cast<int>(std::min(kChunk, in.size() - pos));
    if (EVP_CipherUpdate(ctx.get(), result.data() + done, &n, in.data() + pos, len) != 1) {
      return encrypt ? kNteFail : kNteBadData;
    }
    done += static_cast<std::size_t>(n);
  }
  int n = 0;
  if (EVP_CipherFinal_ex(ctx.get(), result.data() + done, &n) != 1) {
    return encrypt ? kNteFail : kNteBadData;
  }
  result.resize(done + static_cast<std::size_t>(n));
  *out = std::move(result);
  return 0;
}

// DES keys carry odd parity in the low bit of each byte.
void SetOddParity(Bytes* key) {
  for (std::uint8_t& b : *key) {
    std::uint8_t high = b & 0xFE;
    b = static_cast<std::uint8_t>(high | (std::popcount(high) % 2 == 0 ? 1 : 0));
  }
}

std::uint32_t WrapForRecipient(const X509* recipient, ByteSpan key, ossl::Pkcs7RecipInfoPtr* out) {
  EVP_PKEY* pub = X509_get0_pubkey(recipient);
  if (pub == nullptr || !EVP_PKEY_is_a(pub, "RSA")) return kNteBadAlgId;
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, pub, nullptr));
  if (ctx == nullptr || EVP_PKEY_encrypt_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0) {
    return kNteFail;
  }
  std::size_t len = 0;
  if (EVP_PKEY_encrypt(ctx.get(), nullptr, &len, key.data(), key.size()) <= 0) return kNteBadKey;
  Bytes wrapped(len);
  if (EVP_PKEY_encrypt(ctx.get(), wrapped.data(), &len, key.data(), key.size()) <= 0) {
    return kNteBadKey;
  }
  wrapped.resize(len);

  ossl::Pkcs7RecipInfoPtr ri(PKCS7_RECIP_INFO_new());
  if (ri == nullptr || ASN1_INTEGER_set(ri->version, 0) != 1) return kErrorNotEnoughMemory;
  if (std::uint32_t e = SetIssuerAndSerial(ri->issuer_and_serial, recipient)) return e;
  if (std::uint32_t e = SetAlgorithm(ri->key_enc_algor, kOidRsaEncryption, V_ASN1_NULL)) return e;
  if (std::uint32_t e = SetOctets(ri->enc_key, wrapped)) return e;
  *out = std::move(ri);
  return 0;
}

// The IV that the algorithm's parameters carry (empty for RC4, whose
// parameters must be absent or NULL).
std::uint32_t IvFromParameters(const X509_ALGOR* alg, const ContentCipher& cipher,
                               const EVP_CIPHER* evp, Bytes* iv) {
  int type = V_ASN1_UNDEF;
  const void* value = nullptr;
  X509_ALGOR_get0(nullptr, &type, &value, alg);
  if (!cipher.iv_parameters) {
    return type == V_ASN1_UNDEF || type == V_ASN1_NULL ? 0 : kCryptEOssError;
  }
  if (type != V_ASN1_OCTET_STRING) return kCryptEOssError;
  const auto* os = static_cast<const ASN1_OCTET_STRING*>(value);
  if (ASN1_STRING_length(os) != EVP_CIPHER_get_iv_length(evp)) return kCryptEOssError;
  const unsigned char* data = ASN1_STRING_get0_data(os);
  iv->assign(data, data + ASN1_STRING_length(os));
  return 0;
}

bool IsTokenError(std::uint32_t error) {
  return error == kScardWCancelledByUser || error == kScardETimeout ||
         error == kScardENoSmartcard || error == kScardWWrongChv || error == kScardWChvBlocked;
}

// All ones when |a| equals |b|, else zero, without a branch on either.
std::uint8_t EqualMask(std::size_t a, std::size_t b) {
  const std::size_t diff = a ^ b;
  // The top bit of (diff | -diff) is set exactly when diff is not zero.
  const std::size_t nonzero = (diff | (std::size_t{0} - diff)) >> (sizeof(std::size_t) * 8 - 1);
  return static_cast<std::uint8_t>(nonzero - 1);
}

// The key that takes the place of a wrapped key that does not unwrap. It
// must be the same whenever the same wrapped bytes reach the same private
// key, in this process or any other, as a wrong key of the right length
// would be: otherwise opening one envelope twice (in two controls) would
// tell the two apart. So it is derived from the private key itself, as the
// implicit rejection of newer OpenSSL does: the key's deterministic PKCS#1
// signature over a digest of the wrapped bytes is the secret of an
// HMAC-SHA256 over the length and the wrapped bytes, stretched with a
// counter to |key_len| bytes. It is made for every opening, whatever the
// unwrapping gives, so the time taken does not depend on the padding. A key
// that cannot sign (a token that refuses) falls back to a secret drawn once
// per process.
std::uint32_t RejectionKey(KeyContainer& container, std::uint32_t key_spec, ByteSpan wrapped,
                           std::size_t key_len, SecretBytes* key) {
  static std::once_flag once;
  static std::array<unsigned char, 32> process_secret{};
  static bool have_process_secret = false;
  std::call_once(once, [] {
    have_process_secret = RAND_bytes(process_secret.data(), process_secret.size()) == 1;
  });
  static constexpr char kLabel[] = "quillmark envelope implicit rejection";
  Bytes labelled(kLabel, kLabel + sizeof kLabel - 1);
  labelled.insert(labelled.end(), wrapped.begin(), wrapped.end());
  unsigned char digest[32];
  if (EVP_Q_digest(nullptr, "SHA256", nullptr, labelled.data(), labelled.size(), digest, nullptr) !=
      1) {
    return kNteFail;
  }
  SecretBytes secret;
  if (container.SignDigest(key_spec, EVP_sha256(), ByteSpan(digest, sizeof digest),
                           &secret.bytes) != 0 ||
      secret.bytes.empty()) {
    if (!have_process_secret) return kNteFail;
    secret.bytes.assign(process_secret.begin(), process_secret.end());
  }
  key->bytes.clear();
  for (std::uint8_t counter = 0; key->bytes.size() < key_len; ++counter) {
    Bytes input = {counter, static_cast<std::uint8_t>(key_len)};
    input.insert(input.end(), wrapped.begin(), wrapped.end());
    unsigned char block[EVP_MAX_MD_SIZE];
    std::size_t block_len = 0;
    if (EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, secret.bytes.data(),
                  secret.bytes.size(), input.data(), input.size(), block, sizeof block,
                  &block_len) == nullptr) {
      return kNteFail;
    }
    key->bytes.insert(key->bytes.end(), block, block + block_len);
    OPENSSL_cleanse(block, sizeof block);
  }
  key->bytes.resize(key_len);
  return 0;
}

// Finds a recipient whose certificate, with a private key, is in the stores
// and unwraps the content-encryption key of |key_len| bytes with that key.
//
// A wrapped key that does not decrypt (bad padding) or decrypts to a key of
// another length is not reported: the rejection key of |key_len| bytes takes
// its place, and the content decryption that follows runs exactly as it does
// after a wrapped key that decrypts to a wrong key of the right length (and
// with RC4, which cannot tell a wrong key, "succeeds" the same way).
// Answering a bad wrapping with an error of its own would tell whoever sent
// the envelope whether a guessed RSA value has PKCS#1 padding (an oracle
// that recovers the key). The choice between the two keys is made byte by
// byte without a branch on the decrypted bytes, and nothing after it knows
// which was taken.
std::uint32_t UnwrapContentKey(const CryptDecryptMessagePara& para, PKCS7_ENVELOPE* env,
                               std::size_t key_len, SecretBytes* key,
                               CertContextPtr* recipient_cert) {
  std::uint32_t token_error = 0;
  STACK_OF(PKCS7_RECIP_INFO)* infos = env->recipientinfo;
  for (int i = 0; i < sk_PKCS7_RECIP_INFO_num(infos); ++i) {
    PKCS7_RECIP_INFO* ri = sk_PKCS7_RECIP_INFO_value(infos, i);
    unsigned char* name = nullptr;
    int name_len = i2d_X509_NAME(ri->issuer_and_serial->issuer, &name);
    if (name_len <= 0) return kCryptEOssError;
    ossl::OpensslBuffer owned(name);
    ByteSpan issuer(name, static_cast<std::size_t>(name_len));
    for (const CertStore& store : para.cert_stores) {
      if (!store.is_open()) continue;
      CertContextPtr cert;
      while ((cert = CertFindCertificateInStore(store, kDefaultEncoding, 0, kCertFindIssuerName,
                                                issuer, cert)) != nullptr) {
        if (ASN1_INTEGER_cmp(X509_get0_serialNumber(CertContextX509(*cert)),
                             ri->issuer_and_serial->serial) != 0 ||
            !cert->key_prov_info().has_value()) {
          continue;
        }
        ProvHandle prov;
        std::uint32_t key_spec = 0;
        if (!CryptAcquireCertificatePrivateKey(*cert, kCryptAcquireCompareKeyFlag, &prov,
                                               &key_spec)) {
          if (IsTokenError(GetLastError())) token_error = GetLastError();
          continue;
        }
        KeyContainer* container = prov->state ? prov->state->container.get() : nullptr;
        if (container == nullptr) continue;
        if (OidText(ri->key_enc_algor->algorithm) != kOidRsaEncryption) return kNteBadAlgId;
        // A web page's caller may use the key only with the user's word.
        if (!ui::CurrentDialogHost().ConfirmKeyUse(
                {.action = ui::KeyUseAction::kDecrypt, .key_owner = cert.get(), .content = {}})) {
          return kScardWCancelledByUser;
        }
        ByteSpan wrapped(ASN1_STRING_get0_data(ri->enc_key),
                         static_cast<std::size_t>(ASN1_STRING_length(ri->enc_key)));
        NoteEffect(Effect::kKeyUse);
        SecretBytes rejection, plain;
        if (std::uint32_t e = RejectionKey(*container, key_spec, wrapped, key_len, &rejection)) {
          return e;
        }
        const std::uint32_t e = container->DecryptKeyTransport(key_spec, wrapped, &plain.bytes);
        // Errors that do not depend on the wrapped bytes (no key, a token's
        // cancel) are the container's answer; a failed decryption is not.
        if (e != 0 && e != kNteBadData) return e;
        const std::size_t got = plain.bytes.size();
        plain.bytes.resize(std::max(got, key_len));
        const std::uint8_t good =
            static_cast<std::uint8_t>(EqualMask(e, 0) & EqualMask(got, key_len));
        key->bytes.resize(key_len);
        for (std::size_t k = 0; k < key_len; ++k) {
          key->bytes[k] =
              static_cast<std::uint8_t>((plain.bytes[k] & good) | (rejection.bytes[k] & ~good));
        }
        *recipient_cert = std::move(cert);
        return 0;
      }
    }
  }
  return token_error != 0 ? token_error : kCryptENoDecryptCert;
}

// The inner content type the parameters ask for (data or signed data), or 0
// when they or the recipients cannot be enveloped.
int EnvelopeInnerNid(const CryptEncryptMessagePara& para,
                     std::span<const CertContextPtr> recipients) {
  if (!IsMessageEncoding(para.msg_encoding_type) || recipients.empty()) return 0;
  int inner_nid = NID_pkcs7_data;
  if (para.inner_content_type == kCmsgSigned) {
    inner_nid = NID_pkcs7_signed;
  } else if (para.inner_content_type != 0 && para.inner_content_type != kCmsgData) {
    return 0;
  }
  for (const CertContextPtr& r : recipients) {
    if (r == nullptr) return 0;
  }
  return inner_nid;
}

// encryptedContentInfo: the inner type, the cipher with its IV, the bytes.
std::uint32_t FillEncryptedContent(PKCS7_ENC_CONTENT* ec, int inner_nid,
                                   const ContentCipher& cipher, const Bytes& iv,
                                   const Bytes& encrypted) {
  ASN1_OBJECT_free(ec->content_type);
  ec->content_type = OBJ_nid2obj(inner_nid);
  if (iv.empty()) {
    if (std::uint32_t e = SetAlgorithm(ec->algorithm, cipher.oid, V_ASN1_UNDEF)) return e;
  } else {
    ossl::Asn1OctetStringPtr os(ASN1_OCTET_STRING_new());
    if (os == nullptr) return kErrorNotEnoughMemory;
    if (std::uint32_t e = SetOctets(os.get(), iv)) return e;
    if (std::uint32_t e = SetAlgorithm(ec->algorithm, cipher.oid, V_ASN1_OCTET_STRING, os.get())) {
      return e;
    }
    os.release();  // owned by the algorithm now
  }
  ASN1_OCTET_STRING_free(ec->enc_data);
  ec->enc_data = ASN1_OCTET_STRING_new();
  if (ec->enc_data == nullptr) return kErrorNotEnoughMemory;
  return SetOctets(ec->enc_data, encrypted);
}

}  // namespace

std::uint32_t EnvelopeToDer(const CryptEncryptMessagePara& para,
                            std::span<const CertContextPtr> recipients, ByteSpan content,
                            Bytes* der) {
  const int inner_nid = EnvelopeInnerNid(para, recipients);
  if (inner_nid == 0) return kErrorInvalidParameter;
  const ContentCipher* cipher = FindContentCipher(para.content_encryption_oid);
  if (cipher == nullptr) return kNteBadAlgId;
  ossl::CipherPtr evp;
  if (std::uint32_t e = FetchCipher(*cipher, &evp)) return e;

  SecretBytes key;
  key.bytes.resize(cipher->key_len);
  Bytes iv(cipher->iv_parameters ? static_cast<std::size_t>(EVP_CIPHER_get_iv_length(evp.get()))
                                 : 0);
  if (RAND_bytes(key.bytes.data(), static_cast<int>(key.bytes.size())) != 1 ||
      (!iv.empty() && RAND_bytes(iv.data(), static_cast<int>(iv.size())) != 1)) {
    return kNteFail;
  }
  if (cipher->oid == kOidDesEde3Cbc) SetOddParity(&key.bytes);
  Bytes encrypted;
  if (std::uint32_t e = RunCipher(evp.get(), true, key.bytes, iv, content, &encrypted)) return e;

  ossl::Pkcs7Ptr p7(PKCS7_new());
  if (p7 == nullptr || PKCS7_set_type(p7.get(), NID_pkcs7_enveloped) != 1) {
    return kErrorNotEnoughMemory;
  }
  for (const CertContextPtr& r : recipients) {
    ossl::Pkcs7RecipInfoPtr ri;
    if (std::uint32_t e = WrapForRecipient(CertContextX509(*r), key.bytes, &ri)) return e;
    if (PKCS7_add_recipient_info(p7.get(), ri.get()) != 1) return kErrorNotEnoughMemory;
    ri.release();  // owned by the message now
  }
  if (std::uint32_t e =
          FillEncryptedContent(p7->d.enveloped->enc_data, inner_nid, *cipher, iv, encrypted)) {
    return e;
  }
  return EncodeMessage(p7.get(), der);
}

std::uint32_t OpenDecoded(const CryptDecryptMessagePara& para, PKCS7* p7, Bytes* content,
                          CertContextPtr* recipient_cert) {
  if (!PKCS7_type_is_enveloped(p7) || p7->d.enveloped == nullptr) {
    return kCryptEUnexpectedMsgType;
  }
  PKCS7_ENC_CONTENT* ec = p7->d.enveloped->enc_data;
  const ContentCipher* cipher = FindContentCipher(OidText(ec->algorithm->algorithm));
  if (cipher == nullptr) return kNteBadAlgId;
  ossl::CipherPtr evp;
  if (std::uint32_t e = FetchCipher(*cipher, &evp)) return e;
  Bytes iv;
  if (std::uint32_t e = IvFromParameters(ec->algorithm, *cipher, evp.get(), &iv)) return e;

  SecretBytes key;
  CertContextPtr cert;
  if (std::uint32_t e = UnwrapContentKey(para, p7->d.enveloped, cipher->key_len, &key, &cert)) {
    return e;
  }
  ByteSpan encrypted;
  if (ec->enc_data != nullptr) {
    encrypted = ByteSpan(ASN1_STRING_get0_data(ec->enc_data),
                         static_cast<std::size_t>(ASN1_STRING_length(ec->enc_data)));
  }
  // Decrypted in full in every case. A bad wrapping and a wrong key end
  // alike: kNteBadData when the content does not decrypt, and otherwise (RC4,
  // or a block cipher's padding that happens to fit) whatever bytes the key
  // gives, as the sender's wrong key would.
  Bytes opened;
  const std::uint32_t e = RunCipher(evp.get(), false, key.bytes, iv, encrypted, &opened);
  if (e != 0) {
    std::fill(opened.begin(), opened.end(), 0);
    return kNteBadData;
  }
  *content = std::move(opened);
  *recipient_cert = std::move(cert);
  return 0;
}

}  // namespace msg

bool CryptEncryptMessage(const CryptEncryptMessagePara& para,
                         std::span<const CertContextPtr> recipients, ByteSpan content,
                         Bytes* encrypted_blob) {
  return msg::MakeInto(encrypted_blob, [&](Bytes* der) {
    return msg::EnvelopeToDer(para, recipients, content, der);
  });
}

bool CryptDecryptMessage(const CryptDecryptMessagePara& para, ByteSpan encrypted_blob,
                         Bytes* content, CertContextPtr* recipient_cert) {
  return msg::DecodeAndOpen(para.msg_and_cert_encoding_type, encrypted_blob, content,
                            recipient_cert, [&](PKCS7* p7, Bytes* out, CertContextPtr* cert) {
                              return msg::OpenDecoded(para, p7, out, cert);
                            });
}

}  // namespace quillmark::platform
