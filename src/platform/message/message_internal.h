// Inside the message services: decoding and encoding PKCS#7, the algorithm
// tables, and the signing, verifying, enveloping and opening steps that the
// public calls of message.h (and the nested ones) are made of.
//
// Each step returns 0 or the platform error value; the public calls turn that
// into the last error.
#ifndef QUILLMARK_PLATFORM_MESSAGE_MESSAGE_INTERNAL_H_
#define QUILLMARK_PLATFORM_MESSAGE_MESSAGE_INTERNAL_H_

#include <openssl/evp.h>
#include <openssl/pkcs7.h>

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "platform/message/message.h"
#include "platform/message/message_shape.h"
#include "platform/openssl/openssl_ptr.h"
#include "platform/os/last_error.h"

namespace quillmark::platform::msg {

// Sets the last error when |error| is not 0; returns whether it was 0.
bool Succeeded(std::uint32_t error);

// The last error after a failed platform call (kNteFail should it be 0).
std::uint32_t LastFailure();

// Whether an encoding type asks for PKCS#7 (and nothing unknown).
bool IsMessageEncoding(std::uint32_t encoding);

// A parsed certificate for |der|, shared with earlier calls that gave the
// same bytes (a bounded, thread-safe cache of recent ones); null when |der|
// is not exactly one certificate. Failures are not remembered.
ossl::X509Ptr DecodeCachedCertificate(ByteSpan der);

// The whole of |der| as one PKCS#7 ContentInfo (BER accepted); kCryptEOssError
// when it is not one, or when CheckMessageShape refuses it (checked first,
// so OpenSSL never decodes a refused message).
std::uint32_t DecodeMessage(ByteSpan der, ossl::Pkcs7Ptr* out);
std::uint32_t EncodeMessage(PKCS7* p7, Bytes* der);

// Dotted text of an OID.
std::string OidText(const ASN1_OBJECT* oid);

// Field setters; each 0 or kErrorNotEnoughMemory (kErrorInvalidParameter for
// data too long for OpenSSL's int lengths).
std::uint32_t SetOctets(ASN1_STRING* s, ByteSpan data);
// |oid| dotted; |parameter_type| V_ASN1_NULL, V_ASN1_UNDEF (absent) or the
// type of |parameter|, which the algorithm owns on success.
std::uint32_t SetAlgorithm(X509_ALGOR* alg, std::string_view oid, int parameter_type,
                           void* parameter = nullptr);
// Issuer name and serial number of |cert|.
std::uint32_t SetIssuerAndSerial(PKCS7_ISSUER_AND_SERIAL* ias, const X509* cert);

// Bytes that are wiped when they go (content-encryption keys).
struct SecretBytes {
  SecretBytes() = default;
  ~SecretBytes();
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  Bytes bytes;
};

// A content cipher: how its key, IV and parameters look.
struct ContentCipher {
  std::string_view oid;
  const char* name;     // OpenSSL's name, fetched from the providers
  bool legacy;          // needs the legacy provider (RC4)
  bool iv_parameters;   // parameters are the IV as an OCTET STRING
  std::size_t key_len;  // bytes of a fresh key
};

// nullptr for an OID that names no content cipher known here.
const ContentCipher* FindContentCipher(std::string_view oid);

// The cipher from OpenSSL's providers, loading the legacy provider for RC4;
// kNteBadAlgId when the providers do not have it.
std::uint32_t FetchCipher(const ContentCipher& cipher, ossl::CipherPtr* out);

// The digest of |data| with the algorithm of a digest OID; kNteBadAlgId for
// an OID that names none.
std::uint32_t DigestData(std::string_view oid, ByteSpan data, Bytes* digest);

// Makes the DER of a SignedData of |content|.
std::uint32_t SignToDer(const CryptSignMessagePara& para, bool detached, ByteSpan content,
                        Bytes* der);

// Verifies signer |signer_index| of a decoded message. |detached| null: the
// content is the one inside the message, which goes to |content| if given.
std::uint32_t VerifyDecoded(PKCS7* p7, std::uint32_t signer_index, const ByteSpan* detached,
                            Bytes* content, CertContextPtr* signer);

// Makes the DER of an EnvelopedData of |content|.
std::uint32_t EnvelopeToDer(const CryptEncryptMessagePara& para,
                            std::span<const CertContextPtr> recipients, ByteSpan content,
                            Bytes* der);

// Opens a decoded envelope.
std::uint32_t OpenDecoded(const CryptDecryptMessagePara& para, PKCS7* p7, Bytes* content,
                          CertContextPtr* recipient_cert);

// The frame of the calls that make bytes: kErrorInvalidParameter without
// |out|; otherwise clears it and runs |make|(Bytes*), which returns 0 or the
// platform error. |out| gets the bytes made only on success; running out of
// memory gives kErrorNotEnoughMemory. Returns whether it succeeded, the last
// error set otherwise.
template <typename Make>
bool MakeInto(Bytes* out, Make make) {
  if (out == nullptr) return Succeeded(kErrorInvalidParameter);
  out->clear();
  try {
    Bytes made;
    if (!Succeeded(make(&made))) return false;
    *out = std::move(made);
    return true;
  } catch (const std::bad_alloc&) {
    return Succeeded(kErrorNotEnoughMemory);
  }
}

// The frame of the calls that open a message: clears |content| and |cert|,
// refuses an encoding that is not PKCS#7 (kErrorInvalidParameter), decodes
// |blob| and runs |open|(PKCS7*, Bytes*, CertContextPtr*) on it, which returns
// 0 or the platform error. The outputs are filled only when every step
// succeeds; running out of memory gives kErrorNotEnoughMemory. Returns
// whether it succeeded, the last error set otherwise.
template <typename Open>
bool DecodeAndOpen(std::uint32_t encoding, ByteSpan blob, Bytes* content, CertContextPtr* cert,
                   Open open) {
  if (content != nullptr) content->clear();
  if (cert != nullptr) cert->reset();
  if (!IsMessageEncoding(encoding)) return Succeeded(kErrorInvalidParameter);
  try {
    ossl::Pkcs7Ptr p7;
    Bytes out;
    CertContextPtr found;
    if (!Succeeded(DecodeMessage(blob, &p7)) || !Succeeded(open(p7.get(), &out, &found))) {
      return false;
    }
    if (content != nullptr) *content = std::move(out);
    if (cert != nullptr) *cert = std::move(found);
    return true;
  } catch (const std::bad_alloc&) {
    return Succeeded(kErrorNotEnoughMemory);
  }
}

}  // namespace quillmark::platform::msg

#endif  // QUILLMARK_PLATFORM_MESSAGE_MESSAGE_INTERNAL_H_
