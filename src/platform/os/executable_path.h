// The program file of the running process, for a command that must name a
// program installed beside it (quillmark browser install names
// quillmark-host).
#ifndef QUILLMARK_PLATFORM_OS_EXECUTABLE_PATH_H_
#define QUILLMARK_PLATFORM_OS_EXECUTABLE_PATH_H_

#include <string>
#include <string_view>

namespace quillmark::platform {

// The absolute, resolved path of the running program; false when the system
// cannot tell it.
bool ExecutablePath(std::string* path);

// The program |name| in the running program's folder, with the system's
// suffix for programs ("quillmark-host" is "...\quillmark-host.exe" on
// Windows); empty when the running program's path cannot be told. Whether
// the file is there is for the caller to find out.
std::string ProgramBesideThisOne(std::string_view name);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_EXECUTABLE_PATH_H_
