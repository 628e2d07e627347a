// The review of a key use asked for by a web page: what the person sees
// before a private key signs or decrypts on the page's behalf.
//
// The control stages, in each member call that may use a key and right
// before it calls the engine, the very bytes it hands over (StageKeyUse);
// the review text is decoded from those bytes by the control, never taken
// from the page's words.
// Every backend that uses a private key (sign, raw sign, Advance sign, token
// keys, envelope opening, signed envelopes; Linux and Windows alike) asks
// right before the key is used:
//
//   if (!ui::CurrentDialogHost().ConfirmKeyUse({.action = KeyUseAction::kSign,
//                                               .key_owner = &cert,
//                                               .content = content})) {
//     return Fail(kScardWCancelledByUser);
//   }
//
// Without a caller origin the answer is always yes. With one, the host asks
// the person unless this call already showed the same review for the same
// key (a chooser carrying the review, or an earlier confirmation), and
// refuses outright when nothing was staged for a signature or the content
// handed in differs from what was staged.
#ifndef QUILLMARK_PLATFORM_UI_KEY_USE_H_
#define QUILLMARK_PLATFORM_UI_KEY_USE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "platform/store/cert_context.h"

namespace quillmark::platform::ui {

enum class KeyUseAction { kSign, kDecrypt };

// The most content a web page may have reviewed and signed in one call: a
// person cannot read more, and a review is never shown in part. The control
// refuses a larger key use from a web origin before it reaches a key.
inline constexpr std::size_t kMaxReviewedBytes = std::size_t{16} << 20;
// The same bound on the review's text once its hidden characters are
// escaped (UTF-16 units, file names included).
inline constexpr std::size_t kMaxReviewedTextUnits = std::size_t{16} << 20;

// "sign", "decrypt": the action as reports and the dialog protocol name it.
std::u16string_view KeyUseActionName(KeyUseAction action);

// Whose key is used, in our own words: the certificate's subject and issuer
// as X500 renderings, its serial number and
// the end of its validity, as the certificate field texts write them.
struct KeyOwner {
  std::u16string subject;
  std::u16string issuer;
  std::u16string serial;
  std::u16string not_after;
};

KeyOwner KeyOwnerOf(const CertContext& cert);

// One file entry of a formatted plaintext the control packed itself.
struct ReviewFile {
  std::u16string name;  // escaped as the text is
  std::uint64_t size = 0;
};

// What the review pane shows of the content. |text| is the whole decoded
// text with every invisible or direction-changing character replaced by a
// visible marked escape ("⟦U+202E⟧"); |hidden_count| says how many were
// replaced (non-zero: the window shows a warning line). |text_units| is the
// length of the decoded text before escaping, as the window states it.
struct KeyUseReview {
  KeyUseAction action = KeyUseAction::kSign;
  std::u16string text;
  std::uint64_t text_units = 0;
  std::uint64_t byte_count = 0;    // of the content signed
  std::uint64_t hidden_count = 0;  // escapes in |text| and in file names
  bool not_text = false;           // the bytes are not text in the code page
  std::vector<ReviewFile> files;   // only the real entries of a packed form
  KeyOwner owner;                  // empty in a chooser, where the row picks it
};

// What a backend passes right before it uses a key. |content| is what it is
// about to sign when it has it (empty for a bare hash or for decryption).
struct KeyUse {
  KeyUseAction action = KeyUseAction::kSign;
  const CertContext* key_owner = nullptr;
  ByteSpan content = {};
};

}  // namespace quillmark::platform::ui

#endif  // QUILLMARK_PLATFORM_UI_KEY_USE_H_
