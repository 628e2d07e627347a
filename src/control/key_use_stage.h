// What a member that uses a private key tells the dialog host before it
// hands bytes to the engine, so that a web page's key use is reviewed over
// exactly those bytes (platform/ui/key_use.h).
//
// ReviewOfContent decodes |content| with the control's code page and makes
// every hidden character visible. The items and files of a formatted
// plaintext are listed only when the control's own form members packed it
// (ControlSettings::outgoing_is_form); bytes that merely look like a form
// are shown as the text they are.
//
//   if (int status = StageSigning(s, data, packed); status != kOk) {
//     return frame.Fail(status, Message::kSignFailed);
//   }
//   crypto::SignMessage(data, ...);
//
// For a local caller staging does nothing and costs nothing.
#ifndef QUILLMARK_CONTROL_KEY_USE_STAGE_H_
#define QUILLMARK_CONTROL_KEY_USE_STAGE_H_

#include <cstdint>

#include "common/bytes.h"
#include "platform/ui/key_use.h"

namespace quillmark::control {

platform::ui::KeyUseReview ReviewOfContent(std::uint32_t code_page, ByteSpan content,
                                           bool packed_form);

// Stages the signature of |content|. kOk, or kErrTooLong when a web page
// asks to sign more than platform::ui::kMaxReviewedBytes: such a key use is
// refused rather than shown in part.
int StageSigning(std::uint32_t code_page, ByteSpan content, bool packed_form);

// Stages the opening of an envelope: the action only, no text.
void StageDecryption();

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_KEY_USE_STAGE_H_
