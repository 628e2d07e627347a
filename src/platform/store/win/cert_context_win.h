// Windows: the system's own handles behind certificate contexts and stores.
// For the Windows backends of the families above store/ (keys, chain,
// message), which hand these handles to the real CryptoAPI calls. Not for
// use above platform/.
#ifndef QUILLMARK_PLATFORM_STORE_WIN_CERT_CONTEXT_WIN_H_
#define QUILLMARK_PLATFORM_STORE_WIN_CERT_CONTEXT_WIN_H_

#include <windows.h>

#include <wincrypt.h>  // after windows.h, whose types it uses

#include <cstdint>
#include <string>

#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::platform {

// The CERT_CONTEXT a context wraps. Valid as long as |cert| is; callers that
// keep it longer take their own CertDuplicateCertificateContext.
PCCERT_CONTEXT CertContextHandle(const CertContext& cert);

// Wraps a system context: the wrapper takes its own duplicate, so the caller
// still frees |context|. |store_name| names the system store it came from
// (empty for one that belongs to no store of ours). nullptr with the last
// error set when |context| is null or its fields cannot be read.
CertContextPtr WrapCertContext(PCCERT_CONTEXT context, const std::string& store_name);

// The HCERTSTORE of an open store; nullptr for a closed one.
HCERTSTORE CertStoreHandle(const CertStore& store);

// The system's error for the thread (::GetLastError), stored as this layer's
// last error; returns it.
std::uint32_t TakeSystemLastError();

// The CRL_CONTEXT a CRL context wraps, valid as long as |crl| is.
PCCRL_CONTEXT CrlContextHandle(const CrlContext& crl);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_STORE_WIN_CERT_CONTEXT_WIN_H_
