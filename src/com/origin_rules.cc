#include "com/origin_rules.h"

namespace quillmark::com {

namespace {

bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// "host" or "host:port" as a browser writes it: a lower-case name, dotted
// IPv4 address or bracketed IPv6 address, and a port from 1 to 65535 without
// leading zeros.
bool IsHostAndPort(std::string_view s, std::string_view* host) {
  std::string_view port;
  if (!s.empty() && s.front() == '[') {
    std::size_t close = s.find(']');
    if (close == std::string_view::npos || close < 3) return false;
    for (char c : s.substr(1, close - 1)) {
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == ':' || c == '.')) {
        return false;
      }
    }
    *host = s.substr(0, close + 1);
    std::string_view rest = s.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
      if (port.empty()) return false;
    }
  } else {
    std::size_t colon = s.find(':');
    *host = s.substr(0, colon);
    if (colon != std::string_view::npos) {
      port = s.substr(colon + 1);
      if (port.empty()) return false;
    }
    if (host->empty() || host->front() == '.' || host->front() == '-') return false;
    for (char c : *host) {
      if (!IsHostChar(c)) return false;
    }
  }
  if (!port.empty()) {
    if (port.size() > 5 || port.front() == '0') return false;
    unsigned value = 0;
    for (char c : port) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
  }
  return true;
}

// The scheme as it may be quoted in a message: short and plain, else nothing.
std::string QuotableScheme(std::string_view scheme) {
  if (scheme.empty() || scheme.size() > 20) return "another scheme";
  for (char c : scheme) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')) {
      return "another scheme";
    }
  }
  return std::string(scheme) + ":";
}

OriginVerdict Refuse(OriginVerdict verdict, std::string* reason, std::string text) {
  if (reason != nullptr) *reason = std::move(text);
  return verdict;
}

}  // namespace

bool IsOpaqueOrigin(std::string_view origin) {
  if (origin.empty() || origin == "null") return true;
  // "about:blank", "data:text/html,...": a scheme and no "//" after it.
  std::size_t colon = origin.find(':');
  if (colon == 0 || colon == std::string_view::npos || origin.substr(colon + 1, 2) == "//") {
    return false;
  }
  for (char c : origin.substr(0, colon)) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')) {
      return false;
    }
  }
  return true;
}

OriginVerdict CheckOrigin(std::string_view origin, std::string* reason) {
  if (origin.size() > kMaxOriginLength) {
    return Refuse(OriginVerdict::kMalformed, reason, "the origin is too long");
  }
  if (IsOpaqueOrigin(origin)) {
    return Refuse(OriginVerdict::kInsecure, reason,
                  "pages without an origin of their own (sandboxed pages and frames, files, "
                  "data: and about: pages) cannot use Quillmark");
  }
  std::size_t sep = origin.find("://");
  if (sep == std::string_view::npos) {
    return Refuse(OriginVerdict::kMalformed, reason, "the origin is not scheme://host[:port]");
  }
  std::string_view scheme = origin.substr(0, sep);
  std::string_view rest = origin.substr(sep + 3);
  std::string_view host;
  if (scheme != "https" && scheme != "http") {
    return Refuse(
        OriginVerdict::kInsecure, reason,
        "only https pages can use Quillmark (this page is " + QuotableScheme(scheme) + ")");
  }
  if (!IsHostAndPort(rest, &host)) {
    return Refuse(OriginVerdict::kMalformed, reason,
                  "the origin is not a lower-case scheme://host[:port]");
  }
  if (scheme == "http" && host != "localhost" && host != "127.0.0.1") {
    return Refuse(OriginVerdict::kInsecure, reason,
                  "only https pages can use Quillmark (http is served for localhost and "
                  "127.0.0.1 only)");
  }
  return OriginVerdict::kServed;
}

}  // namespace quillmark::com
