#include "platform/os/standard_streams.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace quillmark::platform {

void UseBinaryStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace quillmark::platform
