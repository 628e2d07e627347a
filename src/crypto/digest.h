// DigestAndEncode: the bare digest of a byte string (no PKCS#7 structure) as
// line-wrapped Base64 text, with the caller's buffer and the two-call size
// protocol.
//
// Called with no output buffer, it answers a capacity and computes nothing:
// the content length + 80, but never less than the text of the longest
// digest (64 bytes: 88 characters and two line feeds, 90), so that a caller
// who allocates the answer (plus its terminator) always has room. Called with a buffer,
// *output_length is its capacity in and the text length out; a text that
// would not fit fails with kErrBase64Encode and writes nothing.
//
//   std::size_t size = 0;
//   DigestAndEncode(data, nullptr, &size, oid);            // the capacity
//   Bytes text(size + 1);
//   Status status = DigestAndEncode(data, text.data(), &size, oid);
//   text.resize(size);                                      // "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=\n"
//
// Statuses: kErrEmptyInput (no length argument), kErrDecryptFailed (-10023,
// the digest call failed, for instance an OID the platform does not know),
// kErrNoMemory, kErrBase64Encode. No platform error code is reported.
#ifndef QUILLMARK_CRYPTO_DIGEST_H_
#define QUILLMARK_CRYPTO_DIGEST_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/bytes.h"
#include "common/status.h"

namespace quillmark::crypto {

// The longest digest the size answer makes room for.
inline constexpr std::size_t kMaxDigestSize = 64;

Status DigestAndEncode(ByteSpan content, std::uint8_t* output, std::size_t* output_length,
                       std::string_view digest_oid);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_DIGEST_H_
