#include "signeddata/asn1_writer.h"
#include "common/hex.h"

#include <climits>
#include <functional>
#include <new>

namespace quillmark::signeddata {

namespace {

constexpr std::size_t kGrowStep = 8192;
constexpr std::size_t kMaxHexDigits = 256;
constexpr std::size_t kMinArcs = 2;
constexpr std::size_t kMaxArcs = 50;

using Kind = Asn1PrintArg::Kind;

// The argument kinds a code takes, or false for an unknown code.
bool ArgumentsOf(char code, std::vector<Kind>* kinds) {
  kinds->clear();
  switch (code) {
    case '{':
    case '[':
    case '}':
    case ']':
    case ')':
    case 'n':
      return true;
    case '(':
    case 'i':
    case 'e':
    case 'b':
    case 't':
      kinds->push_back(Kind::kInt);
      return true;
    case 'T':
      kinds->assign({Kind::kInt, Kind::kInt});
      return true;
    case 'o':
    case 'P':
    case 'U':
    case 'm':
    case 'a':
    case 'M':
    case '6':
    case 'A':
      kinds->push_back(Kind::kBytes);
      return true;
    case 'u':
    case 'g':
      kinds->push_back(Kind::kText);
      return true;
    case 'B':
      kinds->push_back(Kind::kBits);
      return true;
    case 'I':
      kinds->push_back(Kind::kHex);
      return true;
    case 'O':
      kinds->push_back(Kind::kArcs);
      return true;
    default:
      return false;
  }
}

// Default tag numbers of the primitive codes.
int DefaultTag(char code) {
  switch (code) {
    case 'i':
    case 'I':
      return 2;
    case 'e':
      return 10;
    case 'b':
      return 1;
    case 'n':
      return 5;
    case 'o':
      return 4;
    case 'P':
      return 19;
    case 'U':
      return 28;
    case 'm':
      return 30;
    case 'a':
      return 22;
    case 'M':
    case '6':
      return 20;
    case 'u':
      return 23;
    case 'g':
      return 24;
    case 'B':
      return 3;
    case 'O':
      return 6;
    case '{':
      return 16;
    case '[':
      return 17;
    default:
      return -1;
  }
}

void AppendBase128(std::uint32_t value, Bytes* out) {
  std::uint8_t digits[5];
  int count = 0;
  do {
    digits[count++] = value & 0x7F;
    value >>= 7;
  } while (value != 0);
  while (count > 1) out->push_back(digits[--count] | 0x80);
  out->push_back(digits[0]);
}

bool EncodeTag(std::uint8_t class_bits, int number, Bytes* out) {
  if (number < 0) return false;
  if (number <= 30) {
    out->push_back(static_cast<std::uint8_t>((class_bits & 0xE0) | number));
  } else {
    out->push_back(class_bits | 0x1F);
    AppendBase128(static_cast<std::uint32_t>(number), out);
  }
  return true;
}

bool EncodeLength(std::size_t length, Bytes* out) {
  if (length > static_cast<std::size_t>(INT_MAX)) return false;
  if (length < 0x80) {
    out->push_back(static_cast<std::uint8_t>(length));
    return true;
  }
  int n = 1;
  while (n < 4 && (length >> (8 * n)) != 0) ++n;
  out->push_back(static_cast<std::uint8_t>(0x80 | n));
  for (int i = n - 1; i >= 0; --i) out->push_back(static_cast<std::uint8_t>(length >> (8 * i)));
  return true;
}

// Shortest two's-complement form of a 32-bit value.
void EncodeInteger(std::int32_t value, Bytes* out) {
  const std::uint32_t bits = static_cast<std::uint32_t>(value);
  int n = 4;
  while (n > 1) {
    const std::uint8_t top = bits >> (8 * (n - 1));
    const std::uint8_t next_high_bit = (bits >> (8 * (n - 2) + 7)) & 1;
    if ((top == 0x00 && !next_high_bit) || (top == 0xFF && next_high_bit)) {
      --n;
    } else {
      break;
    }
  }
  for (int i = n - 1; i >= 0; --i) out->push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}

bool EncodeOid(std::span<const int> arcs, Bytes* out) {
  if (arcs.size() < kMinArcs || arcs.size() > kMaxArcs) return false;
  for (int arc : arcs) {
    if (arc < 0) return false;
  }
  if (arcs[0] > 2 || arcs[1] > 39) return false;
  out->push_back(static_cast<std::uint8_t>(40 * arcs[0] + arcs[1]));
  for (std::size_t i = 2; i < arcs.size(); ++i) {
    AppendBase128(static_cast<std::uint32_t>(arcs[i]), out);
  }
  return true;
}

bool EncodeHex(std::string_view digits, Bytes* out) {
  if (digits.size() > kMaxHexDigits) return false;
  std::size_t i = 0;
  if (digits.size() % 2 == 1) {
    const int low = HexDigitValue(digits[0]);
    if (low < 0) return false;
    out->push_back(static_cast<std::uint8_t>(low));
    i = 1;
  }
  for (; i < digits.size(); i += 2) {
    const int high = HexDigitValue(digits[i]);
    const int low = HexDigitValue(digits[i + 1]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return true;
}

bool EncodeBits(Asn1Bits bits, Bytes* out) {
  if (bits.bit_count < 0) return false;
  const std::size_t whole = (static_cast<std::size_t>(bits.bit_count) + 7) / 8;
  if (bits.bytes.size() < whole) return false;
  const int unused = static_cast<int>(8 * whole) - bits.bit_count;
  out->push_back(static_cast<std::uint8_t>(unused));
  out->insert(out->end(), bits.bytes.begin(), bits.bytes.begin() + whole);
  if (whole > 0) out->back() &= static_cast<std::uint8_t>(0xFF << unused);
  return true;
}

}  // namespace

// One Asn1PrintArgs call: walks the codes and appends to the writer.
class Asn1PrintRun {
 public:
  Asn1PrintRun(Asn1Writer& writer, std::span<const Asn1PrintArg> args) : w_(writer), args_(args) {}

  int Execute(std::string_view format) {
    if (w_.failed_) return -1;
    const std::size_t before = w_.buffer_.size();
    bool ok;
    try {
      ok = CheckArguments(format) && Run(format);
    } catch (const std::bad_alloc&) {
      ok = false;
    }
    const std::size_t added = w_.buffer_.size() - before;
    if (!ok || added > static_cast<std::size_t>(INT_MAX)) {
      w_.failed_ = true;
      return -1;
    }
    return static_cast<int>(added);
  }

 private:
  bool CheckArguments(std::string_view format) const {
    std::vector<Kind> kinds;
    std::size_t next = 0;
    for (char code : format) {
      if (!ArgumentsOf(code, &kinds)) return false;
      for (Kind kind : kinds) {
        if (next >= args_.size() || args_[next].kind() != kind) return false;
        ++next;
      }
    }
    return next == args_.size();
  }

  bool Run(std::string_view format) {
    for (char code : format) {
      if (!Step(code)) return false;
    }
    return true;
  }

  const Asn1PrintArg& Take() { return args_[next_++]; }

  bool TakeInt(int* value) {
    const long long v = Take().integer();
    if (v < INT_MIN || v > INT_MAX) return false;
    *value = static_cast<int>(v);
    return true;
  }

  // Makes room for |extra| more bytes, growing the capacity in whole steps.
  // Throws std::bad_alloc, which Execute turns into a failed call.
  void Reserve(std::size_t extra) {
    const std::size_t needed = w_.buffer_.size() + extra;
    if (needed <= w_.buffer_.capacity()) return;
    const std::size_t steps = (needed - w_.buffer_.capacity() + kGrowStep - 1) / kGrowStep;
    w_.buffer_.reserve(w_.buffer_.capacity() + steps * kGrowStep);
  }

  bool Append(ByteSpan bytes) {
    const std::less<const std::uint8_t*> before;
    const std::uint8_t* begin = w_.buffer_.data();
    if (!bytes.empty() && !before(bytes.data(), begin) &&
        before(bytes.data(), begin + w_.buffer_.size())) {
      // The bytes come from this writer's own buffer, which may move.
      const Bytes copy(bytes.begin(), bytes.end());
      return Append(copy);
    }
    Reserve(bytes.size());
    w_.buffer_.insert(w_.buffer_.end(), bytes.begin(), bytes.end());
    return true;
  }

  // The tag of the next element: the pending override, else |default_tag|.
  void NextTag(int default_tag, int* number, std::uint8_t* class_bits) {
    *number = default_tag;
    *class_bits = 0;
    if (w_.override_set_) {
      *number = w_.override_tag_;
      *class_bits = w_.override_class_;
    }
  }

  void ClearOverride() {
    w_.override_set_ = false;
    w_.override_tag_ = -1;
    w_.override_class_ = 0;
  }

  bool WritePrimitive(char code, ByteSpan content) {
    int number;
    std::uint8_t class_bits;
    NextTag(DefaultTag(code), &number, &class_bits);
    Bytes header;
    if (!EncodeTag(class_bits, number, &header) || !EncodeLength(content.size(), &header)) {
      return false;
    }
    return Append(header) && Append(content);
  }

  bool Open(int number, std::uint8_t class_bits) {
    if (number < 0) return false;
    w_.open_.push_back({number, class_bits, w_.buffer_.size()});
    return true;
  }

  // Puts the innermost element's header in front of its content.
  bool Close(std::uint8_t constructed_bits) {
    if (w_.open_.empty()) return false;
    const Asn1Writer::OpenElement element = w_.open_.back();
    w_.open_.pop_back();
    Bytes header;
    if (!EncodeTag(element.class_bits | constructed_bits, element.tag, &header) ||
        !EncodeLength(w_.buffer_.size() - element.content_start, &header)) {
      return false;
    }
    Reserve(header.size());
    w_.buffer_.insert(w_.buffer_.begin() + element.content_start, header.begin(), header.end());
    return true;
  }

  bool Step(char code) {
    if (code == 't' || code == 'T') {
      int number, class_byte = 0;
      if (!TakeInt(&number) || (code == 'T' && !TakeInt(&class_byte))) return false;
      if (number < 0) return false;
      w_.override_set_ = true;
      w_.override_tag_ = number;
      if (code == 'T') w_.override_class_ = static_cast<std::uint8_t>(class_byte & 0xFF);
      return true;
    }
    const bool ok = Element(code);
    ClearOverride();
    return ok;
  }

  bool Element(char code) {
    Bytes content;
    switch (code) {
      case '{':
      case '[': {
        int number;
        std::uint8_t class_bits;
        NextTag(DefaultTag(code), &number, &class_bits);
        return Open(number, class_bits);
      }
      case '(': {
        int number;
        if (!TakeInt(&number)) return false;
        return Open(number, w_.override_set_ ? w_.override_class_ : 0);
      }
      case '}':
      case ']':
        return Close(0x20);
      case ')':
        return Close(0xA0);
      case 'i':
      case 'e': {
        int value;
        if (!TakeInt(&value)) return false;
        EncodeInteger(value, &content);
        return WritePrimitive(code, content);
      }
      case 'b': {
        const std::uint8_t value = Take().integer() != 0 ? 0xFF : 0x00;
        return WritePrimitive(code, ByteSpan(&value, 1));
      }
      case 'n':
        return WritePrimitive(code, {});
      case 'o':
      case 'P':
      case 'U':
      case 'm':
      case 'a':
      case 'M':
      case '6':
        return WritePrimitive(code, Take().bytes());
      case 'u':
      case 'g':
        return WritePrimitive(code, AsBytes(Take().text()));
      case 'B':
        return EncodeBits(Take().bits(), &content) && WritePrimitive(code, content);
      case 'I':
        return EncodeHex(Take().hex().digits, &content) && WritePrimitive(code, content);
      case 'O':
        return EncodeOid(Take().arcs(), &content) && WritePrimitive(code, content);
      case 'A': {
        const ByteSpan encoded = Take().bytes();
        return encoded.size() <= static_cast<std::size_t>(INT_MAX) && Append(encoded);
      }
      default:
        return false;
    }
  }

  Asn1Writer& w_;
  std::span<const Asn1PrintArg> args_;
  std::size_t next_ = 0;
};

std::unique_ptr<Asn1Writer> Asn1Writer::Create() {
  try {
    std::unique_ptr<Asn1Writer> writer(new Asn1Writer());
    writer->buffer_.reserve(kGrowStep);
    return writer;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int Asn1PrintArgs(Asn1Writer& writer, std::string_view format, std::span<const Asn1PrintArg> args) {
  return Asn1PrintRun(writer, args).Execute(format);
}

}  // namespace quillmark::signeddata
