// CryptFormatObject: one-line texts of certificate extensions.
#include "platform/names/cert_extension.h"

#include <cstring>
#include <new>
#include <span>
#include <string>
#include <utility>

#include "platform/names/cert_general_names.h"
#include "platform/openssl/der_walk.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {

using extension_text::AppendAscii;
using extension_text::AppendDisplayText;
using extension_text::AppendGeneralNames;
using extension_text::AppendHex;
using extension_text::AppendName;

constexpr std::uint8_t kContext0 = 0x80;
constexpr std::uint8_t kContext1Constructed = 0xA1;
constexpr std::uint8_t kContext2 = 0x82;
constexpr std::uint8_t kContext0Constructed = 0xA0;
constexpr std::uint8_t kContext1 = 0x81;
constexpr std::uint8_t kContext2Constructed = 0xA2;

// The value must be exactly one TLV with |tag|.
bool Whole(ByteSpan value, std::uint8_t tag, der::Tlv* out) {
  return der::Expect(&value, tag, out) && value.empty();
}

// A BIT STRING's content: unused-bit count, then the bytes.
bool BitStringBytes(ByteSpan content, ByteSpan* bytes) {
  if (content.empty() || content[0] > 7 || (content.size() == 1 && content[0] != 0)) return false;
  *bytes = content.subspan(1);
  return true;
}

bool BitSet(ByteSpan bytes, std::size_t bit) {
  return bit / 8 < bytes.size() && (bytes[bit / 8] & (0x80 >> (bit % 8)));
}

// Names of the bits set, ", " between them, then " (hex)".
void AppendFlagNames(ByteSpan bytes, std::span<const char* const> names, std::u16string* out) {
  bool any = false;
  for (std::size_t bit = 0; bit < names.size(); ++bit) {
    if (names[bit] == nullptr || !BitSet(bytes, bit)) continue;
    if (any) AppendAscii(", ", out);
    AppendAscii(names[bit], out);
    any = true;
  }
  if (any) out->push_back(u' ');
  out->push_back(u'(');
  if (bytes.empty()) {
    AppendAscii("00", out);
  } else {
    AppendHex(bytes, out);
  }
  out->push_back(u')');
}

bool KeyUsage(ByteSpan value, std::u16string* out) {
  static constexpr const char* kNames[] = {"Digital Signature",
                                           "Non-Repudiation",
                                           "Key Encipherment",
                                           "Data Encipherment",
                                           "Key Agreement",
                                           "Certificate Signing",
                                           "Off-line CRL Signing, CRL Signing",
                                           "Encipher Only",
                                           "Decipher Only"};
  der::Tlv bits;
  ByteSpan bytes;
  if (!Whole(value, der::kBitString, &bits) || !BitStringBytes(bits.content, &bytes)) return false;
  AppendFlagNames(bytes, kNames, out);
  return true;
}

// A non-negative INTEGER that fits 64 bits.
bool SmallInteger(ByteSpan content, std::uint64_t* out) {
  if (content.empty() || (content[0] & 0x80)) return false;
  if (content.size() > 1 && content[0] == 0) content = content.subspan(1);
  if (content.size() > 8) return false;
  *out = 0;
  for (std::uint8_t b : content) *out = (*out << 8) | b;
  return true;
}

bool BasicConstraints(ByteSpan value, std::u16string* out) {
  der::Tlv seq, f;
  if (!Whole(value, der::kSequence, &seq)) return false;
  ByteSpan body = seq.content;
  bool ca = false;
  bool has_length = false;
  std::uint64_t length = 0;
  if (!body.empty()) {
    ByteSpan peek = body;
    if (!der::Next(&peek, &f)) return false;
    if (f.tag == der::kBoolean) {
      if (f.content.size() != 1) return false;
      ca = f.content[0] != 0;
      body = peek;
    }
  }
  if (!body.empty()) {
    if (!der::Expect(&body, der::kInteger, &f) || !SmallInteger(f.content, &length) ||
        !body.empty()) {
      return false;
    }
    has_length = true;
  }
  AppendAscii(ca ? "Subject Type=CA" : "Subject Type=End Entity", out);
  AppendAscii(", Path Length Constraint=", out);
  AppendAscii(has_length ? std::to_string(length) : "None", out);
  return true;
}

const char* KeyPurposeName(std::string_view oid) {
  static constexpr std::pair<std::string_view, const char*> kNames[] = {
      {"1.3.6.1.5.5.7.3.1", "Server Authentication"},
      {"1.3.6.1.5.5.7.3.2", "Client Authentication"},
      {"1.3.6.1.5.5.7.3.3", "Code Signing"},
      {"1.3.6.1.5.5.7.3.4", "Secure Email"},
      {"1.3.6.1.5.5.7.3.5", "IP security end system"},
      {"1.3.6.1.5.5.7.3.6", "IP security tunnel termination"},
      {"1.3.6.1.5.5.7.3.7", "IP security user"},
      {"1.3.6.1.5.5.7.3.8", "Time Stamping"},
      {"1.3.6.1.5.5.7.3.9", "OCSP Signing"},
      {"2.5.29.37.0", "Any Purpose"},
      {"1.3.6.1.4.1.311.10.3.4", "Encrypting File System"},
      {"1.3.6.1.4.1.311.10.3.12", "Document Signing"},
      {"1.3.6.1.4.1.311.20.2.2", "Smart Card Logon"},
  };
  for (const auto& [o, name] : kNames) {
    if (o == oid) return name;
  }
  return "Unknown Key Usage";
}

bool ExtendedKeyUsage(ByteSpan value, std::u16string* out) {
  der::Tlv seq, oid;
  if (!Whole(value, der::kSequence, &seq) || seq.content.empty()) return false;
  ByteSpan body = seq.content;
  bool first = true;
  while (!body.empty()) {
    std::string text;
    if (!der::Expect(&body, der::kOid, &oid) || !der::OidToText(oid.content, &text)) return false;
    if (!first) AppendAscii(", ", out);
    first = false;
    AppendAscii(KeyPurposeName(text), out);
    AppendAscii(" (", out);
    AppendAscii(text, out);
    out->push_back(u')');
  }
  return true;
}

bool SubjectKeyIdentifier(ByteSpan value, std::u16string* out) {
  der::Tlv id;
  if (!Whole(value, der::kOctetString, &id)) return false;
  AppendHex(id.content, out);
  return true;
}

bool AuthorityKeyIdentifier(ByteSpan value, std::u16string* out) {
  der::Tlv seq, f;
  if (!Whole(value, der::kSequence, &seq)) return false;
  ByteSpan body = seq.content;
  int last_tag = -1;
  bool first = true;
  while (!body.empty()) {
    if (!der::Next(&body, &f)) return false;
    int order = f.tag == kContext0              ? 0
                : f.tag == kContext1Constructed ? 1
                : f.tag == kContext2            ? 2
                                                : -1;
    if (order <= last_tag) return false;  // unknown, repeated or out of order
    last_tag = order;
    if (!first) AppendAscii(", ", out);
    first = false;
    if (order == 0) {
      AppendAscii("KeyID=", out);
      AppendHex(f.content, out);
    } else if (order == 1) {
      AppendAscii("Certificate Issuer=", out);
      if (!AppendGeneralNames(f.content, out)) return false;
    } else {
      if (f.content.empty()) return false;
      AppendAscii("Certificate SerialNumber=", out);
      AppendHex(f.content, out);
    }
  }
  return true;
}

bool AlternativeName(ByteSpan value, std::u16string* out) {
  der::Tlv seq;
  return Whole(value, der::kSequence, &seq) && AppendGeneralNames(seq.content, out);
}

bool DistributionPointName(const der::Tlv& name, std::u16string* out) {
  ByteSpan c = name.content;
  der::Tlv choice;
  if (!der::Next(&c, &choice) || !c.empty()) return false;
  AppendAscii("Distribution Point Name: ", out);
  if (choice.tag == kContext0Constructed) {
    AppendAscii("Full Name: ", out);
    return AppendGeneralNames(choice.content, out);
  }
  if (choice.tag == kContext1Constructed) {
    // A relative name is one RDN; it is shown as a Name of that RDN alone.
    Bytes rdn;
    Bytes name_der;
    auto tlv = [](std::uint8_t tag, ByteSpan content, Bytes* to) {
      to->push_back(tag);
      std::size_t n = content.size();
      if (n < 0x80) {
        to->push_back(static_cast<std::uint8_t>(n));
      } else {
        Bytes len;
        for (; n > 0; n >>= 8) len.insert(len.begin(), static_cast<std::uint8_t>(n & 0xFF));
        to->push_back(static_cast<std::uint8_t>(0x80 | len.size()));
        to->insert(to->end(), len.begin(), len.end());
      }
      to->insert(to->end(), content.begin(), content.end());
    };
    tlv(der::kSet, choice.content, &rdn);
    tlv(der::kSequence, rdn, &name_der);
    AppendAscii("Name Relative To CRL Issuer: ", out);
    return AppendName(name_der, out);
  }
  return false;
}

bool CrlDistributionPoints(ByteSpan value, std::u16string* out) {
  static constexpr const char* kReasons[] = {
      nullptr,        "Key Compromise",         "CA Compromise",    "Affiliation Changed",
      "Superseded",   "Cessation Of Operation", "Certificate Hold", "Privilege Withdrawn",
      "AA Compromise"};
  der::Tlv seq, point, f;
  if (!Whole(value, der::kSequence, &seq) || seq.content.empty()) return false;
  ByteSpan points = seq.content;
  for (int index = 1; !points.empty(); ++index) {
    if (!der::Expect(&points, der::kSequence, &point)) return false;
    if (index > 1) AppendAscii(", ", out);
    AppendAscii("[" + std::to_string(index) + "]CRL Distribution Point", out);
    ByteSpan body = point.content;
    int last = -1;
    bool first = true;
    while (!body.empty()) {
      if (!der::Next(&body, &f)) return false;
      int order = f.tag == kContext0Constructed   ? 0
                  : f.tag == kContext1            ? 1
                  : f.tag == kContext2Constructed ? 2
                                                  : -1;
      if (order <= last) return false;
      last = order;
      AppendAscii(first ? ": " : ", ", out);
      first = false;
      if (order == 0) {
        if (!DistributionPointName(f, out)) return false;
      } else if (order == 1) {
        ByteSpan bytes;
        if (!BitStringBytes(f.content, &bytes)) return false;
        AppendAscii("Reason Flags=", out);
        AppendFlagNames(bytes, kReasons, out);
      } else {
        AppendAscii("CRL Issuer: ", out);
        if (!AppendGeneralNames(f.content, out)) return false;
      }
    }
  }
  return true;
}

bool UserNotice(ByteSpan qualifier, std::u16string* out) {
  der::Tlv seq, f, org, numbers, number;
  if (!Whole(qualifier, der::kSequence, &seq)) return false;
  ByteSpan body = seq.content;
  bool first = true;
  while (!body.empty()) {
    if (!der::Next(&body, &f)) return false;
    if (!first) AppendAscii(", ", out);
    first = false;
    if (f.tag == der::kSequence) {  // noticeRef
      ByteSpan ref = f.content;
      if (!der::Next(&ref, &org) || !der::Expect(&ref, der::kSequence, &numbers) || !ref.empty()) {
        return false;
      }
      AppendAscii("Notice Reference: Organization=", out);
      if (!AppendDisplayText(org, out)) return false;
      AppendAscii(", Notice Number=", out);
      ByteSpan list = numbers.content;
      for (bool first_number = true; !list.empty(); first_number = false) {
        std::uint64_t n = 0;
        if (!der::Expect(&list, der::kInteger, &number) || !SmallInteger(number.content, &n)) {
          return false;
        }
        if (!first_number) AppendAscii(", ", out);
        AppendAscii(std::to_string(n), out);
      }
    } else {  // explicitText
      AppendAscii("Notice Text=", out);
      if (!AppendDisplayText(f, out)) return false;
    }
  }
  return true;
}

bool CertificatePolicies(ByteSpan value, std::u16string* out) {
  der::Tlv seq, info, oid, quals, qual, qid, q;
  if (!Whole(value, der::kSequence, &seq) || seq.content.empty()) return false;
  ByteSpan policies = seq.content;
  for (int index = 1; !policies.empty(); ++index) {
    std::string policy;
    if (!der::Expect(&policies, der::kSequence, &info)) return false;
    ByteSpan body = info.content;
    if (!der::Expect(&body, der::kOid, &oid) || !der::OidToText(oid.content, &policy)) {
      return false;
    }
    const std::string n = std::to_string(index);
    if (index > 1) AppendAscii(", ", out);
    AppendAscii("[" + n + "]Certificate Policy: Policy Identifier=", out);
    AppendAscii(policy == "2.5.29.32.0" ? "All Issuance Policies" : policy, out);
    if (body.empty()) continue;
    if (!der::Expect(&body, der::kSequence, &quals) || !body.empty() || quals.content.empty()) {
      return false;
    }
    ByteSpan list = quals.content;
    for (int j = 1; !list.empty(); ++j) {
      std::string id;
      if (!der::Expect(&list, der::kSequence, &qual)) return false;
      ByteSpan qb = qual.content;
      if (!der::Expect(&qb, der::kOid, &qid) || !der::OidToText(qid.content, &id) ||
          !der::Next(&qb, &q) || !qb.empty()) {
        return false;
      }
      AppendAscii(", [" + n + "," + std::to_string(j) + "]Policy Qualifier Info: ", out);
      AppendAscii("Policy Qualifier Id=", out);
      if (id == "1.3.6.1.5.5.7.2.1") {
        AppendAscii("CPS, Qualifier=", out);
        if (q.tag != 0x16 || !AppendDisplayText(q, out)) return false;
      } else if (id == "1.3.6.1.5.5.7.2.2") {
        AppendAscii("User Notice, Qualifier=", out);
        if (!UserNotice(q.whole, out)) return false;
      } else {
        AppendAscii(id + ", Qualifier=", out);
        AppendHex(q.whole, out);
      }
    }
  }
  return true;
}

// The text of an extension value; hex when the OID has no rendering here or
// the value does not decode.
std::u16string Render(std::string_view oid, ByteSpan value) {
  using Renderer = bool (*)(ByteSpan, std::u16string*);
  static constexpr std::pair<std::string_view, Renderer> kRenderers[] = {
      {"2.5.29.15", KeyUsage},
      {"2.5.29.19", BasicConstraints},
      {"2.5.29.37", ExtendedKeyUsage},
      {"2.5.29.14", SubjectKeyIdentifier},
      {"2.5.29.35", AuthorityKeyIdentifier},
      {"2.5.29.17", AlternativeName},
      {"2.5.29.18", AlternativeName},
      {"2.5.29.31", CrlDistributionPoints},
      {"2.5.29.32", CertificatePolicies},
  };
  std::u16string text;
  for (const auto& [o, render] : kRenderers) {
    if (o == oid) {
      if (render(value, &text)) return text;
      text.clear();
      break;
    }
  }
  AppendHex(value, &text);
  return text;
}

bool CheckArguments(std::uint32_t encoding, std::uint32_t format_str_type) {
  if ((encoding & kX509AsnEncoding) == 0 || (encoding & ~kDefaultEncoding) != 0 ||
      format_str_type != kCryptFormatStrSingleLine) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  return true;
}

}  // namespace

std::u16string HexSpacedLower(ByteSpan bytes) {
  std::u16string out;
  AppendHex(bytes, &out);
  return out;
}

bool CryptFormatObject(std::uint32_t encoding, std::uint32_t /*format_type*/,
                       std::uint32_t format_str_type, std::string_view struct_type,
                       ByteSpan encoded, std::u16string* out) {
  if (!CheckArguments(encoding, format_str_type)) return false;
  if (out == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  // A name that did not decode leaves its own last error, undone here.
  return RunKeepingLastError([&]() -> std::uint32_t {
    *out = Render(struct_type, encoded);
    return kErrorSuccess;
  });
}

bool CryptFormatObject(std::uint32_t encoding, std::uint32_t format_type,
                       std::uint32_t format_str_type, std::string_view struct_type,
                       ByteSpan encoded, char16_t* out, std::uint32_t* out_bytes) {
  std::u16string text;
  if (out_bytes == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (!CryptFormatObject(encoding, format_type, format_str_type, struct_type, encoded, &text)) {
    return false;
  }
  const std::uint64_t needed = (static_cast<std::uint64_t>(text.size()) + 1) * sizeof(char16_t);
  if (needed > UINT32_MAX) {
    SetLastError(kErrorNotEnoughMemory);
    return false;
  }
  const std::uint32_t have = *out_bytes;
  *out_bytes = static_cast<std::uint32_t>(needed);
  if (out == nullptr) return true;
  if (have < needed) {
    SetLastError(kErrorMoreData);
    return false;
  }
  std::memcpy(out, text.c_str(), static_cast<std::size_t>(needed));
  return true;
}

}  // namespace quillmark::platform
