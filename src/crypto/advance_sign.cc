#include "crypto/advance_sign.h"

#include <algorithm>
#include <array>
#include <new>
#include <string>
#include <utility>

#include "certs/selection.h"
#include "common/status.h"
#include "crypto/field_texts.h"
#include "crypto/message_text.h"
#include "crypto/provider_steps.h"
#include "crypto/signer_selection.h"
#include "platform/keys/cert_private_key.h"
#include "platform/keys/hash.h"
#include "platform/store/cert_store.h"
#include "signeddata/signed_data.h"

namespace quillmark::crypto {

using ::quillmark::signeddata::BuildRsaSignedData;
using ::quillmark::signeddata::BuildSm2SignedData;
using ::quillmark::signeddata::kSm3Oid;

namespace {

// The SM2 signature the provider gives: r then s, this many bytes each.
constexpr std::size_t kSm2HalfSize = 32;

// Hashes |content| with |algid| and signs it with the key of |key_spec|; a
// failed signing call is told apart by what the key device reported.
int HashAndSign(platform::CryptProv& prov, std::uint32_t algid, std::uint32_t key_spec,
                ByteSpan content, Bytes* signature, std::uint32_t* platform_error) {
  platform::HashHandle hash;
  if (int status = crypto::HashData(&prov, algid, content, &hash, nullptr); status != kOk) {
    return status;
  }
  std::uint32_t error = 0;
  if (crypto::SignHash(*hash, key_spec, signature, &error) != kOk) {
    if (platform_error != nullptr) *platform_error = error;
    return crypto::SignFailureStatus(error);
  }
  return kOk;
}

// Signs the content of the package with the signer's kind of key and builds
// the package around the signature.
int BuildPackage(const platform::CertContext& signer, bool detached, ByteSpan content,
                 std::string_view digest_oid, Bytes* package, std::uint32_t* platform_error) {
  const int kind = IsSm2Certificate(&signer);
  if (kind < 0) return kErrCertTypeQuery;
  Bytes signature;
  if (kind == kSm2Certificate) {
    if (int status = Sm2SignContent(signer, kSm2HashAlgId, content, &signature, platform_error);
        status != kOk) {
      return status;
    }
    return BuildSm2SignedData(detached, content, signer, kSm3Oid, signature, package);
  }
  if (int status = RsaSignContent(signer, digest_oid, content, &signature, platform_error);
      status != kOk) {
    return status;
  }
  return BuildRsaSignedData(detached, content, signer, digest_oid, signature, package);
}

}  // namespace

int AdvanceSign(ByteSpan content, bool server_mode, int sign_mode,
                std::optional<std::u16string_view> sm2_store, bool detached, std::u16string_view dn,
                std::u16string_view separator, Bytes* text, certs::CertInfoSet* signer_info,
                int max_comp_size, std::string_view digest_oid, bool key_spec,
                const certs::ChooserTexts& texts, std::uint32_t* platform_error) {
  if (text == nullptr) return kErrEmptyInput;
  try {
    std::array<platform::CertStore, 2> stores;
    std::size_t store_count = 1;
    if (int status = crypto::OpenUserStore(crypto::kMyStoreName, &stores[0]); status != kOk) {
      return status;
    }
    if (sign_mode >= certs::kOnlySm2) {
      if (!sm2_store.has_value()) return kErrNoSm2Store;
      if (int status = crypto::OpenUserStore(*sm2_store, &stores[1]); status != kOk) {
        return status;
      }
      store_count = 2;
    }

    certs::SelectionMode mode;
    mode.key = key_spec ? certs::KeyRule::kSignatureKey : certs::KeyRule::kPrivateKey;
    mode.server_mode = server_mode;
    mode.sm2 = true;
    mode.preference = sign_mode;
    platform::CertContextPtr signer;
    if (int status = certs::SelectCertificate(certs::StoreList(stores.data(), store_count), dn,
                                              separator, mode, texts, &signer);
        status != kOk) {
      return status;
    }

    Bytes package;
    if (int status = BuildPackage(*signer, detached, content, digest_oid, &package, platform_error);
        status != kOk) {
      return status;
    }
    Bytes encoded;
    if (int status = crypto::EncodeMessageText(std::move(package), /*compress=*/true, max_comp_size,
                                               &encoded);
        status != kOk) {
      return status;
    }
    crypto::ReturnFieldTexts(signer, signer_info);
    *text = std::move(encoded);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

int IsSm2Certificate(const platform::CertContext* cert) {
  if (cert == nullptr) return kErrEmptyInput;
  return std::string_view(cert->signature_algorithm_oid())
                 .starts_with(certs::kSm2SignatureOidPrefix)
             ? kSm2Certificate
             : kRsaCertificate;
}

int RsaSignContent(const platform::CertContext& cert, std::string_view digest_oid, ByteSpan content,
                   Bytes* signature, std::uint32_t* platform_error) {
  try {
    platform::KeyProvInfo info;
    if (int status = crypto::ReadKeyProvInfo(cert, &info); status != kOk) return status;
    platform::ProvHandle prov;
    if (int status = crypto::OpenKeyContainer(info, &prov); status != kOk) {
      return crypto::FailWithLastError(status, platform_error);
    }
    Bytes value;
    if (int status = HashAndSign(*prov, platform::CertOIDToAlgId(digest_oid), info.key_spec,
                                 content, &value, platform_error);
        status != kOk) {
      return status;
    }
    // The provider gives the value least significant byte first.
    std::reverse(value.begin(), value.end());
    *signature = std::move(value);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

int Sm2SignContent(const platform::CertContext& cert, std::uint32_t hash_algid, ByteSpan content,
                   Bytes* signature, std::uint32_t* platform_error) {
  try {
    platform::ProvHandle prov;
    std::uint32_t key_spec = platform::kAtKeyExchange;
    if (!platform::CryptAcquireCertificatePrivateKey(cert, 0, &prov, &key_spec)) {
      return crypto::FailWithLastError(kErrKeyDeviceNotFound, platform_error);
    }
    Bytes value;
    if (int status = HashAndSign(*prov, hash_algid, key_spec, content, &value, platform_error);
        status != kOk) {
      return status;
    }
    if (value.size() != 2 * kSm2HalfSize) return kErrHashSign;
    // r and s each come least significant byte first.
    std::reverse(value.begin(), value.begin() + kSm2HalfSize);
    std::reverse(value.begin() + kSm2HalfSize, value.end());
    *signature = std::move(value);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

}  // namespace quillmark::crypto
