// The plain-text members: setting the outgoing plain text, building it as a
// formatted plaintext of form items and files, and reading the received
// plain text whole or entry by entry, saving extracted files.
#include <algorithm>
#include <utility>

#include "common/status.h"
#include "control/file_routines.h"
#include "control/guids.h"
#include "control/method_frame.h"
#include "control/quillmark_control.h"
#include "control/text_convert.h"
#include "encoding/formatted_plaintext_layout.h"
#include "encoding/plaintext_buffer.h"
#include "platform/os/paths.h"
#include "platform/registry/registry.h"
#include "platform/ui/dialog_factory.h"

namespace quillmark::control {

namespace {

using encoding::PlaintextResult;
using encoding::PlaintextStep;

inline constexpr std::size_t kMaxFileNameLength = 256;
inline constexpr char16_t kOpenTitle[] = u"Open";
inline constexpr char16_t kSaveTitle[] = u"Save";
inline constexpr char16_t kAllFilesFilter[] = u"*.*";
// What a web page may have QMGetFile write into the stubPath folder over the
// life of one control: so many files, and in all no more bytes than one file
// entry of the formatted plaintext can carry.
inline constexpr std::uint32_t kMaxWebStubFiles = 64;
inline constexpr std::uint64_t kMaxWebStubBytes = kMaxReadFileSize;

// The message of a failed append; |add_failed| names the entry kind.
Message AppendMessage(const PlaintextResult& result, Message add_failed) {
  switch (result.step) {
    case PlaintextStep::kAddEntry:
      return add_failed;
    case PlaintextStep::kEncode:
      return Message::kPlaintextEncodeFailed;
    default:
      return Message::kNoMemory;
  }
}

// The message of a failed take once the received plain text was found to
// be a formatted plaintext.
Message TakeMessage(const PlaintextResult& result) {
  return result.step == PlaintextStep::kEncode ? Message::kPlaintextEncodeFailed
                                               : Message::kNoMemory;
}

// Runs |append| on the outgoing plain text as a byte string in which an
// empty string stands for an absent or empty buffer; the buffer is replaced
// only on success.
template <typename Append>
PlaintextResult AppendTo(std::optional<Bytes>* outgoing, Append&& append) {
  Bytes buffer = outgoing->has_value() ? std::move(**outgoing) : Bytes();
  PlaintextResult result = append(&buffer);
  if (result.ok()) {
    *outgoing = std::move(buffer);
  } else if (outgoing->has_value()) {
    **outgoing = std::move(buffer);  // the append left it as it was
  }
  return result;
}

// The same for a take on the received plain text; a rewrite that leaves no
// entry makes it absent.
template <typename Take>
PlaintextResult TakeFrom(std::optional<Bytes>* received, Take&& take) {
  Bytes buffer = received->has_value() ? std::move(**received) : Bytes();
  PlaintextResult result = take(&buffer);
  if (result.ok() && buffer.empty()) {
    received->reset();
  } else {
    *received = std::move(buffer);
  }
  return result;
}

// A name that stays inside the folder it is saved to and holds no control
// character (a line break or an escape sequence would reach file listings and
// terminals as the sender wrote it).
bool IsPlainFileName(std::u16string_view name) {
  auto is_control = [](char16_t c) { return c < 0x20 || c == 0x7F; };
  return !name.empty() && name != u"." && name != u".." &&
         name.find(u'/') == std::u16string_view::npos &&
         std::none_of(name.begin(), name.end(), is_control);
}

// A name a web page may have written into the stubPath folder: a plain name
// as above that is also not hidden (".bashrc", ".config") and holds no
// backslash, which other programs take for a separator.
bool IsWebStubFileName(std::u16string_view name) {
  return IsPlainFileName(name) && name.front() != u'.' &&
         name.find(u'\\') == std::u16string_view::npos;
}

// The stubPath folder text from the CtlSettings key of the control's class.
int ReadStubPath(std::u16string* folder, Message* message) {
  platform::RegKey key;
  std::u16string key_path = u"SOFTWARE\\Classes\\";
  key_path += kCtlSettingsKeyPath;
  if (platform::RegOpenKeyExW(platform::kHkeyLocalMachine, key_path, 0,
                              platform::kKeyRead | platform::kKeyWrite,
                              &key) != platform::kErrorSuccess) {
    *message = Message::kNoStubPathKey;
    return kErrNoDetachedSource;
  }
  std::uint32_t type = platform::kRegNone;
  Bytes data;
  std::u16string text;
  std::uint32_t status = platform::RegQueryValueExW(key, kStubPathValueName, &type, &data);
  platform::RegCloseKey(&key);
  if (status != platform::kErrorSuccess ||
      (type != platform::kRegSz && type != platform::kRegExpandSz) ||
      !platform::RegistryStringText(data, &text)) {
    *message = Message::kNoStubPathValue;
    return kErrNoDetachedSource;
  }
  // The value is used as a terminated string, unexpanded.
  text.resize(std::min(text.size(), text.find(u'\0')));
  folder->swap(text);
  return kOk;
}

// Whether an append by the form members leaves a form they packed: the
// outgoing plain text is absent or empty, or they packed it so far. Entries
// appended to a text set otherwise do not make its look-alike entries real.
bool PackedByFormMembers(const ControlSettings& s) {
  return !s.outgoing_plain_text.has_value() || s.outgoing_plain_text->empty() || s.outgoing_is_form;
}

}  // namespace

HRESULT CCorvaneQuillmark::QMSetPlainText(std::u16string_view plainText) {
  MethodFrame frame(&settings_.error, nullptr);
  return frame.Run([&] {
    if (plainText.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    settings_.outgoing_plain_text.reset();
    Bytes data;
    if (int status = ExactTextToBytes(settings_.code_page, plainText, &data); status != kOk) {
      return frame.Fail(status, ConversionMessage(status, Message::kConversion));
    }
    settings_.outgoing_plain_text = std::move(data);
    settings_.outgoing_is_form = false;
    return frame.Succeed();
  });
}

HRESULT CCorvaneQuillmark::QMGetPlainText(std::u16string* pVal) {
  MethodFrame frame(&settings_.error, pVal);
  return frame.Run([&] {
    if (!settings_.received_plain_text.has_value()) return frame.Succeed(std::u16string());
    return SucceedWithText(&frame, settings_.code_page, *settings_.received_plain_text,
                           Message::kConversion);
  });
}

HRESULT CCorvaneQuillmark::QMAddFormItem(std::u16string_view itemContent) {
  MethodFrame frame(&settings_.error, nullptr);
  return frame.Run([&] {
    // No emptiness test here: the container refuses an empty item.
    Bytes item;
    if (int status = ExactTextToBytes(settings_.code_page, itemContent, &item); status != kOk) {
      return frame.Fail(status, ConversionMessage(status, Message::kConversion));
    }
    const bool packed = PackedByFormMembers(settings_);
    PlaintextResult result = AppendTo(&settings_.outgoing_plain_text, [&](Bytes* outgoing) {
      return encoding::AppendToOutgoing(outgoing, item);
    });
    if (!result.ok())
      return frame.Fail(result.status, AppendMessage(result, Message::kAddFormFailed));
    settings_.outgoing_is_form = packed;
    return frame.Succeed();
  });
}

HRESULT CCorvaneQuillmark::QMAddFile(std::u16string_view fileName) {
  MethodFrame frame(&settings_.error, nullptr);
  return frame.Run([&] {
    if (fileName.size() > kMaxFileNameLength) {
      return frame.Fail(kErrTooLong, Message::kFileNameTooLong);
    }
    if (fileName.empty() && settings_.server_mode != 0) {
      return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
    }
    std::u16string name;
    Bytes content;
    std::optional<std::u16string_view> path;
    if (!fileName.empty()) path = fileName;
    // A file the container cannot hold under its name is refused from its
    // size, unread. A name the code page cannot hold fails after the read.
    FileReadQuery query{kOpenTitle, kAllFilesFilter, path, kMaxReadFileSize, {}};
    query.max_size_for_name = [&](std::u16string_view file_name) {
      Bytes bytes;
      if (TextToBytes(settings_.code_page, file_name, &bytes) != kOk) return kMaxReadFileSize;
      return encoding::MaxFileContentSize(bytes.size());
    };
    if (Status status = ReadFileOrAsk(query, &name, &content); !status.ok()) {
      if (status.number() == kReadCancelled) {
        return frame.Fail(kErrUserCancelled, Message::kUserCancelled);
      }
      // Only a file over the size limit carries a platform code.
      return status.platform_code() != 0 ? frame.FailWith(status, Message::kReadFileFailed)
                                         : frame.Fail(status.number(), Message::kReadFileFailed);
    }
    Bytes name_bytes;
    if (int status = TextToBytes(settings_.code_page, name, &name_bytes); status != kOk) {
      return frame.Fail(status, ConversionMessage(status, Message::kConversion));
    }
    const bool packed = PackedByFormMembers(settings_);
    PlaintextResult result = AppendTo(&settings_.outgoing_plain_text, [&](Bytes* outgoing) {
      return encoding::AppendToOutgoing(outgoing, name_bytes, content);
    });
    if (!result.ok())
      return frame.Fail(result.status, AppendMessage(result, Message::kAddFileFailed));
    settings_.outgoing_is_form = packed;
    return frame.Succeed();
  });
}

HRESULT CCorvaneQuillmark::QMGetFormItem(std::u16string* pVal) {
  MethodFrame frame(&settings_.error, pVal);
  return frame.Run([&] {
    std::optional<Bytes>& received = settings_.received_plain_text;
    // Before anything is taken, failures leave errorNum alone.
    if (!received.has_value() || received->empty()) {
      return frame.FailKeepingNumber(Message::kSourceEmpty);
    }
    Bytes item;
    PlaintextResult result = TakeFrom(
        &received, [&](Bytes* buffer) { return encoding::TakeFirstFormItem(buffer, &item); });
    if (result.step == PlaintextStep::kNotFormatted) {
      return frame.FailKeepingNumber(Message::kNotFormatted);
    }
    if (!result.ok()) return frame.Fail(result.status, TakeMessage(result));
    if (item.empty()) return frame.Succeed(std::u16string());  // no form item left
    return SucceedWithText(&frame, settings_.code_page, item, Message::kConversion);
  });
}

HRESULT CCorvaneQuillmark::QMGetFile(std::u16string* pVal) {
  MethodFrame frame(&settings_.error, pVal);
  return frame.Run([&] {
    std::optional<Bytes>& received = settings_.received_plain_text;
    if (!received.has_value() || received->empty()) {
      return frame.FailKeepingNumber(Message::kSourceEmpty);
    }
    Bytes name_bytes;
    Bytes content;
    // The file leaves the received plain text before anything is saved.
    PlaintextResult result = TakeFrom(&received, [&](Bytes* buffer) {
      return encoding::TakeFirstFile(buffer, &name_bytes, &content);
    });
    if (result.step == PlaintextStep::kNotFormatted) {
      return frame.FailKeepingNumber(Message::kNotFormatted);
    }
    if (!result.ok()) return frame.Fail(result.status, TakeMessage(result));
    if (name_bytes.empty() || content.empty()) return frame.Succeed(std::u16string());
    std::u16string name;
    if (int status = BytesToText(settings_.code_page, name_bytes, &name); status != kOk) {
      return frame.Fail(status, ConversionMessage(status, Message::kConversion));
    }

    int saved;
    if (settings_.server_mode == 0) {
      // The Save dialog asks where to write; it offers the name's last part.
      saved = SaveFileOrAsk(kSaveTitle, kAllFilesFilter, platform::PathFileName(name), content,
                            std::nullopt);
    } else {
      std::u16string folder;
      Message message = Message::kNone;
      if (int status = ReadStubPath(&folder, &message); status != kOk) {
        return frame.Fail(status, message);
      }
      // The name comes from the sender: one that would leave the folder
      // ("../x", "a/b") is not written. A web page writes without any dialog,
      // so it gets less: no hidden or backslashed names, and a bounded count
      // and size of files per control.
      const bool web_caller = !platform::ui::CurrentDialogHost().caller_origin().empty();
      std::u16string target = folder + name;
      if (!web_caller) {
        saved = IsPlainFileName(name)
                    ? SaveFileOrAsk(kSaveTitle, kAllFilesFilter, name, content, target)
                    : kFailed;
      } else if (!IsWebStubFileName(name) || settings_.web_stub_files >= kMaxWebStubFiles ||
                 content.size() > kMaxWebStubBytes - settings_.web_stub_bytes) {
        saved = kFailed;
      } else {
        saved = SaveFileOrAsk(kSaveTitle, kAllFilesFilter, name, content, target);
        if (saved == kOk) {
          ++settings_.web_stub_files;
          settings_.web_stub_bytes += content.size();
        }
      }
    }
    if (saved != kOk) return frame.Fail(kFailed, Message::kSaveFileFailed);
    return frame.Succeed(std::move(name));
  });
}

}  // namespace quillmark::control
