// FormattedPlaintext: form items and files packed into one byte string, so
// that a page can sign several texts and files as one plain text.
//
// The container holds two ordered sequences, form items (non-empty byte
// strings) and files (pairs of non-empty name and content), in insertion
// order. It owns copies of what is added; getters copy out. The byte format
// and the rules that decide what decodes are described in
// formatted_plaintext_layout.h.
//
// Statuses: 0 on success; kFailed (-1) for an index out of range, memory
// exhausted while adding or decoding, an entry too large for any encoding,
// bytes that are not a formatted plaintext, and totals too large to encode;
// kErrNoMemory (-10000) for memory exhausted while encoding or copying out;
// kErrEmptyInput (-10001) for a missing or empty byte string or a missing
// output. A failing call leaves the container as it was, except Decompose,
// which leaves it empty.
//
// Size limits: a number field holds at most 99999999, and a section total
// counts every entry with its length fields. AddFormItem refuses an item of
// more than 99999991 bytes and AddFile a file whose name and content exceed
// 99999983 bytes together (kFailed): no container could encode them. Entries
// that fit one by one may still add up to a section total above 99999999;
// Encode then refuses with kFailed and writes nothing.
#ifndef QUILLMARK_ENCODING_FORMATTED_PLAINTEXT_H_
#define QUILLMARK_ENCODING_FORMATTED_PLAINTEXT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/bytes.h"

namespace quillmark::encoding {

class FormattedPlaintext {
 public:
  FormattedPlaintext() = default;

  // Empties both sequences.
  void Clear();

  // Appends a copy of `item`. kErrEmptyInput when it is empty.
  int AddFormItem(ByteSpan item);

  // Appends a copy of the file. kErrEmptyInput when the name or the content
  // is empty (an empty file cannot be added).
  int AddFile(ByteSpan name, ByteSpan content);

  std::size_t FormItemCount() const { return forms_.size(); }
  std::size_t FileCount() const { return files_.size(); }

  // Replaces the outputs with copies of entry `index`. kErrEmptyInput when an
  // output is missing, kFailed when index is negative or not below the count.
  int GetFormItem(std::int64_t index, Bytes* item) const;
  int GetFile(std::int64_t index, Bytes* name, Bytes* content) const;

  // Replaces *out with the encoded container (zero bytes when it is empty).
  int Encode(Bytes* out) const;

  // Replaces the contents with the entries that `bytes` encodes.
  // kErrEmptyInput for zero bytes (container unchanged); kFailed when they
  // are not a formatted plaintext (container left empty).
  int Decompose(ByteSpan bytes);

 private:
  struct FormRef {
    std::size_t offset;
    std::size_t size;
  };
  struct FileRef {
    std::size_t offset;  // name first, content right after it
    std::size_t name_size;
    std::size_t content_size;
  };

  ByteSpan Slice(std::size_t offset, std::size_t size) const {
    return ByteSpan(data_).subspan(offset, size);
  }

  // Every entry's bytes back to back, in the order they were added.
  Bytes data_;
  std::vector<FormRef> forms_;
  std::vector<FileRef> files_;
  // Section totals as the encoding will write them.
  std::uint64_t form_total_ = 0;
  std::uint64_t file_total_ = 0;
};

}  // namespace quillmark::encoding

#endif  // QUILLMARK_ENCODING_FORMATTED_PLAINTEXT_H_
