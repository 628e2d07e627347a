// Certificate selection: finding the user's or a recipient's certificate in
// a store list by DN, by serial number and issuer, or by asking the user.
//
// One routine does the work, driven by a SelectionQuery along three axes:
// what is matched (DN alternatives in the subject, serial number and exact
// issuer, or nothing), which certificates are eligible (with a private key or
// with a signature key), and whether certificates are split by signature
// algorithm into not-SM2 and SM2 lists with a preference between them. The
// ten named members below are that routine with fixed axes.
//
// Candidates are collected store by store in enumeration order. One
// candidate is taken without a dialog (the chooser-for-all members always
// ask); several go to the chooser (choose_cert_dlg.h) on the current dialog
// host; the chosen or only candidate is found again by issuer and serial
// number, so the copy in the first store wins. Nothing is cached between
// calls and no error state is set: a null result means none.
//
// Callers follow the selection protocol, which SelectCertificate and
// SelectCertificateBySerial implement:
//
//   platform::CertStore my = platform::CertOpenStore(..., u"MY");
//   platform::CertContextPtr signer;
//   SelectionMode mode;
//   mode.key = use_key_spec ? KeyRule::kSignatureKey : KeyRule::kPrivateKey;
//   mode.server_mode = settings.server_mode != 0;
//   int status = SelectCertificate({&my, 1}, dn, settings.dn_separator, mode, texts, &signer);
//   if (status != kOk) return status;  // kErrCertNotFound: "获取证书失败"
#ifndef QUILLMARK_CERTS_SELECTION_H_
#define QUILLMARK_CERTS_SELECTION_H_

#include <string_view>
#include <vector>

#include "certs/cert_lookup.h"
#include "certs/choose_cert_dlg.h"
#include "common/bytes.h"
#include "platform/store/cert_context.h"

namespace quillmark::certs {

enum class MatchOn {
  kDn,               // an alternative of the DN occurs in the rendered subject
  kSerialAndIssuer,  // a listed serial number and the whole issuer DN
  kNothing,          // every eligible certificate; the chooser is always shown
};

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

// A certificate counts as SM2-signed when its signature algorithm OID starts
// with this text.
inline constexpr std::string_view kSm2SignatureOidPrefix = "1.2.156.10197.1.501";

// At most this many serial numbers are taken from a serial list.
inline constexpr std::size_t kMaxSerialNumbers = 20;

struct SelectionQuery {
  MatchOn match = MatchOn::kNothing;
  KeyRule key = KeyRule::kPrivateKey;
  bool split_sm2 = false;
  int preference = kOnlyNotSm2;  // split_sm2 only
  // kDn: the DN (alternatives joined by |separator|), not yet normalised.
  std::u16string_view dn;
  std::u16string_view separator;
  // kDn: with no candidate, show the chooser with an empty list anyway.
  bool force_chooser = false;
  // kDn: set to true when there was at least one candidate; never cleared.
  bool* matched_any = nullptr;
  // kSerialAndIssuer: the serial list ("0A1B 00FF") and the issuer DN.
  std::u16string_view serial_list;
  std::u16string_view issuer_dn;
};

// The one selection routine. Null for an empty store list, no memory, no
// candidate, a cancelled chooser, or a candidate that cannot be found again.
platform::CertContextPtr RunSelection(StoreList stores, const SelectionQuery& query,
                                      const ChooserTexts& texts);

// The ten members.
platform::CertContextPtr SelectByDn(StoreList stores, std::u16string_view dn,
                                    std::u16string_view separator, bool* matched_any,
                                    bool force_chooser, const ChooserTexts& texts);
platform::CertContextPtr SelectByDnSignKey(StoreList stores, std::u16string_view dn,
                                           std::u16string_view separator, bool* matched_any,
                                           bool force_chooser, const ChooserTexts& texts);
platform::CertContextPtr SelectSm2ByDn(StoreList stores, int preference, std::u16string_view dn,
                                       std::u16string_view separator, bool* matched_any,
                                       bool force_chooser, const ChooserTexts& texts);
platform::CertContextPtr SelectSm2ByDnSignKey(StoreList stores, int preference,
                                              std::u16string_view dn, std::u16string_view separator,
                                              bool* matched_any, bool force_chooser,
                                              const ChooserTexts& texts);
platform::CertContextPtr ChooseAny(StoreList stores, const ChooserTexts& texts);
platform::CertContextPtr ChooseAnySignKey(StoreList stores, const ChooserTexts& texts);
platform::CertContextPtr ChooseAnySm2(StoreList stores, int preference, const ChooserTexts& texts);
platform::CertContextPtr ChooseAnySm2SignKey(StoreList stores, int preference,
                                             const ChooserTexts& texts);
platform::CertContextPtr SelectBySerial(StoreList stores, std::u16string_view serial_list,
                                        std::u16string_view issuer_dn, const ChooserTexts& texts);
platform::CertContextPtr SelectBySerialSignKey(StoreList stores, std::u16string_view serial_list,
                                               std::u16string_view issuer_dn,
                                               const ChooserTexts& texts);

// Serial numbers of a serial list, each as an integer blob (least
// significant byte first). Tokens are separated by single spaces; empty and
// odd-length tokens are skipped, a token holding anything but hex digits is
// dropped; each pair of digits is a byte, the first pair the most
// significant. The first kMaxSerialNumbers serial numbers are taken.
std::vector<Bytes> ParseSerialList(std::u16string_view serial_list);

// How a caller selects by DN.
struct SelectionMode {
  KeyRule key = KeyRule::kPrivateKey;  // kSignatureKey: the SignKey members
  bool server_mode = false;            // a given DN never shows a dialog
  bool sm2 = false;                    // the SM2 members, with |preference|
  int preference = kOnlyNotSm2;
};

// The selection protocol by DN. An empty |dn| means no DN: the chooser over
// every eligible certificate. In server mode the first matching certificate
// (FindFirstBySubject). Otherwise the DN members; when nothing matched at
// all, once more with the DN reversed (ReverseDn) and the chooser forced.
// kOk with |*cert| set, or kErrCertNotFound.
int SelectCertificate(StoreList stores, std::u16string_view dn, std::u16string_view separator,
                      const SelectionMode& mode, const ChooserTexts& texts,
                      platform::CertContextPtr* cert);

// The selection protocol by serial number. An empty |serial_list| means no
// serial number: the chooser over every eligible certificate. Otherwise the
// serial members, and when they give none, once more with the issuer DN
// reversed, unless reversing leaves it as it was. kOk with |*cert| set, or
// kErrCertNotFound.
int SelectCertificateBySerial(StoreList stores, std::u16string_view serial_list,
                              std::u16string_view issuer_dn, KeyRule key, const ChooserTexts& texts,
                              platform::CertContextPtr* cert);

}  // namespace quillmark::certs

#endif  // QUILLMARK_CERTS_SELECTION_H_
