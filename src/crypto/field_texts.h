// The field texts an engine operation hands back for a certificate that took
// part in it: all five fields in |*info| when |info| is given. A field that
// cannot be shown stays absent; that is never an error of the operation.
#ifndef QUILLMARK_CRYPTO_FIELD_TEXTS_H_
#define QUILLMARK_CRYPTO_FIELD_TEXTS_H_

#include <utility>

#include "certs/cert_info.h"
#include "platform/store/cert_context.h"

namespace quillmark::crypto {

inline void ReturnFieldTexts(const platform::CertContextPtr& cert, certs::CertInfoSet* info) {
  if (info == nullptr) return;
  certs::CertInfoSet filled;
  certs::FillCertInfo(cert.get(), &filled);
  *info = std::move(filled);
}

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_FIELD_TEXTS_H_
