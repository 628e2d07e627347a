// The per-user home folder that holds stores, keys and the registry file.
//
// $QUILLMARK_HOME, else $XDG_DATA_HOME/quillmark, else ~/.local/share/quillmark.
// A process may override it (the session runner's --home). The folder is
// created with mode 0700 on first use.
//
// Like ssh with ~/.ssh, the home folder is refused when it, or its stores/,
// keys/ or store-index/ folder, is writable by group or others or owned by
// another user: QuillmarkHome() is empty then and HomeFolderProblem() says
// why. The same rule holds for every store folder, key container and file
// the stores and keys read below it (each refused where it is read); on
// Linux the rule is platform/os/linux/home_rule.h.
//
// On Windows: $QUILLMARK_HOME, else %APPDATA%\Quillmark; the user's own home
// is %USERPROFILE%. Access is left to the folder's ACL; the folder, or its
// stores or keys folder, is refused when it is not a folder or is a link (a junction or a
// symbolic link) to another place.
#ifndef QUILLMARK_PLATFORM_OS_HOME_H_
#define QUILLMARK_PLATFORM_OS_HOME_H_

#include <string>

namespace quillmark::platform {

// The home folder, created if missing. Empty when it cannot be created or is
// refused (see HomeFolderProblem).
std::string QuillmarkHome();

// Why the current home folder may not be used, as one line for the user, e.g.
// "refusing home folder /x: writable by others (mode 0777); run chmod 700 /x";
// empty when it is fine or not there yet. Besides HomeFolderProblemAt's
// folders it looks at every store folder and key container (on Linux), so a
// command that calls it once names any folder the stores would refuse.
std::string HomeFolderProblem();

// The same check for the folder |path|.
std::string HomeFolderProblemAt(const std::string& path);

// The home folder's path, whether or not it exists yet (no file system call).
// Empty when no path can be formed.
std::string QuillmarkHomePath();

// Overrides the home folder for this process; an empty path removes the override.
void SetQuillmarkHome(const std::string& path);

// The user's own home folder ($HOME, else the password database).
std::string UserHomeDirectory();

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_HOME_H_
