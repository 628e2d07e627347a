#include "crypto/verify_message.h"

#include <new>
#include <utility>

#include "certs/verify_chain.h"
#include "common/status.h"
#include "crypto/field_texts.h"
#include "crypto/message_errors.h"
#include "crypto/message_text.h"
#include "platform/message/message.h"

namespace quillmark::crypto {

namespace {

// |owned_text|, when given, holds |text| and is released once decoded.
Status Verify(ByteSpan text, Bytes* owned_text, Bytes* content, certs::CertInfoSet* signer_info,
              bool attached, std::uint32_t chain_mask) {
  if (attached && content == nullptr) return kErrEmptyInput;
  try {
    Bytes message;
    int decoded = DecodeMessageText(text, /*expand=*/true, &message);
    if (owned_text != nullptr) Bytes().swap(*owned_text);
    if (decoded != kOk) return decoded;
    platform::CryptVerifyMessagePara para;
    platform::CertContextPtr signer;
    Bytes signed_content;
    bool verified;
    if (attached) {
      verified = platform::CryptVerifyMessageSignature(para, 0, message, &signed_content, &signer);
    } else {
      if (content == nullptr) return kErrNoDetachedSource;
      if (content->empty()) return kErrEmptyInput;
      verified = platform::CryptVerifyDetachedMessageSignature(para, 0, message, *content, &signer);
    }
    if (!verified) return MessageCallFailed(MessageCall::kVerify);
    if (signer == nullptr) return kErrSignerNoSubject;
    // The signer checks report no platform code here.
    if (Status status = certs::CheckSignerKeyUsage(*signer); !status.ok()) return status.number();
    if (Status status = certs::VerifyCertificateChain(signer, chain_mask); !status.ok()) {
      return status.number();
    }
    ReturnFieldTexts(signer, signer_info);
    if (attached) *content = std::move(signed_content);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

}  // namespace

Status VerifyMessage(ByteSpan text, Bytes* content, certs::CertInfoSet* signer_info,
                     bool attached) {
  return Verify(text, nullptr, content, signer_info, attached, certs::kMaskAll);
}

Status VerifyMessage(Bytes&& text, Bytes* content, certs::CertInfoSet* signer_info, bool attached) {
  return Verify(text, &text, content, signer_info, attached, certs::kMaskAll);
}

Status VerifyAfterwards(ByteSpan text, Bytes* content, certs::CertInfoSet* signer_info) {
  return Verify(text, nullptr, content, signer_info, /*attached=*/true, certs::kMaskAfterwards);
}

Status VerifyAfterwards(Bytes&& text, Bytes* content, certs::CertInfoSet* signer_info) {
  return Verify(text, &text, content, signer_info, /*attached=*/true, certs::kMaskAfterwards);
}

}  // namespace quillmark::crypto
