#include "crypto/raw_signature.h"

#include <algorithm>
#include <new>
#include <utility>

#include "certs/verify_chain.h"
#include "common/status.h"
#include "crypto/field_texts.h"
#include "crypto/message_text.h"
#include "crypto/provider_steps.h"
#include "crypto/user_stores.h"
#include "encoding/base64.h"
#include "platform/keys/hash.h"
#include "platform/keys/key_match.h"
#include "platform/keys/key_provider.h"
#include "platform/keys/sign_verify.h"
#include "platform/store/cert_context.h"

namespace quillmark::crypto {

Status RawSign(ByteSpan content, const certs::SignerQuery& query, std::string_view digest_oid,
               const certs::ChooserTexts& texts, Bytes* text, certs::CertInfoSet* signer_info) {
  if (text == nullptr) return kErrEmptyInput;
  try {
    platform::CertStore my;
    platform::CertContextPtr signer;
    if (Status status = SelectSigner(query, texts, &my, &signer); !status.ok()) return status;

    // A certificate without a key-provider property opens no container, and
    // the hash step fails for want of a provider.
    platform::KeyProvInfo info;
    platform::ProvHandle prov;
    const int property = ReadKeyProvInfo(*signer, &info);
    if (property == kErrNoProperty) return property;
    if (property == kOk) {
      if (int status = OpenKeyContainer(info, &prov); status != kOk) return status;
      if (!platform::CryptKeyMatchesCertificate(*prov, info.key_spec, *signer)) {
        return WithLastError(kErrPrivateKeyNotFound);
      }
    }
    platform::HashHandle hash;
    if (Status status = HashData(prov.get(), platform::CertOIDToAlgId(digest_oid), content, &hash);
        !status.ok()) {
      return status;
    }
    Bytes signature;
    if (Status status = SignHash(*hash, info.key_spec, &signature); !status.ok()) return status;
    platform::CryptDestroyHash(std::move(hash));
    std::reverse(signature.begin(), signature.end());

    Bytes encoded;
    if (int status = EncodeMessageText(std::move(signature), /*compress=*/false, 0, &encoded);
        status != kOk) {
      return status;
    }
    ReturnFieldTexts(signer, signer_info);
    *text = std::move(encoded);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

Status RawVerify(ByteSpan signature_text, ByteSpan plain, const certs::SignerQuery& query,
                 std::string_view digest_oid, const certs::ChooserTexts& texts,
                 certs::CertInfoSet* signer_info) {
  if (signature_text.empty() || plain.empty()) return kErrEmptyInput;
  try {
    Bytes signature;
    if (int status = DecodeMessageText(signature_text, /*expand=*/false, &signature);
        status != kOk) {
      return status;
    }
    std::reverse(signature.begin(), signature.end());

    RecipientStores stores;
    if (Status status = OpenRecipientStores(&stores); !status.ok()) return status;
    platform::CertContextPtr signer = SelectRecipient(stores, query, texts);
    if (!signer) return kErrCertNotFound;
    // The signer checks report no platform code here.
    if (Status status = certs::CheckSignerKeyUsage(*signer); !status.ok()) return status.number();
    if (Status status = certs::VerifyCertificateChain(signer, certs::kMaskAll); !status.ok()) {
      return status.number();
    }

    platform::ProvHandle prov;
    if (int status = OpenVerifyingProvider(&prov); status != kOk) return status;
    platform::KeyHandle key;
    if (prov == nullptr ||
        !platform::CryptImportPublicKeyInfo(*prov, platform::kX509AsnEncoding,
                                            signer->public_key_info_der(), &key)) {
      return WithLastError(kErrPublicKeyImport);
    }
    platform::HashHandle hash;
    if (Status status = HashData(prov.get(), platform::CertOIDToAlgId(digest_oid), plain, &hash);
        !status.ok()) {
      return status;
    }
    if (!platform::CryptVerifySignatureW(*hash, signature, *key, u"", 0)) {
      return WithLastError(kErrSignatureCheck);
    }
    platform::CryptDestroyHash(std::move(hash));
    ReturnFieldTexts(signer, signer_info);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

}  // namespace quillmark::crypto
