// Path conventions of this platform and the user's temporary folder.
//
// Paths are POSIX paths: components separated by '/'. The file name of a path
// is the text after its last '/'; a path without '/' holds no separator
// (callers that need a folder part refuse such a path). Paths cross into the
// file system as UTF-8.
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

// The user's temporary folder, ending in '/': $TMPDIR when set and not empty,
// else "/tmp". The folder is not created or checked, as with GetTempPathW.
std::u16string GetTempPathW();

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_PATHS_H_
