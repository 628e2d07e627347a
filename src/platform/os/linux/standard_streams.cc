#include "platform/os/standard_streams.h"

namespace quillmark::platform {

// POSIX streams carry bytes unchanged.
void UseBinaryStandardStreams() {}

}  // namespace quillmark::platform
