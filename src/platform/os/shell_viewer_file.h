// Files written for the desktop's viewer: the certificate the chooser's View
// shows is handed to ShellExecuteExW as a file, which the handler it starts
// reads some time after the call has returned.
//
// They live in a private folder of the user's: <$XDG_RUNTIME_DIR>/quillmark-view
// when $XDG_RUNTIME_DIR names an absolute folder of the user's that group and
// others cannot write, else "view" in the home folder (home.h). The folder is
// made with mode 0700; one that is already there is used only when it is a
// real folder (a link there is not followed), owned by the user and closed to
// group and others. Nothing else is ever tried: no shared fixed path.
//
// Each file is new: created with O_CREAT | O_EXCL | O_NOFOLLOW, mode 0600,
// under a random name, so nothing that is already at a path is followed,
// opened or replaced. A file is not removed when its writer is done with it
// (the handler may not have read it yet); each PrepareViewerFolder removes
// the files of this kind there that are older than kViewerFileLifetimeSeconds.
//
// On Windows the folder is "view" in the home folder (%APPDATA%\Quillmark),
// private by its default ACL; a link there is refused. Files are made with
// CREATE_NEW, which neither opens nor follows what is already at the path.
//
//   std::string folder, path;
//   if (!PrepareViewerFolder(&folder)) ... "cannot make the folder" ...
//   if (CreateViewerFile(folder, ".cer", der, &path)) ShellExecuteExW({u"open", path16});
#ifndef QUILLMARK_PLATFORM_OS_SHELL_VIEWER_FILE_H_
#define QUILLMARK_PLATFORM_OS_SHELL_VIEWER_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace quillmark::platform {

inline constexpr std::int64_t kViewerFileLifetimeSeconds = 600;
// Units of a viewer file's name before its suffix: "view-" and 16 hex digits.
inline constexpr std::size_t kViewerFileStemLength = 21;
inline constexpr std::uint32_t kErrorFileExists = 80;  // ERROR_FILE_EXISTS

// The private folder (a UTF-8 path without a trailing '/'), made if missing,
// with the old files in it removed. False with the last error:
// kErrorAccessDenied when what is there fails the checks above or cannot be
// made, kErrorFileNotFound when no home folder can be formed.
bool PrepareViewerFolder(std::string* folder);

// Writes |data| to a new file "view-<16 hex digits><suffix>" in |folder| and
// gives its path. False with the last error (nothing is left behind):
// kErrorFileExists after repeated name clashes, kErrorAccessDenied when the
// file cannot be made or written, kErrorInvalidParameter for a suffix
// holding '/' or NUL.
bool CreateViewerFile(const std::string& folder, std::string_view suffix, ByteSpan data,
                      std::string* path);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_SHELL_VIEWER_FILE_H_
