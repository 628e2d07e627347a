#include "platform/names/cert_general_names.h"

#include "common/hex.h"
#include "common/unicode.h"
#include "platform/names/cert_name.h"

namespace quillmark::platform::extension_text {

namespace {

constexpr std::uint8_t kUtf8String = 0x0C;
constexpr std::uint8_t kPrintableString = 0x13;
constexpr std::uint8_t kIa5String = 0x16;
constexpr std::uint8_t kVisibleString = 0x1A;
constexpr std::uint8_t kBmpString = 0x1E;

// GeneralName choices as their context tags.
constexpr std::uint8_t kOtherName = 0xA0;
constexpr std::uint8_t kRfc822Name = 0x81;
constexpr std::uint8_t kDnsName = 0x82;
constexpr std::uint8_t kX400Address = 0xA3;
constexpr std::uint8_t kDirectoryName = 0xA4;
constexpr std::uint8_t kEdiPartyName = 0xA5;
constexpr std::uint8_t kUri = 0x86;
constexpr std::uint8_t kIpAddress = 0x87;
constexpr std::uint8_t kRegisteredId = 0x88;
constexpr std::uint8_t kExplicit0 = 0xA0;

constexpr std::string_view kUpnOid = "1.3.6.1.4.1.311.20.2.3";

// IA5 text: each byte as the character of that code (Latin-1 beyond ASCII).
void AppendBytesAsChars(ByteSpan bytes, std::u16string* out) {
  for (std::uint8_t b : bytes) out->push_back(static_cast<char16_t>(b));
}

void AppendHexGroup(unsigned value, std::u16string* out) {
  bool started = false;
  for (int shift = 12; shift >= 0; shift -= 4) {
    unsigned d = (value >> shift) & 0xF;
    if (d != 0 || started || shift == 0) {
      out->push_back(static_cast<char16_t>(kHexDigitsLower[d]));
      started = true;
    }
  }
}

void AppendIpAddress(ByteSpan ip, std::u16string* out) {
  if (ip.size() == 4) {
    for (std::size_t i = 0; i < 4; ++i) {
      if (i > 0) out->push_back(u'.');
      AppendAscii(std::to_string(ip[i]), out);
    }
  } else if (ip.size() == 16) {
    for (std::size_t i = 0; i < 16; i += 2) {
      if (i > 0) out->push_back(u':');
      AppendHexGroup((static_cast<unsigned>(ip[i]) << 8) | ip[i + 1], out);
    }
  } else {
    AppendHex(ip, out);  // an address with a mask, or something stranger
  }
}

bool AppendOtherName(ByteSpan content, std::u16string* out) {
  der::Tlv oid, value, inner;
  std::string oid_text;
  if (!der::Expect(&content, der::kOid, &oid) || !der::OidToText(oid.content, &oid_text) ||
      !der::Expect(&content, kExplicit0, &value) || !content.empty()) {
    return false;
  }
  AppendAscii("Other Name:", out);
  ByteSpan v = value.content;
  if (oid_text == kUpnOid && der::Next(&v, &inner) && v.empty() && inner.tag == kUtf8String) {
    AppendAscii("Principal Name=", out);
    return AppendDisplayText(inner, out);
  }
  AppendAscii(oid_text, out);
  out->push_back(u'=');
  AppendHex(value.content, out);
  return true;
}

bool AppendGeneralName(const der::Tlv& name, std::u16string* out) {
  switch (name.tag) {
    case kOtherName:
      return AppendOtherName(name.content, out);
    case kRfc822Name:
      AppendAscii("RFC822 Name=", out);
      AppendBytesAsChars(name.content, out);
      return true;
    case kDnsName:
      AppendAscii("DNS Name=", out);
      AppendBytesAsChars(name.content, out);
      return true;
    case kX400Address:
      AppendAscii("X400Address=", out);
      AppendHex(name.content, out);
      return true;
    case kDirectoryName: {
      ByteSpan c = name.content;
      der::Tlv inner;
      if (!der::Expect(&c, der::kSequence, &inner) || !c.empty()) return false;
      AppendAscii("Directory Address=", out);
      return AppendName(inner.whole, out);
    }
    case kEdiPartyName:
      AppendAscii("EDI Party Name=", out);
      AppendHex(name.content, out);
      return true;
    case kUri:
      AppendAscii("URL=", out);
      AppendBytesAsChars(name.content, out);
      return true;
    case kIpAddress:
      AppendAscii("IP Address=", out);
      AppendIpAddress(name.content, out);
      return true;
    case kRegisteredId: {
      std::string oid;
      if (!der::OidToText(name.content, &oid)) return false;
      AppendAscii("Registered ID=", out);
      AppendAscii(oid, out);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

void AppendAscii(std::string_view text, std::u16string* out) {
  for (char c : text) out->push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
}

void AppendHex(ByteSpan bytes, std::u16string* out) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out->push_back(u' ');
    out->push_back(static_cast<char16_t>(kHexDigitsLower[bytes[i] >> 4]));
    out->push_back(static_cast<char16_t>(kHexDigitsLower[bytes[i] & 0x0F]));
  }
}

bool AppendGeneralNames(ByteSpan names, std::u16string* out) {
  if (names.empty()) return false;
  bool first = true;
  while (!names.empty()) {
    der::Tlv name;
    if (!der::Next(&names, &name)) return false;
    if (!first) AppendAscii(", ", out);
    first = false;
    if (!AppendGeneralName(name, out)) return false;
  }
  return true;
}

bool AppendDisplayText(const der::Tlv& text, std::u16string* out) {
  switch (text.tag) {
    case kUtf8String:
      *out += Utf8ToUtf16Lossy(AsChars(text.content));
      return true;
    case kIa5String:
    case kVisibleString:
    case kPrintableString:
      AppendBytesAsChars(text.content, out);
      return true;
    case kBmpString:
      if (text.content.size() % 2 != 0) return false;
      for (std::size_t i = 0; i < text.content.size(); i += 2) {
        out->push_back(static_cast<char16_t>((text.content[i] << 8) | text.content[i + 1]));
      }
      return true;
    default:
      return false;
  }
}

bool AppendName(ByteSpan name_tlv, std::u16string* out) {
  std::u16string text;
  if (!CertNameToStrW(kX509AsnEncoding, name_tlv, kCertX500NameStr, &text)) return false;
  *out += text;
  return true;
}

}  // namespace quillmark::platform::extension_text
