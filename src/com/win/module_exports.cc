// The module's C exports on Windows (quillmark.def names them): the class
// object and unload answer of the automation server, and self-registration,
// which adds the embedded type library to the registry entries.
#include <cstdint>
#include <new>

#include "com/class_factory.h"
#include "com/registration.h"
#include "com/win/automation_class.h"
#include "control/guids.h"
#include "control/quillmark_interface.h"
#include "platform/automation/automation_server.h"

namespace control = quillmark::control;
namespace platform = quillmark::platform;

// The exports are the module's boundary: nothing thrown inside crosses them.
extern "C" std::int32_t DllGetClassObject(const control::Guid* rclsid, const control::Guid* riid,
                                          void** ppv) {
  if (ppv == nullptr) return control::E_POINTER;
  *ppv = nullptr;
  if (rclsid == nullptr || riid == nullptr) return control::E_INVALIDARG;
  const platform::AutomationClass& cls = quillmark::com::QuillmarkAutomationClass();
  return platform::AutomationGetClassObject(
      cls, *reinterpret_cast<const platform::AutomationGuid*>(rclsid),
      *reinterpret_cast<const platform::AutomationGuid*>(riid), ppv);
}

// The COM objects and the control instances inside them both count.
extern "C" std::int32_t DllCanUnloadNow(void) {
  return platform::AutomationCanUnloadNow() == control::S_OK &&
                 quillmark::com::CanUnloadNow() == control::S_OK
             ? control::S_OK
             : control::S_FALSE;
}

extern "C" std::int32_t DllRegisterServer(void) {
  try {
    control::HRESULT hr = quillmark::com::RegisterServer();
    if (hr != control::S_OK) return hr;
    return platform::RegisterModuleTypeLibrary();
  } catch (const std::bad_alloc&) {
    return control::E_OUTOFMEMORY;
  }
}

// The type library's registration is read to undo it, so it goes first.
extern "C" std::int32_t DllUnregisterServer(void) {
  try {
    const platform::AutomationClass& cls = quillmark::com::QuillmarkAutomationClass();
    control::HRESULT typelib = platform::UnregisterModuleTypeLibrary(cls.libid);
    control::HRESULT hr = quillmark::com::UnregisterServer();
    return hr != control::S_OK ? hr : typelib;
  } catch (const std::bad_alloc&) {
    return control::E_OUTOFMEMORY;
  }
}
