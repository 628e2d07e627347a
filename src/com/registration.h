// Self-registration of the control in the registry (HKEY_CLASSES_ROOT).
//
// RegisterServer writes, below HKEY_CLASSES_ROOT:
//
//   Quillmark.LydraCorvaneQuillmark2.1        @ "Lydra CorvaneQuillmark Class"
//     CLSID                                   @ "{class CLSID}"
//   Quillmark.LydraCorvaneQuillmark2          @ "Lydra CorvaneQuillmark Class"
//     CLSID                                   @ "{class CLSID}"
//     CurVer                                  @ "Quillmark.LydraCorvaneQuillmark2.1"
//   CLSID\{class CLSID}                       @ "Lydra CorvaneQuillmark Class"
//     ProgID                                  @ "Quillmark.LydraCorvaneQuillmark2.1"
//     VersionIndependentProgID                @ "Quillmark.LydraCorvaneQuillmark2"
//     Programmable, Control, Insertable       (empty keys)
//     InprocServer32                          @ module path, ThreadingModel "Apartment"
//     CtlSettings                             stubPath = DefaultStubPath()
//     ToolboxBitmap32                         @ module path + ", 101"
//     MiscStatus                              @ "0"
//       1                                     @ "131473"
//     TypeLib                                 @ "{library GUID}"
//     Version                                 @ "1.0"
//
// The class key is deleted with everything below it before it is written,
// so re-registering resets stubPath. Then the type library is registered:
//
//   TypeLib\{library GUID}\1.0                @ "LydraQuillmark 1.0 Type Library"
//     0\win32 (win64 in a 64-bit DLL)         @ module path (the library is its resource 1)
//     FLAGS                                   @ "0"
//     HELPDIR                                 @ folder of the module
//   Interface\{interface IID}                 @ "ILydraCorvaneQuillmark"
//     ProxyStubClsid, ProxyStubClsid32        @ "{00020424-0000-0000-C000-000000000046}"
//     TypeLib                                 @ "{library GUID}", Version "1.0"
//
// Finally the stubPath folder itself is created (mode 0700) when missing.
//
// UnregisterServer removes all of these except the CLSID parent key. Of the
// type library it removes the module's own 0\win32 or 0\win64 entry, the
// version key only when no other module's entry remains below it, and
// TypeLib\{library GUID} only when no other version does; keys already
// missing are not an error.
//
// Each of the two is one rewrite of the registry file (a registry
// transaction), so a process killed midway leaves the whole registration or
// none of it.
//
// Both return S_OK, or HRESULT_FROM_WIN32 of the registry call that failed
// (0x80070000 | error), or SELFREG_E_CLASS when the module's path or the
// user's home folder cannot be found. Running out of memory throws
// std::bad_alloc; DllRegisterServer and DllUnregisterServer, the module's
// boundary, answer E_OUTOFMEMORY then.
#ifndef QUILLMARK_COM_REGISTRATION_H_
#define QUILLMARK_COM_REGISTRATION_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "control/quillmark_interface.h"

namespace quillmark::com {

using ::quillmark::control::HRESULT;
using ::quillmark::control::S_OK;

inline constexpr std::u16string_view kClassDescription = u"Lydra CorvaneQuillmark Class";
inline constexpr std::u16string_view kProgId = u"Quillmark.LydraCorvaneQuillmark2.1";
inline constexpr std::u16string_view kVersionIndependentProgId =
    u"Quillmark.LydraCorvaneQuillmark2";

// Where received files are saved unless the registry says otherwise: on
// Linux the user's home folder followed by "/quillmarkStub/" (empty when
// there is no home folder), on Windows "c:\quillmarkStub\".
std::u16string DefaultStubPath();

HRESULT RegisterServer();
HRESULT UnregisterServer();

// HRESULT_FROM_WIN32.
constexpr HRESULT HresultFromWin32(std::uint32_t error) {
  return error == 0 ? S_OK : static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

}  // namespace quillmark::com

// The module's registration exports (C linkage, visible from libquillmark.so).
extern "C" {
__attribute__((visibility("default"))) std::int32_t DllRegisterServer(void);
__attribute__((visibility("default"))) std::int32_t DllUnregisterServer(void);
}

#endif  // QUILLMARK_COM_REGISTRATION_H_
