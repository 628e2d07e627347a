#include "certs/cert_lookup.h"

#include <string>
#include <vector>

#include "certs/cert_info.h"
#include "certs/dn_text.h"
#include "common/status.h"

namespace quillmark::certs {

namespace pf = quillmark::platform;

pf::CertContextPtr RefindByIssuerAndSerial(StoreList stores, ByteSpan issuer_der,
                                           std::u16string_view serial_text) {
  std::u16string serial;
  for (const pf::CertStore& store : stores) {
    for (pf::CertContextPtr c = pf::CertFindCertificateInStore(
             store, pf::kDefaultEncoding, 0, pf::kCertFindIssuerName, issuer_der, nullptr);
         c; c = pf::CertFindCertificateInStore(store, pf::kDefaultEncoding, 0,
                                               pf::kCertFindIssuerName, issuer_der, c)) {
      if (CertFieldText(c.get(), kFieldSerial, &serial) == kOk && serial == serial_text) {
        return c;
      }
    }
  }
  return nullptr;
}

pf::CertContextPtr FindFirstBySubject(StoreList stores, std::u16string_view dn,
                                      std::u16string_view separator) {
  if (stores.empty()) return nullptr;
  std::u16string normalized = NormalizeDnCommas(dn);
  std::vector<std::u16string_view> pieces = SplitDnAlternatives(normalized, separator);
  std::u16string subject;
  for (const pf::CertStore& store : stores) {
    for (pf::CertContextPtr c = pf::CertEnumCertificatesInStore(store, nullptr); c;
         c = pf::CertEnumCertificatesInStore(store, c)) {
      if (!pf::CertNameToStrW(pf::kDefaultEncoding, c->subject_der(), pf::kCertX500NameStr,
                              &subject)) {
        continue;
      }
      if (AnyPieceOccursIn(pieces, subject)) return c;
    }
  }
  return nullptr;
}

}  // namespace quillmark::certs
