// Byte strings as they move between layers: spans in, vectors out.
#ifndef QUILLMARK_COMMON_BYTES_H_
#define QUILLMARK_COMMON_BYTES_H_

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quillmark {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;

inline ByteSpan AsBytes(std::string_view s) {
  return ByteSpan(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

inline std::string_view AsChars(ByteSpan b) {
  return std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
}

}  // namespace quillmark

#endif  // QUILLMARK_COMMON_BYTES_H_
