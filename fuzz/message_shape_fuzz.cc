// The look at a message's BER before OpenSSL decodes it: never crashes on any
// bytes, and whatever OpenSSL would decode as a SignedData with more than the
// limit of certificates, CRLs or signer infos, or with a PKCS#7 message as
// its content, the look refuses.
#include <openssl/objects.h>
#include <openssl/pkcs7.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/bytes.h"
#include "platform/message/message_internal.h"
#include "platform/os/last_error.h"

namespace msg = quillmark::platform::msg;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quillmark::ByteSpan der(data, size);
  const std::uint32_t shape = msg::CheckMessageShape(der);
  if (shape != 0 && shape != quillmark::platform::kCryptEOssError) std::abort();

  quillmark::platform::ossl::Pkcs7Ptr decoded;
  const std::uint32_t status = msg::DecodeMessage(der, &decoded);
  if (shape != 0 && status == 0) std::abort();  // refused by the look, decoded all the same

  // OpenSSL's own view of the bytes, without the look in front.
  const unsigned char* p = data;
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(size));
  if (p7 == nullptr) return 0;
  const bool whole = p == data + size;
  if (whole && PKCS7_type_is_signed(p7) && p7->d.sign != nullptr && shape == 0) {
    const PKCS7_SIGNED* sd = p7->d.sign;
    if (sk_X509_num(sd->cert) > static_cast<int>(msg::kMaxMessageItems) ||
        sk_X509_CRL_num(sd->crl) > static_cast<int>(msg::kMaxMessageItems) ||
        sk_PKCS7_SIGNER_INFO_num(sd->signer_info) > static_cast<int>(msg::kMaxMessageItems)) {
      std::abort();
    }
    const PKCS7* inner = sd->contents;
    if (inner != nullptr && inner->type != nullptr) {
      const int nid = OBJ_obj2nid(inner->type);
      if (nid == NID_pkcs7_signed || nid == NID_pkcs7_enveloped ||
          nid == NID_pkcs7_signedAndEnveloped || nid == NID_pkcs7_digest ||
          nid == NID_pkcs7_encrypted) {
        std::abort();
      }
    }
  }
  PKCS7_free(p7);
  return 0;
}
