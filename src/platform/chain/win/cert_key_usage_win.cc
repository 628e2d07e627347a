// Windows: CertGetIntendedKeyUsage, two bytes of the system's answer.
#include "platform/chain/cert_key_usage.h"
#include "platform/chain/win/chain_win.h"
#include "platform/store/win/cert_context_win.h"

namespace quillmark::platform {

namespace {
constexpr char kOidKeyUsage[] = "2.5.29.15";
}  // namespace

bool CertGetIntendedKeyUsage(const CertContext& cert, std::uint32_t* usage) {
  *usage = 0;
  PCCERT_CONTEXT handle = CertContextHandle(cert);
  BYTE bits[2] = {0, 0};
  if (handle != nullptr && ::CertGetIntendedKeyUsage(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                     handle->pCertInfo, bits, sizeof(bits))) {
    *usage = static_cast<std::uint32_t>(bits[0]) | (static_cast<std::uint32_t>(bits[1]) << 8);
    return true;
  }
  // The system says false both for no extension and for one it cannot
  // decode; an extension that is there but undecodable allows nothing.
  return CertFindExtension(kOidKeyUsage, cert.extensions()) != nullptr;
}

}  // namespace quillmark::platform
