// Answers too long for one browser message, sent as numbered chunks:
//
//   {"id":7,"chunk":0,"of":3,"data":"{\"id\":7,\"hr\":0,..."}
//   {"id":7,"chunk":1,"of":3,"data":"..."}
//   {"id":7,"chunk":2,"of":3,"data":"...}"}
//
// The pieces in "data", joined in order, are exactly the answer's JSON text.
// Each piece holds at most kChunkPieceSize bytes of that text and ends on a
// UTF-8 character boundary, so that even fully escaped a chunk stays well
// under the browser's 1 MiB.
#ifndef QUILLMARK_HOST_CHUNKING_H_
#define QUILLMARK_HOST_CHUNKING_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/json.h"

namespace quillmark::host {

// Answers longer than this go in chunks.
inline constexpr std::size_t kChunkThreshold = std::size_t{512} << 10;
inline constexpr std::size_t kChunkPieceSize = std::size_t{256} << 10;

// The messages that carry |answer| (valid UTF-8): itself when it is at most
// kChunkThreshold bytes, else its chunks, each naming |id| (null: no "id").
std::vector<std::string> SplitAnswer(std::string answer, const json::Value& id);

}  // namespace quillmark::host

#endif  // QUILLMARK_HOST_CHUNKING_H_
