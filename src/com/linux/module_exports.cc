// The module's C exports on Linux: libquillmark.so's class object, unload
// answer and self-registration, over the class factory and registration of
// this folder's parent.
#include <new>

#include "com/class_factory.h"
#include "com/registration.h"
#include "control/guids.h"
#include "control/quillmark_interface.h"

// The exports are the module's boundary: nothing thrown inside crosses them.
extern "C" std::int32_t DllGetClassObject(const quillmark::control::Guid* rclsid,
                                          const quillmark::control::Guid* riid, void** ppv) {
  namespace control = quillmark::control;
  if (ppv == nullptr) return control::E_POINTER;
  *ppv = nullptr;
  if (rclsid == nullptr || riid == nullptr) return control::E_INVALIDARG;
  try {
    quillmark::com::ClassFactoryRef factory;
    control::HRESULT hr = quillmark::com::GetClassObject(*rclsid, *riid, &factory);
    if (hr == control::S_OK) *ppv = factory.release();
    return hr;
  } catch (const std::bad_alloc&) {
    return control::E_OUTOFMEMORY;
  }
}

// Reads two counters; nothing in it can throw.
extern "C" std::int32_t DllCanUnloadNow(void) { return quillmark::com::CanUnloadNow(); }

// The exports are the module's boundary: nothing thrown inside crosses them.
extern "C" std::int32_t DllRegisterServer(void) {
  try {
    return quillmark::com::RegisterServer();
  } catch (const std::bad_alloc&) {
    return quillmark::control::E_OUTOFMEMORY;
  }
}

extern "C" std::int32_t DllUnregisterServer(void) {
  try {
    return quillmark::com::UnregisterServer();
  } catch (const std::bad_alloc&) {
    return quillmark::control::E_OUTOFMEMORY;
  }
}
