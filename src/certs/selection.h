// Certificate selection: finding the user's or a recipient's certificate in
// a store list by DN, by serial number and issuer, or by asking the user,
// as a SignerQuery (signer_query.h) describes it.
//
// One pass collects candidates store by store in enumeration order, by what
// is matched (DN alternatives in the subject, serial number and exact issuer,
// or nothing), which certificates are eligible (the key rule), and, in the
// SM2 forms, split by signature algorithm into not-SM2 and SM2 lists with the
// sign mode as preference between them. One candidate is taken without a
// dialog (with nothing to match the chooser always asks); several go to the
// chooser (choose_cert_dlg.h) on the current dialog host; the chosen or only
// candidate is found again by issuer and serial number, so the copy in the
// first store wins. Nothing is cached between calls and no error state is
// set: a null result means none.
//
// SelectCertificate runs the selection protocol over such passes:
//   no DN, no serial list   the chooser over every eligible certificate;
//   DN and server mode      the first certificate whose subject matches
//                           (FindFirstBySubject), no dialog, no key rule;
//   DN otherwise            one pass, and when nothing matched at all, once
//                           more with the DN reversed (ReverseDn) and the
//                           chooser shown even for no candidate;
//   serial list             one pass, and when it gives none, once more with
//                           the issuer DN reversed, unless reversing leaves
//                           it as it was.
// A pass that runs out of memory selects none.
//
//   platform::CertStore my = platform::CertOpenStore(..., u"MY");
//   certs::SignerQuery query{.dn = dn, .separator = settings.dn_separator};
//   platform::CertContextPtr signer = SelectCertificate({&my, 1}, query, texts);
//   if (!signer) return kErrCertNotFound;  // "获取证书失败"
#ifndef QUILLMARK_CERTS_SELECTION_H_
#define QUILLMARK_CERTS_SELECTION_H_

#include <string_view>
#include <vector>

#include "certs/cert_lookup.h"
#include "certs/choose_cert_dlg.h"
#include "certs/signer_query.h"
#include "common/bytes.h"
#include "platform/store/cert_context.h"

namespace quillmark::certs {

// A certificate counts as SM2-signed when its signature algorithm OID starts
// with this text.
inline constexpr std::string_view kSm2SignatureOidPrefix = "1.2.156.10197.1.501";

// At most this many serial numbers are taken from a serial list.
inline constexpr std::size_t kMaxSerialNumbers = 20;

// Whether |cert| was signed with SM2 (kSm2SignatureOidPrefix).
bool IsSm2Signed(const platform::CertContext& cert);

// The certificate |query| asks for in |stores| by the protocol above, or null
// (an empty store list, nothing matched, a cancelled chooser, no memory).
platform::CertContextPtr SelectCertificate(StoreList stores, const SignerQuery& query,
                                           const ChooserTexts& texts);

// Serial numbers of a serial list, each as an integer blob (least
// significant byte first). Tokens are separated by single spaces; empty and
// odd-length tokens are skipped, a token holding anything but hex digits is
// dropped; each pair of digits is a byte, the first pair the most
// significant. The first kMaxSerialNumbers serial numbers are taken.
std::vector<Bytes> ParseSerialList(std::u16string_view serial_list);

}  // namespace quillmark::certs

#endif  // QUILLMARK_CERTS_SELECTION_H_
