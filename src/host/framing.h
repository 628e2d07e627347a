// The browser's native messaging frame: a 32-bit length in native byte
// order, then that many bytes of UTF-8 JSON.
//
//   std::string message;
//   switch (ReadFrame(stdin, kMaxRequestSize, &message)) { ... }
//   WriteFrame(stdout, answer);
//
// A length above the limit is refused without reading (or allocating) the
// body; a stream that ends inside a frame is truncated.
#ifndef QUILLMARK_HOST_FRAMING_H_
#define QUILLMARK_HOST_FRAMING_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace quillmark::host {

// Requests the host reads: at most 64 MiB.
inline constexpr std::size_t kMaxRequestSize = std::size_t{64} << 20;
// Messages the browser accepts from a host: at most 1 MiB.
inline constexpr std::size_t kMaxBrowserMessageSize = std::size_t{1} << 20;

enum class FrameStatus {
  kMessage,    // *message holds one body
  kEnd,        // the stream ended cleanly between frames
  kTooLong,    // the length exceeds the limit; nothing more was read
  kTruncated,  // the stream ended inside the length or the body
};

FrameStatus ReadFrame(std::FILE* in, std::size_t max_size, std::string* message);

// Writes one frame and flushes; false when the stream refuses it or the body
// does not fit a 32-bit length.
bool WriteFrame(std::FILE* out, std::string_view body);

}  // namespace quillmark::host

#endif  // QUILLMARK_HOST_FRAMING_H_
