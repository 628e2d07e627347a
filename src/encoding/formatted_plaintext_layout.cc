#include "encoding/formatted_plaintext_layout.h"

#include <cstring>

#include "common/status.h"

namespace quillmark::encoding {

void WriteNumberField(std::uint64_t value, std::uint8_t* out) {
  for (std::size_t i = kNumberFieldSize; i-- > 0;) {
    out[i] = static_cast<std::uint8_t>('0' + value % 10);
    value /= 10;
  }
}

namespace {

constexpr std::uint8_t kEmptySection[kNumberFieldSize] = {'0', '0', '0', '0', '0', '0', '0', '0'};

// Reads the section total at *pos: it must be non-zero and not exceed the
// bytes remaining from its own field.
bool ReadSectionTotal(ByteSpan bytes, std::size_t* pos, std::uint64_t* total) {
  std::size_t remaining = bytes.size() - *pos;
  if (remaining < kNumberFieldSize) return false;
  *total = ReadNumberField(bytes.data() + *pos);
  if (*total == 0 || *total > remaining) return false;
  *pos += kNumberFieldSize;
  return true;
}

// Form entries from *pos. Returns false when the bytes are not a formatted
// plaintext. Works on locals only: a take runs this over every entry each
// time, and the walk from one length field to the next is its critical path.
bool ScanFormSection(ByteSpan bytes, std::uint64_t declared_total, std::size_t* pos,
                     SectionLayout* form) {
  const std::size_t n = bytes.size();
  const std::uint8_t* data = bytes.data();
  std::size_t at = *pos, first_end = at, count = 0;
  std::uint64_t total = 0, sum = 0;
  for (;;) {
    if (n - at < kNumberFieldSize) return false;
    const std::uint64_t length = ReadNumberField(data + at);
    if (length == 0) break;
    if (length > n - at - kNumberFieldSize || !FormItemFits(length)) return false;
    const std::uint64_t entry = FormEntrySize(length);
    at += static_cast<std::size_t>(entry);
    if (count++ == 0) first_end = at;
    total += entry;
    const std::size_t remaining = n - at;
    if (remaining == 0 || remaining == kNumberFieldSize) break;
    sum += entry;
    if (sum == declared_total) break;
  }
  form->begin = *pos;
  form->first_end = first_end;
  form->end = at;
  form->count = count;
  form->total = total;
  *pos = at;
  return true;
}

// File entries from *pos; every way out of the loop other than a failure
// ends decoding successfully.
bool ScanFileSection(ByteSpan bytes, std::uint64_t declared_total, std::size_t* pos,
                     SectionLayout* files) {
  const std::size_t n = bytes.size();
  files->begin = files->first_end = *pos;
  std::uint64_t sum = 0;
  for (;;) {
    if (n - *pos < kNumberFieldSize) return false;
    std::uint64_t e = ReadNumberField(bytes.data() + *pos);
    if (e == 0) break;
    if (e > n - *pos - kNumberFieldSize) return false;
    if (n - *pos < 2 * kNumberFieldSize) return false;  // the N field itself
    std::uint64_t name_size = ReadNumberField(bytes.data() + *pos + kNumberFieldSize);
    if (e < kNumberFieldSize || name_size > e - kNumberFieldSize) return false;
    std::uint64_t content_size = e - kNumberFieldSize - name_size;
    if (!FileFits(name_size, content_size)) return false;
    std::uint64_t entry = e + kNumberFieldSize;
    *pos += static_cast<std::size_t>(entry);
    if (files->count++ == 0) files->first_end = *pos;
    files->total += entry;
    if (*pos == n) break;
    sum += entry;
    if (sum == declared_total) break;
  }
  files->end = *pos;
  return true;
}

}  // namespace

int ScanFormattedPlaintext(ByteSpan bytes, FormattedPlaintextLayout* layout) {
  if (bytes.empty()) return kErrEmptyInput;
  *layout = FormattedPlaintextLayout();
  const std::size_t n = bytes.size();
  std::size_t pos = 0;
  const bool files_only =
      n >= kNumberFieldSize && std::memcmp(bytes.data(), kEmptySection, kNumberFieldSize) == 0;
  if (files_only) pos = kNumberFieldSize;

  std::uint64_t total = 0;
  if (!ReadSectionTotal(bytes, &pos, &total)) return kFailed;
  if (!files_only) {
    if (!ScanFormSection(bytes, total, &pos, &layout->form)) return kFailed;
    std::size_t remaining = n - pos;
    if (remaining == 0 || remaining == kNumberFieldSize) {
      layout->files.begin = layout->files.first_end = layout->files.end = pos;
      return kOk;
    }
    if (!ReadSectionTotal(bytes, &pos, &total)) return kFailed;
  } else {
    layout->form.begin = layout->form.first_end = layout->form.end = pos;
  }
  if (!ScanFileSection(bytes, total, &pos, &layout->files)) return kFailed;
  return kOk;
}

}  // namespace quillmark::encoding
