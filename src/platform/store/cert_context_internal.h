// Platform-internal access to the OpenSSL objects behind certificate and CRL
// contexts and to the store cache. Only code under src/platform/ (and tests
// and benchmarks) may include this header.
#ifndef QUILLMARK_PLATFORM_STORE_CERT_CONTEXT_INTERNAL_H_
#define QUILLMARK_PLATFORM_STORE_CERT_CONTEXT_INTERNAL_H_

#include <openssl/x509.h>

#include <string>

#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::platform {

// The parsed certificate, owned by the context and valid while it lives.
// Callers must not modify it.
X509* CertContextX509(const CertContext& cert);

// A context of no store for a certificate already parsed (a message's
// signer): it shares |x509|, which must not be modified afterwards.
CertContextPtr CertContextFromX509(X509* x509);

// The parsed CRL, owned by the context and valid while it lives.
X509_CRL* CrlContextX509Crl(const CrlContext& crl);

// Forgets every cached store listing and parsed certificate of this process
// (contexts already handed out stay valid).
void ClearCertStoreCache();

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_STORE_CERT_CONTEXT_INTERNAL_H_
