// Adding entries to the outgoing plain text and taking them out of the
// received plain text.
//
// The buffers are the control's two plain-text byte strings; an empty buffer
// means the buffer is absent. Each call validates the buffer once with the
// decoding rules of formatted_plaintext_layout.h and rewrites it once, in
// place where it can, without building a container of copies: a page may add
// or take thousands of entries one by one.
//
// Results are always written in the canonical encoding, so bytes that decoded
// but were not canonical (a wrong total, trailing bytes) come out canonical.
//
// Every call reports its status and the step that failed, so that the control
// can choose the message its member shows; this layer has no messages. The
// outputs are never null.
#ifndef QUILLMARK_ENCODING_PLAINTEXT_BUFFER_H_
#define QUILLMARK_ENCODING_PLAINTEXT_BUFFER_H_

#include "common/bytes.h"

namespace quillmark::encoding {

enum class PlaintextStep {
  kNone,          // success
  kSourceEmpty,   // take: the received plain text is absent
  kNotFormatted,  // take: the received plain text is not a formatted plaintext
  kAddEntry,      // append: the container refuses the new entry
  kEncode,        // the result cannot be encoded (a section total above 99999999)
  kNoMemory,      // a buffer could not be allocated
};

struct PlaintextResult {
  int status = 0;
  PlaintextStep step = PlaintextStep::kNone;
  bool ok() const { return step == PlaintextStep::kNone; }
};

// Appends a form item, or a file, to the outgoing plain text. When the buffer
// is absent or is not a formatted plaintext (for instance a text set as a
// whole), the result holds only the new entry and the old bytes are dropped.
// Failures leave *outgoing as it was:
//   kAddEntry: kErrEmptyInput for an empty item, name or content; kFailed for
//              an entry too large for any encoding;
//   kEncode:   kFailed when the section total would exceed 99999999;
//   kNoMemory: kErrNoMemory.
PlaintextResult AppendToOutgoing(Bytes* outgoing, ByteSpan form_item);
PlaintextResult AppendToOutgoing(Bytes* outgoing, ByteSpan name, ByteSpan content);

// Takes the first form item (or the first file) out of the received plain
// text, rewriting it with the remaining entries; the other kind of entry
// stays in place, so the two kinds are taken independently. When no entry of
// that kind is left the output is empty, the buffer is rewritten with the
// same entries and the call succeeds. A rewrite that leaves no entry at all
// makes the buffer absent. Failures leave *received as it was and the
// outputs empty:
//   kSourceEmpty:  kErrEmptyInput;
//   kNotFormatted: kFailed;
//   kEncode:       kFailed (only for decoded sections above 99999999 bytes);
//   kNoMemory:     kErrNoMemory, copying the entry out failed.
// Every entry that passes validation can be read and re-added, so the
// per-entry read and add failures of a copy-based rewrite cannot occur here.
PlaintextResult TakeFirstFormItem(Bytes* received, Bytes* item);
PlaintextResult TakeFirstFile(Bytes* received, Bytes* name, Bytes* content);

}  // namespace quillmark::encoding

#endif  // QUILLMARK_ENCODING_PLAINTEXT_BUFFER_H_
