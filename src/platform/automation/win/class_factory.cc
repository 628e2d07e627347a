// The class factory of the served class and the module's unload answer.
#include <windows.h>

#include <unknwn.h>

#include <atomic>
#include <memory>
#include <new>

#include "platform/automation/automation_server.h"
#include "platform/automation/win/control_object.h"
#include "platform/automation/win/server_module.h"

namespace quillmark::platform {
namespace automation_win {
namespace {

// COM objects are destroyed by their own Release, never through an interface
// pointer, so the interfaces have no virtual destructor to offer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(const AutomationClass& cls) : cls_(cls) { ObjectCreated(); }
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    std::unique_ptr<AutomationObject> made;
    try {
      made = cls_.create();
    } catch (const std::bad_alloc&) {
    }
    if (made == nullptr) return E_OUTOFMEMORY;
    auto* control = new (std::nothrow) ControlObject(cls_, std::move(made));
    if (control == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = control->QueryInterface(iid, object);
    control->Release();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      LockModule();
      return S_OK;
    }
    return UnlockModule() ? S_OK : E_UNEXPECTED;
  }

 private:
  ~ClassFactory() { ObjectDestroyed(); }

  const AutomationClass& cls_;
  std::atomic<ULONG> refs_{1};
};
#pragma GCC diagnostic pop

}  // namespace
}  // namespace automation_win

std::int32_t AutomationGetClassObject(const AutomationClass& cls, const AutomationGuid& clsid,
                                      const AutomationGuid& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (automation_win::ToGuid(clsid) != automation_win::ToGuid(cls.clsid)) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  auto* factory = new (std::nothrow) automation_win::ClassFactory(cls);
  if (factory == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(automation_win::ToGuid(iid), object);
  factory->Release();
  return hr;
}

std::int32_t AutomationCanUnloadNow() { return automation_win::ModuleIdle() ? S_OK : S_FALSE; }

}  // namespace quillmark::platform
