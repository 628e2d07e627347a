// Where the fields of an encoded certificate or CRL sit, read by walking the
// DER once. Shared by every backend, so each accessor of a context returns
// the same bytes whichever system parsed it.
#ifndef QUILLMARK_PLATFORM_STORE_CERT_FIELDS_H_
#define QUILLMARK_PLATFORM_STORE_CERT_FIELDS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "platform/store/cert_context.h"

namespace quillmark::platform {

// Where in the DER a field sits (offset and length), so the spans stay valid
// whatever happens to the buffer's address.
struct DerRange {
  std::size_t offset = 0;
  std::size_t length = 0;
};

inline ByteSpan SpanOf(ByteSpan der, DerRange r) { return der.subspan(r.offset, r.length); }

// The fields of a certificate. sig_alg and spki_alg are the contents of the
// algorithm OIDs; issuer, subject and spki are whole TLVs; extensions is the
// content of the [3] wrapper (empty when absent).
struct CertFields {
  int version = 1;
  Bytes serial_lsb;  // INTEGER content octets, least significant first
  DerRange issuer, subject, spki, sig_alg, spki_alg, extensions;
  CertTime not_before, not_after;
};

// Walks |der|, which must be exactly one Certificate. False when it is not.
bool WalkCertificateDer(ByteSpan der, CertFields* out);

// The extensions of the [3] content |extensions|, in encoded order; entries
// that do not walk are skipped.
std::vector<CertExtension> ParseExtensionList(ByteSpan extensions);

struct CrlFields {
  DerRange issuer;  // whole Name TLV
  CertTime this_update;
  std::optional<CertTime> next_update;
};

// Walks |der|, which must be exactly one CertificateList.
bool WalkCrlDer(ByteSpan der, CrlFields* out);

// Parses a DER UTCTime or GeneralizedTime ("...Z" with seconds).
bool ParseDerTime(std::uint8_t tag, ByteSpan content, CertTime* out);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_STORE_CERT_FIELDS_H_
