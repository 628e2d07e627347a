// The file the library was loaded from: what GetModuleFileNameW gives for the
// module's own handle, used where the registration entries name the server.
// On Windows that is the system call itself on the module holding this code:
// quillmark.dll when loaded as the DLL.
#ifndef QUILLMARK_PLATFORM_OS_MODULE_PATH_H_
#define QUILLMARK_PLATFORM_OS_MODULE_PATH_H_

#include <string>

namespace quillmark::platform {

// The absolute, resolved path of the shared library that holds this code.
// False when the loader cannot tell it or it is not valid UTF-8.
bool GetModuleFileNameW(std::u16string* path);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_MODULE_PATH_H_
