// Error numbers and the status value shared by every layer below the
// automation surface.
//
// Routines return 0 on success or one of these negative numbers; the
// automation members store the number in errorNum and choose their own
// message. The values are part of the control's observable contract and
// never change. zlib's codes (Z_OK, Z_BUF_ERROR, ...) are used unchanged by
// the compression frame and are not repeated here.
//
// Engine operations return a Status: the error number together with the
// platform's error code of the call that failed (errorCode), 0 when no
// platform call failed. An error number converts to a Status without code.
//
//   Status status = crypto::SignMessage(...);
//   if (!status.ok()) return frame.FailWith(status, Message::kSignFailed);
#ifndef QUILLMARK_COMMON_STATUS_H_
#define QUILLMARK_COMMON_STATUS_H_

#include <cstdint>

namespace quillmark {

enum ErrorNumber : int {
  kOk = 0,
  kFailed = -1,  // file and container routines
  kErrNoMemory = -10000,
  kErrEmptyInput = -10001,
  kErrBase64Decode = -10002,
  kErrBase64Encode = -10003,
  kErrUserCancelled = -10004,
  kErrCertNotFound = -10005,
  kErrNoDetachedSource = -10006,  // also: stubPath registry entry missing
  kErrMessageNotRecognised = -10007,
  kErrBadInfoType = -10008,
  kErrSignerNoSubject = -10009,
  kErrInvalidSignature = -10010,
  kErrCertExpired = -10011,
  kErrCertRevoked = -10012,
  kErrChainFailed = -10013,
  kErrIssuerNotFound = -10014,
  kErrPrivateKeyNotFound = -10015,
  kErrCertFieldUndecodable = -10016,
  kErrCertSignatureFaulty = -10017,
  kErrStoreOpen = -10018,
  kErrKeyDeviceNotFound = -10019,
  kErrSignFailed = -10020,
  kErrVerifyFailed = -10021,
  kErrEncryptFailed = -10022,
  kErrDecryptFailed = -10023,
  kErrSeparatorEmpty = -10024,
  kErrSeparatorLimit = -10025,
  kErrNoExtension = -10026,
  kErrNoProperty = -10027,
  kErrPublicKeyImport = -10028,
  kErrHashCreate = -10029,
  kErrHashData = -10030,
  kErrHashSign = -10031,
  kErrSignatureCheck = -10032,
  kErrBadAlgorithm = -10033,
  kErrTextToBytes = -10034,
  kErrCertContext = -10035,
  kErrBytesToText = -10036,
  kErrBerDecode = -10037,
  kErrNotSignedData = -10038,
  kErrKeyDeviceCancelled = -10051,
  kErrKeyDeviceTimeout = -10052,
  kErrNoPrivateKeyProperty = -10053,
  kErrDerEncode = -10054,
  kErrMemoryCopy = -10055,
  kErrTooLong = -10056,
  kErrDnCheck = -10057,
  kErrBadSignMode = -10060,
  kErrCertTypeQuery = -10061,
  kErrNoSm2Store = -10062,
};

class Status {
 public:
  constexpr Status() noexcept = default;
  // Any error number (or 0), with no platform code.
  constexpr Status(int number) noexcept : number_(number) {}  // NOLINT: implicit by design
  constexpr Status(int number, std::uint32_t platform_code) noexcept
      : number_(number), platform_code_(platform_code) {}

  constexpr bool ok() const noexcept { return number_ == kOk; }
  constexpr int number() const noexcept { return number_; }
  constexpr std::uint32_t platform_code() const noexcept { return platform_code_; }

  // Equal in both the number and the platform code.
  friend constexpr bool operator==(const Status&, const Status&) noexcept = default;

 private:
  int number_ = kOk;
  std::uint32_t platform_code_ = 0;
};

}  // namespace quillmark

#endif  // QUILLMARK_COMMON_STATUS_H_
