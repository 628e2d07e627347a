#include "platform/store/cert_fields.h"

#include "platform/openssl/der_walk.h"

namespace quillmark::platform {

namespace {

DerRange RangeOf(ByteSpan der, ByteSpan part) {
  return DerRange{static_cast<std::size_t>(part.data() - der.data()), part.size()};
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool Digits(ByteSpan s, size_t at, size_t n, int* out) {
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  *out = v;
  return true;
}

bool ParseVersion(ByteSpan content, int* version) {
  ByteSpan in = content;
  der::Tlv v;
  if (!der::Expect(&in, der::kInteger, &v) || !in.empty() || v.content.size() != 1 ||
      v.content[0] > 2) {
    return false;
  }
  *version = v.content[0] + 1;
  return true;
}

}  // namespace

bool WalkCertificateDer(ByteSpan der, CertFields* out) {
  ByteSpan in = der;
  der::Tlv cert, tbs, sig_alg, sig, f;
  if (!der::Expect(&in, der::kSequence, &cert) || !in.empty()) return false;
  ByteSpan body = cert.content;
  if (!der::Expect(&body, der::kSequence, &tbs) || !der::Expect(&body, der::kSequence, &sig_alg) ||
      !der::Expect(&body, der::kBitString, &sig) || !body.empty()) {
    return false;
  }
  ByteSpan alg = sig_alg.content;
  if (!der::Expect(&alg, der::kOid, &f)) return false;
  out->sig_alg = RangeOf(der, f.content);

  ByteSpan t = tbs.content;
  if (!der::Next(&t, &f)) return false;
  if (f.tag == 0xA0) {
    if (!ParseVersion(f.content, &out->version) || !der::Next(&t, &f)) return false;
  }
  if (f.tag != der::kInteger || f.content.empty()) return false;
  out->serial_lsb.assign(f.content.rbegin(), f.content.rend());
  if (!der::Expect(&t, der::kSequence, &f)) return false;  // signature
  if (!der::Expect(&t, der::kSequence, &f)) return false;  // issuer
  out->issuer = RangeOf(der, f.whole);
  der::Tlv validity, nb, na;
  if (!der::Expect(&t, der::kSequence, &validity)) return false;
  ByteSpan v = validity.content;
  if (!der::Next(&v, &nb) || !der::Next(&v, &na) || !v.empty() ||
      !ParseDerTime(nb.tag, nb.content, &out->not_before) ||
      !ParseDerTime(na.tag, na.content, &out->not_after)) {
    return false;
  }
  if (!der::Expect(&t, der::kSequence, &f)) return false;  // subject
  out->subject = RangeOf(der, f.whole);
  if (!der::Expect(&t, der::kSequence, &f)) return false;  // subjectPublicKeyInfo
  out->spki = RangeOf(der, f.whole);
  ByteSpan spki = f.content;
  der::Tlv algid, oid;
  if (!der::Expect(&spki, der::kSequence, &algid)) return false;
  ByteSpan a = algid.content;
  if (!der::Expect(&a, der::kOid, &oid)) return false;
  out->spki_alg = RangeOf(der, oid.content);
  while (!t.empty()) {
    if (!der::Next(&t, &f)) return false;
    if (f.tag == 0xA3) out->extensions = RangeOf(der, f.content);
  }
  return true;
}

std::vector<CertExtension> ParseExtensionList(ByteSpan extensions) {
  std::vector<CertExtension> exts;
  ByteSpan in = extensions;
  der::Tlv list;
  if (in.empty() || !der::Expect(&in, der::kSequence, &list)) return exts;
  ByteSpan items = list.content;
  der::Tlv ext;
  while (der::Expect(&items, der::kSequence, &ext)) {
    ByteSpan fields = ext.content;
    der::Tlv oid, next;
    CertExtension e;
    if (!der::Expect(&fields, der::kOid, &oid) || !der::OidToText(oid.content, &e.oid) ||
        !der::Next(&fields, &next)) {
      continue;
    }
    if (next.tag == der::kBoolean) {
      e.critical = next.content.size() == 1 && next.content[0] != 0;
      if (!der::Next(&fields, &next)) continue;
    }
    if (next.tag != der::kOctetString) continue;
    e.value.assign(next.content.begin(), next.content.end());
    exts.push_back(std::move(e));
  }
  return exts;
}

bool WalkCrlDer(ByteSpan der, CrlFields* out) {
  ByteSpan in = der;
  der::Tlv list, tbs, f;
  if (!der::Expect(&in, der::kSequence, &list) || !in.empty()) return false;
  ByteSpan body = list.content;
  if (!der::Expect(&body, der::kSequence, &tbs)) return false;
  ByteSpan t = tbs.content;
  if (!der::Next(&t, &f)) return false;
  if (f.tag == der::kInteger && !der::Next(&t, &f)) return false;  // version
  if (f.tag != der::kSequence) return false;                       // signature
  if (!der::Expect(&t, der::kSequence, &f)) return false;          // issuer
  out->issuer = RangeOf(der, f.whole);
  if (!der::Next(&t, &f) || !ParseDerTime(f.tag, f.content, &out->this_update)) return false;
  if (!t.empty()) {
    ByteSpan rest = t;
    if (der::Next(&rest, &f) && (f.tag == der::kUtcTime || f.tag == der::kGeneralizedTime)) {
      CertTime next;
      if (!ParseDerTime(f.tag, f.content, &next)) return false;
      out->next_update = next;
    }
  }
  return true;
}

bool ParseDerTime(std::uint8_t tag, ByteSpan s, CertTime* out) {
  CertTime t;
  size_t pos;
  if (tag == der::kUtcTime) {
    if (s.size() != 13 || s[12] != 'Z' || !Digits(s, 0, 2, &t.year)) return false;
    t.year += t.year < 50 ? 2000 : 1900;
    pos = 2;
  } else if (tag == der::kGeneralizedTime) {
    if (s.size() < 15 || s.back() != 'Z' || !Digits(s, 0, 4, &t.year)) return false;
    if (s.size() > 15) {  // fractional seconds: ".f...Z", ignored
      if (s[14] != '.' || s.size() < 17) return false;
      for (size_t i = 15; i + 1 < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
      }
    }
    pos = 4;
  } else {
    return false;
  }
  if (!Digits(s, pos, 2, &t.month) || !Digits(s, pos + 2, 2, &t.day) ||
      !Digits(s, pos + 4, 2, &t.hour) || !Digits(s, pos + 6, 2, &t.minute) ||
      !Digits(s, pos + 8, 2, &t.second)) {
    return false;
  }
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.month < 1 || t.month > 12 || t.hour > 23 || t.minute > 59 || t.second > 59) return false;
  bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
  int days = kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
  if (t.day < 1 || t.day > days) return false;
  t.unix_seconds =
      DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) * 86400 +
      t.hour * 3600 + t.minute * 60 + t.second;
  *out = t;
  return true;
}

}  // namespace quillmark::platform
