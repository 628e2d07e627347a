#include "certs/selection.h"

#include <new>
#include <string>
#include <utility>

#include "certs/candidate_list.h"
#include "certs/dn_text.h"
#include "common/hex.h"
#include "common/status.h"

namespace quillmark::certs {

namespace pf = quillmark::platform;

namespace {

enum class KeyCheck { kEligible, kNotEligible, kAbort };

// The key-provider property, read the way the platform offers it: walk the
// property ids until the key-provider one turns up, then read it.
KeyCheck CheckKey(const pf::CertContext& cert, KeyRule rule) {
  std::uint32_t id = pf::CertEnumCertificateContextProperties(cert, 0);
  while (id != 0 && id != pf::kCertKeyProvInfoPropId) {
    id = pf::CertEnumCertificateContextProperties(cert, id);
  }
  if (id == 0) return KeyCheck::kNotEligible;
  pf::KeyProvInfo info;
  if (!pf::CertGetCertificateContextProperty(cert, pf::kCertKeyProvInfoPropId, &info)) {
    return rule == KeyRule::kSignatureKey ? KeyCheck::kAbort : KeyCheck::kNotEligible;
  }
  if (rule == KeyRule::kSignatureKey && info.key_spec != pf::kAtSignature) {
    return KeyCheck::kNotEligible;
  }
  return KeyCheck::kEligible;
}

bool IsSm2Signed(const pf::CertContext& cert) {
  return cert.signature_algorithm_oid().starts_with(kSm2SignatureOidPrefix);
}

int HexDigit(char16_t c) { return HexDigitValue(c); }

// Candidates found so far: one list, or the not-SM2 (a) and SM2 (b) lists.
struct Candidates {
  CandidateList a;
  CandidateList b;
  int count_a = 0;
  int count_b = 0;
};

// Whether |cert| matches |query|. |subject| receives the rendered subject
// when the match needed it.
bool Matches(const pf::CertContext& cert, const SelectionQuery& query,
             const std::vector<std::u16string_view>& pieces, const std::u16string& issuer_dn,
             const std::vector<Bytes>& serials, std::u16string* subject, bool* have_subject) {
  *have_subject = false;
  switch (query.match) {
    case MatchOn::kNothing:
      return true;
    case MatchOn::kDn:
      if (!pf::CertNameToStrW(pf::kDefaultEncoding, cert.subject_der(), pf::kCertX500NameStr,
                              subject)) {
        return false;
      }
      *have_subject = true;
      return AnyPieceOccursIn(pieces, *subject);
    case MatchOn::kSerialAndIssuer: {
      std::u16string issuer;
      for (const Bytes& serial : serials) {
        if (!pf::CertCompareIntegerBlob(cert.serial(), serial)) continue;
        if (pf::CertNameToStrW(pf::kDefaultEncoding, cert.issuer_der(), pf::kCertX500NameStr,
                               &issuer) &&
            issuer == issuer_dn) {
          return true;
        }
      }
      return false;
    }
  }
  return false;
}

// Reads the candidate at |position| (its issuer DER) and the entry before it
// (its serial text) and finds the certificate again.
pf::CertContextPtr Refind(StoreList stores, const CandidateList& list, int position) {
  Bytes issuer_der;
  std::u16string serial;
  if (!list.ReadBytes(position, &issuer_der) || !list.ReadText(position - 1, &serial)) {
    return nullptr;
  }
  return RefindByIssuerAndSerial(stores, issuer_der, serial);
}

pf::CertContextPtr Choose(StoreList stores, const CandidateList& list, int count,
                          const ChooserTexts& texts) {
  int position;
  {
    CChooseCertDlg dlg(stores, count, list, texts);
    dlg.DoModal();
    position = dlg.selection();
  }
  if (position < 0 || position > kEntriesPerCandidate * count) return nullptr;
  return Refind(stores, list, position);
}

pf::CertContextPtr Select(StoreList stores, const SelectionQuery& query,
                          const ChooserTexts& texts) {
  const bool filter = query.key == KeyRule::kSignatureKey || query.split_sm2 || stores.size() == 1;

  std::u16string normalized;
  std::vector<std::u16string_view> pieces;
  std::vector<Bytes> serials;
  if (query.match == MatchOn::kDn) {
    normalized = NormalizeDnCommas(query.dn);
    pieces = SplitDnAlternatives(normalized, query.separator);
  } else if (query.match == MatchOn::kSerialAndIssuer) {
    serials = ParseSerialList(query.serial_list);
    normalized = NormalizeDnCommas(query.issuer_dn);
  }

  Candidates found;
  std::u16string subject;
  for (const pf::CertStore& store : stores) {
    for (pf::CertContextPtr c = pf::CertEnumCertificatesInStore(store, nullptr); c;
         c = pf::CertEnumCertificatesInStore(store, c)) {
      // A signature-key check may end the whole selection, so it comes
      // first; the private-key check only excludes, so it waits for a match.
      if (filter && query.key == KeyRule::kSignatureKey) {
        KeyCheck check = CheckKey(*c, query.key);
        if (check == KeyCheck::kAbort) return nullptr;
        if (check == KeyCheck::kNotEligible) continue;
      }
      bool have_subject;
      if (!Matches(*c, query, pieces, normalized, serials, &subject, &have_subject)) continue;
      if (filter && query.key == KeyRule::kPrivateKey &&
          CheckKey(*c, query.key) != KeyCheck::kEligible) {
        continue;
      }
      bool to_b = query.split_sm2 && IsSm2Signed(*c);
      AppendCandidate(*c, have_subject ? &subject : nullptr, to_b ? &found.b : &found.a);
      ++(to_b ? found.count_b : found.count_a);
    }
  }

  bool pick_b = false;
  if (query.split_sm2) {
    switch (query.preference) {
      case kOnlyNotSm2:
        pick_b = false;
        break;
      case kOnlySm2:
        pick_b = true;
        break;
      case kPreferNotSm2:
        pick_b = found.count_a == 0;
        break;
      default:
        pick_b = found.count_b != 0;
        break;
    }
  }
  const CandidateList& list = pick_b ? found.b : found.a;
  const int count = pick_b ? found.count_b : found.count_a;

  switch (query.match) {
    case MatchOn::kNothing:
      return Choose(stores, list, count, texts);
    case MatchOn::kDn:
      if (count != 0 && query.matched_any != nullptr) *query.matched_any = true;
      if (count == 0) {
        if (query.force_chooser) Choose(stores, list, count, texts);
        return nullptr;
      }
      break;
    case MatchOn::kSerialAndIssuer:
      if (count == 0) return nullptr;
      break;
  }
  if (count == 1) return Refind(stores, list, kEntryIssuerDer);
  return Choose(stores, list, count, texts);
}

SelectionQuery DnQuery(KeyRule key, bool sm2, int preference, std::u16string_view dn,
                       std::u16string_view separator, bool* matched_any, bool force_chooser) {
  SelectionQuery q;
  q.match = MatchOn::kDn;
  q.key = key;
  q.split_sm2 = sm2;
  q.preference = preference;
  q.dn = dn;
  q.separator = separator;
  q.matched_any = matched_any;
  q.force_chooser = force_chooser;
  return q;
}

SelectionQuery AnyQuery(KeyRule key, bool sm2, int preference) {
  SelectionQuery q;
  q.match = MatchOn::kNothing;
  q.key = key;
  q.split_sm2 = sm2;
  q.preference = preference;
  return q;
}

SelectionQuery SerialQuery(KeyRule key, std::u16string_view serial_list,
                           std::u16string_view issuer_dn) {
  SelectionQuery q;
  q.match = MatchOn::kSerialAndIssuer;
  q.key = key;
  q.serial_list = serial_list;
  q.issuer_dn = issuer_dn;
  return q;
}

}  // namespace

pf::CertContextPtr RunSelection(StoreList stores, const SelectionQuery& query,
                                const ChooserTexts& texts) {
  if (stores.empty()) return nullptr;
  try {
    return Select(stores, query, texts);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::vector<Bytes> ParseSerialList(std::u16string_view serial_list) {
  std::vector<Bytes> serials;
  std::size_t start = 0;
  while (start <= serial_list.size() && serials.size() < kMaxSerialNumbers) {
    std::size_t space = serial_list.find(u' ', start);
    std::size_t end = space == serial_list.npos ? serial_list.size() : space;
    std::u16string_view token = serial_list.substr(start, end - start);
    start = end + 1;
    if (token.empty() || token.size() % 2 != 0) continue;
    Bytes blob(token.size() / 2);
    bool ok = true;
    for (std::size_t i = 0; i < blob.size() && ok; ++i) {
      int hi = HexDigit(token[2 * i]);
      int lo = HexDigit(token[2 * i + 1]);
      ok = hi >= 0 && lo >= 0;
      // The first pair is the most significant byte; blobs keep it last.
      blob[blob.size() - 1 - i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    if (ok) serials.push_back(std::move(blob));
  }
  return serials;
}

pf::CertContextPtr SelectByDn(StoreList stores, std::u16string_view dn,
                              std::u16string_view separator, bool* matched_any, bool force_chooser,
                              const ChooserTexts& texts) {
  return RunSelection(
      stores, DnQuery(KeyRule::kPrivateKey, false, 0, dn, separator, matched_any, force_chooser),
      texts);
}

pf::CertContextPtr SelectByDnSignKey(StoreList stores, std::u16string_view dn,
                                     std::u16string_view separator, bool* matched_any,
                                     bool force_chooser, const ChooserTexts& texts) {
  return RunSelection(
      stores, DnQuery(KeyRule::kSignatureKey, false, 0, dn, separator, matched_any, force_chooser),
      texts);
}

pf::CertContextPtr SelectSm2ByDn(StoreList stores, int preference, std::u16string_view dn,
                                 std::u16string_view separator, bool* matched_any,
                                 bool force_chooser, const ChooserTexts& texts) {
  return RunSelection(
      stores,
      DnQuery(KeyRule::kPrivateKey, true, preference, dn, separator, matched_any, force_chooser),
      texts);
}

pf::CertContextPtr SelectSm2ByDnSignKey(StoreList stores, int preference, std::u16string_view dn,
                                        std::u16string_view separator, bool* matched_any,
                                        bool force_chooser, const ChooserTexts& texts) {
  return RunSelection(
      stores,
      DnQuery(KeyRule::kSignatureKey, true, preference, dn, separator, matched_any, force_chooser),
      texts);
}

pf::CertContextPtr ChooseAny(StoreList stores, const ChooserTexts& texts) {
  return RunSelection(stores, AnyQuery(KeyRule::kPrivateKey, false, 0), texts);
}

pf::CertContextPtr ChooseAnySignKey(StoreList stores, const ChooserTexts& texts) {
  return RunSelection(stores, AnyQuery(KeyRule::kSignatureKey, false, 0), texts);
}

pf::CertContextPtr ChooseAnySm2(StoreList stores, int preference, const ChooserTexts& texts) {
  return RunSelection(stores, AnyQuery(KeyRule::kPrivateKey, true, preference), texts);
}

pf::CertContextPtr ChooseAnySm2SignKey(StoreList stores, int preference,
                                       const ChooserTexts& texts) {
  return RunSelection(stores, AnyQuery(KeyRule::kSignatureKey, true, preference), texts);
}

pf::CertContextPtr SelectBySerial(StoreList stores, std::u16string_view serial_list,
                                  std::u16string_view issuer_dn, const ChooserTexts& texts) {
  return RunSelection(stores, SerialQuery(KeyRule::kPrivateKey, serial_list, issuer_dn), texts);
}

pf::CertContextPtr SelectBySerialSignKey(StoreList stores, std::u16string_view serial_list,
                                         std::u16string_view issuer_dn, const ChooserTexts& texts) {
  return RunSelection(stores, SerialQuery(KeyRule::kSignatureKey, serial_list, issuer_dn), texts);
}

int SelectCertificate(StoreList stores, std::u16string_view dn, std::u16string_view separator,
                      const SelectionMode& mode, const ChooserTexts& texts,
                      pf::CertContextPtr* cert) {
  cert->reset();
  if (dn.empty()) {
    *cert = RunSelection(stores, AnyQuery(mode.key, mode.sm2, mode.preference), texts);
  } else if (mode.server_mode) {
    *cert = FindFirstBySubject(stores, dn, separator);
  } else {
    bool matched_any = false;
    *cert = RunSelection(
        stores, DnQuery(mode.key, mode.sm2, mode.preference, dn, separator, &matched_any, false),
        texts);
    if (!*cert && !matched_any) {
      try {
        std::u16string reversed = ReverseDn(dn);
        *cert = RunSelection(
            stores,
            DnQuery(mode.key, mode.sm2, mode.preference, reversed, separator, &matched_any, true),
            texts);
      } catch (const std::bad_alloc&) {
      }
    }
  }
  return *cert ? kOk : kErrCertNotFound;
}

int SelectCertificateBySerial(StoreList stores, std::u16string_view serial_list,
                              std::u16string_view issuer_dn, KeyRule key, const ChooserTexts& texts,
                              pf::CertContextPtr* cert) {
  cert->reset();
  if (serial_list.empty()) {
    *cert = RunSelection(stores, AnyQuery(key, false, 0), texts);
  } else {
    *cert = RunSelection(stores, SerialQuery(key, serial_list, issuer_dn), texts);
    if (!*cert) {
      try {
        // A reversal that changes nothing would only ask the same question
        // again (and show a cancelled chooser a second time).
        std::u16string reversed = ReverseDn(issuer_dn);
        if (NormalizeDnCommas(reversed) != NormalizeDnCommas(issuer_dn)) {
          *cert = RunSelection(stores, SerialQuery(key, serial_list, reversed), texts);
        }
      } catch (const std::bad_alloc&) {
      }
    }
  }
  return *cert ? kOk : kErrCertNotFound;
}

}  // namespace quillmark::certs
