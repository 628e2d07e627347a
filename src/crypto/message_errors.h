// The statuses of a failed platform message call.
//
// Every engine operation that signs, verifies, envelopes or opens a message
// through platform/message.h turns the call's last error into its status
// with MapMessageError; the operation's kind decides which error means "no
// private key" and what any unlisted error becomes:
//
//   last error                    kSign    kVerify  kEncrypt  kDecrypt
//   CRYPT_E_NO_KEY_PROPERTY        -10015   -10015   -10015    other
//   CRYPT_E_NO_DECRYPT_CERT        other    other    other     -10015
//   CRYPT_E_OSS_ERROR              -10007 in every kind
//   NTE_BAD_SIGNATURE              -10010 in every kind
//   NTE_BAD_ALGID                  -10033 in every kind
//   other                          -10020   -10021   -10022    -10023
//
//   Bytes blob;
//   if (!platform::CryptSignMessage(para, detached, content, &blob)) {
//     return MessageCallFailed(MessageCall::kSign);
//   }
#ifndef QUILLMARK_CRYPTO_MESSAGE_ERRORS_H_
#define QUILLMARK_CRYPTO_MESSAGE_ERRORS_H_

#include <cstdint>

#include "common/status.h"

namespace quillmark::crypto {

enum class MessageCall {
  kSign,     // CryptSignMessage
  kVerify,   // CryptVerifyMessageSignature, CryptVerifyDetachedMessageSignature
  kEncrypt,  // CryptEncryptMessage, CryptSignAndEncryptMessage
  kDecrypt,  // CryptDecryptMessage, CryptDecryptAndVerifyMessageSignature
};

// The status for a message call of |call| that failed with |last_error|.
int MapMessageError(std::uint32_t last_error, MessageCall call);

// The status of a message call of |call| that has just failed: its mapped
// number with the thread's last error as the platform code.
Status MessageCallFailed(MessageCall call);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_MESSAGE_ERRORS_H_
