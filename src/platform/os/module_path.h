// The file the library was loaded from: what GetModuleFileNameW gives for the
// module's own handle, used where the registration entries name the server.
// On Windows that is the system call itself on the module holding this code:
// quillmark.dll when loaded as the DLL.
#ifndef QUILLMARK_PLATFORM_OS_MODULE_PATH_H_
#define QUILLMARK_PLATFORM_OS_MODULE_PATH_H_

#include <string>
#include <string_view>

namespace quillmark::platform {

// The absolute, resolved path of the shared library that holds this code.
// False when the loader cannot tell it or it is not valid UTF-8.
bool GetModuleFileNameW(std::u16string* path);

// The registry's name for the platform this module's type library is
// registered for (TypeLib\{library}\1.0\0\<name>): "win64" in a 64-bit
// Windows module and "win32" in a 32-bit one, as RegisterTypeLib writes it,
// and "win32" on Linux, whose registry keeps the control's original entries.
#if defined(_WIN64)
inline constexpr std::u16string_view kModuleTypeLibPlatform = u"win64";
#else
inline constexpr std::u16string_view kModuleTypeLibPlatform = u"win32";
#endif

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_MODULE_PATH_H_
