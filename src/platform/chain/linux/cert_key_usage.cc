#include "platform/chain/cert_key_usage.h"

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "platform/store/cert_context_internal.h"

namespace quillmark::platform {

bool CertGetIntendedKeyUsage(const CertContext& cert, std::uint32_t* usage) {
  X509* x = CertContextX509(cert);
  const bool present = X509_get_ext_by_NID(x, NID_key_usage, -1) >= 0;
  if (!present) return false;
  // OpenSSL decodes the extension once and keeps its bits in the same order
  // as the platform; a value it could not decode sets no EXFLAG_KUSAGE.
  const std::uint32_t flags = X509_get_extension_flags(x);
  *usage = (flags & EXFLAG_KUSAGE) != 0 ? X509_get_key_usage(x) : 0;
  ERR_clear_error();
  return true;
}

}  // namespace quillmark::platform
