// The template DER reader: a few fixed templates (the shapes the SignedData
// parser and certificate readers use, plus every single code) scanned over
// arbitrary bytes never crash, never read past the input, and either succeed
// or return one of the two documented failures.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "signeddata/asn1_reader.h"

using quillmark::Bytes;
using quillmark::ByteSpan;
namespace sd = quillmark::signeddata;

namespace {

void Check(int status, const sd::Asn1Reader& reader, std::size_t size) {
  if (status != 0 && status != sd::kAsn1Malformed && status != sd::kAsn1EndOfInput) std::abort();
  if (reader.position() > size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteSpan in(data, size);
  int number = 0, bits = 0;
  std::uint8_t cls = 0, flag = 0;
  Bytes bytes, whole;
  std::string text;
  std::vector<int> arcs;

  if (auto r = sd::Asn1Reader::Create(in)) {
    Check(sd::Asn1Scan(*r, "{O[{", &arcs), *r, size);
    Check(sd::Asn1Scan(*r, "i{{Oe}}{Oo}$", &number, &arcs, &number, &arcs, &bytes, &whole), *r,
          size);
  }
  if (auto r = sd::Asn1Reader::Create(in)) {
    Check(sd::Asn1Scan(*r, "{{tiIB", &number, &cls, &number, &text, &bytes, &bits), *r, size);
    Check(sd::Asn1Scan(*r, "{$}{bauxg)", &whole, &flag, &text, &text, &text), *r, size);
    if (bits < 0 || bytes.size() * 8 < static_cast<std::size_t>(bits)) std::abort();
  }
  // Each code alone, repeated until the input is used up.
  static const char* const kSingles[] = {"t", "$", "i", "e", "b", "n", "o", "6", "a",
                                         "u", "g", "B", "I", "O", "x", "{", "["};
  for (const char* code : kSingles) {
    auto r = sd::Asn1Reader::Create(in);
    if (!r) return 0;
    for (int guard = 0; guard < 64; ++guard) {
      const std::size_t before = r->position();
      int status;
      switch (code[0]) {
        case 't':
          status = sd::Asn1Scan(*r, "tx", &number, &cls);
          break;
        case '$':
          status = sd::Asn1Scan(*r, code, &whole);
          break;
        case 'i':
        case 'e':
          status = sd::Asn1Scan(*r, code, &number);
          break;
        case 'b':
          status = sd::Asn1Scan(*r, code, &flag);
          break;
        case 'o':
        case '6':
          status = sd::Asn1Scan(*r, code, &bytes);
          break;
        case 'a':
        case 'u':
        case 'g':
        case 'I':
          status = sd::Asn1Scan(*r, code, &text);
          break;
        case 'B':
          status = sd::Asn1Scan(*r, code, &bytes, &bits);
          break;
        case 'O':
          status = sd::Asn1Scan(*r, code, &arcs);
          break;
        default:
          status = sd::Asn1Scan(*r, code);
          break;
      }
      Check(status, *r, size);
      if (code[0] == 'O' && status == 0 && arcs.size() > 50) std::abort();
      if (status != 0 || r->position() == before) break;
    }
  }
  return 0;
}
