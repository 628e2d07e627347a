// Name rendering: CertNameToStrW and the simple display name.
//
// Names are rendered straight from their DER, one pass over the RDNs with no
// intermediate objects, so the text follows the encoded order exactly.
#include <cstring>

#include "common/hex.h"
#include "common/unicode.h"
#include "platform/names/cert_name.h"
#include "platform/openssl/der_walk.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {

constexpr std::uint8_t kOidEmail[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01};
constexpr std::uint8_t kOidDomainComponent[] = {0x09, 0x92, 0x26, 0x89, 0x93,
                                                0xF2, 0x2C, 0x64, 0x01, 0x19};

bool Equals(ByteSpan a, std::span<const std::uint8_t> b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
}

// The short key of an attribute type, or nullptr when it has none.
const char* KeyForOid(ByteSpan oid) {
  if (oid.size() == 3 && oid[0] == 0x55 && oid[1] == 0x04) {  // 2.5.4.x
    switch (oid[2]) {
      case 3:
        return "CN";
      case 4:
        return "SN";
      case 5:
        return "SERIALNUMBER";
      case 6:
        return "C";
      case 7:
        return "L";
      case 8:
        return "S";
      case 9:
        return "STREET";
      case 10:
        return "O";
      case 11:
        return "OU";
      case 12:
        return "T";
      case 13:
        return "Description";
      case 17:
        return "PostalCode";
      case 18:
        return "POBox";
      case 20:
        return "Phone";
      case 24:
        return "X21Address";
      case 42:
        return "G";
      case 43:
        return "I";
      case 46:
        return "dnQualifier";
      default:
        return nullptr;
    }
  }
  if (Equals(oid, kOidEmail)) return "E";
  if (Equals(oid, kOidDomainComponent)) return "DC";
  return nullptr;
}

// ASN.1 string types whose contents are 8-bit characters.
bool IsByteString(std::uint8_t tag) {
  switch (tag) {
    case 0x12:  // NumericString
    case 0x13:  // PrintableString
    case 0x14:  // T61String (Latin-1)
    case 0x15:  // VideotexString
    case 0x16:  // IA5String
    case 0x19:  // GraphicString
    case 0x1A:  // VisibleString
    case 0x1B:  // GeneralString
      return true;
    default:
      return false;
  }
}

// Appends the value's text: decoded string contents, or "#" and the hex of
// its DER for a type that is not a string. Sets |*is_string|. False when a
// string's contents cannot be decoded.
bool AppendValue(const der::Tlv& value, std::u16string* out, bool* is_string) {
  *is_string = true;
  ByteSpan c = value.content;
  if (value.tag == 0x0C) {  // UTF8String; malformed sequences become U+FFFD
    out->append(Utf8ToUtf16Lossy(AsChars(c)));
  } else if (IsByteString(value.tag)) {
    for (std::uint8_t b : c) out->push_back(b);
  } else if (value.tag == 0x1E) {  // BMPString, UCS-2 big-endian
    if (c.size() % 2 != 0) return false;
    for (size_t i = 0; i < c.size(); i += 2) {
      out->push_back(static_cast<char16_t>((c[i] << 8) | c[i + 1]));
    }
  } else if (value.tag == 0x1C) {  // UniversalString, UCS-4 big-endian
    if (c.size() % 4 != 0) return false;
    for (size_t i = 0; i < c.size(); i += 4) {
      char32_t cp = (static_cast<char32_t>(c[i]) << 24) | (static_cast<char32_t>(c[i + 1]) << 16) |
                    (static_cast<char32_t>(c[i + 2]) << 8) | c[i + 3];
      if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacementCharacter;
      AppendUtf16(cp, out);
    }
  } else {
    *is_string = false;
    out->push_back(u'#');
    AppendHexUpper(value.whole, out);
  }
  return true;
}

bool IsWhiteSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

bool NeedsQuotes(std::u16string_view v) {
  if (v.empty() || IsWhiteSpace(v.front()) || IsWhiteSpace(v.back())) return true;
  for (char16_t c : v) {
    switch (c) {
      case u',':
      case u'+':
      case u'=':
      case u'"':
      case u'\r':
      case u'\n':
      case u'<':
      case u'>':
      case u'#':
      case u';':
        return true;
      default:
        break;
    }
  }
  return false;
}

// Quotes the text that starts at |start| in |out| when the rules ask for it.
void QuoteInPlace(size_t start, std::u16string* out) {
  std::u16string_view v(out->data() + start, out->size() - start);
  if (!NeedsQuotes(v)) return;
  std::u16string quoted;
  quoted.reserve(v.size() + 4);
  quoted.push_back(u'"');
  for (char16_t c : v) {
    quoted.push_back(c);
    if (c == u'"') quoted.push_back(u'"');
  }
  quoted.push_back(u'"');
  out->resize(start);
  out->append(quoted);
}

void AppendAscii(const char* s, std::u16string* out) {
  while (*s) out->push_back(static_cast<char16_t>(*s++));
}

bool RenderName(ByteSpan name_der, std::uint32_t str_type, std::u16string* out) {
  const std::uint32_t type = str_type & 0xFFFF;
  if (type != kCertSimpleNameStr && type != kCertOidNameStr && type != kCertX500NameStr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  const std::u16string_view rdn_sep =
      (str_type & kCertNameStrCrlfFlag) ? std::u16string_view(u"\r\n") : u", ";
  out->clear();
  out->reserve(name_der.size());
  ByteSpan in = name_der;
  der::Tlv name;
  if (!der::Expect(&in, der::kSequence, &name) || !in.empty()) return false;
  ByteSpan rdns = name.content;
  bool first_rdn = true;
  std::string oid_text;
  while (!rdns.empty()) {
    der::Tlv rdn;
    if (!der::Expect(&rdns, der::kSet, &rdn)) return false;
    if (!first_rdn) out->append(rdn_sep);
    first_rdn = false;
    ByteSpan atvs = rdn.content;
    bool first_atv = true;
    while (!atvs.empty()) {
      der::Tlv atv, oid, value;
      if (!der::Expect(&atvs, der::kSequence, &atv)) return false;
      ByteSpan fields = atv.content;
      if (!der::Expect(&fields, der::kOid, &oid) || !der::Next(&fields, &value) ||
          !fields.empty()) {
        return false;
      }
      if (!first_atv) out->append(u" + ");
      first_atv = false;
      if (type != kCertSimpleNameStr) {
        const char* key = type == kCertX500NameStr ? KeyForOid(oid.content) : nullptr;
        if (key != nullptr) {
          AppendAscii(key, out);
        } else {
          if (!der::OidToText(oid.content, &oid_text)) return false;
          if (type == kCertX500NameStr) AppendAscii("OID.", out);
          AppendAscii(oid_text.c_str(), out);
        }
        out->push_back(u'=');
      }
      size_t start = out->size();
      bool is_string;
      if (!AppendValue(value, out, &is_string)) return false;
      if (is_string) QuoteInPlace(start, out);
    }
  }
  return true;
}

bool CheckEncoding(std::uint32_t encoding) {
  if ((encoding & kX509AsnEncoding) == 0 || (encoding & ~kDefaultEncoding) != 0) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  return true;
}

}  // namespace

bool CertNameToStrW(std::uint32_t encoding, ByteSpan name_der, std::uint32_t str_type,
                    std::u16string* out) {
  if (!CheckEncoding(encoding)) return false;
  std::u16string text;
  if (!RenderName(name_der, str_type, &text)) {
    if (GetLastError() != kErrorInvalidParameter) SetLastError(kCryptEOssError);
    return false;
  }
  *out = std::move(text);
  return true;
}

std::uint32_t CertNameToStrW(std::uint32_t encoding, ByteSpan name_der, std::uint32_t str_type,
                             char16_t* out, std::uint32_t out_chars) {
  thread_local std::u16string text;
  SetLastError(kErrorSuccess);
  if (!CheckEncoding(encoding)) return 0;
  if (!RenderName(name_der, str_type, &text)) {
    if (GetLastError() != kErrorInvalidParameter) SetLastError(kCryptEOssError);
    if (out != nullptr && out_chars > 0) out[0] = u'\0';
    return 0;
  }
  const std::uint32_t needed = static_cast<std::uint32_t>(text.size() + 1);
  if (out == nullptr || out_chars == 0) return needed;
  const std::uint32_t n = std::min<std::uint32_t>(needed - 1, out_chars - 1);
  std::memcpy(out, text.data(), n * sizeof(char16_t));
  out[n] = u'\0';
  return n + 1;
}

std::u16string SimpleDisplayName(ByteSpan name_der) {
  ByteSpan in = name_der;
  // Rank of the attribute types in the order they are preferred.
  auto rank = [](ByteSpan oid) {
    if (oid.size() == 3 && oid[0] == 0x55 && oid[1] == 0x04) {
      if (oid[2] == 3) return 0;   // CN
      if (oid[2] == 11) return 1;  // OU
      if (oid[2] == 10) return 2;  // O
    }
    if (Equals(oid, kOidEmail)) return 3;
    return 4;
  };
  der::Tlv name, best;
  int best_rank = 4;
  if (!der::Expect(&in, der::kSequence, &name)) return std::u16string();
  ByteSpan rdns = name.content;
  while (!rdns.empty() && best_rank > 0) {
    der::Tlv rdn;
    if (!der::Expect(&rdns, der::kSet, &rdn)) return std::u16string();
    ByteSpan atvs = rdn.content;
    while (!atvs.empty()) {
      der::Tlv atv, oid, value;
      if (!der::Expect(&atvs, der::kSequence, &atv)) return std::u16string();
      ByteSpan fields = atv.content;
      if (!der::Expect(&fields, der::kOid, &oid) || !der::Next(&fields, &value)) {
        return std::u16string();
      }
      int r = rank(oid.content);
      if (r < best_rank) {
        best_rank = r;
        best = value;
        if (r == 0) break;
      }
    }
  }
  std::u16string text;
  bool is_string;
  if (best_rank < 4 && !AppendValue(best, &text, &is_string)) text.clear();
  return text;
}

}  // namespace quillmark::platform
