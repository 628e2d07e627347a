#include "platform/os/file_trust.h"

namespace quillmark::platform {

// The file's ACL decides who may write it.
std::string SharedFileTrustProblem(const std::string&) { return std::string(); }

}  // namespace quillmark::platform
