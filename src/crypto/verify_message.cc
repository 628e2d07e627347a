#include "crypto/verify_message.h"

#include <new>
#include <utility>

#include "certs/verify_chain.h"
#include "common/status.h"
#include "crypto/message_errors.h"
#include "crypto/message_text.h"
#include "platform/message/message.h"
#include "platform/os/last_error.h"

namespace quillmark::crypto {

namespace {

int Verify(ByteSpan text, Bytes* content, certs::CertInfoSet* signer_info, bool attached,
           std::uint32_t chain_mask, std::uint32_t* platform_error) {
  if (attached && content == nullptr) return kErrEmptyInput;
  try {
    Bytes message;
    if (int status = DecodeMessageText(text, /*expand=*/true, &message); status != kOk) {
      return status;
    }
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
    if (!verified) {
      std::uint32_t error = platform::GetLastError();
      if (platform_error != nullptr) *platform_error = error;
      return MapMessageError(error, MessageCall::kVerify);
    }
    if (signer == nullptr) return kErrSignerNoSubject;
    if (int status = certs::VerifyCertificateChain(signer, chain_mask); status != kOk) {
      return status;
    }
    if (signer_info != nullptr) {
      certs::CertInfoSet info;
      certs::FillCertInfo(signer.get(), &info);  // a field that cannot be shown stays absent
      *signer_info = std::move(info);
    }
    if (attached) *content = std::move(signed_content);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

}  // namespace

int VerifyMessage(ByteSpan text, Bytes* content, certs::CertInfoSet* signer_info, bool attached,
                  std::uint32_t* platform_error) {
  return Verify(text, content, signer_info, attached, certs::kMaskAll, platform_error);
}

int VerifyAfterwards(ByteSpan text, Bytes* content, certs::CertInfoSet* signer_info,
                     std::uint32_t* platform_error) {
  return Verify(text, content, signer_info, /*attached=*/true, certs::kMaskAfterwards,
                platform_error);
}

}  // namespace quillmark::crypto
