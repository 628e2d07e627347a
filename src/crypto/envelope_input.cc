#include "crypto/envelope_input.h"

#include "crypto/message_text.h"
#include "crypto/user_stores.h"

namespace quillmark::crypto {

Status DecodeEnvelopeInput(ByteSpan text, Bytes* blob, platform::CertStore* my) {
  if (int status = DecodeMessageText(text, /*expand=*/false, blob); status != kOk) return status;
  return OpenUserStore(kMyStoreName, my);
}

}  // namespace quillmark::crypto
