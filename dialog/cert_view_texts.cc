#include "cert_view_texts.h"

#include <algorithm>
#include <array>
#include <optional>

#include "certs/cert_info.h"
#include "common/unicode.h"
#include "platform/chain/cert_chain.h"
#include "platform/names/cert_extension.h"
#include "platform/openssl/pem.h"
#include "platform/os/files.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context.h"

namespace quillmark::dialog {

namespace pf = quillmark::platform;

namespace {

constexpr std::uint64_t kMaxFileSize = std::uint64_t{1} << 20;

struct OidName {
  std::string_view oid;
  std::u16string_view name;
};

constexpr std::array<OidName, 22> kOidNames = {{
    {"1.2.840.113549.1.1.1", u"RSA"},
    {"1.2.840.113549.1.1.5", u"sha1RSA"},
    {"1.2.840.113549.1.1.11", u"sha256RSA"},
    {"1.2.840.113549.1.1.12", u"sha384RSA"},
    {"1.2.840.113549.1.1.13", u"sha512RSA"},
    {"1.2.840.10045.2.1", u"ECC"},
    {"1.2.840.10045.4.3.2", u"sha256ECDSA"},
    {"1.2.840.10045.4.3.3", u"sha384ECDSA"},
    {"1.2.156.10197.1.501", u"SM3withSM2"},
    {"1.2.156.10197.1.301", u"SM2"},
    {"2.5.29.14", u"Subject Key Identifier"},
    {"2.5.29.15", u"Key Usage"},
    {"2.5.29.17", u"Subject Alternative Name"},
    {"2.5.29.18", u"Issuer Alternative Name"},
    {"2.5.29.19", u"Basic Constraints"},
    {"2.5.29.31", u"CRL Distribution Points"},
    {"2.5.29.32", u"Certificate Policies"},
    {"2.5.29.35", u"Authority Key Identifier"},
    {"2.5.29.37", u"Enhanced Key Usage"},
    {"1.3.6.1.5.5.7.1.1", u"Authority Information Access"},
    {"2.5.29.30", u"Name Constraints"},
    {"2.16.840.1.113730.1.1", u"Netscape Cert Type"},
}};

std::optional<std::u16string> KnownName(std::string_view oid) {
  for (const OidName& n : kOidNames) {
    if (n.oid == oid) return std::u16string(n.name);
  }
  return std::nullopt;
}

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// "sha256RSA (1.2.840.113549.1.1.11)", or the OID alone.
std::u16string Named(std::string_view oid) {
  std::optional<std::u16string> name = KnownName(oid);
  return name ? *name + u" (" + Ascii(oid) + u")" : Ascii(oid);
}

// The key's algorithm; an EC key on the SM2 curve is SM2.
std::u16string KeyAlgorithm(const pf::CertContext& cert) {
  static constexpr std::array<std::uint8_t, 10> kSm2Curve = {0x06, 0x08, 0x2A, 0x81, 0x1C,
                                                             0xCF, 0x55, 0x01, 0x82, 0x2D};
  ByteSpan spki = cert.public_key_info_der();
  if (cert.public_key_algorithm_oid() == "1.2.840.10045.2.1" &&
      std::search(spki.begin(), spki.end(), kSm2Curve.begin(), kSm2Curve.end()) != spki.end()) {
    return u"SM2 (1.2.156.10197.1.301)";
  }
  return Named(cert.public_key_algorithm_oid());
}

std::u16string FieldText(const pf::CertContext& cert, std::uint32_t field) {
  std::u16string text;
  if (certs::CertFieldText(&cert, field, &text) != 0) return u"(cannot be shown)";
  return text;
}

std::u16string TrustText(std::uint32_t error) {
  struct Bit {
    std::uint32_t bit;
    std::u16string_view text;
  };
  static constexpr std::array<Bit, 8> kBits = {{
      {pf::kCertTrustIsNotSignatureValid, u"signature not valid"},
      {pf::kCertTrustIsRevoked, u"revoked"},
      {pf::kCertTrustIsUntrustedRoot, u"untrusted root"},
      {pf::kCertTrustIsNotTimeValid, u"expired or not yet valid"},
      {pf::kCertTrustIsNotTimeNested, u"validity not within the issuer's"},
      {pf::kCertTrustIsNotValidForUsage, u"not valid for this use"},
      {pf::kCertTrustRevocationStatusUnknown, u"revocation unknown"},
      {pf::kCertTrustIsCyclic, u"cyclic chain"},
  }};
  std::u16string out;
  for (const Bit& b : kBits) {
    if ((error & b.bit) == 0) continue;
    if (!out.empty()) out += u", ";
    out += b.text;
  }
  if (out.empty() && error != 0) out = u"not valid";
  return out.empty() ? u"OK" : out;
}

std::u16string VerdictText(std::uint32_t error) {
  switch (error) {
    case 0:
      return u"The certificate chains to a trusted root.";
    case pf::kCertEUntrustedRoot:
      return u"The chain ends in a root that is not trusted.";
    case pf::kCertEChaining:
      return u"The issuer of a certificate in the chain is not in the stores.";
    case pf::kCryptERevoked:
      return u"A certificate in the chain is revoked.";
    case pf::kCertEExpired:
      return u"A certificate in the chain has expired or is not yet valid.";
    case pf::kTrustECertSignature:
      return u"A signature in the chain does not verify.";
    default:
      break;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::u16string code = u"0x";
  for (int shift = 28; shift >= 0; shift -= 4) code.push_back(kHex[(error >> shift) & 0xF]);
  return u"The chain is not valid (" + code + u").";
}

void AddChain(const pf::CertContextPtr& cert, CertView* view) {
  pf::CertChainContextPtr chain;
  pf::CertChainPolicyStatus status;
  if (!pf::CertGetCertificateChain(nullptr, cert, std::nullopt, nullptr, pf::CertChainPara(),
                                   pf::kCertChainRevocationCheckChainExcludeRoot, &chain) ||
      !pf::CertVerifyCertificateChainPolicy(pf::kCertChainPolicyBase, chain.get(),
                                            {pf::kCertChainPolicyIgnoreAllRevUnknownFlags},
                                            &status)) {
    view->verdict = u"The chain could not be built.";
    return;
  }
  for (const pf::CertChainElement& e : chain->elements) {
    CertView::Link link;
    link.subject = FieldText(*e.cert, certs::kFieldSubject);
    link.store = Ascii(e.cert->store_name());
    link.status = TrustText(e.trust_status.error_status);
    view->chain.push_back(std::move(link));
  }
  view->verdict = VerdictText(status.error);
}

}  // namespace

bool MakeCertView(ByteSpan bytes, CertView* view, std::string* error) {
  Bytes der(bytes.begin(), bytes.end());
  if (pf::LooksLikePem(bytes)) {
    std::vector<pf::PemBlock> blocks;
    auto cert_block = [](const pf::PemBlock& b) { return b.label == "CERTIFICATE"; };
    if (!pf::ReadPemBlocks(bytes, &blocks) ||
        std::find_if(blocks.begin(), blocks.end(), cert_block) == blocks.end()) {
      *error = "the PEM text holds no certificate";
      return false;
    }
    der = std::find_if(blocks.begin(), blocks.end(), cert_block)->der;
  }
  pf::CertContextPtr cert = pf::CertCreateCertificateContext(pf::kDefaultEncoding, der);
  if (!cert) {
    *error = "not a certificate (DER or PEM)";
    return false;
  }
  *view = CertView();
  view->fields = {
      {u"Version", u"V" + Ascii(std::to_string(cert->version()))},
      {u"Serial number", FieldText(*cert, certs::kFieldSerial)},
      {u"Signature algorithm", Named(cert->signature_algorithm_oid())},
      {u"Issuer", FieldText(*cert, certs::kFieldIssuer)},
      {u"Valid from", FieldText(*cert, certs::kFieldNotBefore)},
      {u"Valid to", FieldText(*cert, certs::kFieldNotAfter)},
      {u"Subject", FieldText(*cert, certs::kFieldSubject)},
      {u"Public key", KeyAlgorithm(*cert)},
      {u"Thumbprint (SHA-1)", Ascii(cert->thumbprint())},
  };
  for (const pf::CertExtension& ext : cert->extensions()) {
    CertView::Extension e;
    e.name = Named(ext.oid);
    e.critical = ext.critical;
    if (!pf::CryptFormatObject(pf::kX509AsnEncoding, 0, pf::kCryptFormatStrSingleLine, ext.oid,
                               ext.value, &e.text)) {
      e.text = pf::HexSpacedLower(ext.value);
    }
    view->extensions.push_back(std::move(e));
  }
  AddChain(cert, view);
  return true;
}

bool LoadCertView(const std::string& path, CertView* view, std::string* error) {
  std::uint64_t size = 0;
  if (!pf::RegularFileSize(path, &size)) {
    *error = "cannot read " + path;
    return false;
  }
  if (size > kMaxFileSize) {
    *error = path + " is over 1 MiB: not a certificate";
    return false;
  }
  Bytes bytes;
  if (!pf::ReadWholeFile(path, &bytes)) {
    *error = "cannot read " + path;
    return false;
  }
  return MakeCertView(bytes, view, error);
}

}  // namespace quillmark::dialog
