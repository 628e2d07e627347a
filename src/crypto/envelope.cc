#include "crypto/envelope.h"

#include <new>
#include <span>
#include <string>
#include <utility>

#include "crypto/envelope_input.h"
#include "crypto/field_texts.h"
#include "crypto/message_errors.h"
#include "crypto/message_text.h"
#include "crypto/user_stores.h"
#include "platform/message/message.h"
#include "platform/store/cert_store.h"

namespace quillmark::crypto {

namespace {

// Envelopes |content| for |recipient| and turns the result into text.
Status EnvelopeFor(const platform::CertContextPtr& recipient, ByteSpan content,
                   std::string_view symmetric_oid, Bytes* text) {
  platform::CryptEncryptMessagePara para;
  para.content_encryption_oid = std::string(symmetric_oid);
  Bytes blob;
  if (!platform::CryptEncryptMessage(para, std::span<const platform::CertContextPtr>(&recipient, 1),
                                     content, &blob)) {
    return MessageCallFailed(MessageCall::kEncrypt);
  }
  return EncodeMessageText(std::move(blob), /*compress=*/false, 0, text);
}

}  // namespace

Status EncryptEnvelope(ByteSpan content, const certs::SignerQuery& recipient,
                       std::string_view symmetric_oid, const certs::ChooserTexts& texts,
                       Bytes* text, certs::CertInfoSet* recipient_info) {
  if (text == nullptr) return kErrEmptyInput;
  try {
    RecipientStores stores;
    if (Status status = OpenRecipientStores(&stores); !status.ok()) return status;
    platform::CertContextPtr cert = SelectRecipient(stores, recipient, texts);
    if (!cert) return kErrCertNotFound;
    Bytes encoded;
    if (Status status = EnvelopeFor(cert, content, symmetric_oid, &encoded); !status.ok()) {
      return status;
    }
    ReturnFieldTexts(cert, recipient_info);
    *text = std::move(encoded);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

Status DecryptEnvelope(ByteSpan text, Bytes* content, certs::CertInfoSet* recipient_info) {
  if (content == nullptr) return kErrEmptyInput;
  try {
    Bytes blob;
    platform::CertStore my;
    if (Status status = DecodeEnvelopeInput(text, &blob, &my); !status.ok()) return status;
    platform::CryptDecryptMessagePara para;
    para.cert_stores = std::span<const platform::CertStore>(&my, 1);
    Bytes opened;
    platform::CertContextPtr recipient;
    if (!platform::CryptDecryptMessage(para, blob, &opened, &recipient)) {
      return MessageCallFailed(MessageCall::kDecrypt);
    }
    ReturnFieldTexts(recipient, recipient_info);
    *content = std::move(opened);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

Status EncryptFileForCertificate(ByteSpan content, ByteSpan certificate_text,
                                 std::string_view symmetric_oid, Bytes* text) {
  if (text == nullptr) return kErrEmptyInput;
  try {
    Bytes der;
    if (int status = DecodeMessageText(certificate_text, /*expand=*/false, &der); status != kOk) {
      return status;
    }
    platform::CertContextPtr recipient =
        platform::CertCreateCertificateContext(platform::kDefaultEncoding, der);
    if (recipient == nullptr) return kErrCertContext;
    return EnvelopeFor(recipient, content, symmetric_oid, text);
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

}  // namespace quillmark::crypto
