// QMAddFileForEncrypt: a whole file as the outgoing plain text.
#include <utility>

#include "common/status.h"
#include "control/file_routines.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"

namespace quillmark::control {

HRESULT CCorvaneQuillmark::QMAddFileForEncrypt(std::u16string_view fileName) {
  MethodFrame frame(&settings_.error, nullptr);
  return frame.Run([&] {
    if (fileName.size() > 256) return frame.Fail(kErrTooLong, Message::kFileNameTooLong);
    if (fileName.empty() && settings_.server_mode != 0) {
      return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    }
    std::optional<std::u16string_view> path;
    if (!fileName.empty()) path = fileName;
    std::u16string name;
    Bytes content;
    if (int status = ReadFileOrAsk(u"Open", u"*.*", path, &name, &content); status != kOk) {
      if (status == kReadCancelled) return frame.Fail(kErrUserCancelled, Message::kUserCancelled);
      return frame.Fail(status, Message::kReadFileFailed);
    }
    settings_.outgoing_plain_text = std::move(content);
    return frame.Succeed();
  });
}

}  // namespace quillmark::control
