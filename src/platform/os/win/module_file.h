// GetModuleFileNameW into a buffer that grows until the whole name fits.
#ifndef QUILLMARK_PLATFORM_OS_WIN_MODULE_FILE_H_
#define QUILLMARK_PLATFORM_OS_WIN_MODULE_FILE_H_

#include <windows.h>

#include <string>

namespace quillmark::platform::win {

// The full path of |module| (null: the program); false when the loader
// cannot tell it.
bool ModuleFileName(HMODULE module, std::wstring* path);

}  // namespace quillmark::platform::win

#endif  // QUILLMARK_PLATFORM_OS_WIN_MODULE_FILE_H_
