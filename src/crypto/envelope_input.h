// What opening an envelope, plain or signed, starts with: the page's text
// decoded to the message bytes (Base64 only: envelopes never carry a
// compression frame), then the current user's "MY" store opened, where the
// recipient's certificate and private key are looked for.
//
//   Bytes blob;
//   platform::CertStore my;
//   if (Status status = DecodeEnvelopeInput(text, &blob, &my); !status.ok()) return status;
#ifndef QUILLMARK_CRYPTO_ENVELOPE_INPUT_H_
#define QUILLMARK_CRYPTO_ENVELOPE_INPUT_H_

#include "common/bytes.h"
#include "common/status.h"
#include "platform/store/cert_store.h"

namespace quillmark::crypto {

// kErrBase64Decode or kErrNoMemory when |text| does not decode (the store is
// then not opened), kErrStoreOpen when "MY" cannot be opened.
Status DecodeEnvelopeInput(ByteSpan text, Bytes* blob, platform::CertStore* my);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_ENVELOPE_INPUT_H_
