// ASCII-only case folding, for names the platform compares without regard to
// case (store names, provider names, verbs, registry keywords). Characters
// outside A-Z are left as they are.
#ifndef QUILLMARK_COMMON_ASCII_H_
#define QUILLMARK_COMMON_ASCII_H_

#include <string_view>

namespace quillmark {

template <typename Char>
constexpr Char AsciiToLower(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c + ('a' - 'A')) : c;
}

template <typename Char>
constexpr bool EqualsIgnoringAsciiCase(std::basic_string_view<Char> a,
                                       std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
  }
  return true;
}

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return EqualsIgnoringAsciiCase<char>(a, b);
}
constexpr bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  return EqualsIgnoringAsciiCase<char16_t>(a, b);
}

// Whether |s| starts with |prefix|, which must be lower case.
constexpr bool StartsWithLowerIgnoringAsciiCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsIgnoringAsciiCase(s.substr(0, prefix.size()), prefix);
}

}  // namespace quillmark

#endif  // QUILLMARK_COMMON_ASCII_H_
