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

// Where the scans write; shared so that a later scan overwrites them.
struct Outputs {
  int number = 0, bits = 0;
  std::uint8_t cls = 0, flag = 0;
  Bytes bytes, whole;
  std::string text;
  std::vector<int> arcs;
};

// The shapes the SignedData parser and certificate readers use.
void ScanTemplates(ByteSpan in, Outputs* o) {
  if (auto r = sd::Asn1Reader::Create(in)) {
    Check(sd::Asn1Scan(*r, "{O[{", &o->arcs), *r, in.size());
    Check(sd::Asn1Scan(*r, "i{{Oe}}{Oo}$", &o->number, &o->arcs, &o->number, &o->arcs, &o->bytes,
                       &o->whole),
          *r, in.size());
  }
  if (auto r = sd::Asn1Reader::Create(in)) {
    Check(
        sd::Asn1Scan(*r, "{{tiIB", &o->number, &o->cls, &o->number, &o->text, &o->bytes, &o->bits),
        *r, in.size());
    Check(sd::Asn1Scan(*r, "{$}{bauxg)", &o->whole, &o->flag, &o->text, &o->text, &o->text), *r,
          in.size());
    if (o->bits < 0 || o->bytes.size() * 8 < static_cast<std::size_t>(o->bits)) std::abort();
  }
}

// One scan of a single code, with the outputs that code takes.
int ScanCode(sd::Asn1Reader& r, const char* code, Outputs* o) {
  switch (code[0]) {
    case 't':
      return sd::Asn1Scan(r, "tx", &o->number, &o->cls);
    case '$':
      return sd::Asn1Scan(r, code, &o->whole);
    case 'i':
    case 'e':
      return sd::Asn1Scan(r, code, &o->number);
    case 'b':
      return sd::Asn1Scan(r, code, &o->flag);
    case 'o':
    case '6':
      return sd::Asn1Scan(r, code, &o->bytes);
    case 'a':
    case 'u':
    case 'g':
    case 'I':
      return sd::Asn1Scan(r, code, &o->text);
    case 'B':
      return sd::Asn1Scan(r, code, &o->bytes, &o->bits);
    case 'O':
      return sd::Asn1Scan(r, code, &o->arcs);
    default:
      return sd::Asn1Scan(r, code);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteSpan in(data, size);
  Outputs o;
  ScanTemplates(in, &o);
  // Each code alone, repeated until the input is used up.
  static const char* const kSingles[] = {"t", "$", "i", "e", "b", "n", "o", "6", "a",
                                         "u", "g", "B", "I", "O", "x", "{", "["};
  for (const char* code : kSingles) {
    auto r = sd::Asn1Reader::Create(in);
    if (!r) return 0;
    for (int guard = 0; guard < 64; ++guard) {
      const std::size_t before = r->position();
      const int status = ScanCode(*r, code, &o);
      Check(status, *r, size);
      if (code[0] == 'O' && status == 0 && o.arcs.size() > 50) std::abort();
      if (status != 0 || r->position() == before) break;
    }
  }
  return 0;
}
