// UTF-8 paths and texts in, UTF-16 to the wide Win32 calls, and back.
//
// On Windows wchar_t is one UTF-16 unit, so std::wstring and std::u16string
// hold the same units. Conversions are lossy: a malformed UTF-8 sequence
// becomes U+FFFD (such a path names no file), a lone surrogate '?' on the way
// back.
#ifndef QUILLMARK_PLATFORM_OS_WIN_WIDE_H_
#define QUILLMARK_PLATFORM_OS_WIN_WIDE_H_

#include <string>
#include <string_view>

namespace quillmark::platform::win {

std::wstring Wide(std::string_view utf8);
std::wstring Wide(std::u16string_view text);
std::string Utf8(std::wstring_view wide);
std::u16string Utf16(std::wstring_view wide);

// The value of an environment variable as UTF-8 (the wide environment, so no
// ANSI code page is involved); empty when it is unset.
std::string EnvironmentUtf8(const wchar_t* name);

// Whether |c| separates path components: '\' or '/'.
inline bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
inline bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace quillmark::platform::win

#endif  // QUILLMARK_PLATFORM_OS_WIN_WIDE_H_
