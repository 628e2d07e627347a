// The per-instance settings and buffers of a control, with their defaults.
//
// Fields follow the order in which the control declares them. They change
// only through the control's property puts and setter members; the members
// that sign, verify, open envelopes or move plain text fill and consume the
// buffers. Nothing here outlives the instance.
//
// A plain-text buffer is absent (nullopt) or present with a length, which may
// be 0: signing members take a present buffer of length 0 as zero data bytes
// where an absent buffer fails.
#ifndef QUILLMARK_CONTROL_CONTROL_SETTINGS_H_
#define QUILLMARK_CONTROL_CONTROL_SETTINGS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "certs/cert_info.h"
#include "common/bytes.h"
#include "control/error_state.h"

namespace quillmark::control {

inline constexpr std::int32_t kDefaultMaxCompSize = 51200;
inline constexpr char16_t kDefaultDnSeparator[] = u"|";
// The DN separator holds at most this many UTF-16 units.
inline constexpr std::size_t kMaxDnSeparatorLength = 7;
// An algorithm OID holds at most this many bytes in the code page (its field
// is 128 bytes with the terminator).
inline constexpr std::size_t kMaxAlgorithmOidBytes = 127;
inline constexpr char kDefaultDigestOid[] = "1.3.14.3.2.26";          // SHA-1
inline constexpr char kDefaultSymmetricOid[] = "1.2.840.113549.3.4";  // RC4
inline constexpr std::int32_t kDefaultSignMode = 1;
inline constexpr std::uint32_t kDefaultCodePage = 936;

// The chooser's eight texts, in the order they are passed on.
enum DialogText : std::size_t {
  kDialogTitle,
  kDialogPrompt,
  kDialogSubjectColumn,
  kDialogIssuerColumn,
  kDialogNotAfterColumn,
  kDialogOkButton,
  kDialogCancelButton,
  kDialogViewButton,
  kDialogTextCount,
};

using DialogTexts = std::array<std::u16string, kDialogTextCount>;

// The default chooser texts.
DialogTexts DefaultDialogTexts();

// Whether a page may name the SM2 certificate store |name|: not empty and
// free of control characters (C0, DEL and C1), which no store is named with
// and which would reach file names and the user's screen as they are.
bool IsUsableStoreName(std::u16string_view name);

// The default notice shown in the chooser: product, maker and build date on
// three lines separated by CR LF.
std::u16string DefaultNoticeText();

struct ControlSettings {
  std::int32_t max_comp_size = kDefaultMaxCompSize;
  ErrorState error;  // errorNum, errorCode, errMsg
  std::u16string dn_separator = kDefaultDnSeparator;
  certs::CertInfoSet signer_info;
  certs::CertInfoSet recipient_info;
  std::optional<Bytes> outgoing_plain_text;
  // The outgoing plain text was packed by the form members (QMAddFormItem,
  // QMAddFile) from nothing: only then does a review list its items and files.
  bool outgoing_is_form = false;
  std::optional<Bytes> received_plain_text;
  std::u16string notice_text = DefaultNoticeText();
  DialogTexts dialog_texts = DefaultDialogTexts();
  std::optional<std::u16string> sm2_store_name;
  std::string digest_oid = kDefaultDigestOid;        // bytes in the code page
  std::string symmetric_oid = kDefaultSymmetricOid;  // bytes in the code page
  std::uint32_t server_mode = 0;                     // 0 or 1
  std::int32_t sign_mode = kDefaultSignMode;         // 1 to 4
  std::uint32_t code_page = kDefaultCodePage;
  // What a web page had QMGetFile write into the stubPath folder so far.
  std::uint32_t web_stub_files = 0;
  std::uint64_t web_stub_bytes = 0;
};

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_CONTROL_SETTINGS_H_
