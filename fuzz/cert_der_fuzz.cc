// Certificate bytes from a store file or a page: parsing a certificate,
// rendering its names, serial, times and extensions, and rendering arbitrary
// bytes as a Name or as any known extension never crash; the buffer forms
// agree with the string forms and never write past the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "platform/names/cert_extension.h"
#include "platform/names/cert_text.h"
#include "platform/store/cert_context.h"

using quillmark::ByteSpan;
namespace pf = quillmark::platform;

namespace {

constexpr std::string_view kExtensionOids[] = {"2.5.29.15", "2.5.29.19", "2.5.29.37", "2.5.29.14",
                                               "2.5.29.35", "2.5.29.17", "2.5.29.18", "2.5.29.31",
                                               "2.5.29.32", "1.2.3.4"};

void RenderExtension(std::string_view oid, ByteSpan value) {
  std::u16string text;
  if (!pf::CryptFormatObject(pf::kX509AsnEncoding, 0, 0, oid, value, &text)) std::abort();
  std::uint32_t needed = 0;
  if (!pf::CryptFormatObject(pf::kX509AsnEncoding, 0, 0, oid, value, nullptr, &needed) ||
      needed != (text.size() + 1) * sizeof(char16_t)) {
    std::abort();
  }
}

void RenderName(ByteSpan der) {
  std::u16string text;
  const bool ok = pf::CertNameToStrW(pf::kX509AsnEncoding, der, pf::kCertX500NameStr, &text);
  std::vector<char16_t> buf(9, u'\xFFFF');
  const std::uint32_t n =
      pf::CertNameToStrW(pf::kX509AsnEncoding, der, pf::kCertOidNameStr, buf.data(), 8);
  if (buf[8] != u'\xFFFF' || (ok && n == 0) || (!ok && n != 0)) std::abort();
  pf::CertNameToStrW(pf::kX509AsnEncoding, der, pf::kCertSimpleNameStr | pf::kCertNameStrCrlfFlag,
                     &text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteSpan in(data, size);
  if (size > 0) {
    RenderExtension(kExtensionOids[data[0] % std::size(kExtensionOids)], in.subspan(1));
  }
  RenderName(in);

  pf::CertContextPtr cert = pf::CertCreateCertificateContext(pf::kDefaultEncoding, in);
  if (!cert) return 0;
  RenderName(cert->issuer_der());
  RenderName(cert->subject_der());
  pf::FormatSerialText(cert->serial());
  pf::FormatCertTimeText(cert->not_before());
  pf::FormatCertTimeText(cert->not_after());
  pf::CertGetNameStringW(*cert, pf::kCertNameSimpleDisplayType, 0);
  pf::CertGetNameStringW(*cert, pf::kCertNameSimpleDisplayType, pf::kCertNameIssuerFlag);
  for (const pf::CertExtension& ext : cert->extensions()) RenderExtension(ext.oid, ext.value);
  return 0;
}
