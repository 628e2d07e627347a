// In-place compression of an owned byte buffer into a gzip frame and back.
//
// CompressFrame replaces |*buf| by its frame (see mem_compress.h) when its
// length reaches |threshold|; ExpandFrame replaces a frame by its content.
// Both return true only when they replaced the bytes. Not compressing and not
// expanding are normal outcomes: on any failure (not a frame, no memory, a
// buffer longer than INT_MAX, content longer than the caller accepts) the
// buffer keeps its original bytes.
#ifndef QUILLMARK_ENCODING_COMPRESS_FRAME_H_
#define QUILLMARK_ENCODING_COMPRESS_FRAME_H_

#include <cstddef>

#include "common/bytes.h"

namespace quillmark::encoding {

// The most a signed or enveloped message may expand to: room for the largest
// formatted plaintext (99,999,999 bytes) with its signature and certificates.
inline constexpr std::size_t kMaxExpandedMessage = std::size_t{128} << 20;

// Compresses when buf->size() >= threshold (a negative threshold compresses
// any non-empty buffer).
bool CompressFrame(Bytes* buf, int threshold);

// Expands |*buf| when it holds one complete, correct frame whose content is
// at most |max_output| bytes. A frame declaring more is left alone at once,
// before anything is inflated or allocated for it; no more than |max_output|
// bytes are ever allocated or inflated.
bool ExpandFrame(Bytes* buf, std::size_t max_output);

}  // namespace quillmark::encoding

#endif  // QUILLMARK_ENCODING_COMPRESS_FRAME_H_
