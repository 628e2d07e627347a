// The registry file's text form and the tree it describes.
//
// The file is in the regedit export format: a header line ("Windows Registry
// Editor Version 5.00"; "REGEDIT4" is accepted on reading), then sections
// "[ROOT\key\subkey]" each followed by its values:
//
//   "name"="text"            REG_SZ; \\ and \" are the only escapes
//   @="text"                 the key's default (unnamed) value
//   "name"=dword:0000002a    REG_DWORD
//   "name"=hex:01,02         REG_BINARY
//   "name"=hex(2):41,00,00,00  any other type N as hex(N): the value's bytes
//   "name"=-                 deletes the value
//   [-ROOT\key]              deletes the key and everything below it
//
// Hexadecimal data may continue over several lines, each but the last ending
// in a backslash. Lines starting with ';' are comments. Root names are
// HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS, HKEY_CURRENT_CONFIG and
// HKEY_CLASSES_ROOT, which is the same tree as
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes; the short forms HKLM, HKCU, HKU, HKCC
// and HKCR are accepted on reading. Key and value names compare
// case-insensitively; a key keeps the spelling it was created with.
//
// Nothing a person wrote by hand is dropped on a rewrite: comments and lines
// that do not parse stay verbatim in the section they were found in, in their
// place among the values; sections whose header does not name a key (an
// unknown root, an empty component) are kept verbatim at the end of the file;
// values of every type keep their exact bytes. Only blank lines, the lines
// under a "[-key]" header (which carry no meaning) and repeated definitions
// of one value (the last one wins) are not reproduced.
//
// The file is UTF-8, with or without a byte-order mark; a UTF-16LE file with
// its byte-order mark (as regedit writes them) is read too. Files are written
// as UTF-8 without a mark, with LF line ends.
#ifndef QUILLMARK_PLATFORM_REGISTRY_REGISTRY_TEXT_H_
#define QUILLMARK_PLATFORM_REGISTRY_REGISTRY_TEXT_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"

namespace quillmark::platform {

// Value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

// The folded form of a key or value name, used for every comparison: ASCII,
// Latin-1, Greek and Cyrillic letters are upper-cased unit by unit.
std::u16string FoldRegistryName(std::u16string_view name);

// The UTF-16LE bytes of |text| followed by a terminating NUL unit: the data of
// a REG_SZ or REG_EXPAND_SZ value.
Bytes RegistryStringBytes(std::u16string_view text);

// The text of REG_SZ-style data: true when |data| is a whole number of UTF-16
// units ending in a NUL unit; |text| is everything before that last unit.
bool RegistryStringText(ByteSpan data, std::u16string* text);

// Splits a key path "a\b\c" into its names; one trailing '\' is allowed.
// False for an empty name, a name longer than 255 units or holding a control
// character, or a lone surrogate anywhere.
bool SplitRegistryPath(std::u16string_view path, std::vector<std::u16string>* names);

// One line-level item of a key: a value, or a line kept verbatim (a comment
// or a line that does not parse; several physical lines when it continued).
struct RegistryEntry {
  bool is_value = true;
  std::u16string name;
  std::uint32_t type = kRegNone;
  Bytes data;
  std::string verbatim;
};

struct RegistryKey {
  std::u16string name;                                             // as first spelled
  std::vector<RegistryEntry> entries;                              // file order
  std::map<std::u16string, std::unique_ptr<RegistryKey>> subkeys;  // by folded name

  // The value entry called |name|, or null.
  RegistryEntry* FindValue(std::u16string_view name);
  // Replaces the value in place or appends it.
  void SetValue(std::u16string_view name, std::uint32_t type, Bytes data);
  // True when a value was removed.
  bool DeleteValue(std::u16string_view name);
  RegistryKey* FindSubkey(std::u16string_view name);
  // The subkey, created when missing; *created tells which.
  RegistryKey* AddSubkey(std::u16string_view name, bool* created);
};

class RegistryDocument {
 public:
  RegistryDocument();

  // Reads a file's bytes; never fails (what does not parse is kept verbatim).
  static RegistryDocument Parse(ByteSpan file);
  // The file's bytes.
  std::string Serialize() const;

  // Splits a full key path ("HKEY_CLASSES_ROOT\CLSID\x") into the components
  // below the top of the tree, root first, with HKEY_CLASSES_ROOT replaced by
  // HKEY_LOCAL_MACHINE\SOFTWARE\Classes and short root names expanded. False
  // for an unknown root or an empty component; one trailing '\' is allowed.
  static bool CanonicalPath(std::u16string_view path, std::vector<std::u16string>* components);

  // The key at |components| (as from CanonicalPath), or null.
  RegistryKey* Find(const std::vector<std::u16string>& components);
  // The key, created with any missing parents; *created tells whether it was missing.
  RegistryKey* Create(const std::vector<std::u16string>& components, bool* created);
  // Replaces each name of |components| by its stored spelling, as far as the
  // keys exist.
  void Spell(std::vector<std::u16string>* components);
  // Removes the key and everything below; false when it was not there or is a root.
  bool Remove(const std::vector<std::u16string>& components);

 private:
  class Reader;  // Parse's state while it reads the lines

  RegistryKey top_;                    // its subkeys are the roots
  std::vector<std::string> preamble_;  // comments before the first section
  std::vector<std::string> foreign_;   // verbatim sections that name no key
};

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_REGISTRY_REGISTRY_TEXT_H_
