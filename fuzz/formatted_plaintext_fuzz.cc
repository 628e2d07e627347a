// The formatted plaintext: decomposing and taking entries out of arbitrary
// bytes never crashes, and the container and the in-place buffer operations
// agree; entries built from the input encode and decompose back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/bytes.h"
#include "encoding/formatted_plaintext.h"
#include "encoding/plaintext_buffer.h"

using quillmark::Bytes;
using quillmark::ByteSpan;
namespace enc = quillmark::encoding;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteSpan in(data, size);

  // Decompose, then take every entry out of the same bytes in place: the
  // take sees the same entries in the same order.
  enc::FormattedPlaintext container;
  const bool decoded = container.Decompose(in) == 0;
  Bytes received(in.begin(), in.end());
  Bytes item, expected;
  for (std::int64_t i = 0;; ++i) {
    const bool taken = enc::TakeFirstFormItem(&received, &item).ok();
    if (!decoded) {
      if (taken) std::abort();
      break;
    }
    const bool present = container.GetFormItem(i, &expected) == 0;
    if (taken != present && (present || !item.empty())) std::abort();
    if (!taken || !present) break;
    if (item != expected) std::abort();
  }
  Bytes name, content, want_name, want_content;
  for (std::int64_t i = 0; decoded; ++i) {
    const bool taken = enc::TakeFirstFile(&received, &name, &content).ok();
    const bool present = container.GetFile(i, &want_name, &want_content) == 0;
    if (taken != present && (present || !name.empty() || !content.empty())) std::abort();
    if (!taken || !present) break;
    if (name != want_name || content != want_content) std::abort();
  }

  // Build a container from slices of the input, encode, decompose: the same
  // entries come back.
  enc::FormattedPlaintext built;
  for (std::size_t pos = 0; pos + 2 < size;) {
    const std::size_t n = 1 + data[pos] % 16;
    const std::size_t take = n < size - pos - 1 ? n : size - pos - 1;
    ByteSpan piece = in.subspan(pos + 1, take);
    if (data[pos] & 0x80) {
      built.AddFile(piece.first(1), piece);
    } else {
      built.AddFormItem(piece);
    }
    pos += 1 + take;
  }
  Bytes encoded;
  if (built.Encode(&encoded) != 0) std::abort();
  enc::FormattedPlaintext back;
  if (encoded.empty()) return 0;
  if (back.Decompose(encoded) != 0 || back.FormItemCount() != built.FormItemCount() ||
      back.FileCount() != built.FileCount()) {
    std::abort();
  }
  Bytes again;
  if (back.Encode(&again) != 0 || again != encoded) std::abort();
  return 0;
}
