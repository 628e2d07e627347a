#include "crypto/message_errors.h"

#include "common/status.h"
#include "platform/os/last_error.h"

namespace quillmark::crypto {

int MapMessageError(std::uint32_t last_error, MessageCall call) {
  std::uint32_t no_key = call == MessageCall::kDecrypt ? platform::kCryptENoDecryptCert
                                                       : platform::kCryptENoKeyProperty;
  if (last_error == no_key) return kErrPrivateKeyNotFound;
  switch (last_error) {
    case platform::kCryptEOssError:
      return kErrMessageNotRecognised;
    case platform::kNteBadSignature:
      return kErrInvalidSignature;
    case platform::kNteBadAlgId:
      return kErrBadAlgorithm;
    default:
      break;
  }
  switch (call) {
    case MessageCall::kSign:
      return kErrSignFailed;
    case MessageCall::kVerify:
      return kErrVerifyFailed;
    case MessageCall::kEncrypt:
      return kErrEncryptFailed;
    case MessageCall::kDecrypt:
      return kErrDecryptFailed;
  }
  return kErrSignFailed;
}

Status MessageCallFailed(MessageCall call) {
  const std::uint32_t error = platform::GetLastError();
  return Status(MapMessageError(error, call), error);
}

}  // namespace quillmark::crypto
