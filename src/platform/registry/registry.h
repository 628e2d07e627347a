// The registry: keys and values kept in <home>/registry.reg.
//
// The calls have the platform's shapes: a key is opened or created below an
// open key or one of the predefined roots, values are read and written as
// typed bytes, and every call returns kErrorSuccess (0) or the platform's
// error value: kErrorFileNotFound for a missing key or value, kErrorAccessDenied
// when the handle lacks the access right the call needs (or RegDeleteKeyW
// meets a key with subkeys), kErrorInvalidHandle for a closed handle,
// kErrorKeyDeleted when the key was deleted after it was opened,
// kErrorNoMoreItems at the end of an enumeration, kErrorInvalidParameter for a
// malformed key or value name, kErrorCantRead/kErrorCantWrite when the file
// cannot be read or replaced. The thread's last error is not touched.
//
// HKEY_CLASSES_ROOT is the tree HKEY_LOCAL_MACHINE\SOFTWARE\Classes. Key and
// value names compare case-insensitively. Key names are 1 to 255 UTF-16
// units without control characters; a key path is names joined by '\'.
// Value names may not hold CR, LF or NUL. Names and texts must be valid
// UTF-16 (no lone surrogates), since the file is UTF-8.
//
// Every call reads the file afresh, so a handle always sees what another
// handle or process wrote. Changes are written to a temporary file and
// renamed into place, under an exclusive lock on <home>/registry.reg.lock so
// that two writers never lose each other's change. The file's format and what
// survives a hand edit are described in platform/registry_text.h.
//
// On Windows the calls are the system's own registry and there is no file:
// the roots are the system's HKEY_CLASSES_ROOT (the merged view of the
// machine's and the user's classes; path() names it "HKEY_CLASSES_ROOT"),
// HKEY_CURRENT_USER and so on; key names keep the spelling the caller gave;
// values enumerate in the order the registry keeps them; and access is
// checked by the system as well (writing below HKEY_LOCAL_MACHINE needs an
// administrator). RegTransaction there groups nothing: each change takes
// effect when it is made, and ending without Commit undoes none of them.
// RegistryFilePath() is empty.
//
//   RegKey key;
//   if (RegCreateKeyExW(kHkeyClassesRoot, u"CLSID\\{...}\\CtlSettings", 0,
//                       kKeyAllAccess, &key, nullptr) == kErrorSuccess) {
//     RegSetValueExW(key, u"stubPath", kRegSz, RegistryStringBytes(u"/home/a/quillmarkStub/"));
//   }
#ifndef QUILLMARK_PLATFORM_REGISTRY_REGISTRY_H_
#define QUILLMARK_PLATFORM_REGISTRY_REGISTRY_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "platform/os/last_error.h"
#include "platform/registry/registry_text.h"  // value types, RegistryStringBytes/Text

namespace quillmark::platform {

// Error values of the registry calls beyond those in last_error.h.
inline constexpr std::uint32_t kErrorInvalidHandle = 6;  // ERROR_INVALID_HANDLE
inline constexpr std::uint32_t kErrorNoMoreItems = 259;  // ERROR_NO_MORE_ITEMS
inline constexpr std::uint32_t kErrorCantOpen = 1011;    // ERROR_CANTOPEN
inline constexpr std::uint32_t kErrorCantRead = 1012;    // ERROR_CANTREAD
inline constexpr std::uint32_t kErrorCantWrite = 1013;   // ERROR_CANTWRITE
inline constexpr std::uint32_t kErrorKeyDeleted = 1018;  // ERROR_KEY_DELETED

// Access rights.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t kKeyNotify = 0x0010;
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kKeyRead = 0x00020019;
inline constexpr std::uint32_t kKeyWrite = 0x00020006;
inline constexpr std::uint32_t kKeyAllAccess = 0x000F003F;

// RegCreateKeyExW options and dispositions.
inline constexpr std::uint32_t kRegOptionNonVolatile = 0;
inline constexpr std::uint32_t kRegCreatedNewKey = 1;
inline constexpr std::uint32_t kRegOpenedExistingKey = 2;

enum class RegRoot { kClassesRoot, kCurrentUser, kLocalMachine, kUsers, kCurrentConfig };

inline constexpr RegRoot kHkeyClassesRoot = RegRoot::kClassesRoot;
inline constexpr RegRoot kHkeyCurrentUser = RegRoot::kCurrentUser;
inline constexpr RegRoot kHkeyLocalMachine = RegRoot::kLocalMachine;
inline constexpr RegRoot kHkeyUsers = RegRoot::kUsers;
inline constexpr RegRoot kHkeyCurrentConfig = RegRoot::kCurrentConfig;

// A key handle: empty, one of the predefined roots (which converts
// implicitly, so a root can be passed wherever a key is), or a key opened
// below one. It belongs to the registry file of the home folder current when
// it was opened; a root uses the home folder current at each call. Moving
// leaves the source empty; destruction closes.
class RegKey {
 public:
  RegKey() = default;
  RegKey(RegRoot root);  // NOLINT: implicit on purpose, like the predefined handles
  RegKey(RegKey&& other) noexcept;
  RegKey& operator=(RegKey&& other) noexcept;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() = default;

  bool valid() const { return state_ != State::kEmpty; }
  // The key's full path as the file names it, e.g.
  // u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID"; empty for an empty handle.
  std::u16string path() const;

 private:
  friend struct RegKeyAccess;
  enum class State { kEmpty, kRoot, kOpen };
  State state_ = State::kEmpty;
  std::string file_;                        // registry file (kOpen only)
  std::vector<std::u16string> components_;  // canonical path from the top
  std::uint32_t access_ = 0;
};

// Opens an existing key. |sub_key| empty opens |parent| itself again.
// |options| must be 0.
std::uint32_t RegOpenKeyExW(const RegKey& parent, std::u16string_view sub_key,
                            std::uint32_t options, std::uint32_t sam, RegKey* result);

// Opens a key, creating it and any missing parents first. Needs
// kKeyCreateSubKey on |parent| when something is created. |disposition| (may
// be null) receives kRegCreatedNewKey or kRegOpenedExistingKey. |options| must
// be kRegOptionNonVolatile.
std::uint32_t RegCreateKeyExW(const RegKey& parent, std::u16string_view sub_key,
                              std::uint32_t options, std::uint32_t sam, RegKey* result,
                              std::uint32_t* disposition);

// A value's type and bytes (exactly as stored: a REG_SZ set without its
// terminator comes back without it). |name| empty: the default value.
// Needs kKeyQueryValue. |type| or |data| may be null.
std::uint32_t RegQueryValueExW(const RegKey& key, std::u16string_view name, std::uint32_t* type,
                               Bytes* data);

// Stores a value of any type. Needs kKeySetValue.
std::uint32_t RegSetValueExW(const RegKey& key, std::u16string_view name, std::uint32_t type,
                             ByteSpan data);

// Needs kKeySetValue.
std::uint32_t RegDeleteValueW(const RegKey& key, std::u16string_view name);

// Deletes |sub_key| with its values and every key below it; with |sub_key|
// empty, deletes the values and subkeys of |key| but keeps the key. Needs
// kDelete, kKeyEnumerateSubKeys and kKeyQueryValue (the roots have them all).
std::uint32_t RegDeleteTreeW(const RegKey& key, std::u16string_view sub_key);

// Deletes |sub_key| (not empty) when it has no subkeys (kErrorAccessDenied otherwise).
std::uint32_t RegDeleteKeyW(const RegKey& key, std::u16string_view sub_key);

// The name of subkey |index| in case-insensitive name order. Needs kKeyEnumerateSubKeys.
std::uint32_t RegEnumKeyExW(const RegKey& key, std::uint32_t index, std::u16string* name);

// Value |index| in the order the values were written. Needs kKeyQueryValue.
std::uint32_t RegEnumValueW(const RegKey& key, std::uint32_t index, std::u16string* name,
                            std::uint32_t* type, Bytes* data);

// Closes the handle (it becomes empty). kErrorInvalidHandle for an empty one.
std::uint32_t RegCloseKey(RegKey* key);

// Groups the registry changes this thread makes while it lives into one
// rewrite of the registry file of the current home folder: it takes the
// writers' lock and reads the file when it starts; until Commit every call on
// that file reads and changes this copy, and Commit writes it back with one
// rename. Without Commit nothing is written. A process killed at any moment
// leaves the file as it was before or after. Transactions do not nest.
//
//   RegTransaction tx;
//   ... RegCreateKeyExW / RegSetValueExW / RegDeleteTreeW ...
//   if (tx.status() == kErrorSuccess && all_ok) rc = tx.Commit();
class RegTransaction {
 public:
  struct State;
  RegTransaction();
  ~RegTransaction();
  RegTransaction(const RegTransaction&) = delete;
  RegTransaction& operator=(const RegTransaction&) = delete;

  // kErrorSuccess when the transaction is open, else why it could not start.
  std::uint32_t status() const { return status_; }
  // Writes the changes (nothing when there were none) and ends the transaction.
  std::uint32_t Commit();

 private:
  std::uint32_t status_ = kErrorSuccess;
  std::unique_ptr<State> state_;
};

// The registry file of the current home folder; empty when there is no home
// (and always on Windows, whose registry is no file of ours).
std::string RegistryFilePath();

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_REGISTRY_REGISTRY_H_
