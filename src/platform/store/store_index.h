// The index of one store folder <HOME>/stores/<NAME>, kept as
// <HOME>/store-index/<NAME> (outside the stores, so writing it changes no
// store folder and no store can be named like it): for every certificate,
// CRL and key-provider file the name, the stat stamp it was read with and
// what it held, so a fresh process answers from one read instead of parsing
// every certificate again.
//
// An index is only a cache. The reader trusts an entry only while the file's
// stamp (device, inode, size, mtime and ctime in nanoseconds) is unchanged
// and the entry is not marked racy, i.e. the file was not changed within the
// racy window before the index was written, when a later rewrite could keep
// the same stamp. A file that is missing, not a regular file, owned by
// another user, writable by others, of another version, too large,
// truncated or failing its checksum is no index at all. Parsing is bounded
// and length-checked throughout: an index is read like any other file.
#ifndef QUILLMARK_PLATFORM_STORE_STORE_INDEX_H_
#define QUILLMARK_PLATFORM_STORE_STORE_INDEX_H_

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/bytes.h"

namespace quillmark::platform {

// The index file of the store folder |store_path|.
std::string StoreIndexPath(const std::string& store_path);
// Indexes larger than this are not read (the store is read file by file).
inline constexpr std::uint64_t kMaxStoreIndexSize = std::uint64_t{256} << 20;

// What identifies one version of a file without reading it.
struct FileStamp {
  std::uint64_t dev = 0;
  std::uint64_t ino = 0;
  std::uint64_t size = 0;
  std::int64_t mtime_ns = 0;
  std::int64_t ctime_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

// What an indexed file held when it was read.
enum class IndexedKind : std::uint8_t {
  kCertificate = 1,  // payload: SHA-1 of the DER (20 bytes), then the DER
  kCrl = 2,          // payload: the DER
  kKeyProv = 3,      // payload: the file's bytes
  kJunk = 4,         // a .cer or .crl that did not parse; no payload
  kUnreadable = 5,   // could not be opened as a regular file; no payload
};

struct IndexedFile {
  FileStamp stamp;
  IndexedKind kind = IndexedKind::kJunk;
  bool racy = false;
  ByteSpan payload;  // into StoreIndex::bytes
};

// A parsed index. Entries point into |bytes|, so it is not copyable.
struct StoreIndex {
  StoreIndex() = default;
  StoreIndex(const StoreIndex&) = delete;
  StoreIndex& operator=(const StoreIndex&) = delete;

  Bytes bytes;
  std::unordered_map<std::string_view, IndexedFile> files;  // by file name
};

// Reads the index at |path|; false (|out| cleared) when there is none that
// can be trusted as described above.
bool ReadStoreIndex(const std::string& path, StoreIndex* out);

// Parses the bytes of an index file (kept in |out|); false (|out| cleared)
// when they are not one whole index of this version with its checksum.
bool ParseStoreIndex(Bytes bytes, StoreIndex* out);

// An index file's bytes: the header (with the body's checksum), then |body|,
// which holds |count| entries.
Bytes SealStoreIndex(std::uint32_t count, ByteSpan body);

// Builds an index file's bytes, one entry at a time.
class StoreIndexWriter {
 public:
  StoreIndexWriter();
  // |payload| is the concatenation of |first| and |second|.
  void Add(std::string_view name, const FileStamp& stamp, IndexedKind kind, bool racy,
           ByteSpan first = {}, ByteSpan second = {});
  // The whole file: header and entries.
  Bytes Finish();

 private:
  Bytes body_;
  std::uint32_t count_ = 0;
};

// Writes |bytes| to |path| through a temporary file renamed into place, mode
// 0600, making the index folder (mode 0700) when needed. Not synced: a torn
// index fails its checksum and is rebuilt.
bool WriteStoreIndex(const std::string& path, ByteSpan bytes);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_STORE_STORE_INDEX_H_
