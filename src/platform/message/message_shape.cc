// The cheap look at a message's BER before OpenSSL decodes it: how many
// certificates, CRLs and signer infos it carries, and whether a SignedData
// wraps another message inside itself.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/message/message_shape.h"
#include "platform/os/last_error.h"

namespace quillmark::platform::msg {
namespace {

// Deepest nesting of indefinite-length values walked (OpenSSL's decoder
// refuses more than 30 levels anyway).
constexpr int kMaxBerDepth = 32;

constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kSet = 0x31;
constexpr std::uint8_t kOid = 0x06;
constexpr std::uint8_t kContext0 = 0xA0;
constexpr std::uint8_t kContext1 = 0xA1;
constexpr std::uint8_t kConstructedBit = 0x20;

// 1.2.840.113549.1.7 and the last arc of each PKCS#7 content type.
constexpr std::uint8_t kPkcs7Arc[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07};
constexpr std::uint8_t kTypeData = 1;
constexpr std::uint8_t kTypeSigned = 2;
constexpr std::uint8_t kTypeSignedAndEnveloped = 4;
constexpr std::uint8_t kTypeLast = 6;

// One BER value at the front of a span. For a definite length, |content| is
// exactly its content; for an indefinite one, everything after the header
// (its children, then the end-of-contents octets, then whatever follows).
struct Element {
  std::uint8_t tag = 0;  // the first identifier octet
  bool indefinite = false;
  std::size_t header = 0;
  ByteSpan content;
};

bool ReadHeader(ByteSpan in, Element* e) {
  std::size_t pos = 0;
  if (in.size() < 2) return false;
  e->tag = in[pos++];
  if ((e->tag & 0x1F) == 0x1F) {  // high tag number: continuation octets
    for (int i = 0;; ++i) {
      if (i == 4 || pos == in.size()) return false;
      if ((in[pos++] & 0x80) == 0) break;
    }
  }
  if (pos == in.size()) return false;
  const std::uint8_t first = in[pos++];
  e->indefinite = first == 0x80;
  std::size_t length = first;
  if (e->indefinite) {
    if ((e->tag & kConstructedBit) == 0) return false;
    e->header = pos;
    e->content = in.subspan(pos);
    return true;
  }
  if (first & 0x80) {
    const std::size_t octets = first & 0x7F;
    if (octets > sizeof(std::size_t) || in.size() - pos < octets) return false;
    length = 0;
    for (std::size_t i = 0; i < octets; ++i) {
      if (length > (SIZE_MAX >> 8)) return false;
      length = (length << 8) | in[pos++];
    }
  }
  if (length > in.size() - pos) return false;
  e->header = pos;
  e->content = in.subspan(pos, length);
  return true;
}

bool IsEndOfContents(ByteSpan in) { return in.size() >= 2 && in[0] == 0 && in[1] == 0; }

// The length of the whole value at the front of |in|; false when it is not
// one well-formed value within |in|.
bool ElementSize(ByteSpan in, int depth, std::size_t* size) {
  Element e;
  if (!ReadHeader(in, &e)) return false;
  if (!e.indefinite) {
    *size = e.header + e.content.size();
    return true;
  }
  if (depth >= kMaxBerDepth) return false;
  ByteSpan rest = e.content;
  while (!IsEndOfContents(rest)) {
    std::size_t child = 0;
    if (!ElementSize(rest, depth + 1, &child)) return false;
    rest = rest.subspan(child);
  }
  *size = static_cast<std::size_t>(rest.data() - in.data()) + 2;
  return true;
}

// The children of one constructed value, in order.
class Children {
 public:
  explicit Children(const Element& parent)
      : rest_(parent.content), indefinite_(parent.indefinite) {}

  bool AtEnd() const { return indefinite_ ? IsEndOfContents(rest_) : rest_.empty(); }

  // The next child; false at the end or when it is malformed.
  bool Next(Element* child) {
    std::size_t size = 0;
    if (AtEnd() || !ElementSize(rest_, 1, &size) || !ReadHeader(rest_, child)) return false;
    rest_ = rest_.subspan(size);
    return true;
  }

  // Counts the children that remain, stopping at |limit| + 1.
  bool CountUpTo(std::size_t limit, std::size_t* count) {
    *count = 0;
    Element child;
    while (!AtEnd()) {
      if (!Next(&child)) return false;
      if (++*count > limit) return true;
    }
    return true;
  }

 private:
  ByteSpan rest_;
  bool indefinite_;
};

// The last arc of a PKCS#7 content type OID, or 0 for any other OID.
int Pkcs7Type(const Element& oid) {
  if (oid.tag != kOid || oid.indefinite || oid.content.size() != sizeof kPkcs7Arc + 1) return 0;
  for (std::size_t i = 0; i < sizeof kPkcs7Arc; ++i) {
    if (oid.content[i] != kPkcs7Arc[i]) return 0;
  }
  return oid.content[sizeof kPkcs7Arc];
}

// The content type of a ContentInfo value (0 when it is not a PKCS#7 type);
// false when the value is not a sequence starting with an OID.
bool ContentType(const Element& content_info, int* type) {
  if (content_info.tag != kSequence) return false;
  Children fields(content_info);
  Element oid;
  if (!fields.Next(&oid) || oid.tag != kOid) return false;
  *type = Pkcs7Type(oid);
  return true;
}

// The SignedData (or SignedAndEnvelopedData) fields: every set of
// certificates, CRLs, algorithms and signer or recipient infos stays within
// the limit, and the encapsulated content is not a message again.
MessageShape CheckSignedFields(const Element& body, bool with_recipients) {
  Children fields(body);
  // version, digestAlgorithms, contentInfo, ...
  constexpr int kEncapsulatedIndex = 2;
  for (int index = 0; !fields.AtEnd(); ++index) {
    Element field;
    if (!fields.Next(&field)) return MessageShape::kMalformed;
    if (field.tag == kContext0 || field.tag == kContext1 || field.tag == kSet) {
      std::size_t count = 0;
      if (!Children(field).CountUpTo(kMaxMessageItems, &count)) return MessageShape::kMalformed;
      if (count > kMaxMessageItems) return MessageShape::kBeyondLimits;
    } else if (index == kEncapsulatedIndex && !with_recipients) {
      int type = 0;
      if (!ContentType(field, &type)) return MessageShape::kMalformed;
      if (type > kTypeData && type <= kTypeLast) return MessageShape::kBeyondLimits;
    }
  }
  return MessageShape::kFits;
}

// Appends a definite-length header for |tag| and |length| in its shortest form.
void AppendHeader(std::uint8_t tag, std::size_t length, Bytes* out) {
  out->push_back(tag);
  if (length < 0x80) {
    out->push_back(static_cast<std::uint8_t>(length));
    return;
  }
  std::uint8_t octets[sizeof(std::size_t)];
  std::size_t n = 0;
  for (std::size_t rest = length; rest != 0; rest >>= 8) octets[n++] = rest & 0xFF;
  out->push_back(static_cast<std::uint8_t>(0x80 | n));
  while (n > 0) out->push_back(octets[--n]);
}

// A value of one identifier octet and a definite length.
bool IsPlainDefinite(const Element& e) { return !e.indefinite && (e.tag & 0x1F) != 0x1F; }

}  // namespace

MessageShape LookAtMessageShape(ByteSpan der) {
  Element content_info;
  std::size_t size = 0;
  if (!ElementSize(der, 0, &size) || size != der.size() || !ReadHeader(der, &content_info)) {
    return MessageShape::kMalformed;
  }
  int type = 0;
  if (!ContentType(content_info, &type)) return MessageShape::kMalformed;
  if (type != kTypeSigned && type != kTypeSignedAndEnveloped) return MessageShape::kFits;

  Children fields(content_info);
  Element oid, explicit_content, body;
  if (!fields.Next(&oid) || !fields.Next(&explicit_content) || explicit_content.tag != kContext0) {
    return MessageShape::kMalformed;
  }
  Children inside(explicit_content);
  if (!inside.Next(&body) || body.tag != kSequence) return MessageShape::kMalformed;
  return CheckSignedFields(body, type == kTypeSignedAndEnveloped);
}

std::uint32_t CheckMessageShape(ByteSpan der) {
  return LookAtMessageShape(der) == MessageShape::kFits ? 0 : kCryptEOssError;
}

}  // namespace quillmark::platform::msg

namespace quillmark::platform::msg {

bool SplitCertificates(ByteSpan der, Bytes* rest, std::vector<ByteSpan>* certs) {
  Element content_info;
  if (!ReadHeader(der, &content_info) || !IsPlainDefinite(content_info) ||
      content_info.header + content_info.content.size() != der.size()) {
    return false;
  }
  int type = 0;
  if (!ContentType(content_info, &type) || type != kTypeSigned) return false;
  Children fields(content_info);
  Element oid, explicit_content, body;
  if (!fields.Next(&oid) || !fields.Next(&explicit_content) || !fields.AtEnd() ||
      explicit_content.tag != kContext0 || !IsPlainDefinite(explicit_content)) {
    return false;
  }
  Children inside(explicit_content);
  if (!inside.Next(&body) || !inside.AtEnd() || body.tag != kSequence || !IsPlainDefinite(body)) {
    return false;
  }
  // version, digestAlgorithms, contentInfo, then the certificates.
  Children signed_fields(body);
  Element field;
  for (int i = 0; i < 4; ++i) {
    if (!signed_fields.Next(&field)) return false;
  }
  if (field.tag != kContext0 || !IsPlainDefinite(field)) return false;
  certs->clear();
  Children items(field);
  while (!items.AtEnd()) {
    Element cert;
    if (!items.Next(&cert) || cert.tag != kSequence || !IsPlainDefinite(cert)) return false;
    certs->push_back(
        ByteSpan(cert.content.data() - cert.header, cert.header + cert.content.size()));
  }

  // The same three enclosing values around the body without that field.
  const std::uint8_t* cut = field.content.data() - field.header;
  const std::uint8_t* cut_end = field.content.data() + field.content.size();
  const std::uint8_t* body_end = body.content.data() + body.content.size();
  const std::size_t body_length = body.content.size() - (cut_end - cut);
  Bytes inner;
  AppendHeader(kSequence, body_length, &inner);
  Bytes wrapped;
  AppendHeader(kContext0, inner.size() + body_length, &wrapped);
  const std::size_t oid_size = oid.header + oid.content.size();
  rest->clear();
  AppendHeader(kSequence, oid_size + wrapped.size() + inner.size() + body_length, rest);
  rest->insert(rest->end(), oid.content.data() - oid.header,
               oid.content.data() + oid.content.size());
  rest->insert(rest->end(), wrapped.begin(), wrapped.end());
  rest->insert(rest->end(), inner.begin(), inner.end());
  rest->insert(rest->end(), body.content.data(), cut);
  rest->insert(rest->end(), cut_end, body_end);
  return true;
}

}  // namespace quillmark::platform::msg
