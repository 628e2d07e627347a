// What the automation server's COM objects share within the module: the
// count of live objects and locks behind DllCanUnloadNow, the module's own
// handle, and the type library embedded in it as resource TYPELIB 1.
#ifndef QUILLMARK_PLATFORM_AUTOMATION_WIN_SERVER_MODULE_H_
#define QUILLMARK_PLATFORM_AUTOMATION_WIN_SERVER_MODULE_H_

#include <windows.h>

#include <oaidl.h>

#include "platform/automation/automation_server.h"

namespace quillmark::platform::automation_win {

// Every COM object of the server counts itself from its constructor to its
// destructor; IClassFactory::LockServer holds locks.
void ObjectCreated();
void ObjectDestroyed();
void LockModule();
// False (and no change) when no lock is held.
bool UnlockModule();
bool ModuleIdle();

GUID ToGuid(const AutomationGuid& guid);

// The handle of the module this code is linked into (the DLL, or the
// program when it is linked statically).
HMODULE ThisModule();

// The type library resource of this module, without registering it.
HRESULT LoadModuleTypeLibrary(ITypeLib** library);
// The type information of |guid| (interface, dispinterface or coclass) in it.
HRESULT LoadModuleTypeInfo(const GUID& guid, ITypeInfo** info);

}  // namespace quillmark::platform::automation_win

#endif  // QUILLMARK_PLATFORM_AUTOMATION_WIN_SERVER_MODULE_H_
