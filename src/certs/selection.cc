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

// What one pass matches.
enum class MatchOn {
  kDn,               // an alternative of the DN occurs in the rendered subject
  kSerialAndIssuer,  // a listed serial number and the whole issuer DN
  kNothing,          // every eligible certificate; the chooser is always shown
};

// One pass of the selection.
struct Pass {
  MatchOn match = MatchOn::kNothing;
  KeyRule key = KeyRule::kPrivateKey;
  bool split_sm2 = false;
  int preference = kOnlyNotSm2;  // split_sm2 only
  // kDn: the DN (alternatives joined by |separator|), not yet normalised.
  std::u16string_view dn;
  std::u16string_view separator;
  // kDn: with no candidate, show the chooser with an empty list anyway.
  bool force_chooser = false;
  // kSerialAndIssuer: the serial list and the issuer DN.
  std::u16string_view serial_list;
  std::u16string_view issuer_dn;
};

// What a pass matches against, prepared once.
struct Pattern {
  std::u16string normalized;  // the DN, or the issuer DN
  std::vector<std::u16string_view> pieces;
  std::vector<Bytes> serials;
};

// Candidates found so far: one list, or the not-SM2 (a) and SM2 (b) lists.
struct Candidates {
  CandidateList a;
  CandidateList b;
  int count_a = 0;
  int count_b = 0;
};

Pattern PatternOf(const Pass& pass) {
  Pattern p;
  if (pass.match == MatchOn::kDn) {
    p.normalized = NormalizeDnCommas(pass.dn);
    p.pieces = SplitDnAlternatives(p.normalized, pass.separator);
  } else if (pass.match == MatchOn::kSerialAndIssuer) {
    p.serials = ParseSerialList(pass.serial_list);
    p.normalized = NormalizeDnCommas(pass.issuer_dn);
  }
  return p;
}

// Whether |cert| matches |pass|. |subject| receives the rendered subject
// when the match needed it.
bool Matches(const pf::CertContext& cert, const Pass& pass, const Pattern& pattern,
             std::u16string* subject, bool* have_subject) {
  *have_subject = false;
  switch (pass.match) {
    case MatchOn::kNothing:
      return true;
    case MatchOn::kDn:
      if (!pf::CertNameToStrW(pf::kDefaultEncoding, cert.subject_der(), pf::kCertX500NameStr,
                              subject)) {
        return false;
      }
      *have_subject = true;
      return AnyPieceOccursIn(pattern.pieces, *subject);
    case MatchOn::kSerialAndIssuer: {
      std::u16string issuer;
      for (const Bytes& serial : pattern.serials) {
        if (!pf::CertCompareIntegerBlob(cert.serial(), serial)) continue;
        if (pf::CertNameToStrW(pf::kDefaultEncoding, cert.issuer_der(), pf::kCertX500NameStr,
                               &issuer) &&
            issuer == pattern.normalized) {
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

// Collects the candidates of |pass| into |found|; false when a key-provider
// property that cannot be read ends the selection.
bool Collect(StoreList stores, const Pass& pass, Candidates* found) {
  const bool filter = pass.key == KeyRule::kSignatureKey || pass.split_sm2 || stores.size() == 1;
  const Pattern pattern = PatternOf(pass);
  std::u16string subject;
  for (const pf::CertStore& store : stores) {
    for (pf::CertContextPtr c = pf::CertEnumCertificatesInStore(store, nullptr); c;
         c = pf::CertEnumCertificatesInStore(store, c)) {
      // A signature-key check may end the whole selection, so it comes
      // first; the private-key check only excludes, so it waits for a match.
      if (filter && pass.key == KeyRule::kSignatureKey) {
        KeyCheck check = CheckKey(*c, pass.key);
        if (check == KeyCheck::kAbort) return false;
        if (check == KeyCheck::kNotEligible) continue;
      }
      bool have_subject;
      if (!Matches(*c, pass, pattern, &subject, &have_subject)) continue;
      if (filter && pass.key == KeyRule::kPrivateKey &&
          CheckKey(*c, pass.key) != KeyCheck::kEligible) {
        continue;
      }
      bool to_b = pass.split_sm2 && IsSm2Signed(*c);
      AppendCandidate(*c, have_subject ? &subject : nullptr, to_b ? &found->b : &found->a);
      ++(to_b ? found->count_b : found->count_a);
    }
  }
  return true;
}

// Whether the SM2 list (b) is the one offered, by the pass's preference.
bool PicksSm2List(const Pass& pass, const Candidates& found) {
  if (!pass.split_sm2) return false;
  switch (pass.preference) {
    case kOnlyNotSm2:
      return false;
    case kOnlySm2:
      return true;
    case kPreferNotSm2:
      return found.count_a == 0;
    default:
      return found.count_b != 0;
  }
}

// One pass. |*matched_any| is set when the DN had at least one candidate.
pf::CertContextPtr RunPass(StoreList stores, const Pass& pass, const ChooserTexts& texts,
                           bool* matched_any) {
  Candidates found;
  if (!Collect(stores, pass, &found)) return nullptr;
  const bool pick_b = PicksSm2List(pass, found);
  const CandidateList& list = pick_b ? found.b : found.a;
  const int count = pick_b ? found.count_b : found.count_a;

  switch (pass.match) {
    case MatchOn::kNothing:
      return Choose(stores, list, count, texts);
    case MatchOn::kDn:
      if (count != 0) *matched_any = true;
      if (count == 0) {
        if (pass.force_chooser) Choose(stores, list, count, texts);
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

// A pass that runs out of memory selects none.
pf::CertContextPtr TryPass(StoreList stores, const Pass& pass, const ChooserTexts& texts,
                           bool* matched_any) noexcept {
  if (stores.empty()) return nullptr;
  try {
    return RunPass(stores, pass, texts, matched_any);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

Pass PassOf(const SignerQuery& query, MatchOn match) {
  Pass pass;
  pass.match = match;
  pass.key = query.key;
  pass.split_sm2 = query.sm2_forms;
  pass.preference = query.sign_mode;
  pass.dn = query.dn;
  pass.separator = query.separator;
  pass.serial_list = query.serial_list;
  pass.issuer_dn = query.issuer_dn;
  return pass;
}

// The DN protocol: one pass, then the reversed DN with the chooser forced.
pf::CertContextPtr SelectByDn(StoreList stores, const SignerQuery& query,
                              const ChooserTexts& texts) {
  Pass pass = PassOf(query, MatchOn::kDn);
  bool matched_any = false;
  pf::CertContextPtr cert = TryPass(stores, pass, texts, &matched_any);
  if (cert || matched_any) return cert;
  std::u16string reversed = ReverseDn(query.dn);
  pass.dn = reversed;
  pass.force_chooser = true;
  return TryPass(stores, pass, texts, &matched_any);
}

// The serial protocol: one pass, then the issuer DN reversed when that
// changes it. A reversal that changes nothing would only ask the same
// question again (and show a cancelled chooser a second time).
pf::CertContextPtr SelectBySerial(StoreList stores, const SignerQuery& query,
                                  const ChooserTexts& texts) {
  Pass pass = PassOf(query, MatchOn::kSerialAndIssuer);
  bool unused = false;
  pf::CertContextPtr cert = TryPass(stores, pass, texts, &unused);
  if (cert) return cert;
  std::u16string reversed = ReverseDn(query.issuer_dn);
  if (NormalizeDnCommas(reversed) == NormalizeDnCommas(query.issuer_dn)) return nullptr;
  pass.issuer_dn = reversed;
  return TryPass(stores, pass, texts, &unused);
}

}  // namespace

bool IsSm2Signed(const pf::CertContext& cert) {
  return cert.signature_algorithm_oid().starts_with(kSm2SignatureOidPrefix);
}

pf::CertContextPtr SelectCertificate(StoreList stores, const SignerQuery& query,
                                     const ChooserTexts& texts) {
  bool unused = false;
  try {
    if (!query.serial_list.empty()) return SelectBySerial(stores, query, texts);
    if (query.dn.empty()) return TryPass(stores, PassOf(query, MatchOn::kNothing), texts, &unused);
    if (query.server_mode) return FindFirstBySubject(stores, query.dn, query.separator);
    return SelectByDn(stores, query, texts);
  } catch (const std::bad_alloc&) {  // the reversed DN
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
      int hi = HexDigitValue(token[2 * i]);
      int lo = HexDigitValue(token[2 * i + 1]);
      ok = hi >= 0 && lo >= 0;
      // The first pair is the most significant byte; blobs keep it last.
      blob[blob.size() - 1 - i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    if (ok) serials.push_back(std::move(blob));
  }
  return serials;
}

}  // namespace quillmark::certs
