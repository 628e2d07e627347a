#include "encoding/formatted_plaintext.h"

#include <cstring>
#include <new>

#include "common/status.h"
#include "encoding/formatted_plaintext_layout.h"

namespace quillmark::encoding {

void FormattedPlaintext::Clear() {
  data_.clear();
  forms_.clear();
  files_.clear();
  form_total_ = 0;
  file_total_ = 0;
}

int FormattedPlaintext::AddFormItem(ByteSpan item) {
  if (item.empty()) return kErrEmptyInput;
  if (!FormItemFits(item.size())) return kFailed;
  const std::size_t old_size = data_.size();
  const std::size_t old_count = forms_.size();
  try {
    forms_.push_back({old_size, item.size()});
    data_.insert(data_.end(), item.begin(), item.end());
  } catch (const std::bad_alloc&) {
    forms_.resize(old_count);
    data_.resize(old_size);
    return kFailed;
  }
  form_total_ += FormEntrySize(item.size());
  return kOk;
}

int FormattedPlaintext::AddFile(ByteSpan name, ByteSpan content) {
  if (name.empty() || content.empty()) return kErrEmptyInput;
  if (!FileFits(name.size(), content.size())) return kFailed;
  const std::size_t old_size = data_.size();
  const std::size_t old_count = files_.size();
  try {
    files_.push_back({old_size, name.size(), content.size()});
    data_.insert(data_.end(), name.begin(), name.end());
    data_.insert(data_.end(), content.begin(), content.end());
  } catch (const std::bad_alloc&) {
    files_.resize(old_count);
    data_.resize(old_size);
    return kFailed;
  }
  file_total_ += FileEntrySize(name.size(), content.size());
  return kOk;
}

int FormattedPlaintext::GetFormItem(std::int64_t index, Bytes* item) const {
  if (item == nullptr) return kErrEmptyInput;
  if (index < 0 || static_cast<std::uint64_t>(index) >= forms_.size()) return kFailed;
  const FormRef& ref = forms_[static_cast<std::size_t>(index)];
  ByteSpan bytes = Slice(ref.offset, ref.size);
  try {
    item->assign(bytes.begin(), bytes.end());
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
  return kOk;
}

int FormattedPlaintext::GetFile(std::int64_t index, Bytes* name, Bytes* content) const {
  if (name == nullptr || content == nullptr) return kErrEmptyInput;
  if (index < 0 || static_cast<std::uint64_t>(index) >= files_.size()) return kFailed;
  const FileRef& ref = files_[static_cast<std::size_t>(index)];
  ByteSpan name_bytes = Slice(ref.offset, ref.name_size);
  ByteSpan content_bytes = Slice(ref.offset + ref.name_size, ref.content_size);
  try {
    Bytes name_copy(name_bytes.begin(), name_bytes.end());
    content->assign(content_bytes.begin(), content_bytes.end());
    name->swap(name_copy);
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
  return kOk;
}

int FormattedPlaintext::Encode(Bytes* out) const {
  if (out == nullptr) return kErrEmptyInput;
  if (forms_.empty() && files_.empty()) {
    out->clear();
    return kOk;
  }
  if (form_total_ > kMaxNumberField || file_total_ > kMaxNumberField) return kFailed;
  Bytes encoded;
  try {
    encoded.resize(static_cast<std::size_t>(EncodedSize(form_total_, file_total_)));
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
  std::uint8_t* p = encoded.data();
  WriteNumberField(form_total_, p);
  p += kNumberFieldSize;
  for (const FormRef& ref : forms_) {
    WriteNumberField(ref.size, p);
    std::memcpy(p + kNumberFieldSize, data_.data() + ref.offset, ref.size);
    p += FormEntrySize(ref.size);
  }
  WriteNumberField(file_total_, p);
  p += kNumberFieldSize;
  for (const FileRef& ref : files_) {
    const std::size_t both = ref.name_size + ref.content_size;
    WriteNumberField(both + kNumberFieldSize, p);
    WriteNumberField(ref.name_size, p + kNumberFieldSize);
    std::memcpy(p + 2 * kNumberFieldSize, data_.data() + ref.offset, both);
    p += FileEntrySize(ref.name_size, ref.content_size);
  }
  out->swap(encoded);
  return kOk;
}

int FormattedPlaintext::Decompose(ByteSpan bytes) {
  if (bytes.empty()) return kErrEmptyInput;
  Clear();
  FormattedPlaintextLayout layout;
  if (ScanFormattedPlaintext(bytes, &layout) != kOk) return kFailed;
  const SectionLayout& form = layout.form;
  const SectionLayout& files = layout.files;
  try {
    // The entry bytes without their 8-byte (form) or 16-byte (file) headers.
    data_.reserve((form.end - form.begin) - kNumberFieldSize * form.count +
                  (files.end - files.begin) - 2 * kNumberFieldSize * files.count);
    forms_.reserve(form.count);
    files_.reserve(files.count);
  } catch (const std::bad_alloc&) {
    Clear();
    return kFailed;
  }
  // The scan has checked every field, so the walk below needs no checks.
  const std::uint8_t* p = bytes.data() + form.begin;
  for (std::size_t i = 0; i < form.count; ++i) {
    std::size_t size = static_cast<std::size_t>(ReadNumberField(p));
    forms_.push_back({data_.size(), size});
    data_.insert(data_.end(), p + kNumberFieldSize, p + kNumberFieldSize + size);
    p += FormEntrySize(size);
  }
  p = bytes.data() + files.begin;
  for (std::size_t i = 0; i < files.count; ++i) {
    std::size_t both = static_cast<std::size_t>(ReadNumberField(p)) - kNumberFieldSize;
    std::size_t name_size = static_cast<std::size_t>(ReadNumberField(p + kNumberFieldSize));
    files_.push_back({data_.size(), name_size, both - name_size});
    data_.insert(data_.end(), p + 2 * kNumberFieldSize, p + 2 * kNumberFieldSize + both);
    p += both + 2 * kNumberFieldSize;
  }
  form_total_ = form.total;
  file_total_ = files.total;
  return kOk;
}

}  // namespace quillmark::encoding
