// Keeping a process that holds private keys from leaving them on disk.
#ifndef QUILLMARK_PLATFORM_OS_PROCESS_GUARD_H_
#define QUILLMARK_PLATFORM_OS_PROCESS_GUARD_H_

namespace quillmark::platform {

// Turns core dumps off for this process (a core limit of 0, and on Linux the
// process is made not dumpable, which also keeps other processes of the same
// user from attaching to it). True when both took effect.
// On Windows, which writes no core file, the fault dialog of Windows Error
// Reporting (and with it the report and its memory dump) is turned off with
// SetErrorMode; true when that took effect. Attaching is left to the
// process's ACL.
bool DisableCoreDumps();

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_PROCESS_GUARD_H_
