// Conversions between UTF-16 text and bytes in a Windows code page.
//
// Code pages: 936 (GBK), 54936 (GB18030), 950 (Big5), 932 (Shift_JIS as
// Windows extends it), 949 (Unified Hangul Code), 1252 (Western), 20127
// (US-ASCII), 65001 (UTF-8), the single-byte pages 1250, 1251, 1253, 1254,
// 1256, 1257 and 28591 (ISO 8859-1); and 0 (CP_ACP), 1 (CP_OEMCP) and 3
// (CP_THREAD_ACP), which all stand for the ANSI code page, 936 here.
//
// The rules are the platform's with flags 0:
//   - To bytes: a character the code page cannot hold becomes '?' without any
//     report, and so does an unpaired surrogate (in every code page, UTF-8
//     included). Best-fit substitutes (an 'a' for an 'ā') are not made.
//   - To text: every byte that does not start a well-formed sequence becomes
//     one U+FFFD and conversion goes on with the next byte; so a truncated
//     three-byte UTF-8 sequence gives two U+FFFD, one per byte.
//   - Failures return 0 and set the thread's last error: an unknown code page
//     or empty input gives kErrorInvalidParameter, exhausted memory
//     kErrorNotEnoughMemory. Outputs are unchanged by a failure, and success
//     leaves the last error alone.
// A caller that must not lose a character asks, as on the platform: for
// UTF-8 with kWcErrInvalidChars (an unpaired surrogate then fails the call
// with kErrorNoUnicodeTranslation), for the other pages with
// WideCharOptions::used_default_char (set when a default character was
// written). UTF-8 refuses used_default_char (kErrorInvalidParameter) and the
// other pages refuse kWcErrInvalidChars (kErrorInvalidFlags).
// UTF-8, 1252 and 20127 are converted here; the other pages go through iconv
// with one conversion descriptor per code page and direction, kept per thread.
// On Windows every page goes through the system's own tables (without
// best-fit characters), with the rules above kept where the system's differ;
// a page the system has no tables for (wine lacks 54936) is not valid.
#ifndef QUILLMARK_PLATFORM_OS_CODEPAGE_H_
#define QUILLMARK_PLATFORM_OS_CODEPAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace quillmark::platform {

inline constexpr std::uint32_t kCpAcp = 0;
inline constexpr std::uint32_t kCpOemCp = 1;
inline constexpr std::uint32_t kCpThreadAcp = 3;
inline constexpr std::uint32_t kCpGbk = 936;
inline constexpr std::uint32_t kCpGb18030 = 54936;
inline constexpr std::uint32_t kCpBig5 = 950;
inline constexpr std::uint32_t kCpShiftJis = 932;
inline constexpr std::uint32_t kCpUhc = 949;
inline constexpr std::uint32_t kCpWindows1252 = 1252;
inline constexpr std::uint32_t kCpUsAscii = 20127;
inline constexpr std::uint32_t kCpUtf8 = 65001;

// The code page that kCpAcp, kCpOemCp and kCpThreadAcp stand for.
inline constexpr std::uint32_t kAnsiCodePage = kCpGbk;

// Whether the conversions below accept `code_page`.
bool IsValidCodePage(std::uint32_t code_page);

inline constexpr std::uint32_t kWcErrInvalidChars = 0x80;          // WC_ERR_INVALID_CHARS
inline constexpr std::uint32_t kErrorInvalidFlags = 1004;          // ERROR_INVALID_FLAGS
inline constexpr std::uint32_t kErrorNoUnicodeTranslation = 1113;  // ERROR_NO_UNICODE_TRANSLATION

// The flags and the lpUsedDefaultChar of WideCharToMultiByte.
struct WideCharOptions {
  std::uint32_t flags = 0;  // 0 or kWcErrInvalidChars
  // Null, or set on success to whether a character became the default
  // character (an unpaired surrogate included).
  bool* used_default_char = nullptr;
};

// How much of the text WideCharToMultiByte converts.
enum class TextLength {
  kExact,          // every unit of the view, NUL units included (a count >= 0)
  kNulTerminated,  // up to the first NUL unit or the end of the view, then a
                   // terminating zero byte that is written and counted (-1)
};

// Replaces *bytes with `text` in `code_page`. Returns the number of bytes
// written, terminator included with kNulTerminated, or 0 on failure (empty
// input with kExact fails; with kNulTerminated it gives the terminator alone).
std::size_t WideCharToMultiByte(std::uint32_t code_page, std::u16string_view text,
                                TextLength length, Bytes* bytes,
                                const WideCharOptions& options = {});

// Replaces *text with the UTF-16 text of exactly `bytes` in `code_page`; no
// terminator is added, zero bytes become U+0000. Returns the number of units
// written, or 0 on failure (empty input always fails).
std::size_t MultiByteToWideChar(std::uint32_t code_page, ByteSpan bytes, std::u16string* text);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_CODEPAGE_H_
