// Whether a file that configures this program for every user of the machine
// (the administrator's settings) may be believed.
//
// On Linux such a file is believed only when it, and the folder it is in,
// are owned by root or by the current user and may be written by no one
// else (the folder may also be a sticky one, like /tmp). A symbolic link is
// judged by the file it leads to. On Windows access is left to the file's
// ACL, and every file is believed.
#ifndef QUILLMARK_PLATFORM_OS_FILE_TRUST_H_
#define QUILLMARK_PLATFORM_OS_FILE_TRUST_H_

#include <string>

namespace quillmark::platform {

// Why |path| may not be believed, as one line naming it (e.g. "/etc/x.json
// is writable by others (mode 0666)"); empty when it may, and when it does
// not exist.
std::string SharedFileTrustProblem(const std::string& path);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_FILE_TRUST_H_
