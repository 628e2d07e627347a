#include "platform/keys/key_import.h"

#include <openssl/crypto.h>
#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <optional>
#include <string>

#include "common/unicode.h"
#include "platform/keys/key_provider.h"
#include "platform/keys/sm2.h"
#include "platform/openssl/openssl_providers.h"
#include "platform/openssl/openssl_ptr.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {

// A copy of a password, NUL-terminated for OpenSSL, wiped when it goes.
class PasswordCopy {
 public:
  explicit PasswordCopy(std::string_view text) : text_(text) {}
  ~PasswordCopy() { OPENSSL_cleanse(text_.data(), text_.size()); }
  PasswordCopy(const PasswordCopy&) = delete;
  PasswordCopy& operator=(const PasswordCopy&) = delete;
  char* data() { return text_.data(); }
  const char* c_str() const { return text_.c_str(); }
  std::size_t size() const { return text_.size(); }
  bool empty() const { return text_.empty(); }

 private:
  std::string text_;
};

bool SupportedKey(const EVP_PKEY* key) {
  return key != nullptr && (EVP_PKEY_is_a(key, "RSA") || IsSm2Key(key));
}

// PrivateKeyInfo for RSA and SM2 keys.
bool ToPkcs8(const EVP_PKEY* key, Bytes* out) {
  return ossl::EncodeDer</*kSecret=*/true>(i2d_PrivateKey, key, out);
}

bool ToDer(const X509* cert, Bytes* out) { return ossl::EncodeDer(i2d_X509, cert, out); }

bool LooksLikePemText(ByteSpan data) {
  return AsChars(data).find("-----BEGIN ") != std::string_view::npos;
}

// Whether a key file is protected by a password: a PEM with "ENCRYPTED" in a
// label or header, or a DER EncryptedPrivateKeyInfo.
bool IsEncryptedKey(ByteSpan data) {
  if (LooksLikePemText(data)) return AsChars(data).find("ENCRYPTED") != std::string_view::npos;
  const unsigned char* p = data.data();
  ossl::X509SigPtr sig(d2i_X509_SIG(nullptr, &p, static_cast<long>(data.size())));
  return sig != nullptr;
}

ImportError ReadPrivateKey(ByteSpan data, std::string_view password, ossl::PkeyPtr* out) {
  PasswordCopy pass(password);
  EVP_PKEY* key = nullptr;
  if (LooksLikePemText(data)) {
    ossl::BioPtr bio(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
    // Skips blocks that are not private keys (a certificate in the same file).
    key = bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, pass.data()) : nullptr;
  } else {
    ossl::DecoderCtxPtr ctx(OSSL_DECODER_CTX_new_for_pkey(&key, "DER", nullptr, nullptr,
                                                          EVP_PKEY_KEYPAIR, nullptr, nullptr));
    const unsigned char* p = data.data();
    size_t len = data.size();
    if (ctx != nullptr) {
      OSSL_DECODER_CTX_set_passphrase(
          ctx.get(), reinterpret_cast<const unsigned char*>(pass.data()), pass.size());
      OSSL_DECODER_from_data(ctx.get(), &p, &len);
    }
  }
  out->reset(key);
  if (key == nullptr) {
    return IsEncryptedKey(data) ? ImportError::kWrongPassword : ImportError::kNoPrivateKey;
  }
  return SupportedKey(key) ? ImportError::kNone : ImportError::kUnsupportedKey;
}

// Every certificate of a PEM or DER file, in order.
bool ReadCertificates(ByteSpan data, ossl::X509StackPtr* out) {
  out->reset(sk_X509_new_null());
  if (*out == nullptr) return false;
  if (LooksLikePemText(data)) {
    ossl::BioPtr bio(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
    while (bio != nullptr) {
      ossl::X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
      if (cert == nullptr) break;
      if (sk_X509_push(out->get(), cert.get()) <= 0) return false;
      cert.release();  // owned by the stack now
    }
    ERR_clear_error();
  } else {
    const unsigned char* p = data.data();
    ossl::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(data.size())));
    if (cert != nullptr && p == data.data() + data.size() &&
        sk_X509_push(out->get(), cert.get()) > 0) {
      cert.release();  // owned by the stack now
    }
  }
  return sk_X509_num(out->get()) > 0;
}

void DeleteContainer(std::u16string_view name) {
  ProvHandle gone;
  CryptAcquireContextW(&gone, name, kSoftwareProviderName, kProvRsaFull, kCryptDeleteKeyset);
}

}  // namespace

CertificateWithKey::~CertificateWithKey() {
  if (!pkcs8_der.empty()) OPENSSL_cleanse(pkcs8_der.data(), pkcs8_der.size());
}

bool SoftwareContainerInUse(std::u16string_view container, std::uint32_t key_spec, bool* in_use) {
  *in_use = false;
  std::string home = QuillmarkHome();
  if (home.empty()) return false;
  for (const std::string& folder : ListDirectory(home + "/stores")) {
    std::u16string name;
    if (!Utf8ToUtf16(folder, &name)) continue;
    CertStore store = CertOpenStore(
        kCertStoreProvSystemW, kDefaultEncoding,
        kCertSystemStoreCurrentUser | kCertStoreOpenExistingFlag | kCertStoreReadOnlyFlag, name);
    if (!store.is_open()) continue;
    for (CertContextPtr c = CertEnumCertificatesInStore(store, nullptr); c;
         c = CertEnumCertificatesInStore(store, c)) {
      std::optional<KeyProvInfo> info = c->key_prov_info();
      if (info && info->container == container && IsSoftwareProviderName(info->provider) &&
          (key_spec == 0 || info->key_spec == key_spec)) {
        *in_use = true;
        return true;
      }
    }
  }
  return true;
}

bool DeleteContainerIfUnused(std::u16string_view container, bool* deleted) {
  *deleted = false;
  bool in_use = false;
  if (!SoftwareContainerInUse(container, 0, &in_use)) return false;
  if (in_use) return true;
  ProvHandle probe;
  if (!CryptAcquireContextW(&probe, container, kSoftwareProviderName, kProvRsaFull, 0)) {
    return GetLastError() == kNteBadKeyset;  // already gone
  }
  probe.reset();
  ProvHandle gone;
  if (!CryptAcquireContextW(&gone, container, kSoftwareProviderName, kProvRsaFull,
                            kCryptDeleteKeyset)) {
    return false;
  }
  *deleted = true;
  return true;
}

std::u16string ImportContainerName(const std::string& thumbprint) {
  return u"Quillmark-" + std::u16string(thumbprint.begin(), thumbprint.end());
}

ImportError ReadPkcs12(ByteSpan data, std::string_view password, CertificateWithKey* out) {
  LoadLegacyProvider();  // PKCS#12 files made by older tools use RC2 and 3DES
  const unsigned char* p = data.data();
  ossl::Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(data.size())));
  if (p12 == nullptr) return ImportError::kNotPkcs12;
  PasswordCopy pass(password);
  const char* pass_arg = pass.c_str();
  if (PKCS12_mac_present(p12.get())) {
    if (PKCS12_verify_mac(p12.get(), pass.c_str(), static_cast<int>(pass.size())) != 1) {
      // An empty password may have been applied as "no password".
      if (!pass.empty() || PKCS12_verify_mac(p12.get(), nullptr, 0) != 1) {
        return ImportError::kWrongPassword;
      }
      pass_arg = nullptr;
    }
  }
  EVP_PKEY* raw_key = nullptr;
  X509* raw_cert = nullptr;
  STACK_OF(X509)* raw_ca = nullptr;
  int ok = PKCS12_parse(p12.get(), pass_arg, &raw_key, &raw_cert, &raw_ca);
  ossl::PkeyPtr key(raw_key);
  ossl::X509Ptr cert(raw_cert);
  ossl::X509StackPtr ca(raw_ca);
  if (ok != 1) return ImportError::kPkcs12Unreadable;
  if (key == nullptr) return ImportError::kNoPrivateKey;
  if (!SupportedKey(key.get())) return ImportError::kUnsupportedKey;
  if (cert == nullptr) {
    // PKCS12_parse pairs the key with its certificate; other certificates
    // only mean the file holds none that fits the key.
    return ca != nullptr && sk_X509_num(ca.get()) > 0 ? ImportError::kKeyMismatch
                                                      : ImportError::kNoCertificate;
  }
  if (EVP_PKEY_eq(X509_get0_pubkey(cert.get()), key.get()) != 1) return ImportError::kKeyMismatch;
  if (!ToDer(cert.get(), &out->cert_der) || !ToPkcs8(key.get(), &out->pkcs8_der)) {
    return ImportError::kPkcs12Unreadable;
  }
  return ImportError::kNone;
}

ImportError ReadCertificateAndKey(ByteSpan cert_data, ByteSpan key_data, std::string_view password,
                                  CertificateWithKey* out) {
  ossl::X509StackPtr certs;
  if (!ReadCertificates(cert_data, &certs)) return ImportError::kNotCertificate;
  ossl::PkeyPtr key;
  if (ImportError err = ReadPrivateKey(key_data, password, &key); err != ImportError::kNone) {
    return err;
  }
  for (int i = 0; i < sk_X509_num(certs.get()); ++i) {
    X509* cert = sk_X509_value(certs.get(), i);
    if (EVP_PKEY_eq(X509_get0_pubkey(cert), key.get()) == 1) {
      if (!ToDer(cert, &out->cert_der) || !ToPkcs8(key.get(), &out->pkcs8_der)) {
        return ImportError::kNoPrivateKey;
      }
      return ImportError::kNone;
    }
  }
  return ImportError::kKeyMismatch;
}

ImportError ImportCertificateWithKey(const CertStore& store, const CertificateWithKey& in,
                                     std::uint32_t key_spec, CertContextPtr* added) {
  return ImportCertificateWithKey(
      store, in, ImportOptions{.key_spec = key_spec, .protect_passphrase = {}}, added);
}

ImportError ImportCertificateWithKey(const CertStore& store, const CertificateWithKey& in,
                                     const ImportOptions& options, CertContextPtr* added) {
  const std::uint32_t key_spec = options.key_spec;
  CertContextPtr cert = CertCreateCertificateContext(kDefaultEncoding, in.cert_der);
  if (cert == nullptr) return ImportError::kNotCertificate;
  if (key_spec != kAtKeyExchange && key_spec != kAtSignature) return ImportError::kKeyStoreFailed;
  std::u16string container = ImportContainerName(cert->thumbprint());
  // The container of an earlier import of this certificate stays: the new key
  // file replaces the old one by rename, so a signer sees one key or the
  // other and never none.
  ProvHandle prov;
  bool created =
      CryptAcquireContextW(&prov, container, kSoftwareProviderName, kProvRsaFull, kCryptNewKeyset);
  if (!created &&
      (GetLastError() != kNteExists ||
       !CryptAcquireContextW(&prov, container, kSoftwareProviderName, kProvRsaFull, 0))) {
    return ImportError::kKeyStoreFailed;
  }
  auto fail = [&](ImportError error) {
    prov.reset();
    if (created) DeleteContainer(container);
    return error;
  };
  const bool stored_key = options.protect_passphrase.empty()
                              ? ImportPrivateKeyInfo(*prov, key_spec, in.pkcs8_der)
                              : ImportProtectedPrivateKeyInfo(*prov, key_spec, in.pkcs8_der,
                                                              options.protect_passphrase);
  if (!stored_key) return fail(ImportError::kKeyStoreFailed);
  KeyProvInfo info;
  info.container = container;
  info.provider = std::u16string(kSoftwareProviderName);
  info.provider_type = kProvRsaFull;
  info.key_spec = key_spec;
  // The property goes in before the certificate shows, and replaces an
  // earlier one without a gap.
  CertContextPtr stored;
  if (!CertAddEncodedCertificateWithKeyToStore(store, in.cert_der, info, &stored)) {
    return fail(ImportError::kCertStoreFailed);
  }
  // Only now may the other spec's key of an earlier import go, when no copy
  // of the certificate in any store names it any more; signers that still
  // hold it keep their copy.
  std::uint32_t other = key_spec == kAtKeyExchange ? kAtSignature : kAtKeyExchange;
  bool other_in_use = true;
  if (!created && SoftwareContainerInUse(container, other, &other_in_use) && !other_in_use) {
    RemoveContainerKey(*prov, other);
  }
  if (added != nullptr) *added = std::move(stored);
  return ImportError::kNone;
}

}  // namespace quillmark::platform
