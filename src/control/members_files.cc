// QMAddFileForEncrypt: a whole file as the outgoing plain text.
// QMAttachedVerifySignedFile: a file holding an attached signature's text,
// verified, and its content saved where the user says.
#include <cstdint>
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

// A signed file holds Base64 text with line feeds; 192 MiB leaves room for
// the text of the largest message a verification expands (128 MiB).
constexpr std::uint64_t kMaxSignedFileSize = std::uint64_t{192} << 20;

// The name the Save dialog offers for the content of the signed file |name|:
// |name| without ".sign" (matched case-sensitively), or none.
std::u16string ContentFileName(std::u16string_view name) {
  if (!name.ends_with(kSignedFileSuffix)) return std::u16string();
  return std::u16string(name.substr(0, name.size() - kSignedFileSuffix.size()));
}

struct ReadFailure {
  Status status;
  Message message;
};

// The file argument of these members: at most 256 units; empty lets the user
// choose the file, which server mode forbids. Reads the file's name and bytes,
// at most |max_size| of them.
std::optional<ReadFailure> ReadFileArgument(std::u16string_view file_name, bool server_mode,
                                            std::uint64_t max_size, std::u16string* name,
                                            Bytes* bytes) {
  if (file_name.size() > 256) return ReadFailure{kErrTooLong, Message::kFileNameTooLong};
  if (file_name.empty() && server_mode) return ReadFailure{kErrEmptyInput, Message::kSourceEmpty};
  std::optional<std::u16string_view> path;
  if (!file_name.empty()) path = file_name;
  Status status = ReadFileOrAsk({u"Open", u"*.*", path, max_size, {}}, name, bytes);
  if (status.ok()) return std::nullopt;
  // Only a file over the size limit carries a platform code; the other
  // failures leave errorCode as it was.
  if (status.number() == kReadCancelled) {
    return ReadFailure{kErrUserCancelled, Message::kUserCancelled};
  }
  return ReadFailure{status, Message::kReadFileFailed};
}

}  // namespace

// The signer information changes only when the verification succeeds; a
// failure leaves it as it was, and a failure to save keeps what the
// verification stored.
HRESULT CCorvaneQuillmark::QMAttachedVerifySignedFile(std::u16string_view fileName) {
  MethodFrame frame(&settings_.error, nullptr);
  return frame.Run([&] {
    std::u16string name;
    Bytes text;
    if (auto f = ReadFileArgument(fileName, settings_.server_mode != 0, kMaxSignedFileSize, &name,
                                  &text)) {
      return f->status.platform_code() != 0 ? frame.FailWith(f->status, f->message)
                                            : frame.Fail(f->status.number(), f->message);
    }

    Bytes content;
    certs::CertInfoSet info;
    if (Status status = crypto::VerifyMessage(std::move(text), &content, &info, /*attached=*/true);
        !status.ok()) {
      return frame.FailWith(status, Message::kVerifyFailed);
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
    std::u16string name;
    Bytes content;
    if (auto f = ReadFileArgument(fileName, settings_.server_mode != 0, kMaxReadFileSize, &name,
                                  &content)) {
      return f->status.platform_code() != 0 ? frame.FailWith(f->status, f->message)
                                            : frame.Fail(f->status.number(), f->message);
    }
    settings_.outgoing_plain_text = std::move(content);
    settings_.outgoing_is_form = false;
    return frame.Succeed();
  });
}

}  // namespace quillmark::control
