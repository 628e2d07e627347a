// The program file of the running process, for a command that must name a
// program installed beside it (quillmark browser install names
// quillmark-host).
#ifndef QUILLMARK_PLATFORM_OS_EXECUTABLE_PATH_H_
#define QUILLMARK_PLATFORM_OS_EXECUTABLE_PATH_H_

#include <string>

namespace quillmark::platform {

// The absolute, resolved path of the running program; false when the system
// cannot tell it.
bool ExecutablePath(std::string* path);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_EXECUTABLE_PATH_H_
