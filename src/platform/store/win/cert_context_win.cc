// Windows certificate contexts: a system CERT_CONTEXT plus the fields read
// from its DER. The key-provider property is the system's own
// CERT_KEY_PROV_INFO_PROP_ID: for a context of a store the system keeps it
// with the certificate in that store, for one made from bytes in memory.
#include <new>
#include <utility>

#include "common/hex.h"
#include "platform/openssl/der_walk.h"
#include "platform/os/last_error.h"
#include "platform/store/win/cert_context_impl_win.h"

namespace quillmark::platform {

std::uint32_t TakeSystemLastError() {
  const std::uint32_t error = ::GetLastError();
  SetLastError(error);
  return error;
}

CertContextPtr WrapCertContext(PCCERT_CONTEXT context, const std::string& store_name) {
  if (context == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  try {
    auto impl = std::make_unique<CertContext::Impl>();
    impl->context = ::CertDuplicateCertificateContext(context);
    if (!WalkCertificateDer(impl->der(), impl.get())) {
      SetLastError(kCryptEOssError);
      return nullptr;
    }
    DWORD size = static_cast<DWORD>(impl->sha1.size());
    if (!::CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, impl->sha1.data(),
                                             &size) ||
        size != impl->sha1.size()) {
      TakeSystemLastError();
      return nullptr;
    }
    AppendHexUpper(impl->sha1, &impl->thumbprint);
    der::OidToText(impl->Span(impl->sig_alg), &impl->sig_oid);
    der::OidToText(impl->Span(impl->spki_alg), &impl->spki_oid);
    impl->exts = ParseExtensionList(impl->Span(impl->extensions));
    impl->store_name = store_name;
    return std::make_shared<const CertContext>(std::move(impl));
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
}

void CommitStore(HCERTSTORE store) {
  // Best effort: a failure leaves the change in memory, where this process
  // still sees it and the system writes it when the store closes.
  if (store != nullptr) {
    ::CertControlStore(store, CERT_STORE_CTRL_COMMIT_FORCE_FLAG, CERT_STORE_CTRL_COMMIT, nullptr);
  }
}

PCCERT_CONTEXT CertContextHandle(const CertContext& cert) { return cert.impl().context; }

CertContext::CertContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CertContext::~CertContext() = default;

ByteSpan CertContext::der() const { return impl_->der(); }
const std::array<std::uint8_t, 20>& CertContext::sha1() const { return impl_->sha1; }
const std::string& CertContext::thumbprint() const { return impl_->thumbprint; }
const std::string& CertContext::store_name() const { return impl_->store_name; }
int CertContext::version() const { return impl_->version; }
ByteSpan CertContext::serial() const { return impl_->serial_lsb; }
ByteSpan CertContext::issuer_der() const { return impl_->Span(impl_->issuer); }
ByteSpan CertContext::subject_der() const { return impl_->Span(impl_->subject); }
const CertTime& CertContext::not_before() const { return impl_->not_before; }
const CertTime& CertContext::not_after() const { return impl_->not_after; }
const std::string& CertContext::signature_algorithm_oid() const { return impl_->sig_oid; }
ByteSpan CertContext::public_key_info_der() const { return impl_->Span(impl_->spki); }
const std::string& CertContext::public_key_algorithm_oid() const { return impl_->spki_oid; }
const std::vector<CertExtension>& CertContext::extensions() const { return impl_->exts; }

namespace {

// The system's property as KeyProvInfo; false with the system's error.
bool ReadKeyProvInfo(PCCERT_CONTEXT context, KeyProvInfo* out) {
  DWORD size = 0;
  if (!::CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
    return false;
  }
  std::vector<std::uint64_t> buffer((size + 7) / 8);  // aligned for the struct
  if (!::CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                           &size)) {
    return false;
  }
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
  auto text = [](const wchar_t* s) {
    return s == nullptr ? std::u16string() : std::u16string(reinterpret_cast<const char16_t*>(s));
  };
  out->container = text(info->pwszContainerName);
  out->provider = text(info->pwszProvName);
  out->provider_type = info->dwProvType;
  out->flags = info->dwFlags;
  out->key_spec = info->dwKeySpec;
  return true;
}

}  // namespace

std::optional<KeyProvInfo> CertContext::key_prov_info() const {
  KeyProvInfo info;
  try {
    if (!ReadKeyProvInfo(impl_->context, &info)) return std::nullopt;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  return info;
}

CertContextPtr CertCreateCertificateContext(std::uint32_t encoding, ByteSpan der) {
  if ((encoding & kX509AsnEncoding) == 0) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  // The system takes trailing bytes and some malformed encodings; the shared
  // walk keeps the contract of "exactly one certificate".
  CertFields fields;
  if (!WalkCertificateDer(der, &fields)) {
    SetLastError(kCryptEOssError);
    return nullptr;
  }
  PCCERT_CONTEXT context =
      ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  if (context == nullptr) {
    SetLastError(kCryptEOssError);
    return nullptr;
  }
  CertContextPtr wrapped = WrapCertContext(context, std::string());
  ::CertFreeCertificateContext(context);
  return wrapped;
}

std::uint32_t CertEnumCertificateContextProperties(const CertContext& cert,
                                                   std::uint32_t previous_prop_id) {
  return ::CertEnumCertificateContextProperties(cert.impl().context, previous_prop_id);
}

bool CertGetCertificateContextProperty(const CertContext& cert, std::uint32_t prop_id,
                                       KeyProvInfo* out) {
  if (prop_id != kCertKeyProvInfoPropId || out == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  try {
    if (!ReadKeyProvInfo(cert.impl().context, out)) {
      TakeSystemLastError();
      return false;
    }
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return false;
  }
  return true;
}

bool CertSetCertificateContextProperty(const CertContext& cert, std::uint32_t prop_id,
                                       std::uint32_t flags, const KeyProvInfo* info) {
  if (prop_id != kCertKeyProvInfoPropId) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  const void* data = nullptr;
  CRYPT_KEY_PROV_INFO system_info{};
  std::wstring container, provider;
  if (info != nullptr) {
    container.assign(info->container.begin(), info->container.end());
    provider.assign(info->provider.begin(), info->provider.end());
    system_info.pwszContainerName = container.data();
    system_info.pwszProvName = provider.data();
    system_info.dwProvType = info->provider_type;
    system_info.dwFlags = info->flags;
    system_info.dwKeySpec = info->key_spec;
    data = &system_info;
  }
  if (!::CertSetCertificateContextProperty(cert.impl().context, CERT_KEY_PROV_INFO_PROP_ID, flags,
                                           data)) {
    TakeSystemLastError();
    return false;
  }
  if (!cert.store_name().empty()) CommitStore(cert.impl().context->hCertStore);
  return true;
}

}  // namespace quillmark::platform
