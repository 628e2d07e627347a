// Windows: error values, algorithm checks and the views of bytes and
// certificates that the message calls share.
#include <limits>

#include "platform/keys/key_provider.h"
#include "platform/message/message_shape.h"
#include "platform/message/win/message_win.h"
#include "platform/store/win/cert_context_win.h"

namespace quillmark::platform::msg {

namespace {

constexpr std::uint32_t kCryptEUnknownAlgo = 0x80091002;  // CRYPT_E_UNKNOWN_ALGO

// The ASN.1 decoder's own errors: CRYPT_E_OSS_ERROR and the CRYPT_E_ASN1_*
// range after it.
bool IsDecoderError(std::uint32_t error) { return error >= 0x80093000 && error <= 0x800931FF; }

// Errors of opening a signer's key that mean it has no key to sign with.
bool MeansNoKey(std::uint32_t error) {
  switch (error) {
    case kCryptENoKeyProperty:
    case kNteBadKeyset:
    case kNteBadKeysetParam:
    case kNteKeysetNotDef:
    case kNteProvTypeNoMatch:
    case kNteNoKey:
    case kNteBadPublicKey:
      return true;
    default:
      return false;
  }
}

constexpr std::string_view kContentCipherOids[] = {
    kOidRc4, kOidDesEde3Cbc, kOidAes128Cbc, kOidAes192Cbc, kOidAes256Cbc,
};

}  // namespace

bool Succeeded(std::uint32_t error) {
  if (error == 0) return true;
  SetLastError(error);
  return false;
}

std::uint32_t SystemFailure(bool signing) {
  std::uint32_t error = static_cast<std::uint32_t>(::GetLastError());
  if (error == 0) return kNteFail;
  if (IsDecoderError(error)) return kCryptEOssError;
  // A key algorithm (of a recipient or signer) that no provider has.
  if (error == kCryptEUnknownAlgo) return kNteBadAlgId;
  if (signing && MeansNoKey(error)) return kCryptENoKeyProperty;
  if (error == static_cast<std::uint32_t>(E_OUTOFMEMORY)) return kErrorNotEnoughMemory;
  return error;
}

bool IsMessageEncoding(std::uint32_t encoding) {
  return (encoding & kPkcs7AsnEncoding) != 0 && (encoding & ~kDefaultEncoding) == 0;
}

std::uint32_t CheckDigestOid(std::string_view oid) {
  const std::string text(oid);
  const ALG_ID algid = ::CertOIDToAlgId(text.c_str());
  return (algid != 0 && GET_ALG_CLASS(algid) == ALG_CLASS_HASH) ? 0 : kNteBadAlgId;
}

std::uint32_t CheckContentCipherOid(std::string_view oid) {
  for (std::string_view known : kContentCipherOids) {
    if (known == oid) return 0;
  }
  return kNteBadAlgId;
}

std::uint32_t SystemLength(ByteSpan bytes, DWORD* length) {
  if (bytes.size() > std::numeric_limits<DWORD>::max()) return kErrorInvalidParameter;
  *length = static_cast<DWORD>(bytes.size());
  return 0;
}

const BYTE* SystemPointer(ByteSpan bytes) {
  static const BYTE kNothing = 0;
  return bytes.empty() ? &kNothing : bytes.data();
}

std::uint32_t CheckedBlob(ByteSpan blob) {
  DWORD length = 0;
  if (blob.empty() || SystemLength(blob, &length) != 0) return kCryptEOssError;
  return CheckMessageShape(blob);
}

std::uint32_t SystemContexts(std::span<const CertContextPtr> certs,
                             std::vector<PCCERT_CONTEXT>* out) {
  out->clear();
  out->reserve(certs.size());
  for (const CertContextPtr& cert : certs) {
    if (cert == nullptr) return kErrorInvalidParameter;
    PCCERT_CONTEXT handle = CertContextHandle(*cert);
    if (handle == nullptr) return kErrorInvalidParameter;
    out->push_back(handle);
  }
  return 0;
}

std::uint32_t WrapInto(const SystemCert& cert, const std::string& store_name, CertContextPtr* out) {
  if (out == nullptr) return 0;
  if (cert.get() == nullptr) return kCryptENotFound;
  CertContextPtr wrapped = WrapCertContext(cert.get(), store_name);
  if (wrapped == nullptr) {
    const std::uint32_t error = GetLastError();
    return error != 0 ? error : kNteFail;
  }
  *out = std::move(wrapped);
  return 0;
}

}  // namespace quillmark::platform::msg
