// The names of the token provider and of its containers, the same on every
// system.
#include "common/ascii.h"
#include "common/hex.h"
#include "platform/keys/token_provider.h"

namespace quillmark::platform {

std::string TokenContainerName(std::string_view serial, ByteSpan id) {
  std::string name(serial);
  name += '/';
  AppendHexUpper(id, &name);
  return name;
}

bool ParseTokenContainerName(std::string_view name, std::string* serial, Bytes* id) {
  std::size_t slash = name.rfind('/');
  if (slash == std::string_view::npos || slash == 0 || slash + 1 == name.size()) return false;
  std::string_view hex = name.substr(slash + 1);
  if (hex.size() % 2 != 0 || hex.size() > 512) return false;
  Bytes bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexDigitValue(static_cast<unsigned char>(hex[i]));
    int lo = HexDigitValue(static_cast<unsigned char>(hex[i + 1]));
    if (hi < 0 || lo < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  serial->assign(name.substr(0, slash));
  *id = std::move(bytes);
  return true;
}

bool IsTokenProviderName(std::u16string_view provider) {
  return EqualsIgnoringAsciiCase(provider, kTokenProviderName);
}

}  // namespace quillmark::platform
