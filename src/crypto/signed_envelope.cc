#include "crypto/signed_envelope.h"

#include <new>
#include <span>
#include <string>
#include <utility>

#include "certs/verify_chain.h"
#include "crypto/envelope_input.h"
#include "crypto/field_texts.h"
#include "crypto/message_errors.h"
#include "crypto/message_text.h"
#include "crypto/user_stores.h"
#include "platform/message/message.h"
#include "platform/store/cert_store.h"

namespace quillmark::crypto {

namespace {

// Signs |content| with |signer|, envelopes the SignedData for |recipient|
// and turns the result into text.
Status SealFor(const platform::CertContextPtr& signer, const platform::CertContextPtr& recipient,
               ByteSpan content, const EnvelopeAlgorithms& algorithms, Bytes* text) {
  platform::CryptSignMessagePara sign_para;
  sign_para.signing_cert = signer;
  sign_para.hash_algorithm_oid = std::string(algorithms.digest_oid);
  sign_para.msg_certs = {signer};
  platform::CryptEncryptMessagePara encrypt_para;
  encrypt_para.content_encryption_oid = std::string(algorithms.symmetric_oid);
  Bytes blob;
  if (!platform::CryptSignAndEncryptMessage(
          sign_para, encrypt_para, std::span<const platform::CertContextPtr>(&recipient, 1),
          content, &blob)) {
    return MessageCallFailed(MessageCall::kEncrypt);
  }
  return EncodeMessageText(std::move(blob), /*compress=*/false, 0, text);
}

}  // namespace

Status SignAndEncryptEnvelope(ByteSpan content, const certs::SignerQuery& signer,
                              const certs::SignerQuery& recipient,
                              const EnvelopeAlgorithms& algorithms,
                              const certs::ChooserTexts& texts, SignedEnvelope* made) {
  if (made == nullptr) return kErrEmptyInput;
  try {
    RecipientStores others;
    if (Status status = OpenRecipientStores(&others); !status.ok()) return status;
    platform::CertStore my;
    platform::CertContextPtr signer_cert;
    if (Status status = SelectSigner(signer, texts, &my, &signer_cert); !status.ok()) {
      return status;
    }
    platform::CertContextPtr recipient_cert = SelectRecipient(others, recipient, texts);
    if (!recipient_cert) return kErrCertNotFound;

    SignedEnvelope sealed;
    if (Status status = SealFor(signer_cert, recipient_cert, content, algorithms, &sealed.text);
        !status.ok()) {
      return status;
    }
    ReturnFieldTexts(signer_cert, &sealed.signer);
    ReturnFieldTexts(recipient_cert, &sealed.recipient);
    *made = std::move(sealed);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

Status DecryptAndVerifyEnvelope(ByteSpan text, Bytes* content, certs::CertInfoSet* signer_info,
                                certs::CertInfoSet* recipient_info) {
  if (content == nullptr) return kErrEmptyInput;
  try {
    Bytes blob;
    platform::CertStore my;
    if (Status status = DecodeEnvelopeInput(text, &blob, &my); !status.ok()) return status;

    platform::CryptDecryptMessagePara decrypt_para;
    decrypt_para.cert_stores = std::span<const platform::CertStore>(&my, 1);
    platform::CryptVerifyMessagePara verify_para;
    Bytes opened;
    platform::CertContextPtr recipient, signer;
    if (!platform::CryptDecryptAndVerifyMessageSignature(decrypt_para, verify_para,
                                                         /*signer_index=*/0, blob, &opened,
                                                         &recipient, &signer)) {
      return MessageCallFailed(MessageCall::kDecrypt);
    }
    if (signer == nullptr) return kErrSignerNoSubject;
    // The signer checks report no platform code here.
    if (Status status = certs::CheckSignerKeyUsage(*signer); !status.ok()) return status.number();
    if (Status status = certs::VerifyCertificateChain(signer, certs::kMaskAll); !status.ok()) {
      return status.number();
    }
    ReturnFieldTexts(signer, signer_info);
    ReturnFieldTexts(recipient, recipient_info);
    *content = std::move(opened);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

}  // namespace quillmark::crypto
