// The parsed certificates that messages carry, kept by their bytes: a signer
// sends the same certificate with every message, and parsing it (its public
// key above all) costs more than checking the signature. Holding a parse is
// safe whatever the stores say, since the bytes alone decide it; trust is
// still worked out on every call.
#include <openssl/x509.h>

#include <cstddef>
#include <limits>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/message/message_internal.h"

namespace quillmark::platform::msg {
namespace {

// Enough for every signer a page deals with in one session.
constexpr std::size_t kMaxCachedCertificates = 256;

class CertificateCache {
 public:
  // A new reference to the parse of |der|, or null when it is not cached.
  X509* Find(const std::string& der) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = index_.find(der);
    if (found == index_.end()) return nullptr;
    recent_.splice(recent_.begin(), recent_, found->second);
    X509* x = found->second->second.get();
    return X509_up_ref(x) == 1 ? x : nullptr;
  }

  // Keeps a reference to |x|, the parse of |der|, dropping the least recent.
  void Add(std::string der, X509* x) {
    if (X509_up_ref(x) != 1) return;
    ossl::X509Ptr held(x);
    std::lock_guard<std::mutex> lock(mutex_);
    if (index_.contains(der)) return;
    recent_.emplace_front(der, std::move(held));
    index_.emplace(std::move(der), recent_.begin());
    if (recent_.size() > kMaxCachedCertificates) {
      index_.erase(recent_.back().first);
      recent_.pop_back();
    }
  }

 private:
  using Entry = std::pair<std::string, ossl::X509Ptr>;
  std::mutex mutex_;
  std::list<Entry> recent_;  // most recently used first
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

CertificateCache& TheCache() {
  static CertificateCache* cache = new CertificateCache;  // lives as long as the process
  return *cache;
}

}  // namespace

ossl::X509Ptr DecodeCachedCertificate(ByteSpan der) {
  if (der.empty() || der.size() > static_cast<std::size_t>(std::numeric_limits<long>::max())) {
    return nullptr;
  }
  std::string key(reinterpret_cast<const char*>(der.data()), der.size());
  if (X509* cached = TheCache().Find(key)) return ossl::X509Ptr(cached);
  const unsigned char* p = der.data();
  ossl::X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (x == nullptr || p != der.data() + der.size()) return nullptr;
  TheCache().Add(std::move(key), x.get());
  return x;
}

}  // namespace quillmark::platform::msg
