// Index file layout, all numbers little-endian:
//
//   header: magic "QMSTIDX\n" (8) | version u32 | entry count u32 |
//           body size u64 | checksum of the body u64
//   body:   per entry: name length u16 | name | dev u64 | ino u64 | size u64 |
//           mtime_ns i64 | ctime_ns i64 | kind u8 | flags u8 (1 = racy) |
//           payload length u32 | payload
#include "platform/store/store_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/os/files.h"
#include "platform/os/linux/home_rule.h"

namespace quillmark::platform {

namespace {

constexpr char kMagic[8] = {'Q', 'M', 'S', 'T', 'I', 'D', 'X', '\n'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 8 + 4 + 4 + 8 + 8;
// name length, five stamp fields, kind, flags, payload length.
constexpr std::size_t kEntryFixedSize = 2 + 5 * 8 + 1 + 1 + 4;
constexpr std::uint8_t kRacyFlag = 1;

// A fast 64-bit checksum against torn and damaged files (not against a
// writer who means harm: that one could write the store's files as well).
std::uint64_t Checksum(ByteSpan data) {
  constexpr std::uint64_t kMul1 = 0x9E3779B97F4A7C15ull;
  constexpr std::uint64_t kMul2 = 0xC2B2AE3D27D4EB4Full;
  std::uint64_t h = kMul1 ^ data.size();
  std::size_t i = 0;
  auto mix = [&](std::uint64_t w) {
    h ^= w * kMul2;
    h = (h << 31 | h >> 33) * kMul1;
  };
  for (; i + 8 <= data.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, data.data() + i, 8);
    mix(w);
  }
  std::uint64_t tail = 0;
  for (std::size_t k = 0; i < data.size(); ++i, ++k) {
    tail |= static_cast<std::uint64_t>(data[i]) << (8 * k);
  }
  mix(tail);
  h ^= h >> 29;
  return h * kMul2;
}

void PutLe(std::uint64_t v, std::size_t n, Bytes* out) {
  for (std::size_t i = 0; i < n; ++i) out->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Reads little-endian numbers from a span, failing once it runs short.
class Cursor {
 public:
  explicit Cursor(ByteSpan in) : in_(in) {}
  bool Take(std::size_t n, ByteSpan* out) {
    if (in_.size() < n) return false;
    *out = in_.first(n);
    in_ = in_.subspan(n);
    return true;
  }
  template <typename T>
  bool Number(T* out) {
    ByteSpan b;
    if (!Take(sizeof(T), &b)) return false;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v |= static_cast<std::uint64_t>(b[i]) << (8 * i);
    *out = static_cast<T>(v);
    return true;
  }
  bool empty() const { return in_.empty(); }

 private:
  ByteSpan in_;
};

bool ValidKind(std::uint8_t k) {
  return k >= static_cast<std::uint8_t>(IndexedKind::kCertificate) &&
         k <= static_cast<std::uint8_t>(IndexedKind::kUnreadable);
}

// Reads an index file that passes the home folder's rule (this user's, that
// no one else may write; never a link, FIFO or device). The home is the
// folder above the index's own folder.
bool ReadOwnFile(const std::string& path, Bytes* out) {
  const std::size_t name_at = path.rfind('/');
  const std::size_t folder_at =
      name_at == std::string::npos || name_at == 0 ? name_at : path.rfind('/', name_at - 1);
  const std::string home = folder_at == std::string::npos ? path : path.substr(0, folder_at);
  struct stat st;
  std::string problem;
  int fd = OpenHomeFile(home, path, &st, &problem);
  if (fd < 0) return false;
  bool ok = st.st_size >= static_cast<off_t>(kHeaderSize) &&
            static_cast<std::uint64_t>(st.st_size) <= kMaxStoreIndexSize;
  if (ok) {
    out->resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < out->size()) {
      ssize_t n = ::read(fd, out->data() + done, out->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ok = done == out->size();
  }
  ::close(fd);
  return ok;
}

bool ParseIndex(StoreIndex* index) {
  Cursor header(index->bytes);
  ByteSpan magic;
  std::uint32_t version = 0, count = 0;
  std::uint64_t body_size = 0, checksum = 0;
  if (!header.Take(sizeof(kMagic), &magic) || std::memcmp(magic.data(), kMagic, 8) != 0 ||
      !header.Number(&version) || version != kVersion || !header.Number(&count) ||
      !header.Number(&body_size) || !header.Number(&checksum) ||
      body_size != index->bytes.size() - kHeaderSize) {
    return false;
  }
  ByteSpan body = ByteSpan(index->bytes).subspan(kHeaderSize);
  if (Checksum(body) != checksum || count > body.size() / kEntryFixedSize) return false;
  index->files.reserve(count);
  Cursor in(body);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint16_t name_size = 0;
    ByteSpan name;
    IndexedFile f;
    std::uint8_t kind = 0, flags = 0;
    std::uint32_t payload_size = 0;
    if (!in.Number(&name_size) || name_size == 0 || !in.Take(name_size, &name) ||
        !in.Number(&f.stamp.dev) || !in.Number(&f.stamp.ino) || !in.Number(&f.stamp.size) ||
        !in.Number(&f.stamp.mtime_ns) || !in.Number(&f.stamp.ctime_ns) || !in.Number(&kind) ||
        !ValidKind(kind) || !in.Number(&flags) || !in.Number(&payload_size) ||
        !in.Take(payload_size, &f.payload)) {
      return false;
    }
    f.kind = static_cast<IndexedKind>(kind);
    f.racy = (flags & kRacyFlag) != 0;
    if (f.kind == IndexedKind::kCertificate && f.payload.size() <= 20) return false;
    std::string_view key(reinterpret_cast<const char*>(name.data()), name.size());
    if (!index->files.emplace(key, f).second) return false;  // a name twice
  }
  return in.empty();
}

}  // namespace

std::string StoreIndexPath(const std::string& store_path) {
  std::size_t name_at = store_path.rfind('/');
  std::size_t stores_at = name_at == std::string::npos || name_at == 0
                              ? std::string::npos
                              : store_path.rfind('/', name_at - 1);
  if (stores_at == std::string::npos) return store_path + ".index";
  return store_path.substr(0, stores_at) + "/store-index" + store_path.substr(name_at);
}

bool ParseStoreIndex(Bytes bytes, StoreIndex* out) {
  out->files.clear();
  out->bytes = std::move(bytes);
  try {
    if (ParseIndex(out)) return true;
  } catch (const std::bad_alloc&) {
  }
  out->files.clear();
  Bytes().swap(out->bytes);
  return false;
}

bool ReadStoreIndex(const std::string& path, StoreIndex* out) {
  Bytes bytes;
  try {
    if (ReadOwnFile(path, &bytes)) return ParseStoreIndex(std::move(bytes), out);
  } catch (const std::bad_alloc&) {
  }
  out->files.clear();
  Bytes().swap(out->bytes);
  return false;
}

Bytes SealStoreIndex(std::uint32_t count, ByteSpan body) {
  Bytes out(kMagic, kMagic + sizeof(kMagic));
  out.reserve(kHeaderSize + body.size());
  PutLe(kVersion, 4, &out);
  PutLe(count, 4, &out);
  PutLe(body.size(), 8, &out);
  PutLe(Checksum(body), 8, &out);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

StoreIndexWriter::StoreIndexWriter() = default;

void StoreIndexWriter::Add(std::string_view name, const FileStamp& stamp, IndexedKind kind,
                           bool racy, ByteSpan first, ByteSpan second) {
  PutLe(name.size(), 2, &body_);
  body_.insert(body_.end(), name.begin(), name.end());
  PutLe(stamp.dev, 8, &body_);
  PutLe(stamp.ino, 8, &body_);
  PutLe(stamp.size, 8, &body_);
  PutLe(static_cast<std::uint64_t>(stamp.mtime_ns), 8, &body_);
  PutLe(static_cast<std::uint64_t>(stamp.ctime_ns), 8, &body_);
  body_.push_back(static_cast<std::uint8_t>(kind));
  body_.push_back(racy ? kRacyFlag : 0);
  PutLe(first.size() + second.size(), 4, &body_);
  body_.insert(body_.end(), first.begin(), first.end());
  body_.insert(body_.end(), second.begin(), second.end());
  ++count_;
}

Bytes StoreIndexWriter::Finish() { return SealStoreIndex(count_, body_); }

bool WriteStoreIndex(const std::string& path, ByteSpan bytes) {
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  RemoveStaleTemporaries(dir);  // left by a writer that died
  std::string tmp = dir + "/.tmp-" + std::to_string(::getpid()) + "-XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0600) == 0;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(tmp.c_str(), path.c_str()) == 0) return true;
  ::unlink(tmp.c_str());
  return false;
}

}  // namespace quillmark::platform
