// DER writer driven by a template of one-letter codes.
//
// An Asn1Writer owns a growable output buffer and a stack of open
// constructed elements. Asn1Print appends the elements that a template
// describes, taking one typed argument per value the codes need; an element
// opened by one call may be filled and closed by later calls on the same
// writer. The encoding is complete when open_elements() is 0; its bytes are
// bytes().
//
// Codes (tag number in brackets; a pending `t`/`T` replaces it):
//   {  [       open a SEQUENCE [16] / SET [17]                   no argument
//   (          open a context element with the given number      int
//   }  ]       close the innermost element, class bits | 0x20    no argument
//   )          close the innermost element, class bits | 0xA0    no argument
//   i  e       INTEGER [2] / ENUMERATED [10], shortest form      int
//   b          BOOLEAN [1], FF for non-zero                      int
//   n          NULL [5]                                          no argument
//   o P U m a  OCTET STRING [4], PrintableString [19], UniversalString [28],
//   M 6        BMPString [30], IA5String [22], T61String [20]    bytes
//   u  g       UTCTime [23] / GeneralizedTime [24]               text
//   B          BIT STRING [3]                                    Asn1Bits
//   I          INTEGER [2] from hexadecimal digits               Asn1Hex
//   O          OBJECT IDENTIFIER [6]                             arcs
//   A          an already encoded element, copied unchanged      bytes
//   t          set the next element's tag number                 int
//   T          set the next element's tag number and class byte  int, int
//
// Argument kinds are checked against the codes before anything is written:
// a missing argument, one of the wrong kind or one left over fails the call.
#ifndef QUILLMARK_SIGNEDDATA_ASN1_WRITER_H_
#define QUILLMARK_SIGNEDDATA_ASN1_WRITER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "common/bytes.h"

namespace quillmark::signeddata {

// The value of a BIT STRING: the first |bit_count| bits of |bytes|, most
// significant bit first. |bytes| must hold at least ceil(bit_count / 8) bytes.
struct Asn1Bits {
  ByteSpan bytes;
  int bit_count = 0;
};

// Hexadecimal digits for the `I` code, either case, at most 256 of them.
// No sign byte is added: the caller puts "00" in front to keep a value
// positive.
struct Asn1Hex {
  std::string_view digits;
};

// One argument of Asn1Print. Converts implicitly from an integer (int
// kind), a byte span or vector (bytes), a string or C string (text, for the
// time codes), an int span or vector (OID arcs), Asn1Bits and Asn1Hex.
// It refers to the caller's bytes without copying them, so it must not
// outlive them; Asn1Print's arguments live for the whole call.
class Asn1PrintArg {
 public:
  enum class Kind { kInt, kBytes, kText, kArcs, kBits, kHex };

  template <typename T>
  requires std::is_integral_v<T> Asn1PrintArg(T value) : value_(static_cast<long long>(value)) {}
  Asn1PrintArg(ByteSpan bytes) : value_(bytes) {}
  Asn1PrintArg(const Bytes& bytes) : value_(ByteSpan(bytes)) {}
  Asn1PrintArg(std::string_view text) : value_(Text{text}) {}
  Asn1PrintArg(const char* text) : value_(Text{text}) {}
  Asn1PrintArg(const std::string& text) : value_(Text{text}) {}
  Asn1PrintArg(std::span<const int> arcs) : value_(arcs) {}
  Asn1PrintArg(const std::vector<int>& arcs) : value_(std::span<const int>(arcs)) {}
  template <std::size_t N>
  Asn1PrintArg(const std::array<int, N>& arcs) : value_(std::span<const int>(arcs)) {}
  Asn1PrintArg(Asn1Bits bits) : value_(bits) {}
  Asn1PrintArg(Asn1Hex hex) : value_(hex) {}

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  // Each accessor requires the matching kind().
  long long integer() const { return std::get<long long>(value_); }
  ByteSpan bytes() const { return std::get<ByteSpan>(value_); }
  std::string_view text() const { return std::get<Text>(value_).text; }
  std::span<const int> arcs() const { return std::get<std::span<const int>>(value_); }
  Asn1Bits bits() const { return std::get<Asn1Bits>(value_); }
  Asn1Hex hex() const { return std::get<Asn1Hex>(value_); }

 private:
  struct Text {
    std::string_view text;
  };
  // Alternatives in the order of Kind.
  std::variant<long long, ByteSpan, Text, std::span<const int>, Asn1Bits, Asn1Hex> value_;
};

class Asn1Writer {
 public:
  // A writer with an empty encoding and an 8192-byte buffer; nullptr when the
  // buffer cannot be allocated.
  static std::unique_ptr<Asn1Writer> Create();

  Asn1Writer(const Asn1Writer&) = delete;
  Asn1Writer& operator=(const Asn1Writer&) = delete;

  // Everything written so far: the finished encoding once no element is
  // open. While elements are open their headers are not yet in place.
  ByteSpan bytes() const { return buffer_; }
  std::size_t size() const { return buffer_.size(); }
  // Grows in steps of 8192 bytes.
  std::size_t capacity() const { return buffer_.capacity(); }
  std::size_t open_elements() const { return open_.size(); }
  // True once a call has failed; every later call fails too.
  bool failed() const { return failed_; }

 private:
  friend class Asn1PrintRun;

  struct OpenElement {
    int tag;
    std::uint8_t class_bits;
    std::size_t content_start;
  };

  Asn1Writer() = default;

  Bytes buffer_;  // size() is the used length
  std::vector<OpenElement> open_;
  bool override_set_ = false;
  int override_tag_ = -1;
  std::uint8_t override_class_ = 0;
  bool failed_ = false;
};

// Appends the elements that |format| describes, taking |args| in order.
//
// Returns the number of bytes this call added to the writer's size(): bytes
// written inside elements that stay open count in the call that writes them,
// and the header of a constructed element counts in the call that closes it.
// So the results of a series of calls that ends with no element open add up
// to the size of the finished encoding.
//
// Returns -1 on an unknown code, a missing, surplus or wrongly typed
// argument, a bad value (negative tag, bit count or integer out of range,
// bad OID arcs, bad hexadecimal text, a length beyond 2^31 - 1), a close with
// no element open, or memory exhaustion. The writer is then unusable.
int Asn1PrintArgs(Asn1Writer& writer, std::string_view format, std::span<const Asn1PrintArg> args);

template <typename... Args>
int Asn1Print(Asn1Writer& writer, std::string_view format, const Args&... args) {
  const std::array<Asn1PrintArg, sizeof...(Args)> list{Asn1PrintArg(args)...};
  return Asn1PrintArgs(writer, format, list);
}

}  // namespace quillmark::signeddata

#endif  // QUILLMARK_SIGNEDDATA_ASN1_WRITER_H_
