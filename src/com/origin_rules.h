// Which web origins may reach a control at all.
//
// An origin is the browser's serialization "scheme://host[:port]": lower
// case, no path, no user name, no trailing slash. Served are https origins,
// and for development http://localhost and http://127.0.0.1 on any port.
// Anything else (other http hosts, file:, extension origins, text that is
// not an origin) is refused with a reason a person can read. Opaque origins
// (a sandboxed page or frame is "null", a missing one empty) are never
// served: they name no site, so no decision about a site may apply to them.
#ifndef QUILLMARK_COM_ORIGIN_RULES_H_
#define QUILLMARK_COM_ORIGIN_RULES_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quillmark::com {

// Origins longer than this are refused outright.
inline constexpr std::size_t kMaxOriginLength = 2048;

enum class OriginVerdict {
  kServed,
  kInsecure,   // a well-formed origin the rules do not serve
  kMalformed,  // not a serialized origin
};

// Whether |origin| is opaque: empty, "null", or a scheme with no authority
// ("about:blank", "data:..."). CheckOrigin finds these kInsecure.
bool IsOpaqueOrigin(std::string_view origin);

// The verdict on |origin|; *reason (may be null) explains a refusal in one line.
OriginVerdict CheckOrigin(std::string_view origin, std::string* reason);

}  // namespace quillmark::com

#endif  // QUILLMARK_COM_ORIGIN_RULES_H_
