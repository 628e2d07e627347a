// The class factory of LydraCorvaneQuillmark and the module's lifetime.
//
// The module counts the control instances alive and the locks held on it (a
// reference to the class factory, or LockServer(true)); it may be unloaded
// when both are zero. Hosts reach the factory through DllGetClassObject, or in
// C++ through GetClassObject, and make each instance with CreateInstance:
//
//   ClassFactoryRef factory;
//   if (GetClassObject(kClsidLydraCorvaneQuillmark, kIidIClassFactory, &factory) == S_OK) {
//     ControlPtr control;
//     if (factory->CreateInstance(nullptr, kIidILydraCorvaneQuillmark, &control) == S_OK) {
//       control->QMSetPlainText(u"hello");
//     }
//   }  // instance and factory released here; DllCanUnloadNow() is S_OK again
//
// Instances live in the creating thread's apartment: each is used from one
// thread at a time. The counts themselves may be touched from any thread.
#ifndef QUILLMARK_COM_CLASS_FACTORY_H_
#define QUILLMARK_COM_CLASS_FACTORY_H_

#include <cstdint>
#include <memory>

#include "control/guids.h"
#include "control/quillmark_interface.h"

namespace quillmark::com {

using ::quillmark::control::CLASS_E_CLASSNOTAVAILABLE;
using ::quillmark::control::CLASS_E_NOAGGREGATION;
using ::quillmark::control::E_NOINTERFACE;
using ::quillmark::control::E_OUTOFMEMORY;
using ::quillmark::control::E_UNEXPECTED;
using ::quillmark::control::Guid;
using ::quillmark::control::HRESULT;
using ::quillmark::control::ILydraCorvaneQuillmark;
using ::quillmark::control::S_FALSE;
using ::quillmark::control::S_OK;

// Destroys an instance made by the factory and lowers the object count.
struct ControlDeleter {
  void operator()(ILydraCorvaneQuillmark* object) const;
};
using ControlPtr = std::unique_ptr<ILydraCorvaneQuillmark, ControlDeleter>;

class ClassFactory {
 public:
  // A new instance with every setting at its default. |outer| must be null
  // (CLASS_E_NOAGGREGATION: the control cannot be aggregated); |iid| must be
  // ILydraCorvaneQuillmark's or IUnknown's (E_NOINTERFACE otherwise); memory
  // exhaustion gives E_OUTOFMEMORY. |*object| is reset on every failure.
  HRESULT CreateInstance(const void* outer, const Guid& iid, ControlPtr* object);

  // Holds (true) or releases (false) a lock on the module. Releasing a lock
  // that is not held gives E_UNEXPECTED and changes nothing.
  HRESULT LockServer(bool lock);

  // References to the factory; each counts as a lock on the module. Release
  // returns the references left (0 and no change when none are held).
  std::uint32_t AddRef();
  std::uint32_t Release();
};

// Releases a factory reference.
struct ClassFactoryRelease {
  void operator()(ClassFactory* factory) const { factory->Release(); }
};
using ClassFactoryRef = std::unique_ptr<ClassFactory, ClassFactoryRelease>;

// The factory of |clsid|, with one reference taken for the caller.
// CLASS_E_CLASSNOTAVAILABLE for another class; E_NOINTERFACE unless |iid| is
// IClassFactory's or IUnknown's.
HRESULT GetClassObject(const Guid& clsid, const Guid& iid, ClassFactoryRef* factory);

// S_OK when no instance is alive and no lock is held, else S_FALSE.
HRESULT CanUnloadNow();

std::uint32_t ModuleObjectCount();
std::uint32_t ModuleLockCount();

}  // namespace quillmark::com

// The module's exports (C linkage, visible from libquillmark.so).
// DllGetClassObject stores a ClassFactory* (one reference taken) in |*ppv|;
// the caller gives it back with Release().
extern "C" {
__attribute__((visibility("default"))) std::int32_t DllGetClassObject(
    const quillmark::control::Guid* rclsid, const quillmark::control::Guid* riid, void** ppv);
__attribute__((visibility("default"))) std::int32_t DllCanUnloadNow(void);
}

#endif  // QUILLMARK_COM_CLASS_FACTORY_H_
