#include "host/framing.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace quillmark::host {

FrameStatus ReadFrame(std::FILE* in, std::size_t max_size, std::string* message) {
  unsigned char header[4];
  std::size_t got = std::fread(header, 1, sizeof header, in);
  if (got == 0) return FrameStatus::kEnd;
  if (got < sizeof header) return FrameStatus::kTruncated;
  std::uint32_t length;
  std::memcpy(&length, header, sizeof length);  // native byte order
  if (length > max_size) return FrameStatus::kTooLong;
  // Read in slices so that a length that lies costs no more memory than the
  // bytes that really arrive.
  message->clear();
  constexpr std::size_t kSlice = std::size_t{1} << 20;
  while (message->size() < length) {
    std::size_t want = std::min<std::size_t>(kSlice, length - message->size());
    std::size_t old = message->size();
    message->resize(old + want);
    std::size_t n = std::fread(message->data() + old, 1, want, in);
    message->resize(old + n);
    if (n < want) return FrameStatus::kTruncated;
  }
  return FrameStatus::kMessage;
}

bool WriteFrame(std::FILE* out, std::string_view body) {
  if (body.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  std::uint32_t length = static_cast<std::uint32_t>(body.size());
  unsigned char header[4];
  std::memcpy(header, &length, sizeof header);
  return std::fwrite(header, 1, sizeof header, out) == sizeof header &&
         std::fwrite(body.data(), 1, body.size(), out) == body.size() && std::fflush(out) == 0;
}

}  // namespace quillmark::host
