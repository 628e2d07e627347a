// Which certificate an operation asks for: named by DN or by serial number
// and issuer, or by nobody (the user chooses), with the rules that make a
// certificate eligible. The engine operations take one query for the signer
// (and one for the recipient of an envelope); SelectCertificate
// (selection.h) answers it.
//
//   certs::SignerQuery query{.dn = u"CN=Li Si", .separator = u"|", .server_mode = true};
//   platform::CertContextPtr signer = certs::SelectCertificate({&my, 1}, query, texts);
//
// The views refer to the caller's strings and must outlive the query.
#ifndef QUILLMARK_CERTS_SIGNER_QUERY_H_
#define QUILLMARK_CERTS_SIGNER_QUERY_H_

#include <optional>
#include <string_view>

namespace quillmark::certs {

enum class KeyRule {
  // The key-provider property is there and readable. Applied when one store
  // is searched, or always in the SM2 forms.
  kPrivateKey,
  // The property's key spec is AT_SIGNATURE (2); applied always. A property
  // that is there but cannot be read ends the whole selection with none.
  kSignatureKey,
};

// Algorithm preference of the SM2 forms (the sign mode). Any other value
// behaves as kPreferSm2.
inline constexpr int kOnlyNotSm2 = 1;
inline constexpr int kOnlySm2 = 2;
inline constexpr int kPreferNotSm2 = 3;
inline constexpr int kPreferSm2 = 4;

struct SignerQuery {
  // The DN: alternatives joined by |separator|, matched as substrings of the
  // rendered subject. Empty: no DN.
  std::u16string_view dn = {};
  std::u16string_view separator = u"|";
  // A serial list ("0A1B 00FF") and the issuer's whole DN. A non-empty serial
  // list names the certificate instead of the DN.
  std::u16string_view serial_list = {};
  std::u16string_view issuer_dn = {};
  // A given DN is resolved to the first subject match, without a dialog and
  // without a key rule.
  bool server_mode = false;
  KeyRule key = KeyRule::kPrivateKey;
  // The SM2 forms: candidates split into a not-SM2 and an SM2 list, with
  // |sign_mode| as the preference between them. AdvanceSign always selects
  // so; the other operations take the query as given.
  bool sm2_forms = false;
  int sign_mode = kOnlyNotSm2;
  // The store of SM2 certificates the page named, searched after "MY" from
  // kOnlySm2 on (AdvanceSign).
  std::optional<std::u16string_view> sm2_store = {};
};

}  // namespace quillmark::certs

#endif  // QUILLMARK_CERTS_SIGNER_QUERY_H_
