// Windows: certificates with their private keys brought in from files. The
// key goes into the system's key container "Quillmark-<THUMBPRINT>" of the
// "Microsoft Enhanced RSA and AES Cryptographic Provider", not exportable;
// the certificate goes into the store together with its key-provider
// property in one write (CertAddEncodedCertificateWithKeyToStore).
// Reimporting replaces the container's key in place. Keys must be RSA:
// SM2 needs a vendor's provider. Encrypted key files (other than inside a
// PKCS#12) and keys kept under a passphrase of ours are not supported here:
// the system protects keys with its own prompt.
#include <new>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "common/unicode.h"
#include "platform/keys/key_import.h"
#include "platform/keys/key_provider.h"
#include "platform/keys/win/key_provider_win.h"
#include "platform/openssl/der_walk.h"
#include "platform/openssl/pem.h"
#include "platform/os/last_error.h"
#include "platform/store/win/cert_context_win.h"

namespace quillmark::platform {

namespace {

constexpr char16_t kImportProvider[] = u"Microsoft Enhanced RSA and AES Cryptographic Provider";
constexpr std::uint32_t kProvRsaAes = 24;  // PROV_RSA_AES

// The modulus and public exponent of an RSA key, as DER INTEGER contents.
struct RsaPublic {
  ByteSpan modulus, exponent;
  bool operator==(const RsaPublic& o) const {
    return std::equal(modulus.begin(), modulus.end(), o.modulus.begin(), o.modulus.end()) &&
           std::equal(exponent.begin(), exponent.end(), o.exponent.begin(), o.exponent.end());
  }
};

// PrivateKeyInfo: the algorithm OID text and the privateKey contents.
bool WalkPkcs8(ByteSpan der, std::string* oid_text, ByteSpan* key) {
  ByteSpan in = der;
  der::Tlv info, version, alg, oid, octets;
  if (!der::Expect(&in, der::kSequence, &info) || !in.empty()) return false;
  ByteSpan f = info.content;
  if (!der::Expect(&f, der::kInteger, &version) || !der::Expect(&f, der::kSequence, &alg) ||
      !der::Expect(&f, der::kOctetString, &octets)) {
    return false;
  }
  ByteSpan a = alg.content;
  if (!der::Expect(&a, der::kOid, &oid) || !der::OidToText(oid.content, oid_text)) return false;
  *key = octets.content;
  return true;
}

// RSAPrivateKey ::= SEQUENCE { version, modulus, publicExponent, ... }
bool RsaPublicOfPrivate(ByteSpan rsa_der, RsaPublic* out) {
  ByteSpan in = rsa_der;
  der::Tlv seq, version, n, e;
  if (!der::Expect(&in, der::kSequence, &seq)) return false;
  ByteSpan f = seq.content;
  if (!der::Expect(&f, der::kInteger, &version) || !der::Expect(&f, der::kInteger, &n) ||
      !der::Expect(&f, der::kInteger, &e) || f.empty()) {
    return false;
  }
  *out = RsaPublic{n.content, e.content};
  return true;
}

// SubjectPublicKeyInfo of an RSA key: BIT STRING { RSAPublicKey { n, e } }.
bool RsaPublicOfSpki(ByteSpan spki, RsaPublic* out) {
  ByteSpan in = spki;
  der::Tlv seq, alg, bits, key, n, e;
  if (!der::Expect(&in, der::kSequence, &seq)) return false;
  ByteSpan f = seq.content;
  if (!der::Expect(&f, der::kSequence, &alg) || !der::Expect(&f, der::kBitString, &bits) ||
      bits.content.empty() || bits.content[0] != 0) {
    return false;
  }
  ByteSpan k = bits.content.subspan(1);
  if (!der::Expect(&k, der::kSequence, &key)) return false;
  ByteSpan ke = key.content;
  if (!der::Expect(&ke, der::kInteger, &n) || !der::Expect(&ke, der::kInteger, &e)) return false;
  *out = RsaPublic{n.content, e.content};
  return true;
}

// Checks a PKCS#8 key: RSA, and the key of |cert|.
ImportError CheckKeyFor(ByteSpan pkcs8, const CertContext& cert) {
  std::string oid;
  ByteSpan key;
  if (!WalkPkcs8(pkcs8, &oid, &key)) return ImportError::kNoPrivateKey;
  if (oid != szOID_RSA_RSA) return ImportError::kUnsupportedKey;
  RsaPublic mine, theirs;
  if (!RsaPublicOfPrivate(key, &mine)) return ImportError::kNoPrivateKey;
  if (!RsaPublicOfSpki(cert.public_key_info_der(), &theirs) || !(mine == theirs)) {
    return ImportError::kKeyMismatch;
  }
  return ImportError::kNone;
}

// PrivateKeyInfo around a bare RSAPrivateKey.
bool WrapRsaPrivateKey(ByteSpan rsa_der, Bytes* pkcs8) {
  static constexpr std::uint8_t kHead[] = {0x02, 0x01, 0x00, 0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86,
                                           0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
  // Through the system's blob and back, which also checks the key's shape.
  Bytes inner(kHead, kHead + sizeof(kHead));
  inner.push_back(der::kOctetString);
  Bytes outer;
  auto length = [](std::size_t n, Bytes* out) {
    if (n < 0x80) {
      out->push_back(static_cast<std::uint8_t>(n));
      return;
    }
    std::uint8_t octets[sizeof(std::size_t)];
    int count = 0;
    for (std::size_t v = n; v != 0; v >>= 8) octets[count++] = static_cast<std::uint8_t>(v);
    out->push_back(static_cast<std::uint8_t>(0x80 | count));
    while (count > 0) out->push_back(octets[--count]);
  };
  length(rsa_der.size(), &inner);
  inner.insert(inner.end(), rsa_der.begin(), rsa_der.end());
  outer.push_back(der::kSequence);
  length(inner.size(), &outer);
  outer.insert(outer.end(), inner.begin(), inner.end());
  Wipe(&inner);
  Bytes blob;
  bool ok = PrivateKeyBlobFromPkcs8(outer, kAtKeyExchange, &blob) == 0 &&
            Pkcs8FromPrivateKeyBlob(blob, pkcs8) == 0;
  Wipe(&blob);
  Wipe(&outer);
  return ok;
}

// The key of a key file as PKCS#8: PEM or DER, PKCS#8 or RSAPrivateKey.
ImportError ReadKey(ByteSpan data, Bytes* pkcs8) {
  std::vector<PemBlock> blocks;
  if (LooksLikePem(data)) {
    if (!ReadPemBlocks(data, &blocks)) return ImportError::kNoPrivateKey;
    ImportError result = ImportError::kNoPrivateKey;
    for (PemBlock& block : blocks) {
      if (block.label == "PRIVATE KEY") {
        *pkcs8 = block.der;
        result = ImportError::kNone;
      } else if (block.label == "RSA PRIVATE KEY") {
        result =
            WrapRsaPrivateKey(block.der, pkcs8) ? ImportError::kNone : ImportError::kNoPrivateKey;
      } else if (block.label == "ENCRYPTED PRIVATE KEY" || block.label == "EC PRIVATE KEY") {
        result = ImportError::kUnsupportedKey;
      }
      if (result != ImportError::kNoPrivateKey) break;
    }
    for (PemBlock& block : blocks) Wipe(&block.der);
    return result;
  }
  std::string oid;
  ByteSpan key;
  if (WalkPkcs8(data, &oid, &key)) {
    pkcs8->assign(data.begin(), data.end());
    return ImportError::kNone;
  }
  RsaPublic unused;
  if (RsaPublicOfPrivate(data, &unused)) {
    return WrapRsaPrivateKey(data, pkcs8) ? ImportError::kNone : ImportError::kNoPrivateKey;
  }
  // EncryptedPrivateKeyInfo ::= SEQUENCE { AlgorithmIdentifier, OCTET STRING }
  ByteSpan in = data;
  der::Tlv seq, alg, octets;
  if (der::Expect(&in, der::kSequence, &seq)) {
    ByteSpan f = seq.content;
    if (der::Expect(&f, der::kSequence, &alg) && der::Expect(&f, der::kOctetString, &octets)) {
      return ImportError::kUnsupportedKey;
    }
  }
  return ImportError::kNoPrivateKey;
}

// The certificates of a certificate file, PEM or DER.
std::vector<Bytes> ReadCertificates(ByteSpan data) {
  std::vector<Bytes> certs;
  std::vector<PemBlock> blocks;
  if (LooksLikePem(data)) {
    if (!ReadPemBlocks(data, &blocks)) return certs;
    for (PemBlock& block : blocks) {
      if (block.label == "CERTIFICATE" || block.label == "X509 CERTIFICATE") {
        certs.push_back(std::move(block.der));
      }
    }
    return certs;
  }
  certs.emplace_back(data.begin(), data.end());
  return certs;
}

// Exports the private key the system imported from a PKCS#12 for |cert|
// (kept in memory only: PKCS12_NO_PERSIST_KEY).
bool TakeImportedKey(PCCERT_CONTEXT cert, Bytes* pkcs8) {
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE prov = 0;
  DWORD spec = 0;
  BOOL free_prov = FALSE;
  if (!::CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &prov, &spec, &free_prov)) {
    return false;
  }
  bool ok = false;
  // Wine records the spec of an imported key as 3; try the real ones too.
  for (DWORD try_spec : {spec, DWORD{AT_KEYEXCHANGE}, DWORD{AT_SIGNATURE}}) {
    HCRYPTKEY key = 0;
    if (!::CryptGetUserKey(prov, try_spec, &key)) continue;
    DWORD blob_size = 0;
    if (::CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &blob_size)) {
      Bytes blob(blob_size);
      ok = ::CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &blob_size) &&
           Pkcs8FromPrivateKeyBlob(ByteSpan(blob).first(blob_size), pkcs8) == 0;
      Wipe(&blob);
    }
    ::CryptDestroyKey(key);
    if (ok) break;
  }
  if (free_prov) ::CryptReleaseContext(prov, 0);
  return ok;
}

}  // namespace

CertificateWithKey::~CertificateWithKey() { Wipe(&pkcs8_der); }

std::u16string ImportContainerName(const std::string& thumbprint) {
  std::u16string name = u"Quillmark-";
  name.append(thumbprint.begin(), thumbprint.end());
  return name;
}

ImportError ReadPkcs12(ByteSpan data, std::string_view password, CertificateWithKey* out) {
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(data.size()), const_cast<BYTE*>(data.data())};
  if (data.size() > MAXDWORD || !::PFXIsPFXBlob(&blob)) return ImportError::kNotPkcs12;
  std::u16string password16;
  if (!Utf8ToUtf16(password, &password16)) return ImportError::kWrongPassword;
  std::wstring wide(password16.begin(), password16.end());
  // An empty password may have been given to the MAC as no password at all.
  // The keys stay in memory (PKCS12_NO_PERSIST_KEY): no container is made.
  const DWORD flags = CRYPT_EXPORTABLE | PKCS12_NO_PERSIST_KEY;
  HCERTSTORE store = ::PFXImportCertStore(&blob, wide.c_str(), flags);
  std::uint32_t error = store == nullptr ? ::GetLastError() : 0;
  if (store == nullptr && wide.empty()) store = ::PFXImportCertStore(&blob, nullptr, flags);
  const bool wrong_password =
      store == nullptr &&
      (error == ERROR_INVALID_PASSWORD ||
       error == static_cast<std::uint32_t>(HRESULT_FROM_WIN32(ERROR_INVALID_PASSWORD)) ||
       !::PFXVerifyPassword(&blob, wide.c_str(), 0));
  ::SecureZeroMemory(wide.data(), wide.size() * sizeof(wchar_t));
  if (wrong_password) return ImportError::kWrongPassword;
  if (store == nullptr) {
    SetLastError(error);
    return ImportError::kPkcs12Unreadable;
  }
  ImportError result = ImportError::kNoCertificate;
  // The keys stay in memory; the first certificate with a key is the one
  // imported.
  for (PCCERT_CONTEXT c = ::CertEnumCertificatesInStore(store, nullptr); c != nullptr;
       c = ::CertEnumCertificatesInStore(store, c)) {
    if (result == ImportError::kNoCertificate) result = ImportError::kNoPrivateKey;
    Bytes pkcs8;
    if (!TakeImportedKey(c, &pkcs8) || result == ImportError::kNone) {
      Wipe(&pkcs8);
      continue;
    }
    try {
      out->cert_der.assign(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
      Wipe(&out->pkcs8_der);
      out->pkcs8_der = std::move(pkcs8);
      result = ImportError::kNone;
    } catch (const std::bad_alloc&) {
      Wipe(&pkcs8);
    }
  }
  ::CertCloseStore(store, 0);
  return result;
}

ImportError ReadCertificateAndKey(ByteSpan cert_data, ByteSpan key_data,
                                  std::string_view /*password*/, CertificateWithKey* out) {
  Bytes pkcs8;
  if (ImportError e = ReadKey(key_data, &pkcs8); e != ImportError::kNone) {
    Wipe(&pkcs8);
    return e;
  }
  std::string oid;
  ByteSpan key;
  if (!WalkPkcs8(pkcs8, &oid, &key)) {
    Wipe(&pkcs8);
    return ImportError::kNoPrivateKey;
  }
  if (oid != szOID_RSA_RSA) {
    Wipe(&pkcs8);
    return ImportError::kUnsupportedKey;
  }
  std::vector<Bytes> certs = ReadCertificates(cert_data);
  ImportError result = ImportError::kNotCertificate;
  for (const Bytes& der : certs) {
    CertContextPtr cert = CertCreateCertificateContext(kX509AsnEncoding, der);
    if (!cert) continue;
    result = CheckKeyFor(pkcs8, *cert);
    if (result == ImportError::kNone) {
      out->cert_der = der;
      Wipe(&out->pkcs8_der);
      out->pkcs8_der = std::move(pkcs8);
      return result;
    }
  }
  Wipe(&pkcs8);
  return result;
}

ImportError ImportCertificateWithKey(const CertStore& store, const CertificateWithKey& in,
                                     std::uint32_t key_spec, CertContextPtr* added) {
  ImportOptions options;
  options.key_spec = key_spec;
  return ImportCertificateWithKey(store, in, options, added);
}

ImportError ImportCertificateWithKey(const CertStore& store, const CertificateWithKey& in,
                                     const ImportOptions& options, CertContextPtr* added) {
  CertContextPtr cert = CertCreateCertificateContext(kX509AsnEncoding, in.cert_der);
  if (!cert) return ImportError::kNotCertificate;
  if (ImportError e = CheckKeyFor(in.pkcs8_der, *cert); e != ImportError::kNone) return e;
  if (!options.protect_passphrase.empty()) return ImportError::kKeyStoreFailed;
  const std::u16string container = ImportContainerName(cert->thumbprint());
  ProvHandle prov;
  bool created =
      CryptAcquireContextW(&prov, container, kImportProvider, kProvRsaFull, kCryptNewKeyset);
  if (!created && (GetLastError() != kNteExists ||
                   !CryptAcquireContextW(&prov, container, kImportProvider, kProvRsaFull, 0))) {
    return ImportError::kKeyStoreFailed;
  }
  auto drop_created = [&] {
    prov.reset();
    if (created) {
      ProvHandle gone;
      CryptAcquireContextW(&gone, container, kImportProvider, kProvRsaFull, kCryptDeleteKeyset);
    }
  };
  if (!ImportPrivateKeyInfo(*prov, options.key_spec, in.pkcs8_der)) {
    drop_created();
    return ImportError::kKeyStoreFailed;
  }
  KeyProvInfo info;
  info.container = container;
  info.provider = kImportProvider;
  info.provider_type = kProvRsaAes;
  info.key_spec = options.key_spec;
  if (!CertAddEncodedCertificateWithKeyToStore(store, in.cert_der, info, added)) {
    drop_created();
    return ImportError::kCertStoreFailed;
  }
  return ImportError::kNone;
}

namespace {

// The names of the current user's system stores.
bool UserStoreNames(std::vector<std::u16string>* names) {
  auto collect = [](const void* name, DWORD, PCERT_SYSTEM_STORE_INFO, void*, void* arg) -> BOOL {
    auto* out = static_cast<std::vector<std::u16string>*>(arg);
    out->emplace_back(reinterpret_cast<const char16_t*>(name));
    return TRUE;
  };
  return ::CertEnumSystemStore(CERT_SYSTEM_STORE_CURRENT_USER, nullptr, names, collect) != FALSE;
}

}  // namespace

bool SoftwareContainerInUse(std::u16string_view container, std::uint32_t key_spec, bool* in_use) {
  *in_use = false;
  std::vector<std::u16string> names;
  try {
    if (!UserStoreNames(&names)) return false;
    for (const std::u16string& name : names) {
      CertStore store = CertOpenStore(
          kCertStoreProvSystemW, 0,
          kCertSystemStoreCurrentUser | kCertStoreOpenExistingFlag | kCertStoreReadOnlyFlag, name);
      if (!store) continue;
      for (CertContextPtr c = CertEnumCertificatesInStore(store, nullptr); c;
           c = CertEnumCertificatesInStore(store, c)) {
        std::optional<KeyProvInfo> info = c->key_prov_info();
        if (info && EqualsIgnoringAsciiCase(std::u16string_view(info->container), container) &&
            (key_spec == 0 || info->key_spec == key_spec)) {
          *in_use = true;
          return true;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool DeleteContainerIfUnused(std::u16string_view container, bool* deleted) {
  *deleted = false;
  bool in_use = false;
  if (!SoftwareContainerInUse(container, 0, &in_use)) return false;
  if (in_use) return true;
  ProvHandle gone;
  if (CryptAcquireContextW(&gone, container, kImportProvider, kProvRsaFull, kCryptDeleteKeyset)) {
    *deleted = true;
    return true;
  }
  return GetLastError() == kNteBadKeyset;  // there was none
}

}  // namespace quillmark::platform
