// The platform's error values and the thread's last error.
//
// Platform calls that fail return false (or an empty handle) and leave one of
// these values as the thread's last error, which callers read right after the
// failed call and store as errorCode. Successful calls do not clear it.
#ifndef QUILLMARK_PLATFORM_OS_LAST_ERROR_H_
#define QUILLMARK_PLATFORM_OS_LAST_ERROR_H_

#include <cstdint>
#include <new>

namespace quillmark::platform {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;          // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t kErrorAccessDenied = 5;          // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;       // ERROR_NOT_ENOUGH_MEMORY
inline constexpr std::uint32_t kErrorInvalidParameter = 87;     // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER
inline constexpr std::uint32_t kErrorMoreData = 234;            // ERROR_MORE_DATA
inline constexpr std::uint32_t kErrorCancelled = 1223;          // ERROR_CANCELLED

inline constexpr std::uint32_t kNteBadSignature = 0x80090006;
inline constexpr std::uint32_t kNteBadAlgId = 0x80090008;
inline constexpr std::uint32_t kNteNoKey = 0x8009000D;
inline constexpr std::uint32_t kNteExists = 0x8009000F;
inline constexpr std::uint32_t kNteBadKeyset = 0x80090016;
inline constexpr std::uint32_t kNteBadKeysetParam = 0x8009001F;
inline constexpr std::uint32_t kCryptENotFound = 0x80092004;
inline constexpr std::uint32_t kCryptENoKeyProperty = 0x8009200B;
inline constexpr std::uint32_t kCryptENoDecryptCert = 0x8009200C;
inline constexpr std::uint32_t kCryptERevoked = 0x80092010;
inline constexpr std::uint32_t kCryptEOssError = 0x80093000;
inline constexpr std::uint32_t kScardWCancelledByUser = 0x8010006E;
inline constexpr std::uint32_t kScardETimeout = 0x80100007;
inline constexpr std::uint32_t kCertEExpired = 0x800B0101;
inline constexpr std::uint32_t kCertEValidityPeriodNesting = 0x800B0102;
inline constexpr std::uint32_t kCertEUntrustedRoot = 0x800B0109;
inline constexpr std::uint32_t kCertEChaining = 0x800B010A;

// The calling thread's last error.
std::uint32_t GetLastError();
void SetLastError(std::uint32_t error);

// The frame of a call that leaves the last error as it found it when it
// succeeds: runs |step|, which returns 0 or the error the call fails with.
// A last error that a successful |step| leaves behind (from look-ups of its
// own) is undone; std::bad_alloc fails with kErrorNotEnoughMemory.
template <typename Step>
bool RunKeepingLastError(Step&& step) {
  const std::uint32_t saved = GetLastError();
  std::uint32_t error;
  try {
    error = step();
  } catch (const std::bad_alloc&) {
    error = kErrorNotEnoughMemory;
  }
  SetLastError(error != 0 ? error : saved);
  return error == 0;
}

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_LAST_ERROR_H_
