// What the store subcommands (store.cc, store_keys.cc) share: how they report
// a failure, one line on standard error, and how they open a store named on
// the command line.
#ifndef QUILLMARK_CLI_STORE_COMMON_H_
#define QUILLMARK_CLI_STORE_COMMON_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/store/cert_store.h"

namespace quillmark::cli {

// Prints "quillmark store: MESSAGE"; returns the exit status 1.
int StoreFail(const std::string& message);

// Prints "quillmark store: USAGE"; returns the exit status 2.
int StoreUsage(const char* usage);

// Opens the current user's store |name| (UTF-8) with |extra_flags| and prints
// why when it cannot. With |missing| given, a store that does not exist
// (kCertStoreOpenExistingFlag) sets it and prints nothing.
bool OpenStore(std::string_view name, std::uint32_t extra_flags, platform::CertStore* store,
               bool* missing);

}  // namespace quillmark::cli

#endif  // QUILLMARK_CLI_STORE_COMMON_H_
