#include "control/file_routines.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "common/status.h"
#include "common/unicode.h"
#include "platform/os/bounded_read.h"
#include "platform/os/files.h"
#include "platform/os/paths.h"
#include "platform/ui/dialog_factory.h"

namespace quillmark::control {

namespace {

using platform::ui::FileAnswer;

// The file-system form of a path; false when it cannot name a file.
bool FileSystemPath(std::u16string_view path, std::string* out) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return false;
  return Utf16ToUtf8(path, out);
}

Status ReadPath(std::u16string_view path, const FileReadQuery& query, std::u16string* name,
                Bytes* content) {
  if (!platform::PathHasSeparator(path)) return kFailed;  // the file cannot be opened
  std::string fs_path;
  if (!FileSystemPath(path, &fs_path)) return kFailed;
  std::uint64_t max_size = query.max_size;
  if (query.max_size_for_name) {
    max_size = std::min(max_size, query.max_size_for_name(platform::PathFileName(path)));
  }
  // The control keeps byte strings with 32-bit signed lengths.
  max_size = std::min<std::uint64_t>(max_size, std::numeric_limits<std::int32_t>::max());
  Bytes data;
  switch (platform::ReadFileAtMost(fs_path, max_size, &data)) {
    case platform::BoundedRead::kOk:
      break;
    case platform::BoundedRead::kTooLarge:
      return Status(kFailed, platform::kErrorFileTooLarge);
    default:
      return kFailed;
  }
  if (data.empty()) return kFailed;
  name->assign(platform::PathFileName(path));
  content->swap(data);
  return kOk;
}

int WritePath(std::u16string_view path, ByteSpan bytes) {
  std::string fs_path;
  if (!FileSystemPath(path, &fs_path)) return kFailed;
  return platform::WriteFileAtomically(fs_path, bytes, 0600) ? kOk : kFailed;
}

// The public callers turn std::bad_alloc into kFailed.
int Save(const platform::ui::SaveFileRequest& request, ByteSpan bytes,
         std::optional<std::u16string_view> path) {
  if (path.has_value()) return WritePath(*path, bytes);
  FileAnswer answer = platform::ui::CurrentDialogHost().SaveFile(request);
  if (answer.outcome != FileAnswer::Outcome::kOk) return kFailed;
  return WritePath(answer.path, bytes);
}

}  // namespace

Status ReadFileOrAsk(const FileReadQuery& query, std::u16string* name, Bytes* content) {
  if (name == nullptr || content == nullptr) return kErrEmptyInput;
  try {
    platform::ui::DialogHost& host = platform::ui::CurrentDialogHost();
    // A web page may only propose a path: the user confirms it in the Open
    // dialog, and only the file the dialog answers is read.
    const bool web_caller = !host.caller_origin().empty();
    if (query.path.has_value() && !web_caller) {
      return ReadPath(*query.path, query, name, content);
    }
    FileAnswer answer = host.OpenFile({std::u16string(query.title), std::u16string(query.filter),
                                       query.path.has_value() ? std::u16string(*query.path) : u""});
    switch (answer.outcome) {
      case FileAnswer::Outcome::kCancel:
        return kReadCancelled;
      case FileAnswer::Outcome::kError:
        return kFailed;
      case FileAnswer::Outcome::kOk:
        break;
    }
    return ReadPath(answer.path, query, name, content);
  } catch (const std::bad_alloc&) {
    return kFailed;
  }
}

int SaveFileOrAsk(std::u16string_view title, std::u16string_view filter,
                  std::u16string_view default_name, ByteSpan bytes,
                  std::optional<std::u16string_view> path) {
  try {
    return Save({std::u16string(title), std::u16string(filter), std::u16string(default_name),
                 std::u16string()},
                bytes, path);
  } catch (const std::bad_alloc&) {
    return kFailed;
  }
}

int SaveFileOrAskWithExtension(std::u16string_view title, std::u16string_view filter,
                               std::u16string_view default_ext, ByteSpan bytes,
                               std::optional<std::u16string_view> path) {
  try {
    return Save({std::u16string(title), std::u16string(filter), std::u16string(),
                 std::u16string(default_ext)},
                bytes, path);
  } catch (const std::bad_alloc&) {
    return kFailed;
  }
}

}  // namespace quillmark::control
