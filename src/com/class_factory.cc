#include "com/class_factory.h"

#include <atomic>
#include <new>

namespace quillmark::com {

using ::quillmark::control::CreateQuillmarkControl;
using ::quillmark::control::kClsidLydraCorvaneQuillmark;
using ::quillmark::control::kIidIClassFactory;
using ::quillmark::control::kIidILydraCorvaneQuillmark;
using ::quillmark::control::kIidIUnknown;

namespace {

std::atomic<std::uint32_t> g_objects{0};
std::atomic<std::uint32_t> g_locks{0};         // LockServer
std::atomic<std::uint32_t> g_factory_refs{0};  // references to the factory

ClassFactory g_factory;

// Lowers |count| unless it is already zero; false then.
bool Decrement(std::atomic<std::uint32_t>* count, std::uint32_t* left) {
  std::uint32_t value = count->load();
  do {
    if (value == 0) {
      *left = 0;
      return false;
    }
  } while (!count->compare_exchange_weak(value, value - 1));
  *left = value - 1;
  return true;
}

}  // namespace

void ControlDeleter::operator()(ILydraCorvaneQuillmark* object) const {
  if (object == nullptr) return;
  delete object;
  std::uint32_t left = 0;
  Decrement(&g_objects, &left);
}

HRESULT ClassFactory::CreateInstance(const void* outer, const Guid& iid, ControlPtr* object) {
  object->reset();
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if (!(iid == kIidILydraCorvaneQuillmark) && !(iid == kIidIUnknown)) return E_NOINTERFACE;
  std::unique_ptr<ILydraCorvaneQuillmark> made = CreateQuillmarkControl();
  if (made == nullptr) return E_OUTOFMEMORY;
  ++g_objects;
  object->reset(made.release());
  return S_OK;
}

HRESULT ClassFactory::LockServer(bool lock) {
  if (lock) {
    ++g_locks;
    return S_OK;
  }
  std::uint32_t left = 0;
  return Decrement(&g_locks, &left) ? S_OK : E_UNEXPECTED;
}

std::uint32_t ClassFactory::AddRef() { return ++g_factory_refs; }

std::uint32_t ClassFactory::Release() {
  std::uint32_t left = 0;
  Decrement(&g_factory_refs, &left);
  return left;
}

HRESULT GetClassObject(const Guid& clsid, const Guid& iid, ClassFactoryRef* factory) {
  factory->reset();
  if (!(clsid == kClsidLydraCorvaneQuillmark)) return CLASS_E_CLASSNOTAVAILABLE;
  if (!(iid == kIidIClassFactory) && !(iid == kIidIUnknown)) return E_NOINTERFACE;
  g_factory.AddRef();
  factory->reset(&g_factory);
  return S_OK;
}

HRESULT CanUnloadNow() { return g_objects.load() == 0 && ModuleLockCount() == 0 ? S_OK : S_FALSE; }

std::uint32_t ModuleObjectCount() { return g_objects.load(); }

std::uint32_t ModuleLockCount() { return g_locks.load() + g_factory_refs.load(); }

}  // namespace quillmark::com
