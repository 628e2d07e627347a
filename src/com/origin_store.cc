#include "com/origin_store.h"

#include <algorithm>
#include <cstdlib>

#include "common/bytes.h"
#include "common/json.h"
#include "common/unicode.h"
#include "platform/os/file_trust.h"
#include "platform/os/files.h"
#include "platform/os/home.h"

namespace quillmark::com {

namespace {

constexpr char kDefaultSystemOrigins[] = "/etc/quillmark/origins.json";

bool Fail(std::string* error, std::string message) {
  if (error != nullptr) *error = std::move(message);
  return false;
}

bool DecisionFromName(std::u16string_view name, OriginDecision* decision) {
  if (name == u"always") {
    *decision = OriginDecision::kAlways;
  } else if (name == u"deny") {
    *decision = OriginDecision::kDeny;
  } else {
    return false;
  }
  return true;
}

auto Position(std::vector<OriginStore::Entry>& entries, std::string_view origin) {
  return std::lower_bound(
      entries.begin(), entries.end(), origin,
      [](const OriginStore::Entry& e, std::string_view o) { return e.first < o; });
}

}  // namespace

std::string_view OriginDecisionName(OriginDecision decision) {
  switch (decision) {
    case OriginDecision::kAlways:
      return "always";
    case OriginDecision::kDeny:
      return "deny";
    case OriginDecision::kAsk:
      break;
  }
  return "ask";
}

bool OriginStore::Load(const std::string& path, std::string* error) {
  entries_.clear();
  if (!platform::IsRegularFile(path)) {
    if (platform::IsDirectory(path)) return Fail(error, path + " is a folder, not a file");
    return true;  // no decisions yet
  }
  Bytes bytes;
  if (!platform::ReadWholeFile(path, &bytes)) return Fail(error, "cannot read " + path);
  if (bytes.size() > kMaxOriginsFileSize) return Fail(error, path + " is too large");
  json::Value root;
  std::string parse_error;
  if (!json::Parse(AsChars(bytes), &root, &parse_error)) {
    return Fail(error, path + " is not JSON: " + parse_error);
  }
  const json::Value* origins = root.is_object() ? root.Find(u"origins") : nullptr;
  if (origins == nullptr || !origins->is_object()) {
    return Fail(error, path + " holds no \"origins\" object");
  }
  std::vector<Entry> read;
  for (const json::Value::Member& m : origins->object()) {
    OriginDecision decision;
    std::string origin;
    if (!m.second.is_string() || !DecisionFromName(m.second.string(), &decision)) {
      return Fail(error, path + ": a decision is \"always\" or \"deny\"");
    }
    if (!Utf16ToUtf8(m.first, &origin)) return Fail(error, path + ": an origin is not text");
    read.emplace_back(std::move(origin), decision);
  }
  if (read.size() > kMaxOriginEntries) return Fail(error, path + " holds too many origins");
  // The JSON reader refuses repeated names, so every origin is there once.
  std::sort(read.begin(), read.end(),
            [](const Entry& a, const Entry& b) { return a.first < b.first; });
  entries_ = std::move(read);
  return true;
}

bool OriginStore::Save(const std::string& path, std::string* error) const {
  json::Writer w;
  w.BeginObject();
  w.Key("origins");
  w.BeginObject();
  for (const Entry& e : entries_) {
    w.Key(e.first);
    w.StringUtf8(OriginDecisionName(e.second));
  }
  w.EndObject();
  w.EndObject();
  std::string text = w.Take();
  text.push_back('\n');
  std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 &&
      !platform::MakeDirectories(path.substr(0, slash))) {
    return Fail(error, "cannot create the folder of " + path);
  }
  if (!platform::WriteFileAtomically(path, AsBytes(text), 0600)) {
    return Fail(error, "cannot write " + path);
  }
  return true;
}

OriginDecision OriginStore::Find(std::string_view origin) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), origin,
                             [](const Entry& e, std::string_view o) { return e.first < o; });
  return it != entries_.end() && it->first == origin ? it->second : OriginDecision::kAsk;
}

bool OriginStore::Set(std::string_view origin, OriginDecision decision) {
  if (decision == OriginDecision::kAsk) {
    Forget(origin);
    return true;
  }
  auto it = Position(entries_, origin);
  if (it != entries_.end() && it->first == origin) {
    it->second = decision;
    return true;
  }
  if (entries_.size() >= kMaxOriginEntries) return false;
  entries_.insert(it, Entry(std::string(origin), decision));
  return true;
}

bool OriginStore::Forget(std::string_view origin) {
  auto it = Position(entries_, origin);
  if (it == entries_.end() || it->first != origin) return false;
  entries_.erase(it);
  return true;
}

std::string UserOriginsPath() {
  std::string home = platform::QuillmarkHomePath();
  return home.empty() ? std::string() : home + "/origins.json";
}

std::string SystemOriginsPath() {
  const char* path = std::getenv("QUILLMARK_SYSTEM_ORIGINS");
  return path != nullptr && *path != '\0' ? std::string(path) : std::string(kDefaultSystemOrigins);
}

bool LoadSystemOrigins(const std::string& path, OriginStore* store, std::string* ignored,
                       std::string* error) {
  *store = OriginStore();
  if (std::string problem = platform::SharedFileTrustProblem(path); !problem.empty()) {
    if (ignored != nullptr) *ignored = "ignoring the system-wide origins file: " + problem;
    return true;
  }
  return store->Load(path, error);
}

OriginDecision DecideOrigin(const OriginStore& user, const OriginStore& system,
                            std::string_view origin) {
  OriginDecision decision = user.Find(origin);
  return decision != OriginDecision::kAsk ? decision : system.Find(origin);
}

}  // namespace quillmark::com
