// Blank trimming for line-oriented text (script answers, typed replies, the
// registry file): spaces, tabs and a carriage return left by CRLF line ends.
#ifndef QUILLMARK_COMMON_TRIM_H_
#define QUILLMARK_COMMON_TRIM_H_

#include <string_view>

namespace quillmark {

template <typename Char>
constexpr bool IsLineBlank(Char c) {
  return c == Char(' ') || c == Char('\t') || c == Char('\r');
}

// |s| without leading and trailing ' ', '\t' and '\r'; a view into |s|.
template <typename Char>
constexpr std::basic_string_view<Char> Trim(std::basic_string_view<Char> s) {
  while (!s.empty() && IsLineBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsLineBlank(s.back())) s.remove_suffix(1);
  return s;
}

constexpr std::string_view Trim(std::string_view s) { return Trim<char>(s); }
constexpr std::u16string_view Trim(std::u16string_view s) { return Trim<char16_t>(s); }

}  // namespace quillmark

#endif  // QUILLMARK_COMMON_TRIM_H_
