// UTF-8 <-> UTF-16 conversion for text the platform layer stores in files
// (store names, key-provider properties) and for front ends that print names.
#ifndef QUILLMARK_PLATFORM_OS_UTF16_H_
#define QUILLMARK_PLATFORM_OS_UTF16_H_

#include <string>
#include <string_view>

namespace quillmark::platform {

// Strict: false on a lone surrogate (|out| is left unchanged).
bool Utf16ToUtf8(std::u16string_view in, std::string* out);
// Strict: false on malformed UTF-8, overlong forms or encoded surrogates.
bool Utf8ToUtf16(std::string_view in, std::u16string* out);

// Lenient forms: each malformed sequence or lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8Lossy(std::u16string_view in);
std::u16string Utf8ToUtf16Lossy(std::string_view in);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_UTF16_H_
