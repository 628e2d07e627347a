#include "crypto/sign_message.h"

#include <new>
#include <span>
#include <string>
#include <utility>

#include "certs/selection.h"
#include "common/status.h"
#include "crypto/message_errors.h"
#include "crypto/message_text.h"
#include "crypto/signer_selection.h"
#include "platform/message/message.h"
#include "platform/os/last_error.h"

namespace quillmark::crypto {

namespace {

// Signs |content| with |signer| and turns the result into text; the steps
// after selection, shared by both operations.
int SignWith(const platform::CertContextPtr& signer, ByteSpan content, bool detached, Bytes* text,
             certs::CertInfoSet* signer_info, int max_comp_size, std::string_view digest_oid,
             std::uint32_t* platform_error) {
  platform::CryptSignMessagePara para;
  para.signing_cert = signer;
  para.hash_algorithm_oid = std::string(digest_oid);
  para.msg_certs = {signer};
  Bytes blob;
  if (!platform::CryptSignMessage(para, detached, content, &blob)) {
    std::uint32_t error = platform::GetLastError();
    if (platform_error != nullptr) *platform_error = error;
    return MapMessageError(error, MessageCall::kSign);
  }
  Bytes encoded;
  if (int status = EncodeMessageText(std::move(blob), !detached, max_comp_size, &encoded);
      status != kOk) {
    return status;
  }
  if (signer_info != nullptr) {
    certs::CertInfoSet info;
    certs::FillCertInfo(signer.get(), &info);  // a field that cannot be shown stays absent
    *signer_info = std::move(info);
  }
  *text = std::move(encoded);
  return kOk;
}

}  // namespace

int SignMessage(ByteSpan content, bool server_mode, bool detached, std::u16string_view dn,
                std::u16string_view separator, Bytes* text, certs::CertInfoSet* signer_info,
                int max_comp_size, std::string_view digest_oid, bool key_spec,
                const certs::ChooserTexts& texts, std::uint32_t* platform_error) {
  if (text == nullptr) return kErrEmptyInput;
  try {
    platform::CertStore my;
    if (int status = OpenUserStore(kMyStoreName, &my); status != kOk) return status;
    platform::CertContextPtr signer;
    if (int status = SelectSigner(my, server_mode, dn, separator, key_spec, texts, &signer);
        status != kOk) {
      return status;
    }
    return SignWith(signer, content, detached, text, signer_info, max_comp_size, digest_oid,
                    platform_error);
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

int SignMessageBySerial(ByteSpan content, bool detached, std::u16string_view serial,
                        std::u16string_view issuer_dn, Bytes* text, certs::CertInfoSet* signer_info,
                        int max_comp_size, std::string_view digest_oid, bool key_spec,
                        const certs::ChooserTexts& texts, std::uint32_t* platform_error) {
  if (text == nullptr) return kErrEmptyInput;
  try {
    platform::CertStore my;
    if (int status = OpenUserStore(kMyStoreName, &my); status != kOk) return status;
    platform::CertContextPtr signer;
    certs::KeyRule key = key_spec ? certs::KeyRule::kSignatureKey : certs::KeyRule::kPrivateKey;
    if (int status = certs::SelectCertificateBySerial(std::span<const platform::CertStore>(&my, 1),
                                                      serial, issuer_dn, key, texts, &signer);
        status != kOk) {
      return status;
    }
    return SignWith(signer, content, detached, text, signer_info, max_comp_size, digest_oid,
                    platform_error);
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

}  // namespace quillmark::crypto
