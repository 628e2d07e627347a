#include "crypto/sign_message.h"

#include <new>
#include <string>
#include <utility>

#include "crypto/field_texts.h"
#include "crypto/message_errors.h"
#include "crypto/message_text.h"
#include "crypto/user_stores.h"
#include "platform/message/message.h"

namespace quillmark::crypto {

namespace {

// Signs |content| with |signer| and turns the result into text. |owned|,
// when given, holds |content| and is released as soon as the signature is
// made, before the text is.
Status SignWith(const platform::CertContextPtr& signer, ByteSpan content, Bytes* owned,
                const SignOptions& options, Bytes* text) {
  platform::CryptSignMessagePara para;
  para.signing_cert = signer;
  para.hash_algorithm_oid = std::string(options.digest_oid);
  para.msg_certs = {signer};
  Bytes blob;
  if (!platform::CryptSignMessage(para, options.detached, content, &blob)) {
    return MessageCallFailed(MessageCall::kSign);
  }
  if (owned != nullptr) Bytes().swap(*owned);
  return EncodeMessageText(std::move(blob), !options.detached, options.compression_threshold, text);
}

Status Sign(ByteSpan content, Bytes* owned, const certs::SignerQuery& signer,
            const SignOptions& options, const certs::ChooserTexts& texts, Bytes* text,
            certs::CertInfoSet* signer_info) {
  if (text == nullptr) return kErrEmptyInput;
  try {
    platform::CertStore my;
    platform::CertContextPtr cert;
    if (Status status = SelectSigner(signer, texts, &my, &cert); !status.ok()) return status;
    Bytes encoded;
    if (Status status = SignWith(cert, content, owned, options, &encoded); !status.ok()) {
      return status;
    }
    ReturnFieldTexts(cert, signer_info);
    *text = std::move(encoded);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
}

}  // namespace

Status SignMessage(ByteSpan content, const certs::SignerQuery& signer, const SignOptions& options,
                   const certs::ChooserTexts& texts, Bytes* text, certs::CertInfoSet* signer_info) {
  return Sign(content, nullptr, signer, options, texts, text, signer_info);
}

Status SignMessage(Bytes&& content, const certs::SignerQuery& signer, const SignOptions& options,
                   const certs::ChooserTexts& texts, Bytes* text, certs::CertInfoSet* signer_info) {
  return Sign(content, &content, signer, options, texts, text, signer_info);
}

}  // namespace quillmark::crypto
