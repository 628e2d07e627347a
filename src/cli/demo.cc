#include <cstdio>

#include "cli/commands.h"

namespace quillmark::cli {

int RunDemo(Args) {
  std::fprintf(stderr, "quillmark demo: not built yet\n");
  return 1;
}

}  // namespace quillmark::cli
