#include "platform/store/cert_context.h"

#include <openssl/sha.h>
#include <openssl/x509.h>

#include <charconv>
#include <cstring>

#include "common/hex.h"
#include "common/unicode.h"
#include "platform/openssl/der_walk.h"
#include "platform/os/files.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context_impl.h"
#include "platform/store/cert_context_internal.h"

namespace quillmark::platform {

namespace {

DerRange RangeOf(const Bytes& der, ByteSpan part) {
  return DerRange{static_cast<std::size_t>(part.data() - der.data()), part.size()};
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool Digits(ByteSpan s, size_t at, size_t n, int* out) {
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  *out = v;
  return true;
}

bool ParseVersion(ByteSpan content, int* version) {
  ByteSpan in = content;
  der::Tlv v;
  if (!der::Expect(&in, der::kInteger, &v) || !in.empty() || v.content.size() != 1 ||
      v.content[0] > 2) {
    return false;
  }
  *version = v.content[0] + 1;
  return true;
}

void MakeDetails(const CertContext::Impl& impl) {
  der::OidToText(impl.Span(impl.sig_alg), &impl.sig_oid);
  der::OidToText(impl.Span(impl.spki_alg), &impl.spki_oid);
  ByteSpan in = impl.Span(impl.extensions);
  der::Tlv list;
  if (in.empty() || !der::Expect(&in, der::kSequence, &list)) return;
  ByteSpan items = list.content;
  der::Tlv ext;
  while (der::Expect(&items, der::kSequence, &ext)) {
    ByteSpan fields = ext.content;
    der::Tlv oid, next;
    CertExtension e;
    if (!der::Expect(&fields, der::kOid, &oid) || !der::OidToText(oid.content, &e.oid) ||
        !der::Next(&fields, &next)) {
      continue;
    }
    if (next.tag == der::kBoolean) {
      e.critical = next.content.size() == 1 && next.content[0] != 0;
      if (!der::Next(&fields, &next)) continue;
    }
    if (next.tag != der::kOctetString) continue;
    e.value.assign(next.content.begin(), next.content.end());
    impl.exts.push_back(std::move(e));
  }
}

const CertContext::Impl& DetailsOf(const CertContext& cert) {
  const CertContext::Impl& impl = cert.impl();
  std::call_once(impl.details_once, [&] { MakeDetails(impl); });
  return impl;
}

// Walks the certificate structure and records where each field sits.
bool WalkCertificate(CertContext::Impl* impl) {
  const Bytes& der = impl->der;
  ByteSpan in = der;
  der::Tlv cert, tbs, sig_alg, sig, f;
  if (!der::Expect(&in, der::kSequence, &cert) || !in.empty()) return false;
  ByteSpan body = cert.content;
  if (!der::Expect(&body, der::kSequence, &tbs) || !der::Expect(&body, der::kSequence, &sig_alg) ||
      !der::Expect(&body, der::kBitString, &sig) || !body.empty()) {
    return false;
  }
  ByteSpan alg = sig_alg.content;
  if (!der::Expect(&alg, der::kOid, &f)) return false;
  impl->sig_alg = RangeOf(der, f.content);

  ByteSpan t = tbs.content;
  if (!der::Next(&t, &f)) return false;
  if (f.tag == 0xA0) {
    if (!ParseVersion(f.content, &impl->version) || !der::Next(&t, &f)) return false;
  }
  if (f.tag != der::kInteger || f.content.empty()) return false;
  impl->serial_lsb.assign(f.content.rbegin(), f.content.rend());
  if (!der::Expect(&t, der::kSequence, &f)) return false;  // signature
  if (!der::Expect(&t, der::kSequence, &f)) return false;  // issuer
  impl->issuer = RangeOf(der, f.whole);
  der::Tlv validity, nb, na;
  if (!der::Expect(&t, der::kSequence, &validity)) return false;
  ByteSpan v = validity.content;
  if (!der::Next(&v, &nb) || !der::Next(&v, &na) || !v.empty() ||
      !ParseDerTime(nb.tag, nb.content, &impl->not_before) ||
      !ParseDerTime(na.tag, na.content, &impl->not_after)) {
    return false;
  }
  if (!der::Expect(&t, der::kSequence, &f)) return false;  // subject
  impl->subject = RangeOf(der, f.whole);
  if (!der::Expect(&t, der::kSequence, &f)) return false;  // subjectPublicKeyInfo
  impl->spki = RangeOf(der, f.whole);
  ByteSpan spki = f.content;
  der::Tlv algid, oid;
  if (!der::Expect(&spki, der::kSequence, &algid)) return false;
  ByteSpan a = algid.content;
  if (!der::Expect(&a, der::kOid, &oid)) return false;
  impl->spki_alg = RangeOf(der, oid.content);
  while (!t.empty()) {
    if (!der::Next(&t, &f)) return false;
    if (f.tag == 0xA3) impl->extensions = RangeOf(der, f.content);
  }
  return true;
}

}  // namespace

bool ParseDerTime(std::uint8_t tag, ByteSpan s, CertTime* out) {
  CertTime t;
  size_t pos;
  if (tag == der::kUtcTime) {
    if (s.size() != 13 || s[12] != 'Z' || !Digits(s, 0, 2, &t.year)) return false;
    t.year += t.year < 50 ? 2000 : 1900;
    pos = 2;
  } else if (tag == der::kGeneralizedTime) {
    if (s.size() < 15 || s.back() != 'Z' || !Digits(s, 0, 4, &t.year)) return false;
    if (s.size() > 15) {  // fractional seconds: ".f...Z", ignored
      if (s[14] != '.' || s.size() < 17) return false;
      for (size_t i = 15; i + 1 < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
      }
    }
    pos = 4;
  } else {
    return false;
  }
  if (!Digits(s, pos, 2, &t.month) || !Digits(s, pos + 2, 2, &t.day) ||
      !Digits(s, pos + 4, 2, &t.hour) || !Digits(s, pos + 6, 2, &t.minute) ||
      !Digits(s, pos + 8, 2, &t.second)) {
    return false;
  }
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.month < 1 || t.month > 12 || t.hour > 23 || t.minute > 59 || t.second > 59) return false;
  bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
  int days = kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
  if (t.day < 1 || t.day > days) return false;
  t.unix_seconds =
      DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) * 86400 +
      t.hour * 3600 + t.minute * 60 + t.second;
  *out = t;
  return true;
}

namespace {

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

const CertExtension* CertFindExtension(std::string_view oid,
                                       std::span<const CertExtension> extensions) {
  for (const CertExtension& e : extensions) {
    if (e.oid == oid) return &e;
  }
  SetLastError(kCryptENotFound);
  return nullptr;
}

bool CertCompareIntegerBlob(ByteSpan a, ByteSpan b) {
  // Drops the redundant sign-extension bytes at the most significant end.
  auto trim = [](ByteSpan v) {
    size_t n = v.size();
    if (n == 0) return v;
    if (v[n - 1] == 0x00) {
      while (n > 0 && v[n - 1] == 0x00) --n;
    } else if (v[n - 1] == 0xFF) {
      while (n > 1 && v[n - 1] == 0xFF && (v[n - 2] & 0x80)) --n;
    }
    return v.first(n);
  };
  ByteSpan x = trim(a), y = trim(b);
  return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin());
}

std::string HexUpper(ByteSpan bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  AppendHexUpper(bytes, &out);
  return out;
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

std::u16string CertGetNameStringW(const CertContext& cert, std::uint32_t type,
                                  std::uint32_t flags) {
  if (type != kCertNameSimpleDisplayType) {
    SetLastError(kErrorInvalidParameter);
    return std::u16string();
  }
  return SimpleDisplayName((flags & kCertNameIssuerFlag) ? cert.issuer_der() : cert.subject_der());
}

}  // namespace quillmark::platform
