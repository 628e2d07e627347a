// Windows key providers: the system's cryptographic service providers. A
// container is the system's key container of that name; there are no key
// files. Keys made or imported here are not exportable.
#include "platform/keys/win/key_provider_win.h"

#include <cstring>
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
  // A vendor's provider is opened with the type it is registered with.
  *type = PROV_RSA_FULL;
  for (DWORD index = 0;; ++index) {
    DWORD registered = 0, size = 0;
    if (!::CryptEnumProvidersW(index, nullptr, 0, &registered, nullptr, &size)) break;
    std::wstring listed(size / sizeof(wchar_t), L'\0');
    if (!::CryptEnumProvidersW(index, nullptr, 0, &registered, listed.data(), &size)) break;
    listed.resize(::wcsnlen(listed.c_str(), listed.size()));
    if (EqualsIgnoringAsciiCase(
            std::u16string_view(reinterpret_cast<const char16_t*>(listed.data()), listed.size()),
            provider)) {
      *type = registered;
      return;
    }
  }
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

namespace {

// PRIVATEKEYBLOB layout after BLOBHEADER and RSAPUBKEY: modulus, prime1,
// prime2, exponent1, exponent2, coefficient (each half the modulus length)
// and privateExponent, every number least significant byte first. The same
// order as RSAPrivateKey's fields from the modulus on, except that the
// private exponent comes last.
struct BlobField {
  int rsa_index;  // position among RSAPrivateKey's INTEGERs after the version
  bool half;      // half the modulus length
};
// RSAPrivateKey: n, e, d, p, q, dp, dq, qinv (e sits in RSAPUBKEY).
constexpr BlobField kBlobFields[] = {{0, false}, {3, true}, {4, true}, {5, true},
                                     {6, true},  {7, true}, {2, false}};

void AppendLength(std::size_t n, Bytes* out) {
  if (n < 0x80) {
    out->push_back(static_cast<std::uint8_t>(n));
    return;
  }
  std::uint8_t octets[sizeof(std::size_t)];
  int count = 0;
  for (std::size_t v = n; v != 0; v >>= 8) octets[count++] = static_cast<std::uint8_t>(v);
  out->push_back(static_cast<std::uint8_t>(0x80 | count));
  while (count > 0) out->push_back(octets[--count]);
}

void AppendTlv(std::uint8_t tag, ByteSpan content, Bytes* out) {
  out->push_back(tag);
  AppendLength(content.size(), out);
  out->insert(out->end(), content.begin(), content.end());
}

// A DER INTEGER of a non-negative number given least significant byte first.
void AppendUnsigned(ByteSpan lsb_first, Bytes* out) {
  Bytes be(lsb_first.rbegin(), lsb_first.rend());
  size_t skip = 0;
  while (skip + 1 < be.size() && be[skip] == 0) ++skip;
  Bytes content;
  if (be.empty() || (be[skip] & 0x80)) content.push_back(0);
  content.insert(content.end(), be.begin() + skip, be.end());
  AppendTlv(der::kInteger, content, out);
  Wipe(&be);
  Wipe(&content);
}

// The INTEGER contents |value| (big-endian, maybe with a leading zero) as
// |size| bytes least significant first; false when it does not fit.
bool PutLittleEndian(ByteSpan value, std::size_t size, std::uint8_t* out) {
  while (!value.empty() && value.front() == 0) value = value.subspan(1);
  if (value.size() > size) return false;
  std::memset(out, 0, size);
  for (std::size_t i = 0; i < value.size(); ++i) out[i] = value[value.size() - 1 - i];
  return true;
}

}  // namespace

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
  // RSAPrivateKey ::= SEQUENCE { version, n, e, d, p, q, dp, dq, qinv }
  ByteSpan rsa_in = key.content;
  der::Tlv rsa, v;
  if (!der::Expect(&rsa_in, der::kSequence, &rsa)) return kNteBadData;
  ByteSpan r = rsa.content;
  ByteSpan numbers[8];
  if (!der::Expect(&r, der::kInteger, &v)) return kNteBadData;
  for (ByteSpan& number : numbers) {
    der::Tlv t;
    if (!der::Expect(&r, der::kInteger, &t) || t.content.empty() || (t.content[0] & 0x80)) {
      return kNteBadData;
    }
    number = t.content;
  }
  ByteSpan n = numbers[0];
  while (!n.empty() && n.front() == 0) n = n.subspan(1);
  const std::size_t bytes = n.size();
  if (bytes < 64 || bytes % 2 != 0) return kNteBadData;
  DWORD exponent = 0;
  ByteSpan e = numbers[1];
  while (!e.empty() && e.front() == 0) e = e.subspan(1);
  if (e.size() > 4) return kNteBadData;
  for (std::uint8_t b : e) exponent = (exponent << 8) | b;
  const std::size_t size = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + bytes * 2 + (bytes / 2) * 5;
  blob->assign(size, 0);
  auto* header = reinterpret_cast<BLOBHEADER*>(blob->data());
  header->bType = PRIVATEKEYBLOB;
  header->bVersion = CUR_BLOB_VERSION;
  header->aiKeyAlg = key_spec == kAtSignature ? CALG_RSA_SIGN : CALG_RSA_KEYX;
  auto* pub = reinterpret_cast<RSAPUBKEY*>(blob->data() + sizeof(BLOBHEADER));
  pub->magic = 0x32415352;  // "RSA2"
  pub->bitlen = static_cast<DWORD>(bytes * 8);
  pub->pubexp = exponent;
  std::uint8_t* at = blob->data() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
  for (const BlobField& f : kBlobFields) {
    const std::size_t len = f.half ? bytes / 2 : bytes;
    if (!PutLittleEndian(numbers[f.rsa_index], len, at)) {
      Wipe(blob);
      return kNteBadData;
    }
    at += len;
  }
  return 0;
}

std::uint32_t Pkcs8FromPrivateKeyBlob(ByteSpan blob, Bytes* pkcs8_der) {
  if (blob.size() < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY)) return kNteBadData;
  const auto* header = reinterpret_cast<const BLOBHEADER*>(blob.data());
  const auto* pub = reinterpret_cast<const RSAPUBKEY*>(blob.data() + sizeof(BLOBHEADER));
  const std::size_t bytes = pub->bitlen / 8;
  if (header->bType != PRIVATEKEYBLOB || pub->magic != 0x32415352 || bytes < 64 ||
      blob.size() < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + bytes * 2 + (bytes / 2) * 5) {
    return kNteBadData;
  }
  ByteSpan numbers[8];
  std::uint8_t exponent[4] = {
      static_cast<std::uint8_t>(pub->pubexp), static_cast<std::uint8_t>(pub->pubexp >> 8),
      static_cast<std::uint8_t>(pub->pubexp >> 16), static_cast<std::uint8_t>(pub->pubexp >> 24)};
  numbers[1] = ByteSpan(exponent, 4);
  ByteSpan at = blob.subspan(sizeof(BLOBHEADER) + sizeof(RSAPUBKEY));
  for (const BlobField& f : kBlobFields) {
    const std::size_t len = f.half ? bytes / 2 : bytes;
    numbers[f.rsa_index] = at.first(len);
    at = at.subspan(len);
  }
  Bytes rsa_body;
  static constexpr std::uint8_t kZero[] = {0};
  AppendUnsigned(kZero, &rsa_body);  // version 0
  for (ByteSpan number : numbers) AppendUnsigned(number, &rsa_body);
  Bytes rsa;
  AppendTlv(der::kSequence, rsa_body, &rsa);
  Wipe(&rsa_body);
  // PrivateKeyInfo { 0, { rsaEncryption, NULL }, OCTET STRING { RSAPrivateKey } }
  static constexpr std::uint8_t kHead[] = {0x02, 0x01, 0x00, 0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86,
                                           0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
  Bytes body(kHead, kHead + sizeof(kHead));
  AppendTlv(der::kOctetString, rsa, &body);
  Wipe(&rsa);
  Wipe(pkcs8_der);
  AppendTlv(der::kSequence, body, pkcs8_der);
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
