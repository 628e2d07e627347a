// Windows: CryptEncryptMessage and CryptDecryptMessage. RC4 is asked for
// with a 128-bit key (the system's default would be 40 bits); the other
// content ciphers take the key length their OID fixes.
#include "platform/message/win/message_win.h"
#include "platform/os/effect_audit.h"
#include "platform/store/win/cert_context_win.h"

namespace quillmark::platform {

namespace msg {

namespace {

// Room for the envelope's own fields and the cipher's padding, and for one
// recipient info beyond its issuer name (an RSA key of up to 16384 bits).
constexpr std::size_t kEnvelopeOverhead = 1024;
constexpr std::size_t kRecipientOverhead = 2560;

}  // namespace

std::uint32_t MakeSystemEncryptPara(const CryptEncryptMessagePara& para,
                                    std::span<const CertContextPtr> recipients,
                                    SystemEncryptPara* out) {
  if (!IsMessageEncoding(para.msg_encoding_type) || recipients.empty()) {
    return kErrorInvalidParameter;
  }
  DWORD inner = 0;
  if (para.inner_content_type == kCmsgSigned) {
    inner = CMSG_SIGNED;
  } else if (para.inner_content_type != 0 && para.inner_content_type != kCmsgData) {
    return kErrorInvalidParameter;
  }
  if (std::uint32_t e = SystemContexts(recipients, &out->recipients)) return e;
  // Key transport is RSA PKCS#1 v1.5: a recipient with another kind of key
  // (SM2, EC) cannot receive one, whatever a provider would try with its bits.
  for (PCCERT_CONTEXT cert : out->recipients) {
    const char* key_oid = cert->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId;
    if (key_oid == nullptr || std::string_view(key_oid) != szOID_RSA_RSA) return kNteBadAlgId;
  }
  if (std::uint32_t e = CheckContentCipherOid(para.content_encryption_oid)) return e;
  out->oid = para.content_encryption_oid;
  out->para = {};
  out->para.cbSize = sizeof(out->para);
  out->para.dwMsgEncodingType = para.msg_encoding_type;
  out->para.hCryptProv = 0;
  out->para.ContentEncryptionAlgorithm.pszObjId = out->oid.data();
  out->para.dwInnerContentType = inner;
  if (out->oid == kOidRc4) {
    out->rc4.cbSize = sizeof(out->rc4);
    out->rc4.dwBitLen = 128;
    out->para.pvEncryptionAuxInfo = &out->rc4;
  }
  return 0;
}

std::uint32_t MakeSystemDecryptPara(const CryptDecryptMessagePara& para, SystemDecryptPara* out) {
  if (!IsMessageEncoding(para.msg_and_cert_encoding_type)) return kErrorInvalidParameter;
  out->stores.clear();
  for (const CertStore& store : para.cert_stores) {
    HCERTSTORE handle = CertStoreHandle(store);
    if (handle == nullptr) return kErrorInvalidParameter;
    out->stores.push_back(handle);
  }
  out->para = {};
  out->para.cbSize = sizeof(out->para);
  out->para.dwMsgAndCertEncodingType = para.msg_and_cert_encoding_type;
  out->para.cCertStore = static_cast<DWORD>(out->stores.size());
  out->para.rghCertStore = out->stores.empty() ? nullptr : out->stores.data();
  return 0;
}

std::string RecipientStoreName(const CryptDecryptMessagePara& para, PCCERT_CONTEXT cert) {
  for (const CertStore& store : para.cert_stores) {
    PCCERT_CONTEXT found = ::CertFindCertificateInStore(CertStoreHandle(store), kDefaultEncoding, 0,
                                                        CERT_FIND_EXISTING, cert, nullptr);
    if (found != nullptr) {
      ::CertFreeCertificateContext(found);
      return store.name();
    }
  }
  return std::string();
}

}  // namespace msg

bool CryptEncryptMessage(const CryptEncryptMessagePara& para,
                         std::span<const CertContextPtr> recipients, ByteSpan content,
                         Bytes* encrypted_blob) {
  return msg::MakeInto(encrypted_blob, [&](Bytes* der) -> std::uint32_t {
    msg::SystemEncryptPara system_para;
    if (std::uint32_t e = msg::MakeSystemEncryptPara(para, recipients, &system_para)) return e;
    DWORD content_length = 0;
    if (std::uint32_t e = msg::SystemLength(content, &content_length)) return e;
    // A guess large enough for the envelope spares the size call, which
    // would encrypt the whole content once more.
    std::size_t guess = content.size() + msg::kEnvelopeOverhead;
    for (PCCERT_CONTEXT cert : system_para.recipients) {
      guess += msg::kRecipientOverhead + cert->pCertInfo->Issuer.cbData;
    }
    return msg::FillBytes(guess, false, der, [&](BYTE* out, DWORD* size) {
      return ::CryptEncryptMessage(&system_para.para,
                                   static_cast<DWORD>(system_para.recipients.size()),
                                   system_para.recipients.data(), msg::SystemPointer(content),
                                   content_length, out, size) != FALSE;
    });
  });
}

bool CryptDecryptMessage(const CryptDecryptMessagePara& para, ByteSpan encrypted_blob,
                         Bytes* content, CertContextPtr* recipient_cert) {
  if (content != nullptr) content->clear();
  if (recipient_cert != nullptr) recipient_cert->reset();
  return msg::CheckAndOpen(para.msg_and_cert_encoding_type, encrypted_blob, [&]() -> std::uint32_t {
    msg::SystemDecryptPara system_para;
    if (std::uint32_t e = msg::MakeSystemDecryptPara(para, &system_para)) return e;
    if (std::uint32_t e = msg::ConfirmOpening(system_para, encrypted_blob)) return e;
    msg::SystemCert cert;
    Bytes out;
    NoteEffect(Effect::kKeyUse);
    // The content is never longer than the envelope that holds it.
    if (std::uint32_t e =
            msg::FillBytes(encrypted_blob.size(), false, &out, [&](BYTE* buffer, DWORD* size) {
              return ::CryptDecryptMessage(&system_para.para, encrypted_blob.data(),
                                           static_cast<DWORD>(encrypted_blob.size()), buffer, size,
                                           cert.out()) != FALSE;
            })) {
      return e;
    }
    CertContextPtr wrapped;
    if (std::uint32_t e =
            msg::WrapInto(cert, msg::RecipientStoreName(para, cert.get()), &wrapped)) {
      ::SecureZeroMemory(out.data(), out.size());
      return e;
    }
    if (content != nullptr) *content = std::move(out);
    if (recipient_cert != nullptr) *recipient_cert = std::move(wrapped);
    return 0;
  });
}

}  // namespace quillmark::platform
