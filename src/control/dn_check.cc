#include "control/dn_check.h"

#include <algorithm>
#include <new>

#include "common/status.h"

namespace quillmark::control {

std::size_t CountDnCommas(std::u16string_view dn) {
  return static_cast<std::size_t>(std::count(dn.begin(), dn.end(), u','));
}

std::size_t CountDnSeparators(std::u16string_view dn, std::u16string_view separator) {
  if (separator.empty()) return 0;
  std::size_t count = 0;
  for (std::size_t at = dn.find(separator); at != std::u16string_view::npos;
       at = dn.find(separator, at + separator.size())) {
    ++count;
  }
  return count;
}

int DNCheck(std::u16string_view dn, std::u16string_view separator) {
  if (dn.empty()) return kErrEmptyInput;
  if (dn.size() > kMaxDnLength) return kErrTooLong;
  if (CountDnCommas(dn) > kMaxDnCommas) return kErrDnCheck;
  if (separator.empty()) return kErrSeparatorEmpty;
  if (CountDnSeparators(dn, separator) > kMaxDnSeparators) return kErrSeparatorLimit;
  return kOk;
}

int CheckDnArgument(std::u16string_view dn, std::u16string_view separator) {
  return dn.empty() ? kOk : DNCheck(dn, separator);
}

int ResolveIssuerDn(std::u16string_view issuer, std::u16string* resolved) {
  if (issuer.size() > kMaxDnLength) return kErrTooLong;
  std::u16string_view chosen = issuer.empty() ? std::u16string_view(kFixedIssuerDN) : issuer;
  if (CountDnCommas(chosen) > kMaxDnCommas) return kErrDnCheck;
  try {
    resolved->assign(chosen);
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
  return kOk;
}

Message DnCheckMessage(int status) {
  switch (status) {
    case kErrTooLong:
      return Message::kDnTooLong;
    case kErrDnCheck:
      return Message::kDnCheckFailed;
    case kErrSeparatorEmpty:
      return Message::kSeparatorNotSet;
    case kErrSeparatorLimit:
      return Message::kSeparatorLimit;
    default:
      return Message::kNone;
  }
}

}  // namespace quillmark::control
