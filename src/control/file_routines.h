// Reading a file the page names or the user picks, and saving bytes to a
// path or to a file the user picks, through the current dialog host.
//
// The routines set no error state; callers map their statuses to their own
// numbers and messages:
//   ReadFileOrAsk: 0; kReadCancelled (-2) when the user cancelled the Open
//                  dialog; kFailed (-1) for a dialog error, a path without a
//                  '/', a file that cannot be read, something that is not a
//                  regular file (a folder, a FIFO, a device), an empty file,
//                  and, with platform code kErrorFileTooLarge (223), a file
//                  of more than the query's max_size bytes, or of more than
//                  its max_size_for_name allows for the file's name (refused
//                  from its size before a byte is read); kErrEmptyInput for a
//                  missing output.
//   SaveFileOrAsk: 0; kFailed for a cancelled dialog, a dialog error or a
//                  file that cannot be written.
// Paths are POSIX paths in UTF-16; a path holding a NUL unit or an unpaired
// surrogate cannot name a file and fails. A file is written to a temporary
// file beside it and renamed over it, so a failure never leaves half a file.
#ifndef QUILLMARK_CONTROL_FILE_ROUTINES_H_
#define QUILLMARK_CONTROL_FILE_ROUTINES_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/status.h"

namespace quillmark::control {

inline constexpr int kReadCancelled = -2;

// The most a file read for a page may hold: eight decimal digits, as in the
// formatted plaintext's number fields. A file added to that container holds
// less, since its entry counts its name and two length fields as well.
inline constexpr std::uint64_t kMaxReadFileSize = 99'999'999;

struct FileReadQuery {
  std::u16string_view title;   // of the Open dialog
  std::u16string_view filter;  // of the Open dialog
  // The file to read; none lets the user pick one in the Open dialog.
  std::optional<std::u16string_view> path;
  std::uint64_t max_size = kMaxReadFileSize;
  // When set, the bound for the file named `file_name` (the text after the
  // path's last '/'), applied together with max_size before a byte is read.
  std::function<std::uint64_t(std::u16string_view file_name)> max_size_for_name;
};

// Reads the file the query names or the user picks. When the dialog host
// serves a web page, a given path is only preset in the Open dialog and the
// file the user confirms there is read instead. *name receives the text after
// the path's last '/', *content the whole file.
Status ReadFileOrAsk(const FileReadQuery& query, std::u16string* name, Bytes* content);

// Writes |bytes| to |path| (created or replaced), or, with no path, to the
// file the user picks in the Save dialog with |default_name| preset.
int SaveFileOrAsk(std::u16string_view title, std::u16string_view filter,
                  std::u16string_view default_name, ByteSpan bytes,
                  std::optional<std::u16string_view> path);

// As SaveFileOrAsk, with a default extension the dialog appends to a name
// without one instead of a preset name.
int SaveFileOrAskWithExtension(std::u16string_view title, std::u16string_view filter,
                               std::u16string_view default_ext, ByteSpan bytes,
                               std::optional<std::u16string_view> path);

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_FILE_ROUTINES_H_
