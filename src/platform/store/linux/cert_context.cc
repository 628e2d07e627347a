#include "platform/store/cert_context.h"

#include <openssl/sha.h>
#include <openssl/x509.h>

#include <charconv>

#include "common/hex.h"
#include "common/unicode.h"
#include "platform/openssl/der_walk.h"
#include "platform/os/files.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context_impl.h"
#include "platform/store/cert_context_internal.h"

namespace quillmark::platform {

namespace {

const CertContext::Impl& DetailsOf(const CertContext& cert) {
  const CertContext::Impl& impl = cert.impl();
  std::call_once(impl.details_once, [&] {
    der::OidToText(impl.Span(impl.sig_alg), &impl.sig_oid);
    der::OidToText(impl.Span(impl.spki_alg), &impl.spki_oid);
    impl.exts = ParseExtensionList(impl.Span(impl.extensions));
  });
  return impl;
}

// Walks the certificate structure and records where each field sits.
bool WalkCertificate(CertContext::Impl* impl) { return WalkCertificateDer(impl->der, impl); }

// Completes a context whose DER and parsed certificate are set; |x509_whole|
// tells whether the parse took every byte.
CertContextPtr FinishContext(std::unique_ptr<CertContext::Impl> impl, bool x509_whole,
                             const std::string& store_name, const std::string& store_path,
                             const std::string& file_name) {
  if (impl->x509 == nullptr || !x509_whole || !WalkCertificate(impl.get())) {
    SetLastError(kCryptEOssError);
    return nullptr;
  }
  SHA1(impl->der.data(), impl->der.size(), impl->sha1.data());
  AppendHexUpper(impl->sha1, &impl->thumbprint);
  impl->store_name = store_name;
  impl->store_path = store_path;
  impl->file_name = file_name;
  return std::make_shared<const CertContext>(std::move(impl));
}

}  // namespace

CertContextPtr ParseCertificate(Bytes der, const std::string& store_name,
                                const std::string& store_path, const std::string& file_name) {
  try {
    auto impl = std::make_unique<CertContext::Impl>();
    impl->der = std::move(der);
    const unsigned char* p = impl->der.data();
    impl->x509.reset(d2i_X509(nullptr, &p, static_cast<long>(impl->der.size())));
    bool whole = p == impl->der.data() + impl->der.size();
    return FinishContext(std::move(impl), whole, store_name, store_path, file_name);
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
}

CertContextPtr RestoreCertificate(Bytes der, const std::array<std::uint8_t, 20>& sha1,
                                  const std::string& store_name, const std::string& store_path,
                                  const std::string& file_name) {
  try {
    auto impl = std::make_unique<CertContext::Impl>();
    impl->der = std::move(der);
    if (!WalkCertificate(impl.get())) return nullptr;
    impl->sha1 = sha1;
    AppendHexUpper(impl->sha1, &impl->thumbprint);
    impl->store_name = store_name;
    impl->store_path = store_path;
    impl->file_name = file_name;
    return std::make_shared<const CertContext>(std::move(impl));
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
}

CertContextPtr CertContextFromX509(X509* x509) {
  try {
    auto impl = std::make_unique<CertContext::Impl>();
    if (!ossl::EncodeDer(i2d_X509, x509, &impl->der)) {
      SetLastError(kCryptEOssError);
      return nullptr;
    }
    if (X509_up_ref(x509) == 1) impl->x509.reset(x509);
    return FinishContext(std::move(impl), true, std::string(), std::string(), std::string());
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
}

CertContext::CertContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CertContext::~CertContext() = default;

ByteSpan CertContext::der() const { return impl_->der; }
const std::array<std::uint8_t, 20>& CertContext::sha1() const { return impl_->sha1; }
const std::string& CertContext::thumbprint() const { return impl_->thumbprint; }
const std::string& CertContext::store_name() const { return impl_->store_name; }
int CertContext::version() const { return impl_->version; }
ByteSpan CertContext::serial() const { return impl_->serial_lsb; }
ByteSpan CertContext::issuer_der() const { return impl_->Span(impl_->issuer); }
ByteSpan CertContext::subject_der() const { return impl_->Span(impl_->subject); }
const CertTime& CertContext::not_before() const { return impl_->not_before; }
const CertTime& CertContext::not_after() const { return impl_->not_after; }
const std::string& CertContext::signature_algorithm_oid() const { return DetailsOf(*this).sig_oid; }
ByteSpan CertContext::public_key_info_der() const { return impl_->Span(impl_->spki); }
const std::string& CertContext::public_key_algorithm_oid() const {
  return DetailsOf(*this).spki_oid;
}
const std::vector<CertExtension>& CertContext::extensions() const { return DetailsOf(*this).exts; }

std::optional<KeyProvInfo> CertContext::key_prov_info() const {
  std::lock_guard<std::mutex> lock(impl_->props->mu);
  if (impl_->props->state != PropertySlot::State::kPresent) return std::nullopt;
  return impl_->props->key_prov;
}

X509* CertContextX509(const CertContext& cert) {
  const CertContext::Impl& impl = cert.impl();
  std::call_once(impl.x509_once, [&] {
    if (impl.x509 != nullptr) return;
    const unsigned char* p = impl.der.data();
    impl.x509.reset(d2i_X509(nullptr, &p, static_cast<long>(impl.der.size())));
  });
  return impl.x509.get();
}

CertContextPtr CertCreateCertificateContext(std::uint32_t encoding, ByteSpan der) {
  if ((encoding & kX509AsnEncoding) == 0) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  try {
    return ParseCertificate(Bytes(der.begin(), der.end()), std::string(), std::string());
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
}

std::uint32_t CertEnumCertificateContextProperties(const CertContext& cert,
                                                   std::uint32_t previous_prop_id) {
  if (previous_prop_id != 0) return 0;
  std::lock_guard<std::mutex> lock(cert.impl().props->mu);
  return cert.impl().props->state == PropertySlot::State::kAbsent ? 0 : kCertKeyProvInfoPropId;
}

bool CertGetCertificateContextProperty(const CertContext& cert, std::uint32_t prop_id,
                                       KeyProvInfo* out) {
  if (prop_id != kCertKeyProvInfoPropId || out == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  const PropertySlot& slot = *cert.impl().props;
  std::lock_guard<std::mutex> lock(slot.mu);
  switch (slot.state) {
    case PropertySlot::State::kAbsent:
      SetLastError(kCryptENotFound);
      return false;
    case PropertySlot::State::kUnreadable:
      SetLastError(kCryptEOssError);
      return false;
    case PropertySlot::State::kPresent:
      break;
  }
  try {
    *out = slot.key_prov;
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return false;
  }
  return true;
}

bool CertSetCertificateContextProperty(const CertContext& cert, std::uint32_t prop_id,
                                       std::uint32_t /*flags*/, const KeyProvInfo* info) {
  if (prop_id != kCertKeyProvInfoPropId) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  const CertContext::Impl& impl = cert.impl();
  try {
    if (!impl.store_path.empty()) {
      std::string path = impl.store_path + "/" + impl.thumbprint + ".keyprov";
      bool ok;
      if (info != nullptr) {
        std::string text = SerializeKeyProvInfo(*info);
        ok = WriteFileAtomically(path, AsBytes(text), 0600);
      } else {
        ok = RemoveFile(path);
      }
      InvalidateStoreCache(impl.store_path);
      if (!ok) {
        SetLastError(kErrorAccessDenied);
        return false;
      }
    }
    std::lock_guard<std::mutex> lock(impl.props->mu);
    if (info != nullptr) {
      impl.props->key_prov = *info;
      impl.props->state = PropertySlot::State::kPresent;
    } else {
      impl.props->key_prov = KeyProvInfo();
      impl.props->state = PropertySlot::State::kAbsent;
    }
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return false;
  }
  return true;
}

// Key-provider file format.

namespace {

void AppendEscaped(std::string_view v, std::string* out) {
  for (char c : v) {
    if (c == '\\') {
      *out += "\\\\";
    } else if (c == '\n') {
      *out += "\\n";
    } else if (c == '\r') {
      *out += "\\r";
    } else {
      out->push_back(c);
    }
  }
}

bool Unescape(std::string_view v, std::string* out) {
  out->clear();
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '\\') {
      out->push_back(v[i]);
      continue;
    }
    if (++i == v.size()) return false;
    switch (v[i]) {
      case '\\':
        out->push_back('\\');
        break;
      case 'n':
        out->push_back('\n');
        break;
      case 'r':
        out->push_back('\r');
        break;
      default:
        return false;
    }
  }
  return true;
}

bool ParseNumber(std::string_view v, std::uint32_t* out) {
  auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), *out);
  return ec == std::errc() && end == v.data() + v.size() && !v.empty();
}

}  // namespace

std::string SerializeKeyProvInfo(const KeyProvInfo& info) {
  std::string out = "container=";
  AppendEscaped(Utf16ToUtf8Lossy(info.container), &out);
  out += "\nprovider=";
  AppendEscaped(Utf16ToUtf8Lossy(info.provider), &out);
  out += "\nprovider_type=" + std::to_string(info.provider_type);
  out += "\nflags=" + std::to_string(info.flags);
  out += "\nkey_spec=" + std::to_string(info.key_spec);
  out += "\n";
  return out;
}

bool ParseKeyProvInfo(std::string_view text, KeyProvInfo* out) {
  KeyProvInfo info;
  bool have_spec = false;
  std::string value;
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    std::string_view key = line.substr(0, eq);
    if (!Unescape(line.substr(eq + 1), &value)) return false;
    if (key == "container") {
      if (!Utf8ToUtf16(value, &info.container)) return false;
    } else if (key == "provider") {
      if (!Utf8ToUtf16(value, &info.provider)) return false;
    } else if (key == "provider_type") {
      if (!ParseNumber(value, &info.provider_type)) return false;
    } else if (key == "flags") {
      if (!ParseNumber(value, &info.flags)) return false;
    } else if (key == "key_spec") {
      if (!ParseNumber(value, &info.key_spec)) return false;
      have_spec = true;
    }
  }
  if (!have_spec) return false;
  *out = std::move(info);
  return true;
}

}  // namespace quillmark::platform
