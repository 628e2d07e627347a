// Windows key providers: the system's cryptographic service providers. A
// container is the system's key container of that name; there are no key
// files. Keys made or imported here are not exportable.
#include "platform/keys/win/key_provider_win.h"

#include <new>

#include "common/ascii.h"
#include "platform/openssl/der_walk.h"
#include "platform/os/last_error.h"
#include "platform/store/win/cert_context_win.h"

namespace quillmark::platform {

namespace {

constexpr std::uint32_t kKnownAcquireFlags =
    kCryptNewKeyset | kCryptDeleteKeyset | kCryptMachineKeyset | kCryptSilent | kCryptVerifyContext;

bool Fail(std::uint32_t error) {
  SetLastError(error);
  return false;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  return EqualsIgnoringAsciiCase(a, b);
}

HCRYPTPROV HandleOf(CryptProv& prov) { return prov.prov ? prov.prov->handle : 0; }

bool ValidSpec(std::uint32_t key_spec) {
  return key_spec == kAtKeyExchange || key_spec == kAtSignature;
}

}  // namespace

void CryptProvFree::operator()(CryptProv* p) const noexcept { delete p; }
void CryptKeyFree::operator()(CryptKey* k) const noexcept { delete k; }

HCRYPTPROV SystemProvHandle(const CryptProv& prov) { return prov.prov ? prov.prov->handle : 0; }
HCRYPTKEY SystemKeyHandle(const CryptKey& key) { return key.handle; }

void Wipe(Bytes* secret) {
  if (!secret->empty()) ::SecureZeroMemory(secret->data(), secret->size());
  secret->clear();
}

bool IsSoftwareProviderName(std::u16string_view provider) {
  return provider.empty() || SameName(provider, kSoftwareProviderName) ||
         SameName(provider, kMsEnhancedProviderName) || SameName(provider, kMsBaseProviderName);
}

void SystemProviderFor(std::u16string_view provider, std::wstring* name, DWORD* type) {
  static constexpr std::u16string_view kAesProvider =
      u"Microsoft Enhanced RSA and AES Cryptographic Provider";
  if (IsSoftwareProviderName(provider) || SameName(provider, kAesProvider)) {
    *name = MS_ENH_RSA_AES_PROV_W;
    *type = PROV_RSA_AES;
    return;
  }
  name->assign(provider.begin(), provider.end());
  *type = PROV_RSA_FULL;
}

bool CryptAcquireContextW(ProvHandle* prov, std::u16string_view container,
                          std::u16string_view provider, std::uint32_t prov_type,
                          std::uint32_t flags) {
  prov->reset();
  if ((flags & ~kKnownAcquireFlags) != 0) return Fail(kNteBadFlags);
  const bool create = (flags & kCryptNewKeyset) != 0;
  const bool remove = (flags & kCryptDeleteKeyset) != 0;
  const bool verify_only =
      container.empty() || (flags & kCryptVerifyContext) == kCryptVerifyContext;
  if (create && remove) return Fail(kNteBadFlags);
  if (verify_only && (!container.empty() || create || remove)) return Fail(kNteBadFlags);
  if (prov_type != kProvRsaFull) return Fail(kNteProvTypeNoMatch);
  if (container.find(u'\0') != std::u16string_view::npos) return Fail(kNteBadKeysetParam);
  try {
    std::wstring system_name;
    DWORD system_type;
    SystemProviderFor(provider, &system_name, &system_type);
    std::wstring wide_container(container.begin(), container.end());
    DWORD system_flags = flags;
    if (verify_only) system_flags |= CRYPT_VERIFYCONTEXT;
    auto state = std::make_shared<SystemProv>();
    if (!::CryptAcquireContextW(&state->handle, verify_only ? nullptr : wide_container.c_str(),
                                system_name.c_str(), system_type, system_flags)) {
      state->handle = 0;
      TakeSystemLastError();
      return false;
    }
    if (remove) {
      state->handle = 0;  // the system released it with the container
      return true;
    }
    state->verify_only = verify_only;
    prov->reset(new CryptProv);
    (*prov)->prov = std::move(state);
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(kNteNoMemory);
  }
}

void CryptReleaseContext(ProvHandle prov) { prov.reset(); }
void CryptDestroyKey(KeyHandle key) { key.reset(); }

bool GenerateRsaKeyPair(CryptProv& prov, std::uint32_t key_spec, unsigned bits) {
  if (bits < 1024 || bits > 16384) return Fail(kNteBadFlags);
  if (!ValidSpec(key_spec)) return Fail(kNteBadKey);
  if (HandleOf(prov) == 0 || prov.prov->verify_only) return Fail(kNteBadKeyset);
  HCRYPTKEY key = 0;
  if (!::CryptGenKey(HandleOf(prov), key_spec, static_cast<DWORD>(bits) << 16, &key)) {
    TakeSystemLastError();
    return false;
  }
  ::CryptDestroyKey(key);
  return true;
}

bool GenerateSm2KeyPair(CryptProv& /*prov*/, std::uint32_t /*key_spec*/) {
  // The system has no SM2 without a vendor's provider.
  return Fail(kNteBadAlgId);
}

std::uint32_t PrivateKeyBlobFromPkcs8(ByteSpan pkcs8_der, std::uint32_t key_spec, Bytes* blob) {
  // PrivateKeyInfo ::= SEQUENCE { version, AlgorithmIdentifier, OCTET STRING }
  ByteSpan in = pkcs8_der;
  der::Tlv info, version, alg, oid, key;
  if (!der::Expect(&in, der::kSequence, &info) || !in.empty()) return kNteBadData;
  ByteSpan fields = info.content;
  if (!der::Expect(&fields, der::kInteger, &version) ||
      !der::Expect(&fields, der::kSequence, &alg) ||
      !der::Expect(&fields, der::kOctetString, &key)) {
    return kNteBadData;
  }
  ByteSpan alg_fields = alg.content;
  std::string oid_text;
  if (!der::Expect(&alg_fields, der::kOid, &oid) || !der::OidToText(oid.content, &oid_text)) {
    return kNteBadData;
  }
  if (oid_text != szOID_RSA_RSA) return kNteBadAlgId;
  DWORD size = 0;
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY,
                             key.content.data(), static_cast<DWORD>(key.content.size()), 0, nullptr,
                             nullptr, &size)) {
    return kNteBadData;
  }
  blob->resize(size);
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY,
                             key.content.data(), static_cast<DWORD>(key.content.size()), 0, nullptr,
                             blob->data(), &size) ||
      size < sizeof(BLOBHEADER)) {
    Wipe(blob);
    return kNteBadData;
  }
  blob->resize(size);
  reinterpret_cast<BLOBHEADER*>(blob->data())->aiKeyAlg =
      key_spec == kAtSignature ? CALG_RSA_SIGN : CALG_RSA_KEYX;
  return 0;
}

std::uint32_t Pkcs8FromPrivateKeyBlob(ByteSpan blob, Bytes* pkcs8_der) {
  DWORD size = 0;
  if (!::CryptEncodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY,
                             blob.data(), 0, nullptr, nullptr, &size)) {
    return ::GetLastError();
  }
  Bytes rsa(size);
  if (!::CryptEncodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY,
                             blob.data(), 0, nullptr, rsa.data(), &size)) {
    std::uint32_t error = ::GetLastError();
    Wipe(&rsa);
    return error;
  }
  rsa.resize(size);
  // PrivateKeyInfo { 0, { rsaEncryption, NULL }, OCTET STRING { RSAPrivateKey } }
  static constexpr std::uint8_t kHead[] = {0x02, 0x01, 0x00, 0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86,
                                           0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
  auto append_length = [](std::size_t n, Bytes* out) {
    if (n < 0x80) {
      out->push_back(static_cast<std::uint8_t>(n));
      return;
    }
    std::uint8_t octets[4];
    int count = 0;
    for (std::size_t v = n; v != 0; v >>= 8) octets[count++] = static_cast<std::uint8_t>(v);
    out->push_back(static_cast<std::uint8_t>(0x80 | count));
    while (count > 0) out->push_back(octets[--count]);
  };
  Bytes body(kHead, kHead + sizeof(kHead));
  body.push_back(der::kOctetString);
  append_length(rsa.size(), &body);
  body.insert(body.end(), rsa.begin(), rsa.end());
  Wipe(&rsa);
  Wipe(pkcs8_der);
  pkcs8_der->push_back(der::kSequence);
  append_length(body.size(), pkcs8_der);
  pkcs8_der->insert(pkcs8_der->end(), body.begin(), body.end());
  Wipe(&body);
  return 0;
}

bool ImportPrivateKeyInfo(CryptProv& prov, std::uint32_t key_spec, ByteSpan pkcs8_der) {
  if (HandleOf(prov) == 0 || prov.prov->verify_only) return Fail(kNteBadKeyset);
  if (!ValidSpec(key_spec)) return Fail(kNteBadKey);
  Bytes blob;
  if (std::uint32_t error = PrivateKeyBlobFromPkcs8(pkcs8_der, key_spec, &blob)) {
    return Fail(error);
  }
  HCRYPTKEY key = 0;
  const bool ok =
      ::CryptImportKey(HandleOf(prov), blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &key);
  if (!ok) TakeSystemLastError();
  Wipe(&blob);
  if (key != 0) ::CryptDestroyKey(key);
  return ok;
}

bool ImportProtectedPrivateKeyInfo(CryptProv& /*prov*/, std::uint32_t /*key_spec*/,
                                   ByteSpan /*pkcs8_der*/, std::string_view /*passphrase*/) {
  // The system protects keys with its own prompt (CRYPT_USER_PROTECTED), not
  // with a passphrase of ours.
  return Fail(kNteBadAlgId);
}

bool CryptExportPublicKeyInfo(CryptProv& prov, std::uint32_t key_spec, std::uint32_t encoding_type,
                              Bytes* spki_der) {
  if ((encoding_type & kX509AsnEncoding) == 0) return Fail(kErrorInvalidParameter);
  if (HandleOf(prov) == 0 || prov.prov->verify_only) return Fail(kNteNoKey);
  DWORD size = 0;
  if (!::CryptExportPublicKeyInfo(HandleOf(prov), key_spec, X509_ASN_ENCODING, nullptr, &size)) {
    TakeSystemLastError();
    return false;
  }
  std::vector<std::uint64_t> buffer((size + 7) / 8);
  auto* info = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(buffer.data());
  if (!::CryptExportPublicKeyInfo(HandleOf(prov), key_spec, X509_ASN_ENCODING, info, &size)) {
    TakeSystemLastError();
    return false;
  }
  DWORD der_size = 0;
  if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info, 0, nullptr, nullptr,
                             &der_size)) {
    TakeSystemLastError();
    return false;
  }
  spki_der->resize(der_size);
  if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info, 0, nullptr,
                             spki_der->data(), &der_size)) {
    TakeSystemLastError();
    return false;
  }
  spki_der->resize(der_size);
  return true;
}

bool CryptImportPublicKeyInfo(CryptProv& prov, std::uint32_t encoding_type, ByteSpan spki_der,
                              KeyHandle* key) {
  key->reset();
  if ((encoding_type & kX509AsnEncoding) == 0) return Fail(kErrorInvalidParameter);
  if (HandleOf(prov) == 0) return Fail(kErrorInvalidParameter);
  CERT_PUBLIC_KEY_INFO* info = nullptr;
  DWORD size = 0;
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, spki_der.data(),
                             static_cast<DWORD>(spki_der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &info, &size)) {
    return Fail(kCryptEOssError);
  }
  // RSA only: SM2 and other EC keys need a vendor's provider.
  const bool rsa = info->Algorithm.pszObjId != nullptr &&
                   std::string_view(info->Algorithm.pszObjId) == szOID_RSA_RSA;
  HCRYPTKEY handle = 0;
  const bool ok =
      rsa && ::CryptImportPublicKeyInfo(HandleOf(prov), X509_ASN_ENCODING, info, &handle);
  if (!rsa) {
    SetLastError(kNteBadAlgId);
  } else if (!ok) {
    TakeSystemLastError();
  }
  ::LocalFree(info);
  if (!ok) return false;
  try {
    key->reset(new CryptKey);
  } catch (const std::bad_alloc&) {
    ::CryptDestroyKey(handle);
    return Fail(kNteNoMemory);
  }
  (*key)->prov = prov.prov;
  (*key)->handle = handle;
  return true;
}

bool HasContainerKey(CryptProv& prov, std::uint32_t key_spec) {
  if (HandleOf(prov) == 0 || prov.prov->verify_only || !ValidSpec(key_spec)) return false;
  HCRYPTKEY key = 0;
  if (!::CryptGetUserKey(HandleOf(prov), key_spec, &key)) return false;
  ::CryptDestroyKey(key);
  return true;
}

bool RemoveContainerKey(CryptProv& prov, std::uint32_t key_spec) {
  if (HandleOf(prov) == 0 || prov.prov->verify_only) return Fail(kNteBadKeyset);
  if (!ValidSpec(key_spec)) return Fail(kNteBadKey);
  // The system removes whole containers only.
  if (!HasContainerKey(prov, key_spec)) return true;
  return Fail(kNteBadAlgId);
}

}  // namespace quillmark::platform
