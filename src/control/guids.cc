#include "control/guids.h"

#include "common/hex.h"

namespace quillmark::control {

std::string GuidToString(const Guid& guid) {
  std::string out = "{";
  auto put = [&out](std::uint64_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
      out.push_back(kHexDigitsUpper[(value >> shift) & 0xF]);
    }
  };
  put(guid.data1, 8);
  out.push_back('-');
  put(guid.data2, 4);
  out.push_back('-');
  put(guid.data3, 4);
  out.push_back('-');
  put(guid.data4[0], 2);
  put(guid.data4[1], 2);
  out.push_back('-');
  for (int i = 2; i < 8; ++i) put(guid.data4[i], 2);
  out.push_back('}');
  return out;
}

}  // namespace quillmark::control
