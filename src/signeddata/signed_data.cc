#include "signeddata/signed_data.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/hex.h"
#include "common/status.h"
#include "signeddata/asn1_reader.h"
#include "signeddata/asn1_writer.h"

namespace quillmark::signeddata {

namespace {

// An algorithm as the package names it: its dotted text and its arcs.
struct Algorithm {
  std::string_view text;
  std::span<const int> arcs;
};

constexpr std::array<int, 7> kSignedDataArcs = {1, 2, 840, 113549, 1, 7, 2};
constexpr std::array<int, 7> kDataArcs = {1, 2, 840, 113549, 1, 7, 1};
constexpr std::array<int, 6> kSha1Arcs = {1, 3, 14, 3, 2, 26};
constexpr std::array<int, 6> kMd5Arcs = {1, 2, 840, 113549, 2, 5};
constexpr std::array<int, 6> kSm3Arcs = {1, 2, 156, 10197, 1, 401};
constexpr std::array<int, 7> kRsaEncryptionArcs = {1, 2, 840, 113549, 1, 1, 1};
constexpr std::array<int, 6> kSm2Arcs = {1, 2, 156, 10197, 1, 301};
constexpr std::array<int, 6> kEcdsaWithSha1Arcs = {1, 2, 840, 10045, 4, 1};

constexpr Algorithm kSha1{kSha1Oid, kSha1Arcs};
constexpr Algorithm kMd5{kMd5Oid, kMd5Arcs};
constexpr Algorithm kSm3{kSm3Oid, kSm3Arcs};

// The digest algorithms the parser accepts, in the order they are tried.
constexpr std::array<Algorithm, 2> kRsaDigests = {kMd5, kSha1};

// Every digest algorithm here has six arcs; the parser tells a package
// with another count from one naming an unknown 6-arc digest.
constexpr std::size_t kDigestArcCount = 6;

constexpr std::size_t kSm2SignatureSize = 64;
constexpr std::size_t kSm2HalfSize = 32;

bool SameArcs(const std::vector<int>& arcs, std::span<const int> expected) {
  return std::equal(arcs.begin(), arcs.end(), expected.begin(), expected.end());
}

// Lower-case hexadecimal, two digits per byte.
std::string LowerHex(ByteSpan bytes, std::string prefix = {}) {
  std::string out = std::move(prefix);
  out.reserve(out.size() + 2 * bytes.size());
  AppendHexLower(bytes, &out);
  return out;
}

// Hexadecimal digits of an unsigned big-endian value for the `I` code, in
// DER's shortest form: 00 in front when the top bit is set, so that the
// INTEGER stays positive, and no zero bytes in front otherwise (a value of
// 32 bytes starting with 00 would be a non-minimal INTEGER, which strict
// verifiers refuse).
std::string PositiveIntegerHex(ByteSpan value) {
  while (value.size() > 1 && value[0] == 0 && value[1] < 0x80) value = value.subspan(1);
  return LowerHex(value, !value.empty() && value[0] >= 0x80 ? "00" : "");
}

// One template on a fresh writer; nullptr unless it succeeds and leaves no
// element open.
template <typename... Args>
std::unique_ptr<Asn1Writer> Encode(std::string_view format, const Args&... args) {
  std::unique_ptr<Asn1Writer> writer = Asn1Writer::Create();
  if (writer == nullptr || Asn1Print(*writer, format, args...) < 0 ||
      writer->open_elements() != 0) {
    return nullptr;
  }
  return writer;
}

// SignerInfo { 1, {issuer, serial}, {digest, NULL}, {signature alg, NULL},
// OCTET STRING }, inside its SET, written by successive calls that leave the
// SET and the SEQUENCE open between them.
std::unique_ptr<Asn1Writer> EncodeSignerInfos(const platform::CertContext& cert,
                                              std::span<const int> digest_arcs,
                                              std::span<const int> signature_arcs,
                                              ByteSpan encrypted_digest) {
  // The certificate keeps its serial least significant byte first.
  const ByteSpan serial = cert.serial();
  const Bytes serial_msb_first(serial.rbegin(), serial.rend());
  const std::string serial_hex = LowerHex(serial_msb_first);

  std::unique_ptr<Asn1Writer> writer = Asn1Writer::Create();
  if (writer == nullptr || Asn1Print(*writer, "[{i", 1) < 0 ||
      Asn1Print(*writer, "{AI}", cert.issuer_der(), Asn1Hex{serial_hex}) < 0 ||
      Asn1Print(*writer, "{On}", digest_arcs) < 0 ||
      Asn1Print(*writer, "{On}", signature_arcs) < 0 ||
      Asn1Print(*writer, "o}]", encrypted_digest) < 0 || writer->open_elements() != 0) {
    return nullptr;
  }
  return writer;
}

int BuildSignedData(bool detached, ByteSpan content, const platform::CertContext& cert,
                    const Algorithm& digest, std::span<const int> signature_arcs,
                    ByteSpan encrypted_digest, Bytes* package) {
  try {
    const auto version = Encode("i", 1);
    const auto digest_algorithms = Encode("[{On}]", digest.arcs);
    const auto content_info =
        detached ? Encode("{O}", kDataArcs) : Encode("{O(o)}", kDataArcs, 0, content);
    const auto certificates = Encode("(A)", 0, cert.der());
    const auto signer_infos =
        EncodeSignerInfos(cert, digest.arcs, signature_arcs, encrypted_digest);
    if (!version || !digest_algorithms || !content_info || !certificates || !signer_infos) {
      return kErrDerEncode;
    }
    const auto whole =
        Encode("{O({AAAAA})}", kSignedDataArcs, 0, version->bytes(), digest_algorithms->bytes(),
               content_info->bytes(), certificates->bytes(), signer_infos->bytes());
    if (!whole) return kErrDerEncode;
    try {
      package->assign(whole->bytes().begin(), whole->bytes().end());
    } catch (const std::bad_alloc&) {
      return kErrMemoryCopy;
    }
  } catch (const std::bad_alloc&) {
    // The serial's text or a writer's handle could not be allocated.
    return kErrDerEncode;
  }
  return kOk;
}

}  // namespace

int BuildRsaSignedData(bool detached, ByteSpan content, const platform::CertContext& cert,
                       std::string_view digest_oid, ByteSpan signature, Bytes* package) {
  package->clear();
  const Algorithm* digest = nullptr;
  if (digest_oid == kSha1.text) {
    digest = &kSha1;
  } else if (digest_oid == kMd5.text) {
    digest = &kMd5;
  } else {
    return kErrBadAlgorithm;
  }
  return BuildSignedData(detached, content, cert, *digest, kRsaEncryptionArcs, signature, package);
}

int BuildEcSignedData(bool detached, ByteSpan content, const platform::CertContext& cert,
                      std::string_view digest_oid, ByteSpan signature, Bytes* package) {
  package->clear();
  if (digest_oid != kSha1.text) return kErrBadAlgorithm;
  return BuildSignedData(detached, content, cert, kSha1, kEcdsaWithSha1Arcs, signature, package);
}

int BuildSm2SignedData(bool detached, ByteSpan content, const platform::CertContext& cert,
                       std::string_view digest_oid, ByteSpan signature, Bytes* package) {
  package->clear();
  if (signature.size() != kSm2SignatureSize) return kErrDerEncode;
  // SEQUENCE { INTEGER r, INTEGER s }, r and s 32 bytes each.
  std::unique_ptr<Asn1Writer> value;
  try {
    const ByteSpan r = signature.first(kSm2HalfSize);
    const ByteSpan s = signature.last(kSm2HalfSize);
    const std::string r_hex = PositiveIntegerHex(r);
    const std::string s_hex = PositiveIntegerHex(s);
    value = Encode("{II}", Asn1Hex{r_hex}, Asn1Hex{s_hex});
  } catch (const std::bad_alloc&) {
    return kErrDerEncode;
  }
  if (!value) return kErrDerEncode;
  if (digest_oid != kSm3.text) return kErrBadAlgorithm;
  return BuildSignedData(detached, content, cert, kSm3, kSm2Arcs, value->bytes(), package);
}

namespace {

// The five SignedData fields, each whole.
struct SignedDataFields {
  Bytes version, digest_algorithms, content_info, certificates, signer_infos;
};

// Whether |package| is one element and nothing after it.
bool IsOneElement(ByteSpan package) {
  const auto reader = Asn1Reader::Create(package);
  return reader != nullptr && Asn1Scan(*reader, "x") == 0 && reader->remaining() == 0;
}

// ContentInfo: the outer type, then the five SignedData fields.
int ReadOuter(ByteSpan package, SignedDataFields* f) {
  if (!IsOneElement(package)) return kErrBerDecode;
  std::vector<int> outer_type;
  const auto reader = Asn1Reader::Create(package);
  if (reader == nullptr) return kErrBerDecode;
  if (Asn1Scan(*reader, "{O({$$$$$})}", &outer_type, &f->version, &f->digest_algorithms,
               &f->content_info, &f->certificates, &f->signer_infos) != 0) {
    return kErrBerDecode;
  }
  return SameArcs(outer_type, kSignedDataArcs) ? kOk : kErrNotSignedData;
}

// contentInfo: a detached package ends after the type, so the scan stops at
// the missing [0]; only a complete scan means content is present.
int ReadContent(ByteSpan content_info, bool want_content, Bytes* content) {
  std::vector<int> content_type;
  bool has_content = false;
  {
    const auto reader = Asn1Reader::Create(content_info);
    if (reader == nullptr) return kErrBerDecode;
    has_content = Asn1Scan(*reader, "{O(o)}", &content_type, content) == 0;
  }
  if (!SameArcs(content_type, kDataArcs)) return kErrNotSignedData;
  if (!has_content) {
    content->clear();
  } else if (!want_content) {
    return kErrInvalidSignature;
  }
  return kOk;
}

// signerInfos: the version and the issuer and serial are read past, not
// used; the signer is the embedded certificate.
int ReadSignerInfo(ByteSpan signer_infos, ParsedSignedData* out) {
  std::vector<int> digest_arcs, signature_arcs;
  {
    const auto reader = Asn1Reader::Create(signer_infos);
    if (reader == nullptr) return kErrBerDecode;
    int signer_version = 0;
    Bytes issuer;
    std::string serial;
    Asn1Scan(*reader, "[{i", &signer_version);
    Asn1Scan(*reader, "{$I}", &issuer, &serial);
    Asn1Scan(*reader, "{On}", &digest_arcs);
    Asn1Scan(*reader, "{On}", &signature_arcs);
    if (Asn1Scan(*reader, "o}]", &out->signature) != 0) return kErrBerDecode;
  }
  if (!SameArcs(signature_arcs, kRsaEncryptionArcs)) return kErrNotSignedData;
  if (digest_arcs.size() != kDigestArcCount) return kErrNotSignedData;
  for (const Algorithm& candidate : kRsaDigests) {
    if (SameArcs(digest_arcs, candidate.arcs)) {
      out->digest_oid.assign(candidate.text);
      return kOk;
    }
  }
  return kErrBadAlgorithm;
}

// certificates: the first one is the signer's.
int ReadSignerCertificate(ByteSpan certificates, platform::CertContextPtr* out) {
  Bytes certificate;
  {
    const auto reader = Asn1Reader::Create(certificates);
    if (reader == nullptr || Asn1Scan(*reader, "($)", &certificate) != 0) return kErrBerDecode;
  }
  *out = platform::CertCreateCertificateContext(platform::kDefaultEncoding, certificate);
  return *out == nullptr ? kErrCertContext : kOk;
}

int Parse(ByteSpan package, bool want_content, ParsedSignedData* out) {
  SignedDataFields f;
  int status = ReadOuter(package, &f);
  if (status == kOk) status = ReadContent(f.content_info, want_content, &out->content);
  if (status == kOk) status = ReadSignerInfo(f.signer_infos, out);
  if (status == kOk) status = ReadSignerCertificate(f.certificates, &out->certificate);
  return status;
}

}  // namespace

int ParseRsaSignedData(ByteSpan package, bool want_content, ParsedSignedData* out) {
  ParsedSignedData parsed;
  int status;
  try {
    status = Parse(package, want_content, &parsed);
  } catch (const std::bad_alloc&) {
    status = kErrNoMemory;
  }
  *out = status == kOk ? std::move(parsed) : ParsedSignedData{};
  return status;
}

}  // namespace quillmark::signeddata
