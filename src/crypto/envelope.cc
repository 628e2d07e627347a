#include "crypto/envelope.h"

#include <new>
#include <span>
#include <string>
#include <utility>

#include "common/status.h"
#include "crypto/field_texts.h"
#include "crypto/message_errors.h"
#include "crypto/message_text.h"
#include "crypto/recipient_selection.h"
#include "crypto/signer_selection.h"
#include "platform/message/message.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_store.h"

namespace quillmark::crypto {

namespace {

// Envelopes |content| for |recipient| and turns the result into text.
int EnvelopeFor(const platform::CertContextPtr& recipient, ByteSpan content,
                std::string_view symmetric_oid, Bytes* text, std::uint32_t* platform_error) {
  platform::CryptEncryptMessagePara para;
  para.content_encryption_oid = std::string(symmetric_oid);
  Bytes blob;
  if (!platform::CryptEncryptMessage(para, std::span<const platform::CertContextPtr>(&recipient, 1),
                                     content, &blob)) {
    std::uint32_t error = platform::GetLastError();
    if (platform_error != nullptr) *platform_error = error;
    return MapMessageError(error, MessageCall::kEncrypt);
  }
  return EncodeMessageText(std::move(blob), /*compress=*/false, 0, text);
}

}  // namespace

int EncryptEnvelope(ByteSpan content, bool server_mode, std::u16string_view dn,
                    std::u16string_view separator, Bytes* text, certs::CertInfoSet* recipient_info,
                    std::string_view symmetric_oid, const certs::ChooserTexts& texts,
                    std::uint32_t* platform_error) {
  if (text == nullptr) return kErrEmptyInput;
  try {
    RecipientStores stores;
    if (int status = OpenRecipientStores(&stores); status != kOk) return status;
    platform::CertContextPtr recipient;
    if (int status = SelectRecipient(stores, server_mode, dn, separator, texts, &recipient);
        status != kOk) {
      return status;
    }
    Bytes encoded;
    if (int status = EnvelopeFor(recipient, content, symmetric_oid, &encoded, platform_error);
        status != kOk) {
      return status;
    }
    ReturnFieldTexts(recipient, recipient_info);
    *text = std::move(encoded);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

int DecryptEnvelope(ByteSpan text, Bytes* content, certs::CertInfoSet* recipient_info,
                    std::uint32_t* platform_error) {
  if (content == nullptr) return kErrEmptyInput;
  try {
    Bytes blob;
    if (int status = DecodeMessageText(text, /*expand=*/false, &blob); status != kOk) {
      return status;
    }
    platform::CertStore my;
    if (int status = OpenUserStore(kMyStoreName, &my); status != kOk) return status;
    platform::CryptDecryptMessagePara para;
    para.cert_stores = std::span<const platform::CertStore>(&my, 1);
    Bytes opened;
    platform::CertContextPtr recipient;
    if (!platform::CryptDecryptMessage(para, blob, &opened, &recipient)) {
      std::uint32_t error = platform::GetLastError();
      if (platform_error != nullptr) *platform_error = error;
      return MapMessageError(error, MessageCall::kDecrypt);
    }
    ReturnFieldTexts(recipient, recipient_info);
    *content = std::move(opened);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

int EncryptFileForCertificate(ByteSpan content, ByteSpan certificate_text, Bytes* text,
                              std::string_view symmetric_oid, std::uint32_t* platform_error) {
  if (text == nullptr) return kErrEmptyInput;
  try {
    Bytes der;
    if (int status = DecodeMessageText(certificate_text, /*expand=*/false, &der); status != kOk) {
      return status;
    }
    platform::CertContextPtr recipient =
        platform::CertCreateCertificateContext(platform::kDefaultEncoding, der);
    if (recipient == nullptr) return kErrCertContext;
    return EnvelopeFor(recipient, content, symmetric_oid, text, platform_error);
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

}  // namespace quillmark::crypto
