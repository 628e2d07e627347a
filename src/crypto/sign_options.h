// How the signing operations make their message: attached or detached, the
// digest algorithm, and the size from which an attached (or Advance)
// signature is compressed.
//
//   crypto::SignOptions options{.detached = true, .digest_oid = "2.16.840.1.101.3.4.2.1"};
#ifndef QUILLMARK_CRYPTO_SIGN_OPTIONS_H_
#define QUILLMARK_CRYPTO_SIGN_OPTIONS_H_

#include <string_view>

namespace quillmark::crypto {

inline constexpr std::string_view kSha1DigestOid = "1.3.14.3.2.26";
inline constexpr int kDefaultCompressionThreshold = 51200;

struct SignOptions {
  bool detached = false;
  // Passed on as given: an OID the platform does not know fails in the step
  // that hashes or signs.
  std::string_view digest_oid = kSha1DigestOid;
  // Messages of at least this many bytes become a compression frame.
  int compression_threshold = kDefaultCompressionThreshold;
};

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_SIGN_OPTIONS_H_
