// The SignedData parser on packages from a page: arbitrary bytes (seeded
// with real packages) never crash, and the outputs are all empty on failure
// or complete on success.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/bytes.h"
#include "signeddata/signed_data.h"

using quillmark::ByteSpan;
namespace sd = quillmark::signeddata;

namespace {

void Parse(ByteSpan package, bool want_content) {
  sd::ParsedSignedData parsed;
  const int status = sd::ParseRsaSignedData(package, want_content, &parsed);
  if (status == 0) {
    if (!parsed.certificate ||
        (parsed.digest_oid != sd::kSha1Oid && parsed.digest_oid != sd::kMd5Oid)) {
      std::abort();
    }
    if (!want_content && !parsed.content.empty()) std::abort();
  } else if (parsed.certificate || !parsed.content.empty() || !parsed.digest_oid.empty() ||
             !parsed.signature.empty()) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Parse(ByteSpan(data, size), true);
  Parse(ByteSpan(data, size), false);
  return 0;
}
