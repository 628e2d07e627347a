#include "encoding/plaintext_buffer.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <functional>
#include <new>

#include "common/status.h"
#include "encoding/formatted_plaintext_layout.h"

namespace quillmark::encoding {

namespace {

constexpr std::size_t kField = kNumberFieldSize;

PlaintextResult Failure(int status, PlaintextStep step) { return {status, step}; }

// Room for `size` bytes, growing geometrically so that adding entries one by
// one stays linear. Leaves *buffer unchanged when memory runs out.
bool EnsureCapacity(Bytes* buffer, std::size_t size) {
  if (buffer->capacity() >= size) return true;
  const std::size_t doubled = std::min(buffer->capacity() * 2, buffer->max_size());
  try {
    buffer->reserve(std::max(size, doubled));
    return true;
  } catch (const std::bad_alloc&) {
  }
  try {
    buffer->reserve(size);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool PointsInto(ByteSpan bytes, const Bytes& buffer) {
  if (bytes.empty() || buffer.empty()) return false;
  std::less<const std::uint8_t*> less;
  const std::uint8_t* begin = buffer.data();
  const std::uint8_t* end = begin + buffer.size();
  return !less(bytes.data(), begin) && less(bytes.data(), end);
}

// The scan puts the form entries right after T1 and the file entries right
// after T2, which follows the form entries; the rewrites below rely on it.
void CheckLayout(const FormattedPlaintextLayout& layout) {
  assert(layout.form.count == 0 || layout.form.begin == kField);
  assert(layout.files.count == 0 || layout.files.begin == 2 * kField + layout.form.total);
  (void)layout;
}

// Rewrites *buffer in place as T1 = form_size, the form_size bytes at
// form_src, T2 = file_size, the file_size bytes at file_src. Every non-empty
// piece moves towards the front or stays: form_src >= 8 and
// file_src >= 16 + form_size.
void RewriteInPlace(Bytes* buffer, std::size_t form_src, std::size_t form_size,
                    std::size_t file_src, std::size_t file_size) {
  if (form_size == 0 && file_size == 0) {
    Bytes().swap(*buffer);
    return;
  }
  assert(form_size == 0 || form_src >= kField);
  assert(file_size == 0 || file_src >= 2 * kField + form_size);
  std::uint8_t* p = buffer->data();
  std::memmove(p + kField, p + form_src, form_size);
  WriteNumberField(form_size, p);
  WriteNumberField(file_size, p + kField + form_size);
  std::memmove(p + 2 * kField + form_size, p + file_src, file_size);
  buffer->resize(2 * kField + form_size + file_size);
}

// Copies `bytes` out when they point into the buffer about to be rewritten.
bool Detach(ByteSpan* bytes, const Bytes& buffer, Bytes* copy) {
  if (!PointsInto(*bytes, buffer)) return true;
  try {
    copy->assign(bytes->begin(), bytes->end());
  } catch (const std::bad_alloc&) {
    return false;
  }
  *bytes = *copy;
  return true;
}

// Fails with kEncode unless both section totals of the text a change leaves
// fit a number field.
PlaintextResult CheckTotals(std::uint64_t form_total, std::uint64_t file_total) {
  if (form_total > kMaxNumberField || file_total > kMaxNumberField) {
    return Failure(kFailed, PlaintextStep::kEncode);
  }
  return {};
}

// Scans the outgoing plain text; anything that is not a formatted plaintext
// counts as no container at all.
bool ScanOutgoing(const Bytes& outgoing, FormattedPlaintextLayout* layout) {
  if (!outgoing.empty() && ScanFormattedPlaintext(outgoing, layout) == kOk) {
    CheckLayout(*layout);
    return true;
  }
  *layout = FormattedPlaintextLayout();
  return false;
}

}  // namespace

PlaintextResult AppendToOutgoing(Bytes* outgoing, ByteSpan form_item) {
  if (form_item.empty()) return Failure(kErrEmptyInput, PlaintextStep::kAddEntry);
  if (!FormItemFits(form_item.size())) return Failure(kFailed, PlaintextStep::kAddEntry);
  FormattedPlaintextLayout layout;
  const bool keep = ScanOutgoing(*outgoing, &layout);
  const std::size_t entry = static_cast<std::size_t>(FormEntrySize(form_item.size()));
  const std::uint64_t form_total = layout.form.total + entry;
  const std::uint64_t file_total = layout.files.total;
  if (PlaintextResult r = CheckTotals(form_total, file_total); !r.ok()) return r;
  const std::size_t form_size = static_cast<std::size_t>(layout.form.total);
  const std::size_t file_size = static_cast<std::size_t>(file_total);
  const std::size_t size = static_cast<std::size_t>(EncodedSize(form_total, file_total));

  if (!keep) {
    Bytes fresh;
    try {
      fresh.resize(size);
    } catch (const std::bad_alloc&) {
      return Failure(kErrNoMemory, PlaintextStep::kNoMemory);
    }
    std::uint8_t* p = fresh.data();
    WriteNumberField(entry, p);
    WriteNumberField(form_item.size(), p + kField);
    std::memcpy(p + 2 * kField, form_item.data(), form_item.size());
    WriteNumberField(0, p + kField + entry);
    outgoing->swap(fresh);
    return {};
  }

  Bytes copy;
  if (!Detach(&form_item, *outgoing, &copy) || !EnsureCapacity(outgoing, size)) {
    return Failure(kErrNoMemory, PlaintextStep::kNoMemory);
  }
  // The form entries stay at offset 8; the file entries move up to make room
  // for the new item and their total field.
  const std::size_t file_src = layout.files.begin;
  outgoing->resize(size);
  std::uint8_t* p = outgoing->data();
  std::memmove(p + 2 * kField + form_size + entry, p + file_src, file_size);
  WriteNumberField(form_total, p);
  WriteNumberField(form_item.size(), p + kField + form_size);
  std::memcpy(p + 2 * kField + form_size, form_item.data(), form_item.size());
  WriteNumberField(file_total, p + kField + form_size + entry);
  return {};
}

PlaintextResult AppendToOutgoing(Bytes* outgoing, ByteSpan name, ByteSpan content) {
  if (name.empty() || content.empty()) return Failure(kErrEmptyInput, PlaintextStep::kAddEntry);
  if (!FileFits(name.size(), content.size())) return Failure(kFailed, PlaintextStep::kAddEntry);
  FormattedPlaintextLayout layout;
  const bool keep = ScanOutgoing(*outgoing, &layout);
  const std::size_t entry = static_cast<std::size_t>(FileEntrySize(name.size(), content.size()));
  const std::uint64_t form_total = layout.form.total;
  const std::uint64_t file_total = layout.files.total + entry;
  if (PlaintextResult r = CheckTotals(form_total, file_total); !r.ok()) return r;
  const std::size_t form_size = static_cast<std::size_t>(form_total);
  const std::size_t old_file_size = static_cast<std::size_t>(layout.files.total);
  const std::size_t size = static_cast<std::size_t>(EncodedSize(form_total, file_total));

  Bytes fresh, name_copy, content_copy;
  Bytes* target = outgoing;
  if (!keep) {
    try {
      fresh.resize(size);
    } catch (const std::bad_alloc&) {
      return Failure(kErrNoMemory, PlaintextStep::kNoMemory);
    }
    target = &fresh;
  } else if (!Detach(&name, *outgoing, &name_copy) || !Detach(&content, *outgoing, &content_copy) ||
             !EnsureCapacity(outgoing, size)) {
    return Failure(kErrNoMemory, PlaintextStep::kNoMemory);
  } else {
    // Form and file entries stay where they are; the new file goes last.
    outgoing->resize(size);
  }
  std::uint8_t* p = target->data();
  std::uint8_t* e = p + 2 * kField + form_size + old_file_size;
  WriteNumberField(form_total, p);
  WriteNumberField(file_total, p + kField + form_size);
  WriteNumberField(entry - kField, e);
  WriteNumberField(name.size(), e + kField);
  std::memcpy(e + 2 * kField, name.data(), name.size());
  std::memcpy(e + 2 * kField + name.size(), content.data(), content.size());
  if (!keep) outgoing->swap(fresh);
  return {};
}

namespace {

// The layout of a received plain text that a take works on.
PlaintextResult ScanReceived(const Bytes& received, FormattedPlaintextLayout* layout) {
  if (received.empty()) return Failure(kErrEmptyInput, PlaintextStep::kSourceEmpty);
  if (ScanFormattedPlaintext(received, layout) != kOk) {
    return Failure(kFailed, PlaintextStep::kNotFormatted);
  }
  CheckLayout(*layout);
  return {};
}

}  // namespace

PlaintextResult TakeFirstFormItem(Bytes* received, Bytes* item) {
  item->clear();
  FormattedPlaintextLayout layout;
  if (PlaintextResult r = ScanReceived(*received, &layout); !r.ok()) return r;
  const SectionLayout& form = layout.form;
  const SectionLayout& files = layout.files;
  const std::size_t first = form.first_end - form.begin;
  const std::uint64_t form_total = form.total - first;
  if (PlaintextResult r = CheckTotals(form_total, files.total); !r.ok()) return r;
  if (form.count > 0) {
    try {
      item->assign(received->begin() + static_cast<std::ptrdiff_t>(form.begin + kField),
                   received->begin() + static_cast<std::ptrdiff_t>(form.first_end));
    } catch (const std::bad_alloc&) {
      item->clear();
      return Failure(kErrNoMemory, PlaintextStep::kNoMemory);
    }
  }
  RewriteInPlace(received, form.first_end, static_cast<std::size_t>(form_total), files.begin,
                 static_cast<std::size_t>(files.total));
  return {};
}

PlaintextResult TakeFirstFile(Bytes* received, Bytes* name, Bytes* content) {
  name->clear();
  content->clear();
  FormattedPlaintextLayout layout;
  if (PlaintextResult r = ScanReceived(*received, &layout); !r.ok()) return r;
  const SectionLayout& form = layout.form;
  const SectionLayout& files = layout.files;
  const std::size_t first = files.first_end - files.begin;
  const std::uint64_t file_total = files.total - first;
  if (PlaintextResult r = CheckTotals(form.total, file_total); !r.ok()) return r;
  if (files.count > 0) {
    const std::uint8_t* entry = received->data() + files.begin;
    const std::size_t name_size = static_cast<std::size_t>(ReadNumberField(entry + kField));
    const std::uint8_t* name_begin = entry + 2 * kField;
    const std::uint8_t* content_begin = name_begin + name_size;
    try {
      name->assign(name_begin, content_begin);
      content->assign(content_begin, entry + first);
    } catch (const std::bad_alloc&) {
      name->clear();
      content->clear();
      return Failure(kErrNoMemory, PlaintextStep::kNoMemory);
    }
  }
  RewriteInPlace(received, form.begin, static_cast<std::size_t>(form.total), files.first_end,
                 static_cast<std::size_t>(file_total));
  return {};
}

}  // namespace quillmark::encoding
