// Message services: PKCS#7 signed messages and envelopes made and opened with
// the certificates of the stores and the keys of the key providers.
//
// Every call returns true on success. On failure it returns false, leaves its
// outputs empty and sets the thread's last error (last_error.h, key_provider.h):
//   kCryptEOssError           the bytes are not a decodable PKCS#7 message
//   kCryptEUnexpectedMsgType  a message of another kind (an envelope given to
//                             a verify call, a signature given to decrypt)
//   kNteBadAlgId              an unknown digest or content-cipher OID, or a
//                             key that cannot be used with it
//   kNteBadSignature          the signature does not match content and signer
//   kCryptEHashValue          the signed messageDigest attribute does not
//                             match the content (messages with attributes)
//   kCryptENoKeyProperty      the signer has no private key that can be used
//   kCryptENoDecryptCert      no certificate with a private key in the given
//                             stores is a recipient of the envelope
//   kCryptENoSigner           the message has no signer of the index asked for
//   kCryptENotFound           the signer's certificate is not in the message
//   kNteBadData               the envelope's content does not decrypt
//   kErrorInvalidParameter    a missing certificate or recipient, or an
//                             encoding type without PKCS_7_ASN_ENCODING
// A key provider's own error (a token's cancel or time-out) passes unchanged.
//
// Signed messages are SignedData with one SignerInfo and no authenticated
// attributes: the encrypted digest is the signer key's signature of the
// content (RSA PKCS#1 v1.5 over the digest; SM2 over SM3(Z || M) with the
// default user ID, for SM2 signers with the SM3 digest). The key is reached
// through the certificate's key-provider property. Verification checks signer
// |signer_index| against the certificate the message itself carries (matched
// by issuer and serial number); it never checks the certificate's chain.
// Messages from other tools that do carry authenticated attributes are
// verified as well (messageDigest against the content, the signature over the
// attributes).
//
// Envelopes are EnvelopedData with RSA PKCS#1 v1.5 key transport to each
// recipient and the content encrypted under a fresh key with the cipher that
// the content-encryption OID names (written into the envelope as given):
//   1.2.840.113549.3.4         RC4, 128-bit key, no parameters (the default)
//   1.2.840.113549.3.7         3DES-CBC, 8-byte IV as parameters
//   2.16.840.1.101.3.4.1.2     AES-128-CBC; .22 AES-192-CBC; .42 AES-256-CBC
//   1.2.156.10197.1.104        SM4-CBC (also 1.2.156.10197.1.104.2)
// Opening takes RC4 with the parameters absent or NULL (the form envelopes
// made on other platforms carry) with the key length of the recipient info.
// RC4 comes from OpenSSL's legacy provider, loaded once on first use.
//
// The size protocol of the platform's calls is one call here: outputs are
// whole vectors. For example:
//
//   CryptSignMessagePara para;
//   para.signing_cert = signer;
//   para.hash_algorithm_oid = digest_oid;
//   para.msg_certs = {signer};
//   Bytes blob;
//   if (!CryptSignMessage(para, /*detached=*/false, content, &blob)) {
//     std::uint32_t error = GetLastError();  // kCryptENoKeyProperty, ...
//   }
#ifndef QUILLMARK_PLATFORM_MESSAGE_MESSAGE_H_
#define QUILLMARK_PLATFORM_MESSAGE_MESSAGE_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::platform {

inline constexpr std::uint32_t kCryptEHashValue = 0x80091007;  // CRYPT_E_HASH_VALUE
inline constexpr std::uint32_t kCryptEUnexpectedMsgType =
    0x8009200A;                                               // CRYPT_E_UNEXPECTED_MSG_TYPE
inline constexpr std::uint32_t kCryptENoSigner = 0x8009200E;  // CRYPT_E_NO_SIGNER

// Digest OIDs.
inline constexpr char kOidMd5[] = "1.2.840.113549.2.5";
inline constexpr char kOidSha1[] = "1.3.14.3.2.26";
inline constexpr char kOidSha256[] = "2.16.840.1.101.3.4.2.1";
inline constexpr char kOidSha384[] = "2.16.840.1.101.3.4.2.2";
inline constexpr char kOidSha512[] = "2.16.840.1.101.3.4.2.3";
inline constexpr char kOidSm3[] = "1.2.156.10197.1.401";

// Content-encryption OIDs.
inline constexpr char kOidRc4[] = "1.2.840.113549.3.4";
inline constexpr char kOidDesEde3Cbc[] = "1.2.840.113549.3.7";
inline constexpr char kOidAes128Cbc[] = "2.16.840.1.101.3.4.1.2";
inline constexpr char kOidAes192Cbc[] = "2.16.840.1.101.3.4.1.22";
inline constexpr char kOidAes256Cbc[] = "2.16.840.1.101.3.4.1.42";
inline constexpr char kOidSm4[] = "1.2.156.10197.1.104";
inline constexpr char kOidSm4Cbc[] = "1.2.156.10197.1.104.2";

// Inner content types of an envelope.
inline constexpr std::uint32_t kCmsgData = 1;
inline constexpr std::uint32_t kCmsgSigned = 2;

// CRYPT_SIGN_MESSAGE_PARA.
struct CryptSignMessagePara {
  std::uint32_t msg_encoding_type = kDefaultEncoding;
  CertContextPtr signing_cert;
  std::string hash_algorithm_oid = kOidSha1;
  // Certificates embedded in the message; callers put the signer here.
  std::vector<CertContextPtr> msg_certs;
};

// CRYPT_VERIFY_MESSAGE_PARA with no signer-certificate callback: the signer's
// certificate always comes from the message.
struct CryptVerifyMessagePara {
  std::uint32_t msg_and_cert_encoding_type = kDefaultEncoding;
};

// CRYPT_ENCRYPT_MESSAGE_PARA.
struct CryptEncryptMessagePara {
  std::uint32_t msg_encoding_type = kDefaultEncoding;
  std::string content_encryption_oid = kOidRc4;
  // 0 or kCmsgData: the content is data; kCmsgSigned: it is a SignedData.
  std::uint32_t inner_content_type = 0;
};

// CRYPT_DECRYPT_MESSAGE_PARA: the open stores searched, in order, for a
// recipient certificate that has a private key.
struct CryptDecryptMessagePara {
  std::uint32_t msg_and_cert_encoding_type = kDefaultEncoding;
  std::span<const CertStore> cert_stores;
};

// CRYPT_HASH_MESSAGE_PARA.
struct CryptHashMessagePara {
  std::uint32_t msg_encoding_type = kDefaultEncoding;
  std::string hash_algorithm_oid = kOidSha1;
};

// Signs |content| with the signer's key. Attached: the content is inside the
// message; detached: it is not.
bool CryptSignMessage(const CryptSignMessagePara& para, bool detached, ByteSpan content,
                      Bytes* signed_blob);

// Verifies an attached signature; gives the content and the signer's
// certificate (either output may be null).
bool CryptVerifyMessageSignature(const CryptVerifyMessagePara& para, std::uint32_t signer_index,
                                 ByteSpan signed_blob, Bytes* content, CertContextPtr* signer);

// Verifies a detached signature of |content|; any content inside the message
// is ignored.
bool CryptVerifyDetachedMessageSignature(const CryptVerifyMessagePara& para,
                                         std::uint32_t signer_index, ByteSpan signature_blob,
                                         ByteSpan content, CertContextPtr* signer);

// Envelopes |content| for every recipient.
bool CryptEncryptMessage(const CryptEncryptMessagePara& para,
                         std::span<const CertContextPtr> recipients, ByteSpan content,
                         Bytes* encrypted_blob);

// Opens an envelope with the key of a recipient certificate found in the
// para's stores; gives the content and that certificate (either may be null).
bool CryptDecryptMessage(const CryptDecryptMessagePara& para, ByteSpan encrypted_blob,
                         Bytes* content, CertContextPtr* recipient_cert);

// Signs (attached), then envelopes the DER SignedData for the recipients.
bool CryptSignAndEncryptMessage(const CryptSignMessagePara& sign_para,
                                const CryptEncryptMessagePara& encrypt_para,
                                std::span<const CertContextPtr> recipients, ByteSpan content,
                                Bytes* blob);

// The reverse: opens the envelope, then verifies the SignedData inside it.
// Gives the content, the recipient certificate whose key opened it and the
// signer's certificate from the inner message (each output may be null).
bool CryptDecryptAndVerifyMessageSignature(const CryptDecryptMessagePara& decrypt_para,
                                           const CryptVerifyMessagePara& verify_para,
                                           std::uint32_t signer_index, ByteSpan blob,
                                           Bytes* content, CertContextPtr* recipient_cert,
                                           CertContextPtr* signer);

// The digest of |content| with the para's algorithm (no message is made).
bool CryptHashMessage(const CryptHashMessagePara& para, ByteSpan content, Bytes* computed_hash);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_MESSAGE_MESSAGE_H_
