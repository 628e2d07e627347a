// Distinguished-name texts as the selection routines handle them: comma
// normalisation, reversal of the component order, the display name of a DN
// string, and splitting a DN argument into its alternatives.
//
// Names rendered from certificates use ", " between attributes, so a DN is
// normalised before it is compared with one:
//
//   std::u16string dn = NormalizeDnCommas(u"CN=a,O=b");          // "CN=a, O=b"
//   for (std::u16string_view piece : SplitDnAlternatives(dn, u"|")) ...
//   std::u16string other_order = ReverseDn(u"C=CN, O=Bank, CN=Zhang");
//                                                      // "CN=Zhang, O=Bank, C=CN"
//
// None of these parse the DN: a ',' inside a quoted value is treated like
// any other comma.
#ifndef QUILLMARK_CERTS_DN_TEXT_H_
#define QUILLMARK_CERTS_DN_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace quillmark::certs {

// Writes every ',' as ", ": a ',' and the one character after it are
// replaced by ", " and that character unless it is a space; a ',' at the end
// becomes ", ". "CN=a,O=b" and "CN=a, O=b" both give "CN=a, O=b".
std::u16string NormalizeDnCommas(std::u16string_view dn);

// The comma-separated components in reverse order, joined by ", ". One space
// directly after a comma is dropped; the components are otherwise copied as
// they are. A ',' in the first position does not separate. "A,B" gives
// "B, A"; the result is at most twice as long as |dn|.
std::u16string ReverseDn(std::u16string_view dn);

// The display name of a DN string: the text after the first "CN=" up to the
// next ',' (or the end); when "CN=" does not occur, the same after "E=", then
// "OU=", then "O=" (plain case-sensitive substring search). The whole string
// when none of them occurs. The result points into |dn|.
std::u16string_view DnDisplayName(std::u16string_view dn);

// The pieces of |dn| between occurrences of |separator|, searched from left
// to right without overlap: n occurrences give n + 1 pieces, which may be
// empty. An empty separator splits nothing (one piece, the whole DN). The
// pieces point into |dn|.
std::vector<std::u16string_view> SplitDnAlternatives(std::u16string_view dn,
                                                     std::u16string_view separator);

// True when at least one piece occurs in |name| (case-sensitive substring;
// an empty piece occurs in every name).
bool AnyPieceOccursIn(const std::vector<std::u16string_view>& pieces, std::u16string_view name);

}  // namespace quillmark::certs

#endif  // QUILLMARK_CERTS_DN_TEXT_H_
