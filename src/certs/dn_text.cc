#include "certs/dn_text.h"

namespace quillmark::certs {

std::u16string NormalizeDnCommas(std::u16string_view dn) {
  std::u16string out;
  out.reserve(dn.size() + 16);
  for (std::size_t i = 0; i < dn.size(); ++i) {
    if (dn[i] != u',') {
      out.push_back(dn[i]);
      continue;
    }
    out.append(u", ");
    if (i + 1 < dn.size()) {
      if (dn[i + 1] != u' ') out.push_back(dn[i + 1]);
      ++i;
    }
  }
  return out;
}

std::u16string ReverseDn(std::u16string_view dn) {
  std::u16string out;
  out.reserve(dn.size() * 2);
  // |end| is where the component after the comma being looked at stops: the
  // comma found before it in the backward walk, or the end of the text.
  std::size_t end = dn.size();
  for (std::size_t i = dn.size(); i-- > 1;) {
    if (dn[i] != u',') continue;
    std::size_t start = i + 1;
    if (start < end && dn[start] == u' ') ++start;
    out.append(dn.substr(start, end - start));
    out.append(u", ");
    end = i;
  }
  out.append(dn.substr(0, end));
  return out;
}

std::u16string_view DnDisplayName(std::u16string_view dn) {
  static constexpr std::u16string_view kKeys[] = {u"CN=", u"E=", u"OU=", u"O="};
  for (std::u16string_view key : kKeys) {
    std::size_t at = dn.find(key);
    if (at == dn.npos) continue;
    std::u16string_view rest = dn.substr(at + key.size());
    return rest.substr(0, rest.find(u','));
  }
  return dn;
}

std::vector<std::u16string_view> SplitDnAlternatives(std::u16string_view dn,
                                                     std::u16string_view separator) {
  std::vector<std::u16string_view> pieces;
  if (separator.empty()) {
    pieces.push_back(dn);
    return pieces;
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t at = dn.find(separator, start);
    if (at == dn.npos) break;
    pieces.push_back(dn.substr(start, at - start));
    start = at + separator.size();
  }
  pieces.push_back(dn.substr(start));
  return pieces;
}

bool AnyPieceOccursIn(const std::vector<std::u16string_view>& pieces, std::u16string_view name) {
  for (std::u16string_view piece : pieces) {
    if (name.find(piece) != name.npos) return true;
  }
  return false;
}

}  // namespace quillmark::certs
