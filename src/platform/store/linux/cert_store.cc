// Certificate stores as folders, with a per-process cache of parsed files
// and a persistent index per folder (store_index.h).
//
// The cache holds one snapshot per store folder: the parsed certificates and
// CRLs in thumbprint order, the key-provider files, and for every file the
// (device, inode, size, mtime, ctime) it was read with. A snapshot is trusted
// while the folder's own stat is unchanged and its mtime was safely in the
// past when the folder was listed; otherwise the folder is listed again and
// only files whose stat changed are read again. Writes of this process mark
// the snapshot stale.
//
// The first listing of a folder in a process takes what it can from the
// folder's index instead of reading files: an entry whose file still has the
// stamp it was indexed with and is not racy. When anything had to be read,
// the index is written anew from the snapshot. Certificates restored from
// the index are walked but not parsed by OpenSSL until a caller needs that.
#include "platform/store/cert_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <unordered_map>

#include "common/ascii.h"
#include "common/no_destructor.h"
#include "common/unicode.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/os/linux/home_rule.h"
#include "platform/store/cert_context_impl.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/store_index.h"

namespace quillmark::platform {

namespace {

// A folder whose mtime is younger than this when it is listed may still
// change within the same timestamp tick, so its listing is not trusted.
constexpr std::int64_t kRacyWindowNs = 2'000'000'000;

// Files larger than this are not certificates or CRLs of any sensible kind.
constexpr off_t kMaxFileSize = 16 << 20;

using FileKey = FileStamp;

FileKey KeyOf(const struct stat& st) {
  FileKey k;
  k.dev = st.st_dev;
  k.ino = st.st_ino;
  k.size = static_cast<std::uint64_t>(st.st_size);
  k.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  k.ctime_ns = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
  return k;
}

std::int64_t NowNs() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

enum class FileKind { kCert, kCrl, kKeyProv, kOther };

FileKind KindOf(const std::string& name) {
  auto ends = [&](std::string_view suffix) {
    return name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  if (name[0] == '.') return FileKind::kOther;  // temporaries of atomic writes
  if (ends(".cer")) return FileKind::kCert;
  if (ends(".crl")) return FileKind::kCrl;
  if (ends(".keyprov")) return FileKind::kKeyProv;
  return FileKind::kOther;
}

// One file of a store folder as it was last read.
struct FileEntry {
  FileKey key;
  bool readable = true;      // false: not a regular file that could be read
  bool read_failed = false;  // a regular file whose read failed: read again next time
  CertContextPtr cert;       // .cer that parsed
  CrlContextPtr crl;         // .crl that parsed
  PropertySlot::State prop_state = PropertySlot::State::kAbsent;  // .keyprov
  KeyProvInfo prop;
};

struct Snapshot {
  FileKey dir;
  bool trusted = false;
  mutable std::atomic<bool> stale{false};
  std::unordered_map<std::string, FileEntry> files;
  std::vector<CertContextPtr> certs;  // ascending thumbprint, one per thumbprint
  std::vector<CrlContextPtr> crls;
};

using SnapshotPtr = std::shared_ptr<const Snapshot>;

std::mutex g_cache_mu;
std::unordered_map<std::string, SnapshotPtr>& Cache() {
  static NoDestructor<std::unordered_map<std::string, SnapshotPtr>> cache;
  return *cache;
}

// The home folder of a store folder ("HOME/stores/NAME").
std::string HomeOfStore(const std::string& store_path) {
  std::size_t name_at = store_path.rfind('/');
  std::size_t stores_at =
      name_at == std::string::npos || name_at == 0 ? name_at : store_path.rfind('/', name_at - 1);
  return stores_at == std::string::npos ? store_path : store_path.substr(0, stores_at);
}

// Reads a file of the store folder |store_path| together with its stat key:
// a regular file that passes the home folder's rule, opened without
// following a link or waiting on a FIFO. False (errno set) otherwise.
bool ReadFileWithKey(const std::string& store_path, const std::string& name, Bytes* out,
                     FileKey* key) {
  struct stat st;
  std::string problem;
  int fd = OpenHomeFile(HomeOfStore(store_path), store_path + "/" + name, &st, &problem);
  if (fd < 0) return false;
  bool ok = st.st_size <= kMaxFileSize;
  if (ok) {
    *key = KeyOf(st);
    out->resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out->size()) {
      ssize_t n = ::read(fd, out->data() + done, out->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    out->resize(done);
  }
  ::close(fd);
  if (!ok) errno = EFBIG;
  return ok;
}

// Sorts certificate or CRL contexts by thumbprint; of several with the same
// thumbprint the one whose file name sorts first is kept.
template <typename ContextPtr>
void SortByThumbprintKeepingFirst(std::vector<ContextPtr>* contexts) {
  std::sort(contexts->begin(), contexts->end(), [](const ContextPtr& a, const ContextPtr& b) {
    if (a->thumbprint() != b->thumbprint()) return a->thumbprint() < b->thumbprint();
    return a->impl().file_name < b->impl().file_name;
  });
  contexts->erase(std::unique(contexts->begin(), contexts->end(),
                              [](const ContextPtr& a, const ContextPtr& b) {
                                return a->thumbprint() == b->thumbprint();
                              }),
                  contexts->end());
}

// The stamp of a folder entry itself (a link is not followed); with
// |readable_kind|, whether it is a regular file of a size worth reading.
bool StampOf(const std::string& path, FileKey* key, bool* readable_kind = nullptr) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;
  *key = KeyOf(st);
  if (readable_kind != nullptr) *readable_kind = S_ISREG(st.st_mode) && st.st_size <= kMaxFileSize;
  return true;
}

// Reads one file of a store folder. |before| is the entry of the same name
// in the previous snapshot, if any. A file that cannot be read gives an
// unreadable entry; false when it is gone.
bool ReadEntry(const std::string& path, const std::string& store_name, const std::string& name,
               FileKind kind, const FileEntry* before, FileEntry* entry) {
  Bytes data;
  if (!ReadFileWithKey(path, name, &data, &entry->key)) {
    entry->readable = false;
    return StampOf(path + "/" + name, &entry->key, &entry->read_failed);
  }
  if (kind == FileKind::kCert) {
    // A certificate rewritten with the same bytes keeps its context, and
    // with it the property everyone holding the context shares.
    if (before != nullptr && before->cert && std::ranges::equal(before->cert->der(), data)) {
      entry->cert = before->cert;
    } else {
      entry->cert = ParseCertificate(std::move(data), store_name, path, name);
    }
  } else if (kind == FileKind::kCrl) {
    entry->crl = ParseCrl(std::move(data), store_name, path, name);
  } else {
    entry->prop_state = ParseKeyProvInfo(AsChars(data), &entry->prop)
                            ? PropertySlot::State::kPresent
                            : PropertySlot::State::kUnreadable;
  }
  return true;
}

// Certificates and CRLs in thumbprint order; of several files with the same
// contents the one whose name sorts first is kept.
void IndexContexts(Snapshot* snap) {
  for (const auto& [name, entry] : snap->files) {
    if (entry.cert) snap->certs.push_back(entry.cert);
    if (entry.crl) snap->crls.push_back(entry.crl);
  }
  SortByThumbprintKeepingFirst(&snap->certs);
  SortByThumbprintKeepingFirst(&snap->crls);
}

// Key-provider properties, shared with every holder of the contexts.
void PublishKeyProperties(const Snapshot& snap) {
  for (const CertContextPtr& cert : snap.certs) {
    PropertySlot& slot = *cert->impl().props;
    auto it = snap.files.find(cert->thumbprint() + ".keyprov");
    std::lock_guard<std::mutex> lock(slot.mu);
    if (it == snap.files.end() || !it->second.readable) {
      slot.state = PropertySlot::State::kAbsent;
      slot.key_prov = KeyProvInfo();
    } else {
      slot.state = it->second.prop_state;
      slot.key_prov = it->second.prop;
    }
  }
}

// The entry of an indexed file, from the index alone; false when the index
// entry cannot stand for the file (the file is then read).
bool RestoreEntry(const IndexedFile& f, const std::string& path, const std::string& store_name,
                  const std::string& name, FileKind kind, FileEntry* entry) {
  entry->key = f.stamp;
  switch (f.kind) {
    case IndexedKind::kCertificate: {
      if (kind != FileKind::kCert) return false;
      std::array<std::uint8_t, 20> sha1;
      std::copy_n(f.payload.begin(), sha1.size(), sha1.begin());
      ByteSpan der = f.payload.subspan(sha1.size());
      entry->cert = RestoreCertificate(Bytes(der.begin(), der.end()), sha1, store_name, path, name);
      return entry->cert != nullptr;
    }
    case IndexedKind::kCrl:
      if (kind != FileKind::kCrl) return false;
      entry->crl = ParseCrl(Bytes(f.payload.begin(), f.payload.end()), store_name, path, name);
      return entry->crl != nullptr;
    case IndexedKind::kKeyProv:
      if (kind != FileKind::kKeyProv) return false;
      entry->prop_state = ParseKeyProvInfo(AsChars(f.payload), &entry->prop)
                              ? PropertySlot::State::kPresent
                              : PropertySlot::State::kUnreadable;
      return true;
    case IndexedKind::kJunk:
      return kind == FileKind::kCert || kind == FileKind::kCrl;
    case IndexedKind::kUnreadable:
      entry->readable = false;
      return true;
  }
  return false;
}

// Lists |path| again, reusing the entries of |old| whose files did not
// change, else those of |index| (when given) whose files did not change and
// are not racy. |*from_index| tells whether the index held exactly the
// snapshot's files, every one unchanged.
SnapshotPtr LoadSnapshot(const std::string& path, const std::string& store_name,
                         const FileKey& dir_key, const Snapshot* old, const StoreIndex* index,
                         bool* from_index) {
  auto snap = std::make_shared<Snapshot>();
  snap->dir = dir_key;
  snap->trusted = NowNs() - dir_key.mtime_ns > kRacyWindowNs;
  std::vector<std::string> names = ListDirectory(path);
  snap->files.reserve(names.size());
  std::size_t restored = 0;
  for (std::string& name : names) {
    FileKind kind = KindOf(name);
    if (kind == FileKind::kOther) continue;
    const FileEntry* before = nullptr;
    const IndexedFile* indexed = nullptr;
    if (old != nullptr) {
      auto it = old->files.find(name);
      if (it != old->files.end()) before = &it->second;
    }
    if (index != nullptr) {
      auto it = index->files.find(name);
      if (it != index->files.end() && !it->second.racy) indexed = &it->second;
    }
    FileKey key;
    if ((before != nullptr || indexed != nullptr) && StampOf(path + "/" + name, &key)) {
      if (before != nullptr && before->key == key && !before->read_failed) {
        snap->files.emplace(std::move(name), *before);
        continue;
      }
      FileEntry entry;
      if (indexed != nullptr && indexed->stamp == key &&
          RestoreEntry(*indexed, path, store_name, name, kind, &entry)) {
        snap->files.emplace(std::move(name), std::move(entry));
        ++restored;
        continue;
      }
    }
    FileEntry entry;
    if (!ReadEntry(path, store_name, name, kind, before, &entry)) continue;
    snap->files.emplace(std::move(name), std::move(entry));
  }
  *from_index =
      index != nullptr && restored == index->files.size() && restored == snap->files.size();
  IndexContexts(snap.get());
  PublishKeyProperties(*snap);
  return snap;
}

// Writes the index of a snapshot just listed. Files changed within the racy
// window of now are marked racy: a rewrite in the same timestamp tick could
// keep their stamp. Failures are ignored; the index is only a cache.
void WriteIndexOf(const std::string& path, const Snapshot& snap) {
  const std::int64_t now = NowNs();
  StoreIndexWriter writer;
  std::string text;
  for (const auto& [name, entry] : snap.files) {
    bool racy = std::max(entry.key.mtime_ns, entry.key.ctime_ns) + kRacyWindowNs > now;
    if (entry.read_failed) continue;
    if (!entry.readable) {
      writer.Add(name, entry.key, IndexedKind::kUnreadable, racy);
    } else if (entry.cert) {
      writer.Add(name, entry.key, IndexedKind::kCertificate, racy, entry.cert->sha1(),
                 entry.cert->der());
    } else if (entry.crl) {
      writer.Add(name, entry.key, IndexedKind::kCrl, racy, entry.crl->der());
    } else if (KindOf(name) == FileKind::kKeyProv) {
      text.clear();
      if (entry.prop_state == PropertySlot::State::kPresent) {
        text = SerializeKeyProvInfo(entry.prop);
      }
      writer.Add(name, entry.key, IndexedKind::kKeyProv, racy, AsBytes(text));
    } else {
      writer.Add(name, entry.key, IndexedKind::kJunk, racy);
    }
  }
  WriteStoreIndex(StoreIndexPath(path), writer.Finish());
}

// The store's current snapshot. With |validate| the folder is checked
// against the cached one; without, a cached snapshot is used unless a write
// of this process marked it stale.
SnapshotPtr GetSnapshot(const CertStore::State& store, bool validate);

}  // namespace

struct CertStore::State {
  std::string name;
  std::string path;
  bool read_only = false;
};

namespace {

SnapshotPtr GetSnapshot(const CertStore::State& store, bool validate) {
  try {
    std::lock_guard<std::mutex> lock(g_cache_mu);
    auto& cache = Cache();
    auto it = cache.find(store.path);
    SnapshotPtr old = it == cache.end() ? nullptr : it->second;
    if (old && !validate && !old->stale.load()) return old;
    struct stat st;
    if (::stat(store.path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      cache.erase(store.path);
      return std::make_shared<Snapshot>();
    }
    FileKey dir = KeyOf(st);
    if (old && old->trusted && !old->stale.load() && old->dir == dir) return old;
    // A process reads the index once, on its first listing of the folder.
    StoreIndex index;
    bool have_index = !old && ReadStoreIndex(StoreIndexPath(store.path), &index);
    bool from_index = false;
    SnapshotPtr snap = LoadSnapshot(store.path, store.name, dir, old.get(),
                                    have_index ? &index : nullptr, &from_index);
    if (!old && !from_index) WriteIndexOf(store.path, *snap);
    cache[store.path] = snap;
    return snap;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// Simple case folding for the case-insensitive substring search: ASCII,
// Latin-1, Greek, Cyrillic and full-width Latin capitals.
char16_t FoldCase(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) ||
      (c >= 0x410 && c <= 0x42F) || (c >= 0xFF21 && c <= 0xFF3A)) {
    return static_cast<char16_t>(c + 0x20);
  }
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  return c;
}

bool ContainsIgnoreCase(std::u16string_view haystack, std::u16string_view needle) {
  if (needle.empty()) return true;
  if (needle.size() > haystack.size()) return false;
  for (size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && FoldCase(haystack[i + k]) == FoldCase(needle[k])) ++k;
    if (k == needle.size()) return true;
  }
  return false;
}

bool EqualBytes(ByteSpan a, ByteSpan b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// Index of the first context of |sorted| (certificates or CRLs, in
// thumbprint order) after |previous|; 0 when there is no previous one.
template <typename ContextPtr>
size_t StartAfter(const std::vector<ContextPtr>& sorted, const ContextPtr& previous) {
  if (!previous) return 0;
  auto it = std::upper_bound(
      sorted.begin(), sorted.end(), previous->thumbprint(),
      [](const std::string& t, const ContextPtr& c) { return t < c->thumbprint(); });
  return static_cast<size_t>(it - sorted.begin());
}

// The snapshot an enumeration reads: validated against the folder when it
// starts afresh (no |previous|), else the cached one. Null, with the last
// error set, for a store that is not open or when memory runs out.
template <typename ContextPtr>
SnapshotPtr SnapshotToEnumerate(const CertStore& store, const ContextPtr& previous) {
  if (!store.is_open()) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  SnapshotPtr snap = GetSnapshot(*store.state(), previous == nullptr);
  if (!snap) SetLastError(kErrorNotEnoughMemory);
  return snap;
}

template <typename Match>
CertContextPtr FindFrom(const CertStore& store, const CertContextPtr& previous, Match match) {
  SnapshotPtr snap = SnapshotToEnumerate(store, previous);
  if (!snap) return nullptr;
  for (size_t i = StartAfter(snap->certs, previous); i < snap->certs.size(); ++i) {
    if (match(*snap->certs[i])) return snap->certs[i];
  }
  SetLastError(kCryptENotFound);
  return nullptr;
}

// The folder spelling of a store name: an existing folder that matches
// without regard to case (the well-known spelling first), else the
// well-known spelling, else the name as given.
// The folder under |stores| that holds the store |name| (matched without
// regard to ASCII case); |*exists| tells whether it is there yet.
std::string FolderNameFor(const std::string& stores, const std::string& name, bool* exists) {
  static constexpr std::string_view kWellKnown[] = {"MY", "CA", "ROOT", "AddressBook"};
  std::string preferred = name;
  for (std::string_view w : kWellKnown) {
    if (EqualsIgnoringAsciiCase(w, name)) preferred = std::string(w);
  }
  *exists = true;
  if (IsDirectory(stores + "/" + preferred)) return preferred;
  for (const std::string& entry : ListDirectory(stores)) {
    if (EqualsIgnoringAsciiCase(entry, name) && IsDirectory(stores + "/" + entry)) return entry;
  }
  *exists = false;
  return preferred;
}

bool ValidStoreName(std::u16string_view name, std::string* utf8) {
  if (name.empty() || name == u"." || name == u"..") return false;
  if (name.find(u'/') != std::u16string_view::npos ||
      name.find(u'\0') != std::u16string_view::npos) {
    return false;
  }
  return Utf16ToUtf8(name, utf8);
}

bool CheckDisposition(std::uint32_t d) {
  return d >= kCertStoreAddNew && d <= kCertStoreAddReplaceExistingInheritProperties;
}

void MarkStale(const std::string& store_path) {
  std::lock_guard<std::mutex> lock(g_cache_mu);
  auto it = Cache().find(store_path);
  if (it != Cache().end()) it->second->stale.store(true);
}

}  // namespace

void InvalidateStoreCache(const std::string& store_path) { MarkStale(store_path); }

void ClearCertStoreCache() {
  std::lock_guard<std::mutex> lock(g_cache_mu);
  Cache().clear();
}

// CertStore handle.

CertStore::CertStore() = default;
CertStore::CertStore(std::shared_ptr<State> state) : state_(std::move(state)) {}
CertStore::~CertStore() = default;
CertStore::CertStore(CertStore&&) noexcept = default;
CertStore& CertStore::operator=(CertStore&&) noexcept = default;

const std::string& CertStore::name() const {
  static const NoDestructor<std::string> kEmpty;
  return state_ ? state_->name : *kEmpty;
}

const std::string& CertStore::path() const {
  static const NoDestructor<std::string> kEmpty;
  return state_ ? state_->path : *kEmpty;
}

CertStore CertOpenStore(std::uint32_t provider, std::uint32_t /*encoding*/, std::uint32_t flags,
                        std::u16string_view name) {
  if (provider != kCertStoreProvSystemW || (flags & kCertSystemStoreCurrentUser) == 0) {
    SetLastError(kErrorInvalidParameter);
    return CertStore();
  }
  try {
    std::string utf8;
    if (!ValidStoreName(name, &utf8)) {
      SetLastError(kErrorInvalidParameter);
      return CertStore();
    }
    // An existing store costs one stat; the home and stores folders are made
    // only for a store that is not there yet.
    std::string home = QuillmarkHomePath();
    if (home.empty() || !HomeFolderProblemAt(home).empty()) {
      SetLastError(kErrorAccessDenied);
      return CertStore();
    }
    std::string stores = home + "/stores";
    auto state = std::make_shared<CertStore::State>();
    bool exists = false;
    state->name = FolderNameFor(stores, utf8, &exists);
    state->path = stores + "/" + state->name;
    state->read_only = (flags & kCertStoreReadOnlyFlag) != 0;
    struct stat st;
    if (exists && (::lstat(state->path.c_str(), &st) != 0 ||
                   !HomeRuleProblem(home, state->path, st, /*folder=*/true).empty())) {
      // Someone else may write there: nothing in it is believed.
      SetLastError(kErrorAccessDenied);
      return CertStore();
    }
    if (!exists) {
      if (flags & kCertStoreOpenExistingFlag) {
        SetLastError(kErrorFileNotFound);
        return CertStore();
      }
      if (QuillmarkHome().empty() || !MakeDirectories(stores, 0700) ||
          !MakeDirectories(state->path, 0700)) {
        SetLastError(kErrorAccessDenied);
        return CertStore();
      }
    }
    return CertStore(std::move(state));
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return CertStore();
  }
}

bool CertCloseStore(CertStore& store, std::uint32_t /*flags*/) {
  store = CertStore();
  return true;
}

CertContextPtr CertEnumCertificatesInStore(const CertStore& store, const CertContextPtr& previous) {
  return FindFrom(store, previous, [](const CertContext&) { return true; });
}

CertContextPtr CertFindCertificateInStore(const CertStore& store, std::uint32_t /*encoding*/,
                                          std::uint32_t /*find_flags*/, std::uint32_t find_type,
                                          ByteSpan para, const CertContextPtr& previous) {
  switch (find_type) {
    case kCertFindAny:
      return FindFrom(store, previous, [](const CertContext&) { return true; });
    case kCertFindSha1Hash:
      return FindFrom(store, previous,
                      [&](const CertContext& c) { return EqualBytes(c.sha1(), para); });
    case kCertFindIssuerName:
      return FindFrom(store, previous,
                      [&](const CertContext& c) { return EqualBytes(c.issuer_der(), para); });
    case kCertFindSubjectName:
      return FindFrom(store, previous,
                      [&](const CertContext& c) { return EqualBytes(c.subject_der(), para); });
    default:
      SetLastError(kErrorInvalidParameter);
      return nullptr;
  }
}

CertContextPtr CertFindCertificateInStore(const CertStore& store, std::uint32_t /*encoding*/,
                                          std::uint32_t /*find_flags*/, std::uint32_t find_type,
                                          std::u16string_view text,
                                          const CertContextPtr& previous) {
  if (find_type != kCertFindSubjectStrW && find_type != kCertFindIssuerStrW) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  const bool issuer = find_type == kCertFindIssuerStrW;
  std::u16string rendered;
  return FindFrom(store, previous, [&](const CertContext& c) {
    return CertNameToStrW(kDefaultEncoding, issuer ? c.issuer_der() : c.subject_der(),
                          kCertSimpleNameStr, &rendered) &&
           ContainsIgnoreCase(rendered, text);
  });
}

namespace {

// Writes |der| as <thumbprint><suffix> per the disposition. Sets |*wrote|.
bool PutFile(const CertStore& store, const std::string& thumbprint, const char* suffix,
             ByteSpan der, bool exists, std::uint32_t disposition, bool* wrote) {
  *wrote = false;
  if (!CheckDisposition(disposition)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (store.state()->read_only) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  if (exists && disposition == kCertStoreAddNew) {
    SetLastError(kCryptEExists);
    return false;
  }
  if (exists && disposition == kCertStoreAddUseExisting) return true;
  bool ok = WriteFileAtomically(store.path() + "/" + thumbprint + suffix, der, 0644);
  MarkStale(store.path());
  if (!ok) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  *wrote = true;
  return true;
}

}  // namespace

bool CertAddEncodedCertificateToStore(const CertStore& store, std::uint32_t encoding, ByteSpan der,
                                      std::uint32_t disposition, CertContextPtr* added) {
  if (!store.is_open()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  CertContextPtr parsed = CertCreateCertificateContext(encoding, der);
  if (!parsed) return false;
  CertContextPtr existing = CertFindCertificateInStore(store, kDefaultEncoding, 0,
                                                       kCertFindSha1Hash, parsed->sha1(), nullptr);
  bool wrote;
  if (!PutFile(store, parsed->thumbprint(), ".cer", der, existing != nullptr, disposition,
               &wrote)) {
    return false;
  }
  if (wrote && existing &&
      (disposition == kCertStoreAddReplaceExisting || disposition == kCertStoreAddAlways)) {
    if (!RemoveFile(store.path() + "/" + parsed->thumbprint() + ".keyprov")) {
      SetLastError(kErrorAccessDenied);
      return false;
    }
  }
  if (added != nullptr) {
    *added = CertFindCertificateInStore(store, kDefaultEncoding, 0, kCertFindSha1Hash,
                                        parsed->sha1(), nullptr);
    if (!*added) {
      SetLastError(kErrorAccessDenied);
      return false;
    }
  }
  return true;
}

bool CertAddCertificateContextToStore(const CertStore& store, const CertContextPtr& cert,
                                      std::uint32_t disposition, CertContextPtr* added) {
  if (!cert) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  CertContextPtr in_store;
  if (!CertAddEncodedCertificateToStore(store, kDefaultEncoding, cert->der(), disposition,
                                        &in_store)) {
    return false;
  }
  if (std::optional<KeyProvInfo> prop = cert->key_prov_info()) {
    if (!CertSetCertificateContextProperty(*in_store, kCertKeyProvInfoPropId, 0, &*prop)) {
      return false;
    }
  }
  if (added != nullptr) *added = std::move(in_store);
  return true;
}

bool CertAddEncodedCertificateWithKeyToStore(const CertStore& store, ByteSpan der,
                                             const KeyProvInfo& info, CertContextPtr* added) {
  if (!store.is_open()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (store.state()->read_only) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  CertContextPtr parsed = CertCreateCertificateContext(kDefaultEncoding, der);
  if (!parsed) return false;
  const std::string base = store.path() + "/" + parsed->thumbprint();
  std::string text = SerializeKeyProvInfo(info);
  bool ok = WriteFileAtomically(base + ".keyprov", AsBytes(text), 0600);
  MarkStale(store.path());
  if (ok) {
    CertContextPtr existing = CertFindCertificateInStore(
        store, kDefaultEncoding, 0, kCertFindSha1Hash, parsed->sha1(), nullptr);
    bool same = existing && existing->impl().file_name == parsed->thumbprint() + ".cer" &&
                EqualBytes(existing->der(), der);
    if (!same) {
      ok = WriteFileAtomically(base + ".cer", der, 0644);
      MarkStale(store.path());
    }
  }
  if (!ok) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  CertContextPtr in_store = CertFindCertificateInStore(store, kDefaultEncoding, 0,
                                                       kCertFindSha1Hash, parsed->sha1(), nullptr);
  if (!in_store) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  if (added != nullptr) *added = std::move(in_store);
  return true;
}

bool CertReloadKeyProvInfo(const CertContext& cert) {
  const CertContext::Impl& impl = cert.impl();
  if (impl.store_path.empty()) return false;
  Bytes data;
  FileKey key;
  PropertySlot::State state = PropertySlot::State::kAbsent;
  KeyProvInfo info;
  if (ReadFileWithKey(impl.store_path, impl.thumbprint + ".keyprov", &data, &key)) {
    state = ParseKeyProvInfo(AsChars(data), &info) ? PropertySlot::State::kPresent
                                                   : PropertySlot::State::kUnreadable;
  } else if (errno != ENOENT) {
    return false;
  }
  std::lock_guard<std::mutex> lock(impl.props->mu);
  impl.props->state = state;
  impl.props->key_prov = std::move(info);
  return true;
}

namespace {

// A fresh snapshot of the store a context was read from, for deleting from
// it; null with the last error set when the context belongs to no store or
// memory runs out.
SnapshotPtr SnapshotOfStore(const std::string& name, const std::string& path) {
  if (path.empty()) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  CertStore::State state;
  state.name = name;
  state.path = path;
  SnapshotPtr snap = GetSnapshot(state, true);
  if (!snap) SetLastError(kErrorNotEnoughMemory);
  return snap;
}

}  // namespace

bool CertDeleteCertificateFromStore(const CertContextPtr& cert) {
  if (!cert) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  const CertContext::Impl& impl = cert->impl();
  SnapshotPtr snap = SnapshotOfStore(impl.store_name, impl.store_path);
  if (!snap) return false;
  // Every file holding this certificate goes, so that no copy shows again,
  // and only then its property: a process killed midway leaves the
  // certificate with its key or nothing visible.
  bool ok = true;
  for (const auto& [name, entry] : snap->files) {
    if (entry.cert && entry.cert->thumbprint() == impl.thumbprint) {
      ok = RemoveFile(impl.store_path + "/" + name) && ok;
    }
  }
  ok = RemoveFile(impl.store_path + "/" + impl.file_name) && ok;
  ok = RemoveFile(impl.store_path + "/" + impl.thumbprint + ".keyprov") && ok;
  MarkStale(impl.store_path);
  if (!ok) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  return true;
}

bool CertAddEncodedCRLToStore(const CertStore& store, std::uint32_t encoding, ByteSpan der,
                              std::uint32_t disposition, CrlContextPtr* added) {
  if (!store.is_open()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  CrlContextPtr parsed = CertCreateCRLContext(encoding, der);
  if (!parsed) return false;
  bool exists = false;
  for (CrlContextPtr c = CertEnumCRLsInStore(store, nullptr); c;
       c = CertEnumCRLsInStore(store, c)) {
    if (c->thumbprint() == parsed->thumbprint()) exists = true;
  }
  bool wrote;
  if (!PutFile(store, parsed->thumbprint(), ".crl", der, exists, disposition, &wrote)) {
    return false;
  }
  if (added != nullptr) {
    *added = nullptr;
    for (CrlContextPtr c = CertEnumCRLsInStore(store, nullptr); c;
         c = CertEnumCRLsInStore(store, c)) {
      if (c->thumbprint() == parsed->thumbprint()) *added = c;
    }
    if (!*added) {
      SetLastError(kErrorAccessDenied);
      return false;
    }
  }
  return true;
}

CrlContextPtr CertEnumCRLsInStore(const CertStore& store, const CrlContextPtr& previous) {
  SnapshotPtr snap = SnapshotToEnumerate(store, previous);
  if (!snap) return nullptr;
  size_t i = StartAfter(snap->crls, previous);
  if (i == snap->crls.size()) {
    SetLastError(kCryptENotFound);
    return nullptr;
  }
  return snap->crls[i];
}

bool CertDeleteCRLFromStore(const CrlContextPtr& crl) {
  if (!crl) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  const CrlContext::Impl& impl = crl->impl();
  SnapshotPtr snap = SnapshotOfStore(impl.store_name, impl.store_path);
  if (!snap) return false;
  bool ok = RemoveFile(impl.store_path + "/" + impl.file_name);
  for (const auto& [name, entry] : snap->files) {
    if (entry.crl && entry.crl->thumbprint() == impl.thumbprint) {
      ok = RemoveFile(impl.store_path + "/" + name) && ok;
    }
  }
  MarkStale(impl.store_path);
  if (!ok) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  return true;
}

}  // namespace quillmark::platform
