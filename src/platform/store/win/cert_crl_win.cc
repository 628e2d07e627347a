// Windows CRL contexts: a system CRL_CONTEXT plus the fields read from its DER.
#include <new>
#include <utility>

#include "common/hex.h"
#include "platform/os/last_error.h"
#include "platform/store/win/cert_context_impl_win.h"

namespace quillmark::platform {

CrlContextPtr WrapCrlContext(PCCRL_CONTEXT context, const std::string& store_name) {
  if (context == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  try {
    auto impl = std::make_unique<CrlContext::Impl>();
    impl->context = ::CertDuplicateCRLContext(context);
    if (!WalkCrlDer(impl->der(), impl.get())) {
      SetLastError(kCryptEOssError);
      return nullptr;
    }
    std::uint8_t sha1[20];
    DWORD size = sizeof(sha1);
    if (!::CertGetCRLContextProperty(context, CERT_SHA1_HASH_PROP_ID, sha1, &size) ||
        size != sizeof(sha1)) {
      TakeSystemLastError();
      return nullptr;
    }
    AppendHexUpper(ByteSpan(sha1), &impl->thumbprint);
    impl->store_name = store_name;
    return std::make_shared<const CrlContext>(std::move(impl));
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
}

PCCRL_CONTEXT CrlContextHandle(const CrlContext& crl) { return crl.impl().context; }

CrlContext::CrlContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CrlContext::~CrlContext() = default;

ByteSpan CrlContext::der() const { return impl_->der(); }
const std::string& CrlContext::thumbprint() const { return impl_->thumbprint; }
const std::string& CrlContext::store_name() const { return impl_->store_name; }
ByteSpan CrlContext::issuer_der() const { return SpanOf(impl_->der(), impl_->issuer); }
const CertTime& CrlContext::this_update() const { return impl_->this_update; }
const std::optional<CertTime>& CrlContext::next_update() const { return impl_->next_update; }

CrlContextPtr CertCreateCRLContext(std::uint32_t encoding, ByteSpan der) {
  if ((encoding & kX509AsnEncoding) == 0) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  CrlFields fields;
  if (!WalkCrlDer(der, &fields)) {
    SetLastError(kCryptEOssError);
    return nullptr;
  }
  PCCRL_CONTEXT context =
      ::CertCreateCRLContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  if (context == nullptr) {
    SetLastError(kCryptEOssError);
    return nullptr;
  }
  CrlContextPtr wrapped = WrapCrlContext(context, std::string());
  ::CertFreeCRLContext(context);
  return wrapped;
}

}  // namespace quillmark::platform
