// Whole-file reads and crash-safe writes on POSIX paths.
//
// Every write goes to a temporary file in the target's folder and is renamed
// over the target, so a reader sees the old file or the new one, never half.
#ifndef QUILLMARK_PLATFORM_OS_FILES_H_
#define QUILLMARK_PLATFORM_OS_FILES_H_

#include <string>
#include <vector>

#include "common/bytes.h"

namespace quillmark::platform {

// Reads the whole file. False if it cannot be opened or read.
bool ReadWholeFile(const std::string& path, Bytes* out);

// Writes |data| to |path| atomically with the given permission bits.
bool WriteFileAtomically(const std::string& path, ByteSpan data, unsigned mode = 0644);

// Removes a file; true if it is gone afterwards (also when it never existed).
bool RemoveFile(const std::string& path);

// Creates |path| and any missing parents with |mode|; true if it is a folder afterwards.
bool MakeDirectories(const std::string& path, unsigned mode = 0700);

bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);

// Names of the entries of a folder (no "." or ".."), sorted bytewise. Empty
// when the folder cannot be read.
std::vector<std::string> ListDirectory(const std::string& path);

// Creates a new private folder (mode 0700) named |prefix| plus six random
// characters under $TMPDIR or /tmp; false when it cannot.
bool MakeTemporaryDirectory(const std::string& prefix, std::string* path);

// Removes a folder and everything below it (symbolic links are removed, not
// followed); true when nothing is left.
bool RemoveTree(const std::string& path);

// The text after the last '/', or the whole path when it holds none.
std::string BaseName(const std::string& path);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_FILES_H_
