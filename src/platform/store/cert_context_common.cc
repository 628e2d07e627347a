// The parts of the certificate-context API that only read fields, the same
// on every system.
#include <algorithm>

#include "common/hex.h"
#include "platform/names/cert_name.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context.h"

namespace quillmark::platform {

const CertExtension* CertFindExtension(std::string_view oid,
                                       std::span<const CertExtension> extensions) {
  for (const CertExtension& e : extensions) {
    if (e.oid == oid) return &e;
  }
  SetLastError(kCryptENotFound);
  return nullptr;
}

bool CertCompareIntegerBlob(ByteSpan a, ByteSpan b) {
  // Drops the redundant sign-extension bytes at the most significant end.
  auto trim = [](ByteSpan v) {
    size_t n = v.size();
    if (n == 0) return v;
    if (v[n - 1] == 0x00) {
      while (n > 0 && v[n - 1] == 0x00) --n;
    } else if (v[n - 1] == 0xFF) {
      while (n > 1 && v[n - 1] == 0xFF && (v[n - 2] & 0x80)) --n;
    }
    return v.first(n);
  };
  ByteSpan x = trim(a), y = trim(b);
  return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin());
}

std::string HexUpper(ByteSpan bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  AppendHexUpper(bytes, &out);
  return out;
}

std::u16string CertGetNameStringW(const CertContext& cert, std::uint32_t type,
                                  std::uint32_t flags) {
  if (type != kCertNameSimpleDisplayType) {
    SetLastError(kErrorInvalidParameter);
    return std::u16string();
  }
  return SimpleDisplayName((flags & kCertNameIssuerFlag) ? cert.issuer_der() : cert.subject_der());
}

}  // namespace quillmark::platform
