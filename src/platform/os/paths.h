// Path conventions of this platform and the user's temporary folder.
//
// Paths are POSIX paths: components separated by '/'. The file name of a path
// is the text after its last '/'; a path without '/' holds no separator
// (callers that need a folder part refuse such a path). Paths cross into the
// file system as UTF-8.
//
// On Windows '\' and '/' both separate components (kPathSeparator is then
// only one of the two), an absolute path starts with a drive ("C:\") or two
// separators (a UNC path), and the temporary folder is what the system's
// GetTempPathW gives, ending in '\'.
#ifndef QUILLMARK_PLATFORM_OS_PATHS_H_
#define QUILLMARK_PLATFORM_OS_PATHS_H_

#include <string>
#include <string_view>

namespace quillmark::platform {

inline constexpr char16_t kPathSeparator = u'/';

// True when |path| holds at least one separator.
bool PathHasSeparator(std::u16string_view path);

// The text after the last separator; the whole path when it holds none; empty
// for a path that ends in a separator.
std::u16string_view PathFileName(std::u16string_view path);

// |path| when it is absolute, else |path| below the working folder. False
// when the working folder cannot be told.
bool MakeAbsolutePath(std::u16string_view path, std::u16string* absolute);

// The user's temporary folder, ending in '/': $TMPDIR when set and not empty,
// else "/tmp". The folder is not created or checked, as with GetTempPathW.
std::u16string GetTempPathW();

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_PATHS_H_
