#include "crypto/advance_verify.h"

#include <algorithm>
#include <new>
#include <utility>

#include "certs/verify_chain.h"
#include "common/status.h"
#include "crypto/field_texts.h"
#include "crypto/message_text.h"
#include "crypto/provider_steps.h"
#include "platform/keys/hash.h"
#include "platform/keys/key_provider.h"
#include "platform/keys/sign_verify.h"
#include "platform/message/message_shape.h"
#include "platform/os/last_error.h"
#include "signeddata/signed_data.h"

namespace quillmark::crypto {

using ::quillmark::signeddata::ParsedSignedData;
using ::quillmark::signeddata::ParseRsaSignedData;

namespace {

// The steps after the package is decoded. |data| is null for the attached
// form, which checks the package's own content and hands it back in *content.
int CheckPackage(ByteSpan package, const ByteSpan* data, Bytes* content,
                 certs::CertInfoSet* signer_info) {
  ParsedSignedData parsed;
  if (int status = ParseRsaSignedData(package, /*want_content=*/data == nullptr, &parsed);
      status != kOk) {
    return status;
  }
  const ByteSpan signed_bytes = data != nullptr ? *data : ByteSpan(parsed.content);
  if (int status =
          RsaVerifyContent(signed_bytes, *parsed.certificate, parsed.digest_oid, parsed.signature);
      status != kOk) {
    return status;
  }
  // The signer checks report no platform code here.
  if (Status status = certs::CheckSignerKeyUsage(*parsed.certificate); !status.ok()) {
    return status.number();
  }
  if (Status status = certs::VerifyCertificateChain(parsed.certificate, certs::kMaskAll);
      !status.ok()) {
    return status.number();
  }
  crypto::ReturnFieldTexts(parsed.certificate, signer_info);
  if (content != nullptr) *content = std::move(parsed.content);
  return kOk;
}

Status WithNumberAsCode(int number) { return Status(number, static_cast<std::uint32_t>(number)); }

// The steps both forms share.
Status VerifyPackage(ByteSpan text, const ByteSpan* data, Bytes* content,
                     certs::CertInfoSet* signer_info) {
  if (text.empty()) return WithNumberAsCode(kErrEmptyInput);
  try {
    Bytes package;
    if (int status = crypto::DecodeMessageText(text, /*expand=*/true, &package); status != kOk) {
      return WithNumberAsCode(status);
    }
    // The limits every PKCS#7 message is held to, before a field is taken
    // apart; a package the look cannot walk is left to the parser's refusal.
    if (platform::msg::LookAtMessageShape(package) == platform::msg::MessageShape::kBeyondLimits) {
      return Status(kErrMessageNotRecognised, platform::kCryptEOssError);
    }
    return WithNumberAsCode(CheckPackage(package, data, content, signer_info));
  } catch (const std::bad_alloc&) {
    return WithNumberAsCode(kErrNoMemory);
  }
}

}  // namespace

Status AdvanceVerifyAttached(ByteSpan text, Bytes* content, certs::CertInfoSet* signer_info) {
  if (content == nullptr) return WithNumberAsCode(kErrEmptyInput);
  return VerifyPackage(text, nullptr, content, signer_info);
}

Status AdvanceVerifyDetached(ByteSpan text, ByteSpan data, certs::CertInfoSet* signer_info) {
  return VerifyPackage(text, &data, nullptr, signer_info);
}

int RsaVerifyContent(ByteSpan data, const platform::CertContext& cert, std::string_view digest_oid,
                     ByteSpan signature) {
  platform::ProvHandle prov;
  if (int status = OpenVerifyingProvider(&prov); status != kOk) return status;
  platform::KeyHandle key;
  if (prov == nullptr || !platform::CryptImportPublicKeyInfo(*prov, platform::kDefaultEncoding,
                                                             cert.public_key_info_der(), &key)) {
    return kErrPublicKeyImport;
  }
  platform::HashHandle hash;
  if (Status status = HashData(prov.get(), platform::CertOIDToAlgId(digest_oid), data, &hash);
      !status.ok()) {
    return status.number();
  }
  // The provider takes the value least significant byte first.
  Bytes reversed(signature.rbegin(), signature.rend());
  if (!platform::CryptVerifySignatureW(*hash, reversed, *key, u"", 0)) return kErrSignatureCheck;
  return kOk;
}

}  // namespace quillmark::crypto
