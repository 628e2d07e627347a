#include "platform/registry/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <new>

#include "common/unicode.h"
#include "platform/os/files.h"
#include "platform/os/home.h"

namespace quillmark::platform {

// Gives the implementation below access to a handle's fields.
struct RegKeyAccess {
  static bool IsRoot(const RegKey& k) { return k.state_ == RegKey::State::kRoot; }
  static bool IsEmpty(const RegKey& k) { return k.state_ == RegKey::State::kEmpty; }
  static const std::string& File(const RegKey& k) { return k.file_; }
  static const std::vector<std::u16string>& Components(const RegKey& k) { return k.components_; }
  static std::uint32_t Access(const RegKey& k) { return k.access_; }
  static RegKey MakeOpen(std::string file, std::vector<std::u16string> components,
                         std::uint32_t access) {
    RegKey k;
    k.state_ = RegKey::State::kOpen;
    k.file_ = std::move(file);
    k.components_ = std::move(components);
    k.access_ = access;
    return k;
  }
};

namespace {

constexpr size_t kMaxValueNameUnits = 16383;

std::vector<std::u16string> RootComponents(RegRoot root) {
  switch (root) {
    case RegRoot::kClassesRoot:
      return {u"HKEY_LOCAL_MACHINE", u"SOFTWARE", u"Classes"};
    case RegRoot::kCurrentUser:
      return {u"HKEY_CURRENT_USER"};
    case RegRoot::kLocalMachine:
      return {u"HKEY_LOCAL_MACHINE"};
    case RegRoot::kUsers:
      return {u"HKEY_USERS"};
    case RegRoot::kCurrentConfig:
      return {u"HKEY_CURRENT_CONFIG"};
  }
  return {};
}

// True when |components| is what one of the predefined roots stands for.
// Such a key always exists: when the file has no section for it, it reads as
// empty and is created by the first write.
bool IsRootPath(const std::vector<std::u16string>& components) {
  if (components.size() == 1) return true;
  if (components.size() != 3) return false;
  return FoldRegistryName(components[1]) == u"SOFTWARE" &&
         FoldRegistryName(components[2]) == u"CLASSES" &&
         FoldRegistryName(components[0]) == u"HKEY_LOCAL_MACHINE";
}

// True when |components| names no key of |doc|: not in the file and not a
// root.
bool KeyMissing(RegistryDocument& doc, const std::vector<std::u16string>& components) {
  return doc.Find(components) == nullptr && !IsRootPath(components);
}

bool ValidValueName(std::u16string_view name) {
  if (name.size() > kMaxValueNameUnits) return false;
  if (name.find_first_of(std::u16string_view(u"\r\n\0", 3)) != name.npos) return false;
  std::string utf8;
  return Utf16ToUtf8(name, &utf8);
}

// The file, path and rights a handle stands for.
struct Target {
  std::string file;
  std::vector<std::u16string> components;
  std::uint32_t access = 0;
};

std::uint32_t Resolve(const RegKey& key, Target* t) {
  if (RegKeyAccess::IsEmpty(key)) return kErrorInvalidHandle;
  if (RegKeyAccess::IsRoot(key)) {
    t->file = RegistryFilePath();
    if (t->file.empty()) return kErrorCantOpen;
    t->components = RegKeyAccess::Components(key);
    t->access = kKeyAllAccess;
    return kErrorSuccess;
  }
  t->file = RegKeyAccess::File(key);
  t->components = RegKeyAccess::Components(key);
  t->access = RegKeyAccess::Access(key);
  return kErrorSuccess;
}

// Resolve, then kErrorAccessDenied unless the handle grants every right of
// |needed|.
std::uint32_t ResolveFor(const RegKey& key, std::uint32_t needed, Target* t) {
  if (std::uint32_t rc = Resolve(key, t); rc != kErrorSuccess) return rc;
  return (t->access & needed) == needed ? kErrorSuccess : kErrorAccessDenied;
}

std::uint32_t Load(const std::string& file, RegistryDocument* doc) {
  Bytes bytes;
  if (!ReadWholeFile(file, &bytes)) {
    struct stat st;
    if (::stat(file.c_str(), &st) != 0 && errno == ENOENT) {
      *doc = RegistryDocument();
      return kErrorSuccess;
    }
    return kErrorCantRead;
  }
  *doc = RegistryDocument::Parse(bytes);
  return kErrorSuccess;
}

// Holds an exclusive lock on the registry's lock file while it lives.
class WriteLock {
 public:
  explicit WriteLock(const std::string& file)
      : fd_(::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~WriteLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace

// What a transaction holds while it is open on its thread.
struct RegTransaction::State {
  explicit State(const std::string& path) : file(path), lock(path) {}
  std::string file;
  WriteLock lock;
  RegistryDocument doc;
  bool dirty = false;
};

namespace {

thread_local RegTransaction::State* g_transaction = nullptr;

// The document of this thread's open transaction on |file|, if any.
RegistryDocument* TransactionDocument(const std::string& file) {
  return g_transaction != nullptr && g_transaction->file == file ? &g_transaction->doc : nullptr;
}

// The document a read of |file| sees: this thread's transaction's copy, else
// the file loaded into |loaded|. Null, with |*rc| set, when it cannot be read.
RegistryDocument* DocumentToRead(const std::string& file, RegistryDocument* loaded,
                                 std::uint32_t* rc) {
  if (RegistryDocument* doc = TransactionDocument(file)) return doc;
  *rc = Load(file, loaded);
  return *rc == kErrorSuccess ? loaded : nullptr;
}

// Reads the document, lets |change| edit it and writes it back when the change
// says it changed something. Inside a transaction the change goes to the
// transaction's copy and is written when it commits.
template <typename Change>
std::uint32_t Modify(const std::string& file, Change&& change) {
  try {
    if (RegistryDocument* doc = TransactionDocument(file)) {
      bool changed = false;
      std::uint32_t rc = change(*doc, &changed);
      if (changed) g_transaction->dirty = true;
      return rc;
    }
    WriteLock lock(file);
    if (!lock.ok()) return kErrorCantWrite;
    RegistryDocument doc;
    if (std::uint32_t rc = Load(file, &doc); rc != kErrorSuccess) return rc;
    bool changed = false;
    if (std::uint32_t rc = change(doc, &changed); rc != kErrorSuccess) return rc;
    if (!changed) return kErrorSuccess;
    std::string text = doc.Serialize();
    return WriteFileAtomically(file, AsBytes(text), 0600) ? kErrorSuccess : kErrorCantWrite;
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
}

// Reads the document and hands |use| the key the handle names.
template <typename Use>
std::uint32_t Read(const RegKey& handle, std::uint32_t needed, Use&& use) {
  Target t;
  if (std::uint32_t rc = ResolveFor(handle, needed, &t); rc != kErrorSuccess) return rc;
  try {
    RegistryDocument loaded;
    std::uint32_t rc = kErrorSuccess;
    RegistryDocument* doc = DocumentToRead(t.file, &loaded, &rc);
    if (doc == nullptr) return rc;
    RegistryKey* key = doc->Find(t.components);
    RegistryKey empty;
    if (key == nullptr) {
      if (!IsRootPath(t.components)) return kErrorKeyDeleted;
      key = &empty;
    }
    return use(*key);
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
}

// Edits the key the handle names.
template <typename Edit>
std::uint32_t Write(const RegKey& handle, std::uint32_t needed, Edit&& edit) {
  Target t;
  if (std::uint32_t rc = ResolveFor(handle, needed, &t); rc != kErrorSuccess) return rc;
  return Modify(t.file, [&](RegistryDocument& doc, bool* changed) -> std::uint32_t {
    RegistryKey* key = doc.Find(t.components);
    if (key == nullptr) {
      if (!IsRootPath(t.components)) return kErrorKeyDeleted;
      bool created;
      key = doc.Create(t.components, &created);
    }
    return edit(*key, changed);
  });
}

std::uint32_t AppendSubPath(std::u16string_view sub_key, std::vector<std::u16string>* components) {
  if (sub_key.empty()) return kErrorSuccess;
  std::vector<std::u16string> names;
  if (!SplitRegistryPath(sub_key, &names)) return kErrorInvalidParameter;
  components->insert(components->end(), names.begin(), names.end());
  return kErrorSuccess;
}

}  // namespace

RegKey::RegKey(RegRoot root) : state_(State::kRoot), components_(RootComponents(root)) {}

std::string RegistryFilePath() {
  std::string home = QuillmarkHome();
  return home.empty() ? std::string() : home + "/registry.reg";
}

std::uint32_t RegOpenKeyExW(const RegKey& parent, std::u16string_view sub_key,
                            std::uint32_t options, std::uint32_t sam, RegKey* result) {
  if (result == nullptr || options != 0) return kErrorInvalidParameter;
  Target t;
  if (std::uint32_t rc = Resolve(parent, &t); rc != kErrorSuccess) return rc;
  if (std::uint32_t rc = AppendSubPath(sub_key, &t.components); rc != kErrorSuccess) return rc;
  try {
    RegistryDocument loaded;
    std::uint32_t rc = kErrorSuccess;
    RegistryDocument* doc = DocumentToRead(t.file, &loaded, &rc);
    if (doc == nullptr) return rc;
    if (KeyMissing(*doc, t.components)) {
      if (!RegKeyAccess::IsRoot(parent)) {
        std::vector<std::u16string> own = RegKeyAccess::Components(parent);
        if (KeyMissing(*doc, own)) return kErrorKeyDeleted;
      }
      return kErrorFileNotFound;
    }
    doc->Spell(&t.components);
    *result = RegKeyAccess::MakeOpen(std::move(t.file), std::move(t.components), sam);
    return kErrorSuccess;
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
}

std::uint32_t RegCreateKeyExW(const RegKey& parent, std::u16string_view sub_key,
                              std::uint32_t options, std::uint32_t sam, RegKey* result,
                              std::uint32_t* disposition) {
  if (result == nullptr || options != kRegOptionNonVolatile) return kErrorInvalidParameter;
  Target t;
  if (std::uint32_t rc = Resolve(parent, &t); rc != kErrorSuccess) return rc;
  std::vector<std::u16string> parent_components = t.components;
  if (std::uint32_t rc = AppendSubPath(sub_key, &t.components); rc != kErrorSuccess) return rc;
  bool created = false;
  std::uint32_t rc = Modify(t.file, [&](RegistryDocument& doc, bool* changed) -> std::uint32_t {
    if (KeyMissing(doc, parent_components)) return kErrorKeyDeleted;
    if (KeyMissing(doc, t.components)) {
      if ((t.access & kKeyCreateSubKey) == 0) return kErrorAccessDenied;
      doc.Create(t.components, &created);
      *changed = created;
    }
    doc.Spell(&t.components);
    return kErrorSuccess;
  });
  if (rc != kErrorSuccess) return rc;
  if (disposition != nullptr) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  *result = RegKeyAccess::MakeOpen(std::move(t.file), std::move(t.components), sam);
  return kErrorSuccess;
}

std::uint32_t RegQueryValueExW(const RegKey& key, std::u16string_view name, std::uint32_t* type,
                               Bytes* data) {
  return Read(key, kKeyQueryValue, [&](RegistryKey& k) -> std::uint32_t {
    const RegistryEntry* e = k.FindValue(name);
    if (e == nullptr) return kErrorFileNotFound;
    if (type != nullptr) *type = e->type;
    if (data != nullptr) *data = e->data;
    return kErrorSuccess;
  });
}

std::uint32_t RegSetValueExW(const RegKey& key, std::u16string_view name, std::uint32_t type,
                             ByteSpan data) {
  if (!ValidValueName(name)) return kErrorInvalidParameter;
  Bytes copy(data.begin(), data.end());
  return Write(key, kKeySetValue, [&](RegistryKey& k, bool* changed) -> std::uint32_t {
    k.SetValue(name, type, std::move(copy));
    *changed = true;
    return kErrorSuccess;
  });
}

std::uint32_t RegDeleteValueW(const RegKey& key, std::u16string_view name) {
  return Write(key, kKeySetValue, [&](RegistryKey& k, bool* changed) -> std::uint32_t {
    *changed = k.DeleteValue(name);
    return *changed ? kErrorSuccess : kErrorFileNotFound;
  });
}

std::uint32_t RegDeleteTreeW(const RegKey& key, std::u16string_view sub_key) {
  constexpr std::uint32_t kNeeded = kDelete | kKeyEnumerateSubKeys | kKeyQueryValue;
  if (sub_key.empty()) {
    return Write(key, kNeeded, [&](RegistryKey& k, bool* changed) -> std::uint32_t {
      *changed = !k.entries.empty() || !k.subkeys.empty();
      k.entries.clear();
      k.subkeys.clear();
      return kErrorSuccess;
    });
  }
  Target t;
  if (std::uint32_t rc = ResolveFor(key, kNeeded, &t); rc != kErrorSuccess) return rc;
  std::vector<std::u16string> parent_components = t.components;
  if (std::uint32_t rc = AppendSubPath(sub_key, &t.components); rc != kErrorSuccess) return rc;
  return Modify(t.file, [&](RegistryDocument& doc, bool* changed) -> std::uint32_t {
    if (KeyMissing(doc, parent_components)) return kErrorKeyDeleted;
    *changed = doc.Remove(t.components);
    return *changed ? kErrorSuccess : kErrorFileNotFound;
  });
}

std::uint32_t RegDeleteKeyW(const RegKey& key, std::u16string_view sub_key) {
  if (sub_key.empty()) return kErrorInvalidParameter;
  Target t;
  if (std::uint32_t rc = Resolve(key, &t); rc != kErrorSuccess) return rc;
  std::vector<std::u16string> parent_components = t.components;
  if (std::uint32_t rc = AppendSubPath(sub_key, &t.components); rc != kErrorSuccess) return rc;
  return Modify(t.file, [&](RegistryDocument& doc, bool* changed) -> std::uint32_t {
    if (KeyMissing(doc, parent_components)) return kErrorKeyDeleted;
    RegistryKey* target = doc.Find(t.components);
    if (target == nullptr) return kErrorFileNotFound;
    if (!target->subkeys.empty()) return kErrorAccessDenied;
    *changed = doc.Remove(t.components);
    return kErrorSuccess;
  });
}

std::uint32_t RegEnumKeyExW(const RegKey& key, std::uint32_t index, std::u16string* name) {
  return Read(key, kKeyEnumerateSubKeys, [&](RegistryKey& k) -> std::uint32_t {
    if (index >= k.subkeys.size()) return kErrorNoMoreItems;
    auto it = k.subkeys.begin();
    std::advance(it, index);
    if (name != nullptr) *name = it->second->name;
    return kErrorSuccess;
  });
}

std::uint32_t RegEnumValueW(const RegKey& key, std::uint32_t index, std::u16string* name,
                            std::uint32_t* type, Bytes* data) {
  return Read(key, kKeyQueryValue, [&](RegistryKey& k) -> std::uint32_t {
    std::uint32_t seen = 0;
    for (const RegistryEntry& e : k.entries) {
      if (!e.is_value) continue;
      if (seen++ != index) continue;
      if (name != nullptr) *name = e.name;
      if (type != nullptr) *type = e.type;
      if (data != nullptr) *data = e.data;
      return kErrorSuccess;
    }
    return kErrorNoMoreItems;
  });
}

RegTransaction::RegTransaction() {
  std::string file = RegistryFilePath();
  if (file.empty()) {
    status_ = kErrorCantOpen;
    return;
  }
  if (g_transaction != nullptr) {
    status_ = kErrorInvalidParameter;  // transactions do not nest
    return;
  }
  try {
    auto state = std::make_unique<State>(file);
    if (!state->lock.ok()) {
      status_ = kErrorCantWrite;
      return;
    }
    status_ = Load(file, &state->doc);
    if (status_ != kErrorSuccess) return;
    state_ = std::move(state);
    g_transaction = state_.get();
  } catch (const std::bad_alloc&) {
    status_ = kErrorNotEnoughMemory;
  }
}

RegTransaction::~RegTransaction() {
  if (g_transaction == state_.get()) g_transaction = nullptr;
}

std::uint32_t RegTransaction::Commit() {
  if (status_ != kErrorSuccess) return status_;
  if (!state_) return kErrorInvalidHandle;
  g_transaction = nullptr;
  std::unique_ptr<State> state = std::move(state_);
  if (!state->dirty) return kErrorSuccess;
  try {
    std::string text = state->doc.Serialize();
    return WriteFileAtomically(state->file, AsBytes(text), 0600) ? kErrorSuccess : kErrorCantWrite;
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
}

std::uint32_t RegCloseKey(RegKey* key) {
  if (key == nullptr || !key->valid()) return kErrorInvalidHandle;
  *key = RegKey();
  return kErrorSuccess;
}

}  // namespace quillmark::platform
