// Where the desktop dialog program is: $QUILLMARK_DIALOG when set and not
// empty, else "quillmark-dialog" beside the running program. Whether it is
// there and runs is for the caller to find out. On Windows the program is
// "quillmark-dialog.exe"; nothing there starts it, since Windows draws its
// dialogs itself (platform/ui/win).
#ifndef QUILLMARK_PLATFORM_OS_DIALOG_PROGRAM_H_
#define QUILLMARK_PLATFORM_OS_DIALOG_PROGRAM_H_

#include <string>

namespace quillmark::platform {

// The path, or empty when the running program's own path cannot be told.
std::string DialogProgramPath();

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_DIALOG_PROGRAM_H_
