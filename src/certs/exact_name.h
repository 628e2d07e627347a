// Certificates named by their exact DN, for the page's existence check,
// issuer enumeration and extension text. No dialog is shown and no key is
// required.
//
// A name matches when the certificate's subject (or issuer), rendered in the
// X.500 form ("CN=Zhang, O=Bank, C=CN"), equals the requested DN after
// NormalizeDnCommas: same characters, same order, case-sensitive. The DN's
// display name (DnDisplayName) only narrows the platform's search; the exact
// comparison decides. CertExistsInStores and GetCertExtensionText's callers
// also try the DN in reversed order; EnumCertsByIssuer never does.
//
//   std::vector<std::u16string> subjects;
//   platform::CertStore my = ...;  // "MY"
//   int count = EnumCertsByIssuer({&my, 1}, u"CN=Issuing CA, O=Bank", &subjects);
//
//   std::u16string text;
//   int status = GetCertExtensionText(u"CN=Zhang, O=Bank, C=CN", u"2.5.29.15", 936, &text);
//   // "Digital Signature, Non-Repudiation, Key Encipherment (e0)"
#ifndef QUILLMARK_CERTS_EXACT_NAME_H_
#define QUILLMARK_CERTS_EXACT_NAME_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "certs/cert_lookup.h"
#include "platform/store/cert_context.h"

namespace quillmark::certs {

// The first certificate, store by store, whose subject is exactly |dn|.
// Null when none is (or when memory runs out).
platform::CertContextPtr FindBySubjectExact(StoreList stores, std::u16string_view dn);

// 1 when the current user's "MY" store holds a certificate whose subject is
// |dn| or |dn| reversed (ReverseDn), 0 when not (always for an empty DN),
// kErrStoreOpen when "MY" cannot be opened.
int CertExistsInStores(std::u16string_view dn);

// Appends to |*subjects| the subject texts of the certificates, store by
// store, whose issuer is exactly |issuer_dn|, and returns the new count; a
// certificate whose subject cannot be rendered is left out. There is no
// limit on the number. -1, with |*subjects| unchanged, when memory runs out.
int EnumCertsByIssuer(StoreList stores, std::u16string_view issuer_dn,
                      std::vector<std::u16string>* subjects);

// The stores GetCertExtensionText searches, in order: a certificate that is
// in several of them is taken from the first.
inline constexpr std::u16string_view kExtensionStores[] = {u"CA", u"ROOT", u"AddressBOOK", u"MY"};

// The one-line text (CryptFormatObject) of the extension |oid| (dotted, as
// the page gives it) of the certificate whose subject is exactly |dn| in the
// stores above. Statuses, in the order they are checked: kErrStoreOpen a
// store cannot be opened; kErrCertNotFound no certificate with that subject;
// kErrTextToBytes the OID cannot be converted with |code_page|;
// kErrNoExtension the certificate has no such extension;
// kErrCertFieldUndecodable the extension cannot be formatted; kErrNoMemory.
// On failure *text is empty.
int GetCertExtensionText(std::u16string_view dn, std::u16string_view oid, std::uint32_t code_page,
                         std::u16string* text);

}  // namespace quillmark::certs

#endif  // QUILLMARK_CERTS_EXACT_NAME_H_
