// The in-process automation server: the system's COM objects around one
// scriptable class.
//
// The layer above describes its class once, as an AutomationClass: the four
// identifiers, how a member name becomes a DISPID, and how to make an
// instance that takes late-bound calls. The server wraps each instance in a
// real COM object (IDispatch with the embedded type library, class
// information, object safety, the hosting interfaces a page container asks
// for) and serves the class through the module's exports:
//
//   extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
//     return platform::AutomationGetClassObject(kMyClass, clsid, iid, ppv);
//   }
//
// Values cross this boundary as AutomationValue (automation_values.h); the
// statuses are the system's HRESULT values. The COM objects exist only on
// Windows; the value conversions they use are portable.
#ifndef QUILLMARK_PLATFORM_AUTOMATION_AUTOMATION_SERVER_H_
#define QUILLMARK_PLATFORM_AUTOMATION_AUTOMATION_SERVER_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/automation/automation_values.h"

namespace quillmark::platform {

// The system's GUID layout.
struct AutomationGuid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

// One instance of the class, as the server sees it. Used from one thread at
// a time (the apartment that made it).
class AutomationObject {
 public:
  virtual ~AutomationObject() = default;

  // Calls member |dispid| as |call| with |args| in declaration order (the
  // server has already reversed the system's argument order). Answers
  // DISP_E_MEMBERNOTFOUND without calling anything when the member has no
  // such kind, so the server may try the next kind the caller allowed; the
  // other dispatch errors (DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH with
  // |*arg_error| the index in declaration order) likewise. Otherwise the
  // member's own status, with its out value in |*result|.
  virtual std::int32_t Invoke(std::int32_t dispid, AutomationCall call,
                              std::span<const AutomationValue> args, AutomationValue* result,
                              std::uint32_t* arg_error) = 0;
};

// The class the server serves; a static description that outlives the module.
struct AutomationClass {
  AutomationGuid clsid;
  AutomationGuid iid;          // the dual interface; its type information is the IDispatch's
  AutomationGuid events_diid;  // the source dispinterface (no members)
  AutomationGuid libid;        // the type library, version 1.0, resource TYPELIB 1
  // The DISPID of |name| in any letter case, S_OK or DISP_E_UNKNOWNNAME.
  std::int32_t (*id_of_name)(std::u16string_view name, std::int32_t* dispid);
  // A new instance with its defaults, or null when memory ran out.
  std::unique_ptr<AutomationObject> (*create)();
};

// DllGetClassObject: the class factory of |cls| as the interface |iid|
// (IClassFactory or IUnknown), one reference taken for the caller.
// CLASS_E_CLASSNOTAVAILABLE for another class, E_NOINTERFACE, E_POINTER.
std::int32_t AutomationGetClassObject(const AutomationClass& cls, const AutomationGuid& clsid,
                                      const AutomationGuid& iid, void** object);

// S_OK when no COM object of the server is alive and no lock is held,
// else S_FALSE.
std::int32_t AutomationCanUnloadNow();

// Registers the type library that is this module's resource TYPELIB 1
// (its TypeLib and Interface keys), or removes that registration. Removing a
// library that is not registered is not an error.
std::int32_t RegisterModuleTypeLibrary();
std::int32_t UnregisterModuleTypeLibrary(const AutomationGuid& libid);

// The in-process server module a registration command must register, as
// regsvr32 would: on Windows quillmark.dll beside the running program (the
// program is not the module that COM loads); empty where the running
// process's own library is the module.
std::string ServerModuleToRegister();

// Loads |module| and calls its DllRegisterServer (|register_it|) or
// DllUnregisterServer; returns that HRESULT, or HRESULT_FROM_WIN32 of the
// failure when the module cannot be loaded or lacks the export.
std::int32_t CallServerRegistration(const std::string& module, bool register_it);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_AUTOMATION_AUTOMATION_SERVER_H_
