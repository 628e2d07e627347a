// The five texts by which a certificate is shown to the page: subject,
// issuer, validity start, validity end and serial number.
//
// Field numbers 1 to 5 are also the type codes with which a page reads the
// signer and recipient information. Texts:
//   1, 2  the X.500 rendering of the subject / issuer name ("CN=a, O=b");
//   3, 4  "YYYY-MM-DD hh:mm:ssGMT", UTC;
//   5     the serial number's encoded bytes, most significant first, as
//         upper-case hex with a space after every four digits ("0123 4567 89").
//
// Statuses only, no messages: 0, kErrEmptyInput for a missing argument,
// kErrCertFieldUndecodable for a name or time that cannot be rendered,
// kErrNoMemory, and -1 from FormatCertTime for a time it cannot convert.
//
//   CertInfoSet info;
//   if (FillCertInfo(cert.get(), &info) == kOk) signer_info.UpdateFrom(std::move(info));
#ifndef QUILLMARK_CERTS_CERT_INFO_H_
#define QUILLMARK_CERTS_CERT_INFO_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/store/cert_context.h"

namespace quillmark::certs {

inline constexpr std::uint32_t kFieldSubject = 1;
inline constexpr std::uint32_t kFieldIssuer = 2;
inline constexpr std::uint32_t kFieldNotBefore = 3;
inline constexpr std::uint32_t kFieldNotAfter = 4;
inline constexpr std::uint32_t kFieldSerial = 5;
inline constexpr std::size_t kCertFieldCount = 5;

// Five texts in field order, each absent or present (possibly empty).
class CertInfoSet {
 public:
  // Field |type| (1 to 5); nullptr for an absent field or another type.
  const std::u16string* Get(std::uint32_t type) const;
  void Set(std::uint32_t type, std::u16string text);

  // Every field absent.
  void Clear() noexcept;
  bool AllAbsent() const noexcept;

  // Each field that |from| holds replaces this one's; fields |from| lacks
  // keep their value. Moves the texts, so it never allocates.
  void UpdateFrom(CertInfoSet&& from) noexcept;

 private:
  std::array<std::optional<std::u16string>, kCertFieldCount> fields_;
};

// The text of field |field| (1 to 5) of |cert|. Another field number gives
// an empty text and 0. On failure *text is empty.
int CertFieldText(const platform::CertContext* cert, std::uint32_t field, std::u16string* text);

// "YYYY-MM-DD hh:mm:ssGMT" of a UTC time. -1 when the time is not one a
// FILETIME can hold (years 1601 to 30827, fields in range); kErrEmptyInput
// for a missing argument.
int FormatCertTime(const platform::CertTime* time, std::u16string* text);

// Fills all five fields of |info| from |cert|. At the first field that fails
// every field is made absent and that field's status is returned.
int FillCertInfo(const platform::CertContext* cert, CertInfoSet* info);

}  // namespace quillmark::certs

#endif  // QUILLMARK_CERTS_CERT_INFO_H_
