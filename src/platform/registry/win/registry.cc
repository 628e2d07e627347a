#include "platform/registry/registry.h"

#include <windows.h>

#include <algorithm>
#include <new>

#include "common/unicode.h"

// The calls forward to the system's registry. A RegKey holds no system
// handle: it names its key by path from the root, and each call opens that
// path with the rights it needs, does its work and closes it, as the file
// backend reads its file afresh on each call. A key deleted since it was
// opened is then not found, which is reported as kErrorKeyDeleted, the
// system's own answer for a handle whose key is gone.

namespace quillmark::platform {

// Gives the implementation below access to a handle's fields.
struct RegKeyAccess {
  static bool IsRoot(const RegKey& k) { return k.state_ == RegKey::State::kRoot; }
  static bool IsEmpty(const RegKey& k) { return k.state_ == RegKey::State::kEmpty; }
  static const std::vector<std::u16string>& Components(const RegKey& k) { return k.components_; }
  static std::uint32_t Access(const RegKey& k) { return k.access_; }
  static RegKey MakeOpen(std::vector<std::u16string> components, std::uint32_t access) {
    RegKey k;
    k.state_ = RegKey::State::kOpen;
    k.components_ = std::move(components);
    k.access_ = access;
    return k;
  }
};

namespace {

constexpr std::size_t kMaxValueNameUnits = 16383;

struct RootName {
  RegRoot root;
  const char16_t* name;
  HKEY handle;
};

const RootName kRoots[] = {
    {RegRoot::kClassesRoot, u"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {RegRoot::kCurrentUser, u"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {RegRoot::kLocalMachine, u"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {RegRoot::kUsers, u"HKEY_USERS", HKEY_USERS},
    {RegRoot::kCurrentConfig, u"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

HKEY RootHandle(const std::u16string& name) {
  for (const RootName& r : kRoots) {
    if (name == r.name) return r.handle;
  }
  return nullptr;
}

// Closes an opened key; a predefined root is never closed.
class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() {
    if (owned_) ::RegCloseKey(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  void Reset(HKEY key, bool owned) {
    if (owned_) ::RegCloseKey(key_);
    key_ = key;
    owned_ = owned;
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
  bool owned_ = false;
};

// The path below the root: the components after the first, joined by '\'.
std::wstring SubPath(const std::vector<std::u16string>& components) {
  std::wstring path;
  for (std::size_t i = 1; i < components.size(); ++i) {
    if (i > 1) path.push_back(L'\\');
    path.append(reinterpret_cast<const wchar_t*>(components[i].data()), components[i].size());
  }
  return path;
}

std::wstring WideName(std::u16string_view name) {
  return std::wstring(reinterpret_cast<const wchar_t*>(name.data()), name.size());
}

bool ValidValueName(std::u16string_view name) {
  if (name.size() > kMaxValueNameUnits) return false;
  if (name.find_first_of(std::u16string_view(u"\r\n\0", 3)) != name.npos) return false;
  std::string utf8;
  return Utf16ToUtf8(name, &utf8);
}

std::uint32_t AppendSubPath(std::u16string_view sub_key, std::vector<std::u16string>* components) {
  if (sub_key.empty()) return kErrorSuccess;
  std::vector<std::u16string> names;
  if (!SplitRegistryPath(sub_key, &names)) return kErrorInvalidParameter;
  components->insert(components->end(), names.begin(), names.end());
  return kErrorSuccess;
}

// Opens |components| with |sam|. |deleted_if_missing|: a key that is not
// there was opened before and has been deleted since.
std::uint32_t OpenPath(const std::vector<std::u16string>& components, REGSAM sam,
                       bool deleted_if_missing, ScopedKey* out) {
  if (components.empty()) return kErrorInvalidHandle;
  HKEY root = RootHandle(components[0]);
  if (root == nullptr) return kErrorInvalidHandle;
  if (components.size() == 1) {
    out->Reset(root, false);
    return kErrorSuccess;
  }
  HKEY key = nullptr;
  LSTATUS rc = ::RegOpenKeyExW(root, SubPath(components).c_str(), 0, sam, &key);
  if (rc == ERROR_FILE_NOT_FOUND && deleted_if_missing) return kErrorKeyDeleted;
  if (rc != ERROR_SUCCESS) return static_cast<std::uint32_t>(rc);
  out->Reset(key, true);
  return kErrorSuccess;
}

// Opens the key |handle| names for a call that needs |needed|: the handle
// must grant those rights (kErrorAccessDenied otherwise), and the key is
// opened with no more than them.
std::uint32_t OpenFor(const RegKey& handle, std::uint32_t needed, ScopedKey* out) {
  if (RegKeyAccess::IsEmpty(handle)) return kErrorInvalidHandle;
  if (!RegKeyAccess::IsRoot(handle) && (RegKeyAccess::Access(handle) & needed) != needed) {
    return kErrorAccessDenied;
  }
  return OpenPath(RegKeyAccess::Components(handle), needed, !RegKeyAccess::IsRoot(handle), out);
}

// The parent of a call that opens or makes a key below it: its components,
// and kErrorKeyDeleted when it was opened and is gone now.
std::uint32_t ParentExists(const RegKey& parent) {
  if (RegKeyAccess::IsEmpty(parent)) return kErrorInvalidHandle;
  if (RegKeyAccess::IsRoot(parent)) return kErrorSuccess;
  ScopedKey key;
  return OpenPath(RegKeyAccess::Components(parent), KEY_QUERY_VALUE, true, &key);
}

template <typename Step>
std::uint32_t Guarded(Step&& step) {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
}

// Reads a value's type and bytes, growing the buffer while the value grows.
std::uint32_t QueryValue(HKEY key, const std::wstring& name, DWORD* type, Bytes* data) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD size = 0;
    LSTATUS rc = ::RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return static_cast<std::uint32_t>(rc);
    Bytes buffer(size);
    rc = ::RegQueryValueExW(key, name.c_str(), nullptr, type, buffer.data(), &size);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) return static_cast<std::uint32_t>(rc);
    buffer.resize(size);
    *data = std::move(buffer);
    return kErrorSuccess;
  }
  return kErrorMoreData;
}

// Every subkey name of |key|, in case-insensitive name order.
std::uint32_t SubkeyNames(HKEY key, std::vector<std::u16string>* names) {
  wchar_t buffer[256];  // key names are at most 255 units
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    LSTATUS rc = ::RegEnumKeyExW(key, i, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return static_cast<std::uint32_t>(rc);
    names->emplace_back(reinterpret_cast<const char16_t*>(buffer), length);
  }
  std::sort(names->begin(), names->end(), [](const std::u16string& a, const std::u16string& b) {
    return FoldRegistryName(a) < FoldRegistryName(b);
  });
  return kErrorSuccess;
}

thread_local bool g_in_transaction = false;

}  // namespace

RegKey::RegKey(RegRoot root) : state_(State::kRoot) {
  for (const RootName& r : kRoots) {
    if (r.root == root) components_ = {r.name};
  }
}

// The registry is the system's: there is no file.
std::string RegistryFilePath() { return std::string(); }

std::uint32_t RegOpenKeyExW(const RegKey& parent, std::u16string_view sub_key,
                            std::uint32_t options, std::uint32_t sam, RegKey* result) {
  if (result == nullptr || options != 0) return kErrorInvalidParameter;
  return Guarded([&]() -> std::uint32_t {
    if (RegKeyAccess::IsEmpty(parent)) return kErrorInvalidHandle;
    std::vector<std::u16string> components = RegKeyAccess::Components(parent);
    if (std::uint32_t rc = AppendSubPath(sub_key, &components); rc != kErrorSuccess) return rc;
    ScopedKey key;
    std::uint32_t rc = OpenPath(components, sam, false, &key);
    if (rc == kErrorFileNotFound) {
      std::uint32_t parent_rc = ParentExists(parent);
      if (parent_rc != kErrorSuccess) return parent_rc;
    }
    if (rc != kErrorSuccess) return rc;
    *result = RegKeyAccess::MakeOpen(std::move(components), sam);
    return kErrorSuccess;
  });
}

std::uint32_t RegCreateKeyExW(const RegKey& parent, std::u16string_view sub_key,
                              std::uint32_t options, std::uint32_t sam, RegKey* result,
                              std::uint32_t* disposition) {
  if (result == nullptr || options != kRegOptionNonVolatile) return kErrorInvalidParameter;
  return Guarded([&]() -> std::uint32_t {
    if (std::uint32_t rc = ParentExists(parent); rc != kErrorSuccess) return rc;
    std::vector<std::u16string> components = RegKeyAccess::Components(parent);
    if (std::uint32_t rc = AppendSubPath(sub_key, &components); rc != kErrorSuccess) return rc;
    DWORD how = REG_OPENED_EXISTING_KEY;
    if (components.size() > 1) {
      // A key that is there is opened whatever the parent grants; making one
      // needs kKeyCreateSubKey on the parent handle.
      ScopedKey existing;
      std::uint32_t rc = OpenPath(components, sam, false, &existing);
      if (rc == kErrorFileNotFound) {
        if (!RegKeyAccess::IsRoot(parent) &&
            (RegKeyAccess::Access(parent) & kKeyCreateSubKey) == 0) {
          return kErrorAccessDenied;
        }
        HKEY made = nullptr;
        LSTATUS made_rc =
            ::RegCreateKeyExW(RootHandle(components[0]), SubPath(components).c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, sam, nullptr, &made, &how);
        if (made_rc != ERROR_SUCCESS) return static_cast<std::uint32_t>(made_rc);
        ::RegCloseKey(made);
      } else if (rc != kErrorSuccess) {
        return rc;
      }
    }
    if (disposition != nullptr) {
      *disposition = how == REG_CREATED_NEW_KEY ? kRegCreatedNewKey : kRegOpenedExistingKey;
    }
    *result = RegKeyAccess::MakeOpen(std::move(components), sam);
    return kErrorSuccess;
  });
}

std::uint32_t RegQueryValueExW(const RegKey& key, std::u16string_view name, std::uint32_t* type,
                               Bytes* data) {
  return Guarded([&]() -> std::uint32_t {
    ScopedKey k;
    if (std::uint32_t rc = OpenFor(key, kKeyQueryValue, &k); rc != kErrorSuccess) return rc;
    if (name.find(u'\0') != name.npos) return kErrorFileNotFound;
    DWORD value_type = 0;
    Bytes value;
    std::uint32_t rc = QueryValue(k.get(), WideName(name), &value_type, &value);
    if (rc != kErrorSuccess) return rc;
    if (type != nullptr) *type = value_type;
    if (data != nullptr) *data = std::move(value);
    return kErrorSuccess;
  });
}

std::uint32_t RegSetValueExW(const RegKey& key, std::u16string_view name, std::uint32_t type,
                             ByteSpan data) {
  if (!ValidValueName(name)) return kErrorInvalidParameter;
  return Guarded([&]() -> std::uint32_t {
    ScopedKey k;
    if (std::uint32_t rc = OpenFor(key, kKeySetValue, &k); rc != kErrorSuccess) return rc;
    return static_cast<std::uint32_t>(::RegSetValueExW(
        k.get(), WideName(name).c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())));
  });
}

std::uint32_t RegDeleteValueW(const RegKey& key, std::u16string_view name) {
  return Guarded([&]() -> std::uint32_t {
    ScopedKey k;
    if (std::uint32_t rc = OpenFor(key, kKeySetValue, &k); rc != kErrorSuccess) return rc;
    if (name.find(u'\0') != name.npos) return kErrorFileNotFound;
    return static_cast<std::uint32_t>(::RegDeleteValueW(k.get(), WideName(name).c_str()));
  });
}

std::uint32_t RegDeleteTreeW(const RegKey& key, std::u16string_view sub_key) {
  constexpr std::uint32_t kNeeded = kDelete | kKeyEnumerateSubKeys | kKeyQueryValue;
  return Guarded([&]() -> std::uint32_t {
    std::vector<std::u16string> names;
    if (std::uint32_t rc = AppendSubPath(sub_key, &names); rc != kErrorSuccess) return rc;
    if (RegKeyAccess::IsEmpty(key)) return kErrorInvalidHandle;
    if (!RegKeyAccess::IsRoot(key) && (RegKeyAccess::Access(key) & kNeeded) != kNeeded) {
      return kErrorAccessDenied;
    }
    // Removing the values of the key itself takes the right to set them.
    ScopedKey k;
    std::uint32_t rc = OpenPath(RegKeyAccess::Components(key), kNeeded | KEY_SET_VALUE,
                                !RegKeyAccess::IsRoot(key), &k);
    if (rc != kErrorSuccess) return rc;
    std::wstring sub = WideName(sub_key);
    return static_cast<std::uint32_t>(
        ::RegDeleteTreeW(k.get(), sub_key.empty() ? nullptr : sub.c_str()));
  });
}

std::uint32_t RegDeleteKeyW(const RegKey& key, std::u16string_view sub_key) {
  if (sub_key.empty()) return kErrorInvalidParameter;
  return Guarded([&]() -> std::uint32_t {
    std::vector<std::u16string> names;
    if (std::uint32_t rc = AppendSubPath(sub_key, &names); rc != kErrorSuccess) return rc;
    ScopedKey k;
    if (RegKeyAccess::IsEmpty(key)) return kErrorInvalidHandle;
    std::uint32_t rc = OpenPath(RegKeyAccess::Components(key), KEY_ENUMERATE_SUB_KEYS,
                                !RegKeyAccess::IsRoot(key), &k);
    if (rc != kErrorSuccess) return rc;
    // A key with subkeys is refused (kErrorAccessDenied), as the system does.
    return static_cast<std::uint32_t>(::RegDeleteKeyW(k.get(), WideName(sub_key).c_str()));
  });
}

std::uint32_t RegEnumKeyExW(const RegKey& key, std::uint32_t index, std::u16string* name) {
  return Guarded([&]() -> std::uint32_t {
    ScopedKey k;
    if (std::uint32_t rc = OpenFor(key, kKeyEnumerateSubKeys, &k); rc != kErrorSuccess) return rc;
    std::vector<std::u16string> names;
    if (std::uint32_t rc = SubkeyNames(k.get(), &names); rc != kErrorSuccess) return rc;
    if (index >= names.size()) return kErrorNoMoreItems;
    if (name != nullptr) *name = std::move(names[index]);
    return kErrorSuccess;
  });
}

std::uint32_t RegEnumValueW(const RegKey& key, std::uint32_t index, std::u16string* name,
                            std::uint32_t* type, Bytes* data) {
  return Guarded([&]() -> std::uint32_t {
    ScopedKey k;
    if (std::uint32_t rc = OpenFor(key, kKeyQueryValue, &k); rc != kErrorSuccess) return rc;
    DWORD name_units = 0, data_size = 0;
    LSTATUS rc = ::RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, &name_units, &data_size, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return static_cast<std::uint32_t>(rc);
    std::wstring value_name(name_units + 1, L'\0');
    Bytes value(data_size);
    DWORD length = name_units + 1, size = data_size, value_type = 0;
    rc = ::RegEnumValueW(k.get(), index, value_name.data(), &length, nullptr, &value_type,
                         value.data(), &size);
    if (rc != ERROR_SUCCESS) return static_cast<std::uint32_t>(rc);
    value.resize(size);
    if (name != nullptr) name->assign(reinterpret_cast<const char16_t*>(value_name.data()), length);
    if (type != nullptr) *type = value_type;
    if (data != nullptr) *data = std::move(value);
    return kErrorSuccess;
  });
}

std::uint32_t RegCloseKey(RegKey* key) {
  if (key == nullptr || !key->valid()) return kErrorInvalidHandle;
  *key = RegKey();
  return kErrorSuccess;
}

// The system's registry has no transaction across keys: each change takes
// effect when it is made, Commit has nothing left to write, and a
// transaction that ends without Commit undoes nothing.
struct RegTransaction::State {};

RegTransaction::RegTransaction() {
  if (g_in_transaction) {
    status_ = kErrorInvalidParameter;  // transactions do not nest
    return;
  }
  try {
    state_ = std::make_unique<State>();
    g_in_transaction = true;
  } catch (const std::bad_alloc&) {
    status_ = kErrorNotEnoughMemory;
  }
}

RegTransaction::~RegTransaction() {
  if (state_) g_in_transaction = false;
}

std::uint32_t RegTransaction::Commit() {
  if (status_ != kErrorSuccess) return status_;
  if (!state_) return kErrorInvalidHandle;
  state_.reset();
  g_in_transaction = false;
  return kErrorSuccess;
}

}  // namespace quillmark::platform
