#include "platform/os/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/unicode.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {

enum class Converter { kUtf8, kWindows1252, kUsAscii, kIconv };

struct CodePageInfo {
  std::uint32_t code_page;
  Converter converter;
  const char* iconv_name;  // kIconv only
};

constexpr CodePageInfo kCodePages[] = {
    {kCpGbk, Converter::kIconv, "GBK"},
    {kCpUtf8, Converter::kUtf8, nullptr},
    {kCpGb18030, Converter::kIconv, "GB18030"},
    {kCpBig5, Converter::kIconv, "BIG5"},
    {kCpShiftJis, Converter::kIconv, "CP932"},
    {kCpUhc, Converter::kIconv, "UHC"},
    {kCpWindows1252, Converter::kWindows1252, nullptr},
    {kCpUsAscii, Converter::kUsAscii, nullptr},
    {1250, Converter::kIconv, "CP1250"},
    {1251, Converter::kIconv, "CP1251"},
    {1253, Converter::kIconv, "CP1253"},
    {1254, Converter::kIconv, "CP1254"},
    {1256, Converter::kIconv, "CP1256"},
    {1257, Converter::kIconv, "CP1257"},
    {28591, Converter::kIconv, "ISO-8859-1"},
};

const CodePageInfo* FindCodePage(std::uint32_t code_page) {
  if (code_page == kCpAcp || code_page == kCpOemCp || code_page == kCpThreadAcp) {
    code_page = kAnsiCodePage;
  }
  for (const CodePageInfo& info : kCodePages) {
    if (info.code_page == code_page) return &info;
  }
  return nullptr;
}

constexpr char16_t kReplacement = kReplacementCharacter;
constexpr std::uint8_t kDefaultChar = '?';

// Units at `i` that form one character: 2 for a surrogate pair, else 1.
std::size_t CharLength(std::u16string_view text, std::size_t i) {
  return IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? 2 : 1;
}

// --- UTF-8 -----------------------------------------------------------------

// A lone surrogate has no UTF-8 form and becomes the default character;
// *defaulted tells whether one did.
void Utf8FromUtf16(std::u16string_view text, Bytes* out, bool* defaulted) {
  out->reserve(text.size() * 3);
  for (std::size_t i = 0; i < text.size();) {
    char32_t c;
    if (!DecodeUtf16(text, &i, &c)) {
      out->push_back(kDefaultChar);
      *defaulted = true;
      continue;
    }
    AppendUtf8(c, out);
  }
}

// --- Windows-1252 and US-ASCII ----------------------------------------------

// 0x80 to 0x9F; the rest of 1252 is ISO 8859-1. The five bytes the page
// leaves unassigned map to the C1 controls of the same value, as the
// platform maps them, so that every byte survives a round trip.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The byte of |c| in 1252; false when the page has none.
bool Windows1252Byte(char16_t c, std::uint8_t* b) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    *b = static_cast<std::uint8_t>(c);
    return true;
  }
  for (std::size_t k = 0; k < 32; ++k) {
    if (kWindows1252High[k] == c) {
      *b = static_cast<std::uint8_t>(0x80 + k);
      return true;
    }
  }
  return false;
}

void SingleByteFromUtf16(std::u16string_view text, bool windows1252, Bytes* out, bool* defaulted) {
  out->reserve(text.size());
  for (std::size_t i = 0; i < text.size(); i += CharLength(text, i)) {
    char16_t c = text[i];
    std::uint8_t b = static_cast<std::uint8_t>(c);
    const bool held = windows1252 ? Windows1252Byte(c, &b) : c < 0x80;
    if (!held) {
      b = kDefaultChar;
      *defaulted = true;
    }
    out->push_back(b);
  }
}

void SingleByteToUtf16(ByteSpan bytes, bool windows1252, std::u16string* out) {
  out->reserve(bytes.size());
  for (std::uint8_t b : bytes) {
    if (b < 0x80) {
      out->push_back(b);
    } else if (!windows1252) {
      out->push_back(kReplacement);
    } else if (b < 0xA0) {
      out->push_back(kWindows1252High[b - 0x80]);
    } else {
      out->push_back(b);
    }
  }
}

// --- iconv -------------------------------------------------------------------

constexpr const char* kUtf16Native =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

class IconvDescriptor {
 public:
  IconvDescriptor(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
  ~IconvDescriptor() {
    if (valid()) ::iconv_close(cd_);
  }
  IconvDescriptor(const IconvDescriptor&) = delete;
  IconvDescriptor& operator=(const IconvDescriptor&) = delete;

  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

struct CachedDescriptor {
  std::uint32_t code_page;
  bool to_bytes;
  IconvDescriptor descriptor;
};

// The calling thread's descriptor for one code page and direction, opened on
// first use and reset to its initial state; null if iconv cannot open it.
iconv_t Descriptor(const CodePageInfo& info, bool to_bytes) {
  thread_local std::vector<std::unique_ptr<CachedDescriptor>> cache;
  for (const auto& entry : cache) {
    if (entry->code_page == info.code_page && entry->to_bytes == to_bytes) {
      ::iconv(entry->descriptor.get(), nullptr, nullptr, nullptr, nullptr);
      return entry->descriptor.get();
    }
  }
  auto entry = std::unique_ptr<CachedDescriptor>(
      new CachedDescriptor{info.code_page, to_bytes,
                           IconvDescriptor(to_bytes ? info.iconv_name : kUtf16Native,
                                           to_bytes ? kUtf16Native : info.iconv_name)});
  if (!entry->descriptor.valid()) return nullptr;
  cache.push_back(std::move(entry));
  return cache.back()->descriptor.get();
}

// Runs iconv over `in` into *out (a byte string of code units of size
// `unit`), calling on_error for each input position it cannot convert. The
// handler appends its replacement units and returns how many input bytes to
// skip. Returns false on an unexpected iconv failure.
template <typename Out, typename OnError>
bool RunIconv(iconv_t cd, const std::uint8_t* in, std::size_t in_size, Out* out,
              std::size_t initial_units, OnError on_error) {
  using Unit = typename Out::value_type;
  out->resize(initial_units);
  std::size_t written = 0;  // units
  char* in_ptr = reinterpret_cast<char*>(const_cast<std::uint8_t*>(in));
  std::size_t in_left = in_size;
  while (in_left > 0) {
    if (out->size() - written < 8) out->resize(out->size() * 2 + 16);
    char* out_ptr = reinterpret_cast<char*>(out->data() + written);
    std::size_t out_left = (out->size() - written) * sizeof(Unit);
    std::size_t result = ::iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    int error = errno;
    written =
        static_cast<std::size_t>(out_ptr - reinterpret_cast<char*>(out->data())) / sizeof(Unit);
    if (result != static_cast<std::size_t>(-1)) break;
    if (error == E2BIG) {
      out->resize(out->size() * 2 + 16);
      continue;
    }
    if (error != EILSEQ && error != EINVAL) return false;
    out->resize(written);
    std::size_t skip =
        on_error(static_cast<std::size_t>(in_ptr - reinterpret_cast<const char*>(in)), out);
    written = out->size();
    out->resize(written + 8);
    in_ptr += skip;
    in_left -= skip;
  }
  out->resize(written);
  return true;
}

bool IconvFromUtf16(iconv_t cd, std::u16string_view text, Bytes* out, bool* defaulted) {
  const auto* in = reinterpret_cast<const std::uint8_t*>(text.data());
  return RunIconv(cd, in, text.size() * sizeof(char16_t), out, text.size() * 2 + 16,
                  [&](std::size_t offset, Bytes* o) {
                    o->push_back(kDefaultChar);
                    *defaulted = true;
                    return CharLength(text, offset / sizeof(char16_t)) * sizeof(char16_t);
                  });
}

bool IconvToUtf16(iconv_t cd, ByteSpan bytes, std::u16string* out) {
  return RunIconv(cd, bytes.data(), bytes.size(), out, bytes.size() + 16,
                  [](std::size_t, std::u16string* o) {
                    o->push_back(kReplacement);
                    return std::size_t{1};
                  });
}

// Every code page converted through iconv keeps the ASCII range as it is, so
// text that stays within it is widened or narrowed without iconv.
bool IsAscii(ByteSpan bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; });
}

bool IsAscii(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

std::size_t Fail(std::uint32_t error) {
  SetLastError(error);
  return 0;
}

}  // namespace

bool IsValidCodePage(std::uint32_t code_page) { return FindCodePage(code_page) != nullptr; }

std::size_t WideCharToMultiByte(std::uint32_t code_page, std::u16string_view text,
                                TextLength length, Bytes* bytes, const WideCharOptions& options) {
  const CodePageInfo* info = FindCodePage(code_page);
  if (info == nullptr) return Fail(kErrorInvalidParameter);
  const bool utf8 = info->converter == Converter::kUtf8;
  if ((options.flags & ~kWcErrInvalidChars) != 0 || (options.flags != 0 && !utf8)) {
    return Fail(kErrorInvalidFlags);
  }
  if (utf8 && options.used_default_char != nullptr) return Fail(kErrorInvalidParameter);
  if (length == TextLength::kNulTerminated) {
    text = text.substr(0, text.find(u'\0'));
  } else if (text.empty()) {
    return Fail(kErrorInvalidParameter);
  }
  Bytes out;
  bool defaulted = false;
  try {
    switch (info->converter) {
      case Converter::kUtf8:
        Utf8FromUtf16(text, &out, &defaulted);
        if (defaulted && (options.flags & kWcErrInvalidChars) != 0) {
          return Fail(kErrorNoUnicodeTranslation);
        }
        break;
      case Converter::kWindows1252:
      case Converter::kUsAscii:
        SingleByteFromUtf16(text, info->converter == Converter::kWindows1252, &out, &defaulted);
        break;
      case Converter::kIconv: {
        if (IsAscii(text)) {
          out.assign(text.begin(), text.end());
          break;
        }
        iconv_t cd = Descriptor(*info, /*to_bytes=*/true);
        if (cd == nullptr || !IconvFromUtf16(cd, text, &out, &defaulted)) {
          return Fail(kErrorInvalidParameter);
        }
        break;
      }
    }
    if (length == TextLength::kNulTerminated) out.push_back(0);
  } catch (const std::bad_alloc&) {
    return Fail(kErrorNotEnoughMemory);
  }
  bytes->swap(out);
  if (options.used_default_char != nullptr) *options.used_default_char = defaulted;
  return bytes->size();
}

std::size_t MultiByteToWideChar(std::uint32_t code_page, ByteSpan bytes, std::u16string* text) {
  const CodePageInfo* info = FindCodePage(code_page);
  if (info == nullptr || bytes.empty()) return Fail(kErrorInvalidParameter);
  std::u16string out;
  try {
    switch (info->converter) {
      case Converter::kUtf8:
        out = Utf8ToUtf16Lossy(AsChars(bytes));
        break;
      case Converter::kWindows1252:
      case Converter::kUsAscii:
        SingleByteToUtf16(bytes, info->converter == Converter::kWindows1252, &out);
        break;
      case Converter::kIconv: {
        if (IsAscii(bytes)) {
          out = std::u16string(bytes.begin(), bytes.end());  // assign() would copy twice
          break;
        }
        iconv_t cd = Descriptor(*info, /*to_bytes=*/false);
        if (cd == nullptr || !IconvToUtf16(cd, bytes, &out)) return Fail(kErrorInvalidParameter);
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    return Fail(kErrorNotEnoughMemory);
  }
  text->swap(out);
  return text->size();
}

}  // namespace quillmark::platform
