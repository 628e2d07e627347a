// A store index is a file like any other: whatever its entries hold (the
// checksum is made to match, so the entries themselves are what is tried),
// parsing stays inside the bytes, and a certificate entry restored from it
// is walked, parsed on first use and read without crashing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/bytes.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_context_impl.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/store_index.h"

namespace pf = quillmark::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint32_t count = data[0] | (data[1] << 8);
  quillmark::ByteSpan body(data + 2, size - 2);
  pf::StoreIndex index;
  if (!pf::ParseStoreIndex(pf::SealStoreIndex(count, body), &index)) return 0;
  if (index.files.size() != count) std::abort();
  const std::uint8_t* begin = index.bytes.data();
  const std::uint8_t* end = begin + index.bytes.size();
  for (const auto& [name, file] : index.files) {
    if (name.empty() || file.payload.data() < begin ||
        file.payload.data() + file.payload.size() > end) {
      std::abort();
    }
    if (file.kind != pf::IndexedKind::kCertificate) continue;
    std::array<std::uint8_t, 20> sha1{};
    quillmark::ByteSpan der = file.payload.subspan(sha1.size());
    pf::CertContextPtr cert = pf::RestoreCertificate(quillmark::Bytes(der.begin(), der.end()), sha1,
                                                     "MY", "/nowhere", std::string(name));
    if (!cert) continue;
    (void)pf::CertContextX509(*cert);
    (void)cert->serial();
    (void)cert->extensions();
    (void)pf::CertGetNameStringW(*cert, pf::kCertNameSimpleDisplayType, 0);
  }
  return 0;
}
