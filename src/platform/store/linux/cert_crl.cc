// CRL contexts: a DER CRL with its parsed form and the fields the chain
// engine and the store listing read.
#include <openssl/sha.h>
#include <openssl/x509.h>

#include "common/hex.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context_impl.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/cert_store.h"

namespace quillmark::platform {

CrlContextPtr ParseCrl(Bytes der, const std::string& store_name, const std::string& store_path,
                       const std::string& file_name) {
  try {
    auto impl = std::make_unique<CrlContext::Impl>();
    impl->der = std::move(der);
    const unsigned char* p = impl->der.data();
    impl->crl.reset(d2i_X509_CRL(nullptr, &p, static_cast<long>(impl->der.size())));
    if (impl->crl == nullptr || p != impl->der.data() + impl->der.size() ||
        !WalkCrlDer(impl->der, impl.get())) {
      SetLastError(kCryptEOssError);
      return nullptr;
    }
    std::uint8_t sha1[20];
    SHA1(impl->der.data(), impl->der.size(), sha1);
    AppendHexUpper(ByteSpan(sha1), &impl->thumbprint);
    impl->store_name = store_name;
    impl->store_path = store_path;
    impl->file_name = file_name;
    return std::make_shared<const CrlContext>(std::move(impl));
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
}

CrlContext::CrlContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CrlContext::~CrlContext() = default;

ByteSpan CrlContext::der() const { return impl_->der; }
const std::string& CrlContext::thumbprint() const { return impl_->thumbprint; }
const std::string& CrlContext::store_name() const { return impl_->store_name; }
ByteSpan CrlContext::issuer_der() const {
  return ByteSpan(impl_->der).subspan(impl_->issuer.offset, impl_->issuer.length);
}
const CertTime& CrlContext::this_update() const { return impl_->this_update; }
const std::optional<CertTime>& CrlContext::next_update() const { return impl_->next_update; }

X509_CRL* CrlContextX509Crl(const CrlContext& crl) { return crl.impl().crl.get(); }

CrlContextPtr CertCreateCRLContext(std::uint32_t encoding, ByteSpan der) {
  if ((encoding & kX509AsnEncoding) == 0) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  try {
    return ParseCrl(Bytes(der.begin(), der.end()), std::string(), std::string());
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
}

}  // namespace quillmark::platform
