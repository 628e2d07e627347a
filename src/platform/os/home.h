// The per-user home folder that holds stores, keys and the registry file.
//
// $QUILLMARK_HOME, else $XDG_DATA_HOME/quillmark, else ~/.local/share/quillmark.
// A process may override it (the session runner's --home). The folder is
// created with mode 0700 on first use.
#ifndef QUILLMARK_PLATFORM_OS_HOME_H_
#define QUILLMARK_PLATFORM_OS_HOME_H_

#include <string>

namespace quillmark::platform {

// The home folder, created if missing. Empty when it cannot be created.
std::string QuillmarkHome();

// The home folder's path, whether or not it exists yet (no file system call).
// Empty when no path can be formed.
std::string QuillmarkHomePath();

// Overrides the home folder for this process; an empty path removes the override.
void SetQuillmarkHome(const std::string& path);

// The user's own home folder ($HOME, else the password database).
std::string UserHomeDirectory();

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_HOME_H_
