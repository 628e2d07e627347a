// Windows: the pieces the message calls share. Each step returns 0 or the
// platform error value; the public calls turn that into the last error.
#ifndef QUILLMARK_PLATFORM_MESSAGE_WIN_MESSAGE_WIN_H_
#define QUILLMARK_PLATFORM_MESSAGE_WIN_MESSAGE_WIN_H_

// windows.h first: wincrypt.h needs its types.
#include <windows.h>

#include <wincrypt.h>

#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "platform/message/message.h"
#include "platform/os/last_error.h"

namespace quillmark::platform::msg {

// Sets the last error when |error| is not 0; returns whether it was 0.
bool Succeeded(std::uint32_t error);

// The system's error after a failed crypt32 call, in this layer's values:
// the ASN.1 decoder's errors become kCryptEOssError, the errors of a signer
// whose key cannot be opened kCryptENoKeyProperty (|signing| only); 0 is
// never returned (kNteFail stands in).
std::uint32_t SystemFailure(bool signing = false);

// Whether an encoding type asks for PKCS#7 (and nothing unknown).
bool IsMessageEncoding(std::uint32_t encoding);

// 0 for a digest OID the system's providers hash with; kNteBadAlgId for any
// other (SM3 among them: the system has no SM3 without a vendor provider).
std::uint32_t CheckDigestOid(std::string_view oid);

// 0 for a content-encryption OID the system's providers encrypt with (RC4,
// 3DES, AES-CBC); kNteBadAlgId for any other (SM4 among them).
std::uint32_t CheckContentCipherOid(std::string_view oid);

// The digest of |content| with the algorithm of a digest OID, computed by
// the system (CryptHashMessage); kNteBadAlgId as CheckDigestOid.
std::uint32_t DigestContent(const std::string& oid, ByteSpan content, Bytes* digest);

// The system's view of bytes: a DWORD length (kErrorInvalidParameter above
// 4 GiB) and a pointer that is never null.
std::uint32_t SystemLength(ByteSpan bytes, DWORD* length);
const BYTE* SystemPointer(ByteSpan bytes);

// 0 for bytes the system may decode as a message: not empty, within a
// DWORD, and of a shape CheckMessageShape lets through; kCryptEOssError
// otherwise.
std::uint32_t CheckedBlob(ByteSpan blob);

// The CERT_CONTEXT of every certificate, in order; kErrorInvalidParameter
// when one is missing.
std::uint32_t SystemContexts(std::span<const CertContextPtr> certs,
                             std::vector<PCCERT_CONTEXT>* out);

// The system's verify parameters: the default provider and the default
// signer lookup, which takes the signer's certificate from the message.
CRYPT_VERIFY_MESSAGE_PARA SystemVerifyPara(const CryptVerifyMessagePara& para);

// The system's encrypt parameters for |para| and |recipients|; the object
// keeps what they point into. kErrorInvalidParameter for a missing
// recipient, an unknown inner content type or encoding; kNteBadAlgId for a
// content cipher the system does not have or a recipient whose key is not
// RSA.
struct SystemEncryptPara {
  CRYPT_ENCRYPT_MESSAGE_PARA para = {};
  CMSG_RC4_AUX_INFO rc4 = {};
  std::string oid;
  std::vector<PCCERT_CONTEXT> recipients;
};
std::uint32_t MakeSystemEncryptPara(const CryptEncryptMessagePara& para,
                                    std::span<const CertContextPtr> recipients,
                                    SystemEncryptPara* out);

// The system's decrypt parameters over the para's stores; kErrorInvalidParameter
// for an unknown encoding or a closed store.
struct SystemDecryptPara {
  CRYPT_DECRYPT_MESSAGE_PARA para = {};
  std::vector<HCERTSTORE> stores;
};
std::uint32_t MakeSystemDecryptPara(const CryptDecryptMessagePara& para, SystemDecryptPara* out);

// Asked right before the signer's key signs |content|, and before an
// envelope in |blob| is opened with a key of the stores in |para|: 0 to go
// on, kScardWCancelledByUser when the user (or, for a web page's caller with
// no one to ask, the dialog host) refuses (key_use.h). An envelope none of
// whose recipients has a key in the stores asks nothing: no key is used.
std::uint32_t ConfirmSigning(const CertContextPtr& signer, ByteSpan content);
std::uint32_t ConfirmOpening(const SystemDecryptPara& para, ByteSpan blob);

// The name of the first of the para's stores that holds |cert| (the
// recipient certificate whose key opened an envelope); empty when none does.
std::string RecipientStoreName(const CryptDecryptMessagePara& para, PCCERT_CONTEXT cert);

// Owns a certificate context the system handed out.
class SystemCert {
 public:
  SystemCert() = default;
  ~SystemCert() {
    if (cert_ != nullptr) ::CertFreeCertificateContext(cert_);
  }
  SystemCert(const SystemCert&) = delete;
  SystemCert& operator=(const SystemCert&) = delete;

  // For the system to fill; a context held from an earlier call is freed.
  PCCERT_CONTEXT* out() {
    if (cert_ != nullptr) ::CertFreeCertificateContext(cert_);
    cert_ = nullptr;
    return &cert_;
  }
  PCCERT_CONTEXT get() const { return cert_; }

 private:
  PCCERT_CONTEXT cert_ = nullptr;
};

// The context a message call gave back, wrapped; |store_name| as for
// WrapCertContext. An output pointer that is null is left alone.
std::uint32_t WrapInto(const SystemCert& cert, const std::string& store_name, CertContextPtr* out);

// Runs a call of the size protocol into |out|: |call|(BYTE*, DWORD*) is
// first given |guess| bytes; when the system asks for more (ERROR_MORE_DATA)
// it is given what it asked for once. |out| is cut to the size written.
template <typename Call>
std::uint32_t FillBytes(std::size_t guess, bool signing, Bytes* out, Call call) {
  Bytes buffer(guess == 0 ? 1 : guess);
  DWORD size = static_cast<DWORD>(buffer.size());
  if (!call(buffer.data(), &size)) {
    if (::GetLastError() != ERROR_MORE_DATA || size <= buffer.size()) {
      return SystemFailure(signing);
    }
    buffer.resize(size);
    if (!call(buffer.data(), &size)) return SystemFailure(signing);
  }
  buffer.resize(size);
  *out = std::move(buffer);
  return 0;
}

// The frame of the calls that make bytes: kErrorInvalidParameter without
// |out|; otherwise clears it and runs |make|(Bytes*), which returns 0 or the
// platform error. |out| gets the bytes only on success; running out of
// memory gives kErrorNotEnoughMemory.
template <typename Make>
bool MakeInto(Bytes* out, Make make) {
  if (out == nullptr) return Succeeded(kErrorInvalidParameter);
  out->clear();
  try {
    Bytes made;
    if (!Succeeded(make(&made))) return false;
    *out = std::move(made);
    return true;
  } catch (const std::bad_alloc&) {
    return Succeeded(kErrorNotEnoughMemory);
  }
}

// The frame of the calls that open a message: refuses an encoding that is
// not PKCS#7 (kErrorInvalidParameter) and a blob that CheckMessageShape
// refuses, then runs |open|(). Running out of memory gives
// kErrorNotEnoughMemory.
template <typename Open>
bool CheckAndOpen(std::uint32_t encoding, ByteSpan blob, Open open) {
  if (!IsMessageEncoding(encoding)) return Succeeded(kErrorInvalidParameter);
  try {
    if (!Succeeded(CheckedBlob(blob))) return false;
    return Succeeded(open());
  } catch (const std::bad_alloc&) {
    return Succeeded(kErrorNotEnoughMemory);
  }
}

}  // namespace quillmark::platform::msg

#endif  // QUILLMARK_PLATFORM_MESSAGE_WIN_MESSAGE_WIN_H_
