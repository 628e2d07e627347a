// CRL contexts: a DER CRL with its parsed form and the fields the chain
// engine and the store listing read.
#include <openssl/sha.h>
#include <openssl/x509.h>

#include "common/hex.h"
#include "platform/openssl/der_walk.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context_impl.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/cert_store.h"

namespace quillmark::platform {

namespace {

bool WalkCrl(CrlContext::Impl* impl) {
  ByteSpan in = impl->der;
  der::Tlv list, tbs, f;
  if (!der::Expect(&in, der::kSequence, &list) || !in.empty()) return false;
  ByteSpan body = list.content;
  if (!der::Expect(&body, der::kSequence, &tbs)) return false;
  ByteSpan t = tbs.content;
  if (!der::Next(&t, &f)) return false;
  if (f.tag == der::kInteger && !der::Next(&t, &f)) return false;  // version
  if (f.tag != der::kSequence) return false;                       // signature
  if (!der::Expect(&t, der::kSequence, &f)) return false;          // issuer
  impl->issuer =
      DerRange{static_cast<std::size_t>(f.whole.data() - impl->der.data()), f.whole.size()};
  if (!der::Next(&t, &f) || !ParseDerTime(f.tag, f.content, &impl->this_update)) return false;
  if (!t.empty()) {
    ByteSpan rest = t;
    if (der::Next(&rest, &f) && (f.tag == der::kUtcTime || f.tag == der::kGeneralizedTime)) {
      CertTime next;
      if (!ParseDerTime(f.tag, f.content, &next)) return false;
      impl->next_update = next;
    }
  }
  return true;
}

}  // namespace

CrlContextPtr ParseCrl(Bytes der, const std::string& store_name, const std::string& store_path,
                       const std::string& file_name) {
  try {
    auto impl = std::make_unique<CrlContext::Impl>();
    impl->der = std::move(der);
    const unsigned char* p = impl->der.data();
    impl->crl.reset(d2i_X509_CRL(nullptr, &p, static_cast<long>(impl->der.size())));
    if (impl->crl == nullptr || p != impl->der.data() + impl->der.size() || !WalkCrl(impl.get())) {
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
