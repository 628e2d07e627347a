// Windows: CryptVerifyMessageSignature and CryptVerifyDetachedMessageSignature
// with the system's default signer lookup (the certificate the message
// carries) and the default provider. A signer with authenticated attributes
// is also held to its messageDigest attribute here: some implementations of
// the calls (wine's) check the signature over the attributes and never
// compare that digest with the content.
#include <algorithm>
#include <vector>

#include "platform/message/win/message_win.h"
#include "platform/openssl/der_walk.h"
#include "platform/store/win/cert_context_win.h"

namespace quillmark::platform {

namespace msg {

// Declared in message_win.h.
CRYPT_VERIFY_MESSAGE_PARA SystemVerifyPara(const CryptVerifyMessagePara& para) {
  CRYPT_VERIFY_MESSAGE_PARA system_para = {};
  system_para.cbSize = sizeof(system_para);
  system_para.dwMsgAndCertEncodingType = para.msg_and_cert_encoding_type;
  system_para.hCryptProv = 0;
  system_para.pfnGetSignerCertificate = nullptr;  // the certificate in the message
  return system_para;
}

namespace {

constexpr std::uint32_t kCryptEInvalidIndex = 0x80091008;  // CRYPT_E_INVALID_INDEX

// |error| of a failed verify call, made exact. Systems differ in what they
// say for a signer index past the last signer (an invalid index, an
// unexpected message type); a signed message with fewer signers says
// kCryptENoSigner here.
std::uint32_t VerifyFailure(std::uint32_t error, std::uint32_t encoding, ByteSpan blob,
                            std::uint32_t signer_index) {
  if (error != kCryptEUnexpectedMsgType && error != kCryptEInvalidIndex) return error;
  const LONG signers =
      ::CryptGetMessageSignerCount(encoding, blob.data(), static_cast<DWORD>(blob.size()));
  if (signers >= 0 && signer_index >= static_cast<std::uint32_t>(signers)) return kCryptENoSigner;
  return error;
}

constexpr std::uint32_t kCryptEAttributesMissing = 0x8009100F;  // CRYPT_E_ATTRIBUTES_MISSING

// The DER of the messageDigest attribute's OID, 1.2.840.113549.1.9.4.
constexpr std::uint8_t kMessageDigestOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                              0xF7, 0x0D, 0x01, 0x09, 0x04};

// Closes a message handle.
struct DecodedMessage {
  DecodedMessage() = default;
  ~DecodedMessage() {
    if (msg != nullptr) ::CryptMsgClose(msg);
  }
  DecodedMessage(const DecodedMessage&) = delete;
  DecodedMessage& operator=(const DecodedMessage&) = delete;
  HCRYPTMSG msg = nullptr;
};

// A parameter of a decoded message, whole.
std::uint32_t GetParam(HCRYPTMSG msg, DWORD type, DWORD index, std::vector<BYTE>* out) {
  DWORD size = 0;
  if (!::CryptMsgGetParam(msg, type, index, nullptr, &size)) return SystemFailure();
  out->resize(size);
  if (!::CryptMsgGetParam(msg, type, index, out->data(), &size)) return SystemFailure();
  out->resize(size);
  return 0;
}

// 0 when signer |signer_index| of a verified message has no authenticated
// attributes, or its messageDigest attribute is the digest of |content|;
// kCryptEHashValue when it is not (or is missing).
std::uint32_t CheckMessageDigest(std::uint32_t encoding, ByteSpan blob, bool detached,
                                 std::uint32_t signer_index, ByteSpan content) {
  // Without the attribute's OID anywhere in the bytes there is nothing to
  // check, and nothing is decoded a second time.
  if (std::search(blob.begin(), blob.end(), std::begin(kMessageDigestOid),
                  std::end(kMessageDigestOid)) == blob.end()) {
    return 0;
  }
  DecodedMessage decoded;
  decoded.msg =
      ::CryptMsgOpenToDecode(encoding, detached ? CMSG_DETACHED_FLAG : 0, 0, 0, nullptr, nullptr);
  if (decoded.msg == nullptr ||
      !::CryptMsgUpdate(decoded.msg, blob.data(), static_cast<DWORD>(blob.size()), TRUE)) {
    return SystemFailure();
  }
  std::vector<BYTE> attributes_buffer;
  if (std::uint32_t e =
          GetParam(decoded.msg, CMSG_SIGNER_AUTH_ATTR_PARAM, signer_index, &attributes_buffer)) {
    return e == kCryptEAttributesMissing ? 0 : e;
  }
  const auto* attributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributes_buffer.data());
  if (attributes->cAttr == 0) return 0;
  ByteSpan signed_digest;
  bool found = false;
  for (DWORD i = 0; i < attributes->cAttr && !found; ++i) {
    const CRYPT_ATTRIBUTE& attribute = attributes->rgAttr[i];
    if (attribute.pszObjId == nullptr ||
        std::string_view(attribute.pszObjId) != szOID_RSA_messageDigest || attribute.cValue != 1) {
      continue;
    }
    ByteSpan value(attribute.rgValue[0].pbData, attribute.rgValue[0].cbData);
    der::Tlv octets;
    if (!der::Expect(&value, der::kOctetString, &octets) || !value.empty()) return kCryptEHashValue;
    signed_digest = octets.content;
    found = true;
  }
  if (!found) return kCryptEHashValue;
  std::vector<BYTE> signer_buffer;
  if (std::uint32_t e =
          GetParam(decoded.msg, CMSG_SIGNER_INFO_PARAM, signer_index, &signer_buffer)) {
    return e;
  }
  const auto* signer_info = reinterpret_cast<const CMSG_SIGNER_INFO*>(signer_buffer.data());
  if (signer_info->HashAlgorithm.pszObjId == nullptr) return kNteBadAlgId;
  Bytes digest;
  if (std::uint32_t e = DigestContent(signer_info->HashAlgorithm.pszObjId, content, &digest)) {
    return e;
  }
  return std::equal(digest.begin(), digest.end(), signed_digest.begin(), signed_digest.end())
             ? 0
             : kCryptEHashValue;
}

}  // namespace

}  // namespace msg

bool CryptVerifyMessageSignature(const CryptVerifyMessagePara& para, std::uint32_t signer_index,
                                 ByteSpan signed_blob, Bytes* content, CertContextPtr* signer) {
  if (content != nullptr) content->clear();
  if (signer != nullptr) signer->reset();
  return msg::CheckAndOpen(para.msg_and_cert_encoding_type, signed_blob, [&]() -> std::uint32_t {
    CRYPT_VERIFY_MESSAGE_PARA system_para = msg::SystemVerifyPara(para);
    msg::SystemCert cert;
    Bytes out;
    // The content is never longer than the message that holds it, so one
    // call verifies and copies it out. The content is asked for even when
    // the caller does not want it: some implementations fail without it.
    if (std::uint32_t e =
            msg::FillBytes(signed_blob.size(), false, &out, [&](BYTE* buffer, DWORD* size) {
              return ::CryptVerifyMessageSignature(&system_para, signer_index, signed_blob.data(),
                                                   static_cast<DWORD>(signed_blob.size()), buffer,
                                                   size, cert.out()) != FALSE;
            })) {
      return msg::VerifyFailure(e, para.msg_and_cert_encoding_type, signed_blob, signer_index);
    }
    if (std::uint32_t e = msg::CheckMessageDigest(para.msg_and_cert_encoding_type, signed_blob,
                                                  false, signer_index, out)) {
      return e;
    }
    CertContextPtr wrapped;
    if (std::uint32_t e = msg::WrapInto(cert, std::string(), &wrapped)) return e;
    if (content != nullptr) *content = std::move(out);
    if (signer != nullptr) *signer = std::move(wrapped);
    return 0;
  });
}

bool CryptVerifyDetachedMessageSignature(const CryptVerifyMessagePara& para,
                                         std::uint32_t signer_index, ByteSpan signature_blob,
                                         ByteSpan content, CertContextPtr* signer) {
  if (signer != nullptr) signer->reset();
  return msg::CheckAndOpen(para.msg_and_cert_encoding_type, signature_blob, [&]() -> std::uint32_t {
    DWORD content_length = 0;
    if (std::uint32_t e = msg::SystemLength(content, &content_length)) return e;
    CRYPT_VERIFY_MESSAGE_PARA system_para = msg::SystemVerifyPara(para);
    const BYTE* parts[] = {msg::SystemPointer(content)};
    DWORD lengths[] = {content_length};
    msg::SystemCert cert;
    if (!::CryptVerifyDetachedMessageSignature(&system_para, signer_index, signature_blob.data(),
                                               static_cast<DWORD>(signature_blob.size()), 1, parts,
                                               lengths, cert.out())) {
      return msg::VerifyFailure(msg::SystemFailure(), para.msg_and_cert_encoding_type,
                                signature_blob, signer_index);
    }
    if (std::uint32_t e = msg::CheckMessageDigest(para.msg_and_cert_encoding_type, signature_blob,
                                                  true, signer_index, content)) {
      return e;
    }
    return msg::WrapInto(cert, std::string(), signer);
  });
}

}  // namespace quillmark::platform
