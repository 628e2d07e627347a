// The registry file: parsing arbitrary bytes never crashes, and a rewrite is
// stable: what one parse and rewrite produce parses and rewrites to itself,
// so nothing is lost or changed by reading and writing the file again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/bytes.h"
#include "platform/registry/registry_text.h"

using quillmark::ByteSpan;
namespace pf = quillmark::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string first = pf::RegistryDocument::Parse(ByteSpan(data, size)).Serialize();
  const std::string second =
      pf::RegistryDocument::Parse(
          ByteSpan(reinterpret_cast<const std::uint8_t*>(first.data()), first.size()))
          .Serialize();
  if (first != second) std::abort();
  return 0;
}
