#include "certs/cert_info.h"

#include <new>
#include <utility>

#include "common/status.h"
#include "platform/names/cert_text.h"

namespace quillmark::certs {

namespace {

bool ValidType(std::uint32_t type) { return type >= 1 && type <= kCertFieldCount; }

// The range FileTimeToSystemTime accepts, and a well-formed calendar time.
bool FileTimeCanHold(const platform::CertTime& t) {
  return t.year >= 1601 && t.year <= 30827 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= 31 && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
         t.second >= 0 && t.second <= 59;
}

}  // namespace

const std::u16string* CertInfoSet::Get(std::uint32_t type) const {
  if (!ValidType(type) || !fields_[type - 1].has_value()) return nullptr;
  return &*fields_[type - 1];
}

void CertInfoSet::Set(std::uint32_t type, std::u16string text) {
  if (ValidType(type)) fields_[type - 1] = std::move(text);
}

void CertInfoSet::Clear() noexcept {
  for (auto& field : fields_) field.reset();
}

bool CertInfoSet::AllAbsent() const noexcept {
  for (const auto& field : fields_) {
    if (field.has_value()) return false;
  }
  return true;
}

void CertInfoSet::UpdateFrom(CertInfoSet&& from) noexcept {
  for (std::size_t i = 0; i < kCertFieldCount; ++i) {
    if (from.fields_[i].has_value()) fields_[i] = std::move(from.fields_[i]);
  }
  from.Clear();
}

int FormatCertTime(const platform::CertTime* time, std::u16string* text) {
  if (time == nullptr || text == nullptr) return kErrEmptyInput;
  text->clear();
  if (!FileTimeCanHold(*time)) return kFailed;
  try {
    *text = platform::FormatCertTimeText(*time);
  } catch (const std::bad_alloc&) {
    return kFailed;
  }
  return kOk;
}

int CertFieldText(const platform::CertContext* cert, std::uint32_t field, std::u16string* text) {
  if (cert == nullptr || text == nullptr) return kErrEmptyInput;
  text->clear();
  try {
    switch (field) {
      case kFieldSubject:
      case kFieldIssuer: {
        ByteSpan name = field == kFieldSubject ? cert->subject_der() : cert->issuer_der();
        if (!platform::CertNameToStrW(platform::kDefaultEncoding, name, platform::kCertX500NameStr,
                                      text)) {
          text->clear();
          return kErrCertFieldUndecodable;
        }
        return kOk;
      }
      case kFieldNotBefore:
      case kFieldNotAfter: {
        const platform::CertTime& t =
            field == kFieldNotBefore ? cert->not_before() : cert->not_after();
        if (FormatCertTime(&t, text) != kOk || text->empty()) {
          text->clear();
          return kErrCertFieldUndecodable;
        }
        return kOk;
      }
      case kFieldSerial:
        *text = platform::FormatSerialText(cert->serial());
        return kOk;
      default:
        return kOk;
    }
  } catch (const std::bad_alloc&) {
    text->clear();
    return kErrNoMemory;
  }
}

int FillCertInfo(const platform::CertContext* cert, CertInfoSet* info) {
  if (cert == nullptr || info == nullptr) return kErrEmptyInput;
  CertInfoSet filled;
  for (std::uint32_t field = 1; field <= kCertFieldCount; ++field) {
    std::u16string text;
    if (int status = CertFieldText(cert, field, &text); status != kOk) {
      info->Clear();
      return status;
    }
    filled.Set(field, std::move(text));
  }
  *info = std::move(filled);
  return kOk;
}

}  // namespace quillmark::certs
