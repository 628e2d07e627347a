// Whole-file reads and crash-safe writes on POSIX paths.
//
// Every write goes to a temporary file in the target's folder and is renamed
// over the target, so a reader sees the old file or the new one, never half.
// A temporary is named ".tmp-<pid>-XXXXXX" after its writer; temporaries
// left by a writer that died are removed the next time the folder is written.
//
// On Windows paths are UTF-8 and reach the system as UTF-16; '\\' and '/'
// both separate. The replace is MoveFileExW(MOVEFILE_REPLACE_EXISTING |
// MOVEFILE_WRITE_THROUGH), which fails (leaving the old file) while another
// process holds the target open without FILE_SHARE_DELETE. Permission bits
// are not used: new files and folders take their folder's default ACL, which
// below the user's profile (%APPDATA%, %TEMP%) admits the user alone. Names
// compare case-insensitively there, as the file system does.
#ifndef QUILLMARK_PLATFORM_OS_FILES_H_
#define QUILLMARK_PLATFORM_OS_FILES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"

namespace quillmark::platform {

// Reads the whole file. False if it cannot be opened or read.
bool ReadWholeFile(const std::string& path, Bytes* out);

// Reads a whole regular file that holds a secret (a private key, a PKCS#12
// file) of at most |max_size| bytes straight into |out|, leaving no other
// copy in memory; on failure nothing read is left behind. False also when the
// file is larger.
bool ReadSecretFile(const std::string& path, std::size_t max_size, Bytes* out);

// Writes |data| to |path| atomically with the given permission bits.
bool WriteFileAtomically(const std::string& path, ByteSpan data, unsigned mode = 0644);

// Whether |name| (a file name, no folder) is a temporary of an atomic write.
bool IsTemporaryFileName(std::string_view name);

// Removes the temporaries in |dir| that no running writer owns: those whose
// writer process is gone (and that are a few seconds old), and any older
// than a day. Returns how many were removed.
int RemoveStaleTemporaries(const std::string& dir);

// Flushes a folder's entries (a rename into it) to the disk.
void SyncDirectory(const std::string& dir);

// One step of a change that spans several files. Fault tests set
// QUILLMARK_TEST_CRASH_AT=N to end the process at once, as a crash would, at
// the N-th step it reaches (a temporary written, a rename done, a file
// removed); otherwise this does nothing.
void CrashPoint();

// Removes a file; true if it is gone afterwards (also when it never existed).
bool RemoveFile(const std::string& path);

// Creates |path| and any missing parents with |mode|; true if it is a folder afterwards.
bool MakeDirectories(const std::string& path, unsigned mode = 0700);

bool IsDirectory(const std::string& path);

// The size of a regular file; false when |path| is not one.
bool RegularFileSize(const std::string& path, std::uint64_t* size);
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
