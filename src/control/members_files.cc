// QMAddFileForEncrypt: a whole file as the outgoing plain text.
// QMAttachedVerifySignedFile: a file holding an attached signature's text,
// verified, and its content saved where the user says.
#include <optional>
#include <string>
#include <utility>

#include "common/status.h"
#include "control/file_routines.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"
#include "crypto/verify_message.h"

namespace quillmark::control {

namespace {

constexpr std::u16string_view kSignedFileSuffix = u".sign";

// The name the Save dialog offers for the content of the signed file |name|:
// |name| without ".sign" (matched case-sensitively), or none.
std::u16string ContentFileName(std::u16string_view name) {
  if (!name.ends_with(kSignedFileSuffix)) return std::u16string();
  return std::u16string(name.substr(0, name.size() - kSignedFileSuffix.size()));
}

}  // namespace

// The signer information changes only when the verification succeeds; a
// failure leaves it as it was, and a failure to save keeps what the
// verification stored.
HRESULT CCorvaneQuillmark::QMAttachedVerifySignedFile(std::u16string_view fileName) {
  MethodFrame frame(&settings_.error, nullptr);
  return frame.Run([&] {
    if (fileName.size() > 256) return frame.Fail(kErrTooLong, Message::kFileNameTooLong);
    if (fileName.empty() && settings_.server_mode != 0) {
      return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    }
    std::optional<std::u16string_view> path;
    if (!fileName.empty()) path = fileName;
    std::u16string name;
    Bytes text;
    if (int status = ReadFileOrAsk(u"Open", u"*.*", path, &name, &text); status != kOk) {
      if (status == kReadCancelled) return frame.Fail(kErrUserCancelled, Message::kUserCancelled);
      return frame.Fail(status, Message::kReadFileFailed);
    }

    Bytes content;
    certs::CertInfoSet info;
    std::uint32_t code = 0;
    if (int status = crypto::VerifyMessage(text, &content, &info, /*attached=*/true, &code);
        status != kOk) {
      return frame.FailWithCode(status, code, Message::kVerifyFailed);
    }
    settings_.signer_info.UpdateFrom(std::move(info));

    if (!content.empty()) {
      std::u16string default_name = ContentFileName(name);
      if (SaveFileOrAsk(u"Save", u"*.*", default_name, content, std::nullopt) != kOk) {
        return frame.Fail(kFailed, Message::kSaveFileFailed);
      }
    }
    return frame.Succeed();
  });
}

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
