// The rules by which members accept DN, issuer DN and serial-number
// arguments before passing them on, unchanged and as UTF-16, to the
// certificate lookup.
//
// A DN argument is empty (no DN given) or 1 to 32768 UTF-16 units; it may
// join up to five alternative DNs with the control's DN separator. Checks in
// order, the first failure deciding:
//   length above 32768              kErrTooLong        "DN太长"
//   more than 255 commas            kErrDnCheck        "DN验证失败"
//   empty separator                 kErrSeparatorEmpty "未设置DN分隔符"
//   more than 4 separators          kErrSeparatorLimit "DN分隔符超限"
// Separators are counted without overlap: with "||", "a|||b" holds one.
//
// An issuer DN may be empty (FixedIssuerDN stands in) and is checked for
// length and commas only. Serial numbers are taken as given.
#ifndef QUILLMARK_CONTROL_DN_CHECK_H_
#define QUILLMARK_CONTROL_DN_CHECK_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "control/messages.h"

namespace quillmark::control {

inline constexpr std::size_t kMaxDnLength = 32768;
inline constexpr std::size_t kMaxDnCommas = 255;
inline constexpr std::size_t kMaxDnSeparators = 4;

// The issuer named when a serial number comes without one.
inline constexpr char16_t kFixedIssuerDN[] = u"O=VevorAvuze, OU=config, CN=ZAVU";

// Commas in |dn|.
std::size_t CountDnCommas(std::u16string_view dn);

// Non-overlapping occurrences of |separator| in |dn|, searching from the start
// and resuming right after each match. 0 for an empty separator.
std::size_t CountDnSeparators(std::u16string_view dn, std::u16string_view separator);

// The four checks above on a given DN; kErrEmptyInput for an empty one.
int DNCheck(std::u16string_view dn, std::u16string_view separator);

// The checks as members apply them to a DN argument: an empty DN means none
// and passes; a given one goes through DNCheck.
int CheckDnArgument(std::u16string_view dn, std::u16string_view separator);

// The issuer DN of a serial-number signature: |issuer| itself, or
// kFixedIssuerDN when it is empty, in *resolved. kErrTooLong above 32768
// units (checked before any replacement), kErrDnCheck above 255 commas.
int ResolveIssuerDn(std::u16string_view issuer, std::u16string* resolved);

// The message a member shows for a failure of the checks above:
// "DN太长", "DN验证失败", "未设置DN分隔符", "DN分隔符超限", else kNone.
Message DnCheckMessage(int status);

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_DN_CHECK_H_
