// In-place compression of an owned byte buffer into a gzip frame and back.
//
// CompressFrame replaces |*buf| by its frame (see mem_compress.h) when its
// length reaches |threshold|; ExpandFrame replaces a frame by its content.
// Both return true only when they replaced the bytes. Not compressing and not
// expanding are normal outcomes: on any failure (not a frame, no memory, a
// buffer longer than INT_MAX) the buffer keeps its original bytes.
#ifndef QUILLMARK_ENCODING_COMPRESS_FRAME_H_
#define QUILLMARK_ENCODING_COMPRESS_FRAME_H_

#include "common/bytes.h"

namespace quillmark::encoding {

// Compresses when buf->size() >= threshold (a negative threshold compresses
// any non-empty buffer).
bool CompressFrame(Bytes* buf, int threshold);

// Expands |*buf| when it holds one complete, correct frame.
bool ExpandFrame(Bytes* buf);

}  // namespace quillmark::encoding

#endif  // QUILLMARK_ENCODING_COMPRESS_FRAME_H_
