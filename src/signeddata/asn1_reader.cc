#include "signeddata/asn1_reader.h"
#include "common/hex.h"

#include <climits>
#include <new>

namespace quillmark::signeddata {

namespace {

constexpr std::size_t kMaxArcs = 50;
constexpr int kMaxTagBytes = 5;
constexpr int kMaxLengthBytes = 4;
constexpr int kMaxIntegerBytes = 4;
constexpr int kMaxUnusedBits = 8;

using Kind = Asn1ScanArg::Kind;

// The out-argument kinds a code takes, or false for an unknown code.
bool OutputsOf(char code, std::vector<Kind>* kinds) {
  kinds->clear();
  switch (code) {
    case '{':
    case '[':
    case '(':
    case '}':
    case ']':
    case ')':
    case 'n':
    case 'x':
      return true;
    case 't':
      kinds->assign({Kind::kInt, Kind::kByte});
      return true;
    case 'i':
    case 'e':
      kinds->push_back(Kind::kInt);
      return true;
    case 'b':
      kinds->push_back(Kind::kByte);
      return true;
    case '$':
    case 'o':
    case '6':
      kinds->push_back(Kind::kBytes);
      return true;
    case 'a':
    case 'u':
    case 'g':
    case 'I':
      kinds->push_back(Kind::kText);
      return true;
    case 'B':
      kinds->assign({Kind::kBytes, Kind::kInt});
      return true;
    case 'O':
      kinds->push_back(Kind::kArcs);
      return true;
    default:
      return false;
  }
}

bool DecodeInteger(ByteSpan content, int* value) {
  if (content.size() > kMaxIntegerBytes) return false;
  std::uint32_t bits = (!content.empty() && (content[0] & 0x80)) ? 0xFFFFFFFFu : 0;
  for (std::uint8_t byte : content) bits = bits << 8 | byte;
  *value = static_cast<int>(bits);
  return true;
}

bool DecodeBits(ByteSpan content, Bytes* bits, int* bit_count) {
  if (content.empty() || content[0] > kMaxUnusedBits) return false;
  const int unused = content[0];
  const std::size_t data_bytes = content.size() - 1;
  // 8 * data_bytes fits an int: the content length is at most INT_MAX.
  if (8 * static_cast<long long>(data_bytes) - unused < 0) return false;
  if (bits != nullptr) {
    bits->assign(content.begin() + 1, content.end());
    if (!bits->empty()) bits->back() &= static_cast<std::uint8_t>(0xFF << unused);
  }
  if (bit_count != nullptr) {
    *bit_count = static_cast<int>(8 * static_cast<long long>(data_bytes) - unused);
  }
  return true;
}

std::string UpperHex(ByteSpan content) {
  std::string text;
  text.reserve(2 * content.size());
  AppendHexUpper(content, &text);
  return text;
}

bool DecodeOid(ByteSpan content, std::vector<int>* arcs) {
  if (content.empty() || content[0] >= 120) return false;
  std::vector<int> out = {content[0] / 40, content[0] % 40};
  std::uint64_t arc = 0;
  bool in_arc = false;
  for (std::size_t i = 1; i < content.size(); ++i) {
    arc = arc << 7 | (content[i] & 0x7F);
    if (arc > static_cast<std::uint64_t>(INT_MAX)) return false;
    in_arc = (content[i] & 0x80) != 0;
    if (!in_arc) {
      if (out.size() == kMaxArcs) return false;
      out.push_back(static_cast<int>(arc));
      arc = 0;
    }
  }
  if (in_arc) return false;  // the last arc is cut off
  if (arcs != nullptr) *arcs = std::move(out);
  return true;
}

}  // namespace

// One Asn1ScanArgs call: walks the codes over the reader's bytes.
class Asn1ScanRun {
 public:
  Asn1ScanRun(Asn1Reader& reader, std::span<const Asn1ScanArg> outs) : r_(reader), outs_(outs) {}

  int Execute(std::string_view format) {
    if (!CheckOutputs(format)) return kAsn1Malformed;
    try {
      for (char code : format) {
        const int status = Step(code);
        if (status != 0) return status;
      }
    } catch (const std::bad_alloc&) {
      return kAsn1Malformed;
    }
    return 0;
  }

 private:
  struct Header {
    int tag_number;
    std::uint8_t class_bits;
    std::size_t length;
  };

  bool CheckOutputs(std::string_view format) const {
    std::vector<Kind> kinds;
    std::size_t next = 0;
    for (char code : format) {
      if (!OutputsOf(code, &kinds)) return false;
      for (Kind kind : kinds) {
        if (next >= outs_.size() || outs_[next].kind() != kind) return false;
        ++next;
      }
    }
    return next == outs_.size();
  }

  const Asn1ScanArg& Take() { return outs_[next_++]; }

  std::size_t Remaining() const { return r_.data_.size() - r_.position_; }

  bool ReadByte(std::uint8_t* byte) {
    if (Remaining() == 0) return false;
    *byte = r_.data_[r_.position_++];
    return true;
  }

  // Reads a tag at the reader's position.
  int ReadTag(Header* header) {
    std::uint8_t byte;
    if (!ReadByte(&byte)) return kAsn1EndOfInput;
    header->class_bits = byte & 0xE0;
    header->tag_number = byte & 0x1F;
    if (header->tag_number != 0x1F) return 0;
    std::uint64_t number = 0;
    int count = 0;
    do {
      if (count == kMaxTagBytes || !ReadByte(&byte)) return kAsn1Malformed;
      number = number << 7 | (byte & 0x7F);
      ++count;
    } while (byte & 0x80);
    if (number > static_cast<std::uint64_t>(INT_MAX)) return kAsn1Malformed;
    header->tag_number = static_cast<int>(number);
    return 0;
  }

  // Reads a tag and a length at the reader's position.
  int ReadHeader(Header* header) {
    const int status = ReadTag(header);
    if (status != 0) return status;
    std::uint8_t byte;
    if (!ReadByte(&byte)) return kAsn1Malformed;
    if (byte < 0x80) {
      header->length = byte;
      return 0;
    }
    const int count = byte & 0x7F;
    if (count > kMaxLengthBytes) return kAsn1Malformed;
    std::uint64_t length = 0;
    for (int i = 0; i < count; ++i) {
      if (!ReadByte(&byte)) return kAsn1Malformed;
      length = length << 8 | byte;
    }
    if (length > static_cast<std::uint64_t>(INT_MAX)) return kAsn1Malformed;
    header->length = static_cast<std::size_t>(length);
    return 0;
  }

  // Reads a header and its whole content.
  int ReadElement(ByteSpan* content) {
    Header header;
    const int status = ReadHeader(&header);
    if (status != 0) return status;
    if (header.length > Remaining()) return kAsn1Malformed;
    *content = ByteSpan(r_.data_).subspan(r_.position_, header.length);
    r_.position_ += header.length;
    return 0;
  }

  int Step(char code) {
    switch (code) {
      case '}':
      case ']':
      case ')':
        return 0;
      case '{':
      case '[':
      case '(':
      case 'n': {
        Header header;
        return ReadHeader(&header);
      }
      case 't': {
        int* number = Take().integer();
        std::uint8_t* class_bits = Take().byte();
        const std::size_t start = r_.position_;
        Header header;
        const int status = ReadTag(&header);
        r_.position_ = start;
        if (status != 0) return status;
        if (number != nullptr) *number = header.tag_number;
        if (class_bits != nullptr) *class_bits = header.class_bits;
        return 0;
      }
      case '$': {
        Bytes* out = Take().bytes();
        const std::size_t start = r_.position_;
        ByteSpan content;
        const int status = ReadElement(&content);
        if (status != 0) return status;
        if (out != nullptr) out->assign(r_.data_.begin() + start, r_.data_.begin() + r_.position_);
        return 0;
      }
      default:
        break;
    }
    ByteSpan content;
    const int status = ReadElement(&content);
    if (status != 0) return status;
    return Content(code, content) ? 0 : kAsn1Malformed;
  }

  bool Content(char code, ByteSpan content) {
    switch (code) {
      case 'i':
      case 'e': {
        int* out = Take().integer();
        int value;
        if (!DecodeInteger(content, &value)) return false;
        if (out != nullptr) *out = value;
        return true;
      }
      case 'b': {
        std::uint8_t* out = Take().byte();
        if (content.size() != 1 || (content[0] != 0x00 && content[0] != 0xFF)) return false;
        if (out != nullptr) *out = content[0];
        return true;
      }
      case 'o':
      case '6': {
        Bytes* out = Take().bytes();
        if (out != nullptr) out->assign(content.begin(), content.end());
        return true;
      }
      case 'a':
      case 'u':
      case 'g': {
        std::string* out = Take().text();
        if (out != nullptr) out->assign(AsChars(content));
        return true;
      }
      case 'B': {
        Bytes* bits = Take().bytes();
        int* bit_count = Take().integer();
        return DecodeBits(content, bits, bit_count);
      }
      case 'I': {
        std::string* out = Take().text();
        if (out != nullptr) *out = UpperHex(content);
        return true;
      }
      case 'O':
        return DecodeOid(content, Take().arcs());
      case 'x':
        return true;
      default:
        return false;
    }
  }

  Asn1Reader& r_;
  std::span<const Asn1ScanArg> outs_;
  std::size_t next_ = 0;
};

std::unique_ptr<Asn1Reader> Asn1Reader::Create(ByteSpan input) {
  try {
    std::unique_ptr<Asn1Reader> reader(new Asn1Reader());
    reader->data_.assign(input.begin(), input.end());
    return reader;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int Asn1ScanArgs(Asn1Reader& reader, std::string_view format, std::span<const Asn1ScanArg> outs) {
  return Asn1ScanRun(reader, outs).Execute(format);
}

}  // namespace quillmark::signeddata
