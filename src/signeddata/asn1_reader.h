// DER reader driven by a template of one-letter codes.
//
// An Asn1Reader walks its own copy of an encoding from front to back.
// Asn1Scan reads one element header per code and hands out the content
// through typed out-arguments. Tags and classes are never compared with the
// template, and constructed elements do not bound what is read inside them:
// the template only says how many headers to consume and how to read each
// content. Successive calls on one reader continue where the last stopped.
//
// Codes and their out-arguments (a null pointer discards that output):
//   {  [  (    read a header; the next code reads the first element inside
//   }  ]  )    nothing is read
//   t          peek at the next tag: number and class byte   int*, uint8_t*
//   $          the whole next element, header and content    Bytes*
//   i  e       content of 0 to 4 bytes, sign-extended         int*
//   b          one content byte, 00 or FF                     uint8_t*
//   n          a header only; the content is not read
//   o  6       the content bytes                              Bytes*
//   a  u  g    the content as text                            std::string*
//   B          the bits, last byte masked; the bit count      Bytes*, int*
//   I          the content as upper-case hexadecimal text     std::string*
//   O          the arcs of an OBJECT IDENTIFIER (at most 50)  std::vector<int>*
//   x          skip the content
//
// Header limits: a high tag number of at most 5 bytes that fits an int; a
// length byte below 0x80, or 0x80 | n with n from 0 to 4 (0 means length 0)
// followed by n bytes giving at most 2^31 - 1.
#ifndef QUILLMARK_SIGNEDDATA_ASN1_READER_H_
#define QUILLMARK_SIGNEDDATA_ASN1_READER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/bytes.h"

namespace quillmark::signeddata {

// Results of Asn1Scan besides 0.
inline constexpr int kAsn1Malformed = -1;
inline constexpr int kAsn1EndOfInput = -2;

// One out-argument of Asn1Scan.
class Asn1ScanArg {
 public:
  enum class Kind { kInt, kByte, kBytes, kText, kArcs };

  Asn1ScanArg(int* out) : out_(out) {}
  Asn1ScanArg(std::uint8_t* out) : out_(out) {}
  Asn1ScanArg(Bytes* out) : out_(out) {}
  Asn1ScanArg(std::string* out) : out_(out) {}
  Asn1ScanArg(std::vector<int>* out) : out_(out) {}

  Kind kind() const { return static_cast<Kind>(out_.index()); }
  // Each accessor requires the matching kind(); the pointer may be null.
  int* integer() const { return std::get<int*>(out_); }
  std::uint8_t* byte() const { return std::get<std::uint8_t*>(out_); }
  Bytes* bytes() const { return std::get<Bytes*>(out_); }
  std::string* text() const { return std::get<std::string*>(out_); }
  std::vector<int>* arcs() const { return std::get<std::vector<int>*>(out_); }

 private:
  // Alternatives in the order of Kind.
  std::variant<int*, std::uint8_t*, Bytes*, std::string*, std::vector<int>*> out_;
};

class Asn1Reader {
 public:
  // A reader over a copy of |input|; nullptr when the copy cannot be made.
  static std::unique_ptr<Asn1Reader> Create(ByteSpan input);

  Asn1Reader(const Asn1Reader&) = delete;
  Asn1Reader& operator=(const Asn1Reader&) = delete;

  std::size_t position() const { return position_; }
  std::size_t remaining() const { return data_.size() - position_; }

 private:
  friend class Asn1ScanRun;

  Asn1Reader() = default;

  Bytes data_;
  std::size_t position_ = 0;
};

// Reads the elements that |format| describes and stores their values
// through |outs| in order.
//
// Returns 0 on success; kAsn1EndOfInput (-2) when the input ends where a
// header is due (a `t` or `$` at the end included); kAsn1Malformed (-1) on an
// unknown code, a missing, surplus or wrongly typed out-argument (nothing is
// read then), a header beyond the limits, a content shorter than its length,
// or a content the code cannot take. Values stored by earlier codes of a
// failed call stay stored.
int Asn1ScanArgs(Asn1Reader& reader, std::string_view format, std::span<const Asn1ScanArg> outs);

template <typename... Outs>
int Asn1Scan(Asn1Reader& reader, std::string_view format, Outs... outs) {
  const std::array<Asn1ScanArg, sizeof...(Outs)> list{Asn1ScanArg(outs)...};
  return Asn1ScanArgs(reader, format, list);
}

}  // namespace quillmark::signeddata

#endif  // QUILLMARK_SIGNEDDATA_ASN1_READER_H_
