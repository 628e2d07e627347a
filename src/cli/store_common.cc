#include "cli/store_common.h"

#include <cstdio>

#include "common/unicode.h"
#include "platform/os/last_error.h"

namespace quillmark::cli {

namespace pf = quillmark::platform;

int StoreFail(const std::string& message) {
  std::fprintf(stderr, "quillmark store: %s\n", message.c_str());
  return 1;
}

int StoreUsage(const char* usage) {
  std::fprintf(stderr, "quillmark store: %s\n", usage);
  return 2;
}

bool OpenStore(std::string_view name, std::uint32_t extra_flags, pf::CertStore* store,
               bool* missing) {
  std::u16string wide;
  if (missing != nullptr) *missing = false;
  if (!Utf8ToUtf16(name, &wide)) {
    StoreFail("invalid store name '" + std::string(name) + "'");
    return false;
  }
  *store = pf::CertOpenStore(pf::kCertStoreProvSystemW, pf::kDefaultEncoding,
                             pf::kCertSystemStoreCurrentUser | extra_flags, wide);
  if (store->is_open()) return true;
  switch (pf::GetLastError()) {
    case pf::kErrorInvalidParameter:
      StoreFail("invalid store name '" + std::string(name) + "'");
      break;
    case pf::kErrorFileNotFound:
      if (missing != nullptr) {
        *missing = true;
        return false;
      }
      StoreFail("no store named '" + std::string(name) + "'");
      break;
    default:
      StoreFail("cannot open store '" + std::string(name) + "' (home folder not writable)");
      break;
  }
  return false;
}

}  // namespace quillmark::cli
