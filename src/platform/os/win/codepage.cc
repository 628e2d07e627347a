#include "platform/os/codepage.h"

#include <windows.h>

#include <algorithm>
#include <new>

#include "common/unicode.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {

// The pages the control converts; the system may know more, but callers see
// the same list on every system.
constexpr std::uint32_t kCodePages[] = {kCpGbk, kCpUtf8,        kCpGb18030, kCpBig5, kCpShiftJis,
                                        kCpUhc, kCpWindows1252, kCpUsAscii, 1250,    1251,
                                        1253,   1254,           1256,       1257,    28591};

// The page a code page number stands for, or 0 when it is not one of ours
// or the system has no tables for it (wine has none for 54936). CP_ACP,
// CP_OEMCP and CP_THREAD_ACP are 936 whatever the system's own ANSI page is,
// so text converts as it does on Linux.
std::uint32_t Resolve(std::uint32_t code_page) {
  if (code_page == kCpAcp || code_page == kCpOemCp || code_page == kCpThreadAcp) {
    code_page = kAnsiCodePage;
  }
  const bool ours =
      std::find(std::begin(kCodePages), std::end(kCodePages), code_page) != std::end(kCodePages);
  return ours && ::IsValidCodePage(code_page) ? code_page : 0;
}

std::size_t Fail(std::uint32_t error) {
  SetLastError(error);
  return 0;
}

// The text as the system is given it: every unpaired surrogate becomes '?',
// which every page holds as itself (the system would write U+FFFD's bytes in
// UTF-8 and a page's own default character elsewhere), and so does a
// surrogate pair in a page that holds no supplementary character (the system
// would write one '?' per unit). Only UTF-8 and GB18030 hold them.
std::wstring Prepared(std::uint32_t page, std::u16string_view text, bool* replaced) {
  const bool supplementary = page == kCpUtf8 || page == kCpGb18030;
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      if (supplementary) {
        out.push_back(static_cast<wchar_t>(c));
        out.push_back(static_cast<wchar_t>(text[i + 1]));
      } else {
        out.push_back(L'?');
        *replaced = true;
      }
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      out.push_back(L'?');
      *replaced = true;
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
  }
  return out;
}

// ::MultiByteToWideChar over |bytes| with |flags|; false when it refuses.
bool SystemToWide(std::uint32_t code_page, DWORD flags, ByteSpan bytes, std::u16string* out) {
  const char* in = reinterpret_cast<const char*>(bytes.data());
  const int in_size = static_cast<int>(bytes.size());
  int n = ::MultiByteToWideChar(code_page, flags, in, in_size, nullptr, 0);
  if (n <= 0) return false;
  std::u16string text(static_cast<std::size_t>(n), u'\0');
  n = ::MultiByteToWideChar(code_page, flags, in, in_size, reinterpret_cast<wchar_t*>(text.data()),
                            n);
  if (n <= 0) return false;
  text.resize(static_cast<std::size_t>(n));
  out->append(text);
  return true;
}

// Bytes that are not well formed: each character that does convert is kept,
// and each byte that starts none becomes one U+FFFD. A character is one to
// four bytes (GB18030 has four-byte ones).
void DecodeByteByByte(std::uint32_t code_page, ByteSpan bytes, std::u16string* out) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    bool done = false;
    for (std::size_t len : {1, 2, 3, 4}) {
      if (i + len > bytes.size()) break;
      if (SystemToWide(code_page, MB_ERR_INVALID_CHARS, bytes.subspan(i, len), out)) {
        i += len;
        done = true;
        break;
      }
    }
    if (!done) {
      out->push_back(kReplacementCharacter);
      ++i;
    }
  }
}

}  // namespace

bool IsValidCodePage(std::uint32_t code_page) { return Resolve(code_page) != 0; }

std::size_t WideCharToMultiByte(std::uint32_t code_page, std::u16string_view text,
                                TextLength length, Bytes* bytes, const WideCharOptions& options) {
  const std::uint32_t page = Resolve(code_page);
  if (page == 0) return Fail(kErrorInvalidParameter);
  const bool utf8 = page == kCpUtf8;
  if ((options.flags & ~kWcErrInvalidChars) != 0 || (options.flags != 0 && !utf8)) {
    return Fail(kErrorInvalidFlags);
  }
  if (utf8 && options.used_default_char != nullptr) return Fail(kErrorInvalidParameter);
  if (length == TextLength::kNulTerminated) {
    text = text.substr(0, text.find(u'\0'));
  } else if (text.empty()) {
    return Fail(kErrorInvalidParameter);
  }
  const std::uint32_t saved = GetLastError();
  Bytes out;
  bool defaulted = false;
  try {
    std::wstring wide = Prepared(page, text, &defaulted);
    if (defaulted && (options.flags & kWcErrInvalidChars) != 0) {
      return Fail(kErrorNoUnicodeTranslation);
    }
    if (!wide.empty()) {
      // No best-fit characters: what the page lacks becomes '?', never a
      // look-alike (an 'a' for an 'ā'). UTF-8 and GB18030 hold every
      // character and take neither the flag nor the used-default question.
      const bool holds_all = utf8 || page == kCpGb18030;
      const DWORD flags = holds_all ? 0 : WC_NO_BEST_FIT_CHARS;
      BOOL used = FALSE;
      BOOL* used_ptr = holds_all ? nullptr : &used;
      const int in_size = static_cast<int>(wide.size());
      int n =
          ::WideCharToMultiByte(page, flags, wide.data(), in_size, nullptr, 0, nullptr, used_ptr);
      if (n <= 0) return Fail(kErrorInvalidParameter);
      out.resize(static_cast<std::size_t>(n));
      n = ::WideCharToMultiByte(page, flags, wide.data(), in_size,
                                reinterpret_cast<char*>(out.data()), n, nullptr, used_ptr);
      if (n <= 0) return Fail(kErrorInvalidParameter);
      out.resize(static_cast<std::size_t>(n));
      defaulted = defaulted || used != FALSE;
    }
    if (length == TextLength::kNulTerminated) out.push_back(0);
  } catch (const std::bad_alloc&) {
    return Fail(kErrorNotEnoughMemory);
  }
  bytes->swap(out);
  if (options.used_default_char != nullptr) *options.used_default_char = defaulted;
  SetLastError(saved);
  return bytes->size();
}

std::size_t MultiByteToWideChar(std::uint32_t code_page, ByteSpan bytes, std::u16string* text) {
  const std::uint32_t page = Resolve(code_page);
  if (page == 0 || bytes.empty()) return Fail(kErrorInvalidParameter);
  const std::uint32_t saved = GetLastError();
  std::u16string out;
  try {
    if (page == kCpUsAscii) {
      // The system strips the high bit of such bytes; they are no ASCII.
      for (std::uint8_t b : bytes) out.push_back(b < 0x80 ? b : kReplacementCharacter);
    } else if (!SystemToWide(page, MB_ERR_INVALID_CHARS, bytes, &out)) {
      out.clear();
      if (page == kCpUtf8) {
        out = Utf8ToUtf16Lossy(AsChars(bytes));  // one U+FFFD per byte that starts nothing
      } else {
        DecodeByteByByte(page, bytes, &out);
      }
    }
  } catch (const std::bad_alloc&) {
    return Fail(kErrorNotEnoughMemory);
  }
  text->swap(out);
  SetLastError(saved);
  return text->size();
}

}  // namespace quillmark::platform
