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
#include "crypto/user_stores.h"
#include "platform/keys/cert_private_key.h"
#include "platform/keys/hash.h"
#include "platform/keys/key_match.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_store.h"
#include "signeddata/signed_data.h"

namespace quillmark::crypto {

using ::quillmark::signeddata::BuildEcSignedData;
using ::quillmark::signeddata::BuildRsaSignedData;
using ::quillmark::signeddata::BuildSm2SignedData;
using ::quillmark::signeddata::kSm3Oid;

namespace {

constexpr std::string_view kEcPublicKeyOid = "1.2.840.10045.2.1";

// The SM2 signature the provider gives: r then s, this many bytes each.
constexpr std::size_t kSm2HalfSize = 32;

// Hashes |content| with |algid| and signs it with the key of |key_spec|. The
// hash step reports no platform code here; a failed signing call is told
// apart by what the key device reported.
Status HashAndSign(platform::CryptProv& prov, std::uint32_t algid, std::uint32_t key_spec,
                   ByteSpan content, Bytes* signature) {
  platform::HashHandle hash;
  if (Status status = HashData(&prov, algid, content, &hash); !status.ok()) {
    return status.number();
  }
  if (Status status = SignHash(*hash, key_spec, signature); !status.ok()) {
    return Status(SignFailureStatus(status.platform_code()), status.platform_code());
  }
  return kOk;
}

// Signs the content of the package with the signer's kind of key and builds
// the package around the signature.
Status BuildPackage(const platform::CertContext& signer, const SignOptions& options,
                    ByteSpan content, Bytes* package) {
  const int kind = IsSm2Certificate(&signer);
  if (kind < 0) return kErrCertTypeQuery;
  Bytes signature;
  if (kind == kSm2Certificate) {
    if (Status status = Sm2SignContent(signer, kSm2HashAlgId, content, &signature); !status.ok()) {
      return status;
    }
    return BuildSm2SignedData(options.detached, content, signer, kSm3Oid, signature, package);
  }
  if (Status status = RsaSignContent(signer, options.digest_oid, content, &signature);
      !status.ok()) {
    return status;
  }
  // An EC key (on a token) signs the same way; its value is the DER ECDSA signature.
  if (signer.public_key_algorithm_oid() == kEcPublicKeyOid) {
    return BuildEcSignedData(options.detached, content, signer, options.digest_oid, signature,
                             package);
  }
  return BuildRsaSignedData(options.detached, content, signer, options.digest_oid, signature,
                            package);
}

// "MY", and from kOnlySm2 on the SM2 store, for the SM2 forms of |query|.
Status SelectAdvanceSigner(const certs::SignerQuery& query, const certs::ChooserTexts& texts,
                           platform::CertContextPtr* signer) {
  std::array<platform::CertStore, 2> stores;
  std::size_t store_count = 1;
  if (Status status = OpenUserStore(kMyStoreName, &stores[0]); !status.ok()) return status;
  if (query.sign_mode >= certs::kOnlySm2) {
    if (!query.sm2_store.has_value()) return kErrNoSm2Store;
    if (Status status = OpenUserStore(*query.sm2_store, &stores[1]); !status.ok()) return status;
    store_count = 2;
  }
  certs::SignerQuery sm2_query = query;
  sm2_query.sm2_forms = true;
  *signer =
      certs::SelectCertificate(certs::StoreList(stores.data(), store_count), sm2_query, texts);
  return *signer ? kOk : kErrCertNotFound;
}

}  // namespace

Status AdvanceSign(ByteSpan content, const certs::SignerQuery& signer, const SignOptions& options,
                   const certs::ChooserTexts& texts, Bytes* text, certs::CertInfoSet* signer_info) {
  if (text == nullptr) return kErrEmptyInput;
  try {
    platform::CertContextPtr cert;
    if (Status status = SelectAdvanceSigner(signer, texts, &cert); !status.ok()) return status;
    Bytes package;
    if (Status status = BuildPackage(*cert, options, content, &package); !status.ok()) {
      return status;
    }
    Bytes encoded;
    if (int status = EncodeMessageText(std::move(package), /*compress=*/true,
                                       options.compression_threshold, &encoded);
        status != kOk) {
      return status;
    }
    ReturnFieldTexts(cert, signer_info);
    *text = std::move(encoded);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

int IsSm2Certificate(const platform::CertContext* cert) {
  if (cert == nullptr) return kErrEmptyInput;
  return certs::IsSm2Signed(*cert) ? kSm2Certificate : kRsaCertificate;
}

Status RsaSignContent(const platform::CertContext& cert, std::string_view digest_oid,
                      ByteSpan content, Bytes* signature) {
  platform::KeyProvInfo info;
  if (int status = ReadKeyProvInfo(cert, &info); status != kOk) return status;
  platform::ProvHandle prov;
  if (int status = OpenKeyContainer(info, &prov); status != kOk) return WithLastError(status);
  if (!platform::CryptKeyMatchesCertificate(*prov, info.key_spec, cert)) {
    return WithLastError(kErrPrivateKeyNotFound);
  }
  Bytes value;
  if (Status status =
          HashAndSign(*prov, platform::CertOIDToAlgId(digest_oid), info.key_spec, content, &value);
      !status.ok()) {
    return status;
  }
  // The provider gives the value least significant byte first.
  std::reverse(value.begin(), value.end());
  *signature = std::move(value);
  return kOk;
}

Status Sm2SignContent(const platform::CertContext& cert, std::uint32_t hash_algid, ByteSpan content,
                      Bytes* signature) {
  platform::ProvHandle prov;
  std::uint32_t key_spec = platform::kAtKeyExchange;
  if (!platform::CryptAcquireCertificatePrivateKey(cert, platform::kCryptAcquireCompareKeyFlag,
                                                   &prov, &key_spec)) {
    // A container whose key is not the certificate's holds no key for it.
    return WithLastError(platform::GetLastError() == platform::kNteBadPublicKey
                             ? kErrPrivateKeyNotFound
                             : kErrKeyDeviceNotFound);
  }
  Bytes value;
  if (Status status = HashAndSign(*prov, hash_algid, key_spec, content, &value); !status.ok()) {
    return status;
  }
  if (value.size() != 2 * kSm2HalfSize) return kErrHashSign;
  // r and s each come least significant byte first.
  std::reverse(value.begin(), value.begin() + kSm2HalfSize);
  std::reverse(value.begin() + kSm2HalfSize, value.end());
  *signature = std::move(value);
  return kOk;
}

}  // namespace quillmark::crypto
