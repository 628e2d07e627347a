// The module (DLL or program) that holds this code, for its resources and
// its file name: quillmark.dll when the control is loaded as the DLL, the
// program itself when the code is linked into it.
#ifndef QUILLMARK_PLATFORM_OS_WIN_MODULE_HANDLE_H_
#define QUILLMARK_PLATFORM_OS_WIN_MODULE_HANDLE_H_

#include <windows.h>

namespace quillmark::platform::win {

// Not reference-counted: valid as long as this code is loaded.
HMODULE ThisModule();

}  // namespace quillmark::platform::win

#endif  // QUILLMARK_PLATFORM_OS_WIN_MODULE_HANDLE_H_
