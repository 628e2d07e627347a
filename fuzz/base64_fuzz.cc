// Base64: decoding any bytes never crashes and obeys the decoder's contract,
// and encoding any bytes decodes back to them, layout intact.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/bytes.h"
#include "common/status.h"
#include "encoding/base64.h"

using quillmark::Bytes;
using quillmark::ByteSpan;
namespace enc = quillmark::encoding;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteSpan in(data, size);

  // Lenient decode of arbitrary text: only the documented statuses, and a
  // failure leaves the output empty. Decoded bytes never exceed 3/4 of the text.
  Bytes decoded{1, 2, 3};
  const int status = enc::Base64Decode(in, &decoded);
  if (status != 0 && status != quillmark::kErrBase64Decode) std::abort();
  if (status != 0 && !decoded.empty()) std::abort();
  if (decoded.size() > size / 4 * 3) std::abort();

  // Round trip: the encoding has the announced size, lines of 64 and one
  // final line feed, and decodes to the input.
  Bytes text;
  if (enc::Base64Encode(in, &text) != 0) std::abort();
  if (text.size() != enc::Base64EncodedSize(size) || text.empty() || text.back() != '\n') {
    std::abort();
  }
  for (std::size_t i = 64; i < text.size(); i += 65) {
    if (text[i] != '\n') std::abort();
  }
  Bytes back;
  if (enc::Base64Decode(text, &back) != 0 || back != Bytes(in.begin(), in.end())) std::abort();
  return 0;
}
