// The user's decisions about web origins, kept in origins.json in the home
// folder, and the administrator's in a system-wide file of the same form:
//
//   {"origins":{"https://bank.example":"always","https://other.example":"deny"}}
//
// "always" serves the origin without asking; "deny" refuses it without
// asking. An origin with no decision is asked about (Allow once, Always
// allow, Deny); only Always and Deny are written down. The user's own
// decision comes first, then the system-wide file's, which is believed only
// when no one but root or the user may have written it.
//
// Files are read whole (at most kMaxOriginsFileSize bytes) and written to a
// temporary file renamed over the old one, so a reader never sees half a
// file. A missing file holds no decisions; a file that cannot be read or
// parsed is an error, and is never overwritten.
#ifndef QUILLMARK_COM_ORIGIN_STORE_H_
#define QUILLMARK_COM_ORIGIN_STORE_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillmark::com {

inline constexpr std::size_t kMaxOriginsFileSize = 1 << 20;
inline constexpr std::size_t kMaxOriginEntries = 10000;

enum class OriginDecision { kAsk, kAlways, kDeny };

// "ask", "always", "deny".
std::string_view OriginDecisionName(OriginDecision decision);

class OriginStore {
 public:
  using Entry = std::pair<std::string, OriginDecision>;

  // Reads |path|. False with a one-line |error| when the file exists but
  // cannot be read, is too large or is not in the form above.
  bool Load(const std::string& path, std::string* error);

  // Writes the decisions to |path| atomically (folder created if missing).
  bool Save(const std::string& path, std::string* error) const;

  OriginDecision Find(std::string_view origin) const;

  // Records |decision| for |origin|; kAsk removes the entry. False when the
  // store is full.
  bool Set(std::string_view origin, OriginDecision decision);

  // Removes the decision about |origin|; false when there was none.
  bool Forget(std::string_view origin);

  // The decisions, sorted by origin.
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

// <home>/origins.json (platform/os/home.h); empty when there is no home.
std::string UserOriginsPath();

// $QUILLMARK_SYSTEM_ORIGINS, else /etc/quillmark/origins.json.
std::string SystemOriginsPath();

// Reads the administrator's file at |path| into |store|. A file others could
// have written (platform/os/file_trust.h) is not read: |store| is left empty,
// the result is true and *ignored (one line, with the path) says why. False
// with |error| as OriginStore::Load when a believed file cannot be read.
bool LoadSystemOrigins(const std::string& path, OriginStore* store, std::string* ignored,
                       std::string* error);

// The decision that applies to |origin|: the user's, else the system's.
OriginDecision DecideOrigin(const OriginStore& user, const OriginStore& system,
                            std::string_view origin);

}  // namespace quillmark::com

#endif  // QUILLMARK_COM_ORIGIN_STORE_H_
