// The cheap look at a message's BER that every backend takes before the
// message goes to a full decoder: bounds on how many items a message may
// carry, and no message wrapped inside a SignedData. It allocates nothing
// and costs no more than reading the bytes once.
#ifndef QUILLMARK_PLATFORM_MESSAGE_MESSAGE_SHAPE_H_
#define QUILLMARK_PLATFORM_MESSAGE_MESSAGE_SHAPE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/bytes.h"

namespace quillmark::platform::msg {

// The most certificates, CRLs, digest algorithms, signer infos (and, in a
// SignedAndEnvelopedData, recipient infos) one message may carry, each.
inline constexpr std::size_t kMaxMessageItems = 100;

enum class MessageShape {
  kFits,
  kMalformed,     // not one well-formed BER value, or no ContentInfo
  kBeyondLimits,  // too many items in a set, or a message inside a SignedData
};

// kBeyondLimits when a set of a SignedData or SignedAndEnvelopedData in
// |der| holds more than kMaxMessageItems items, or a SignedData encapsulates
// another PKCS#7 message (signed, enveloped, digested or encrypted) instead
// of data; kMalformed when |der| is not one well-formed BER value or its
// fields cannot be walked. Nothing else about the message is checked. Every
// reader of a PKCS#7 SignedData takes this look first.
MessageShape LookAtMessageShape(ByteSpan der);

// kCryptEOssError unless LookAtMessageShape(der) is kFits; 0 then.
std::uint32_t CheckMessageShape(ByteSpan der);

// For a definite-length SignedData that carries a certificates field whose
// items are all definite-length sequences: |rest| receives the same message
// without that field and |certs| each item's bytes, in order. False (and
// nothing promised about the outputs) for any other message.
bool SplitCertificates(ByteSpan der, Bytes* rest, std::vector<ByteSpan>* certs);

}  // namespace quillmark::platform::msg

#endif  // QUILLMARK_PLATFORM_MESSAGE_MESSAGE_SHAPE_H_
