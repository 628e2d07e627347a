// The control's one connection point, for IPropertyNotifySink. The point is
// made on request and holds the control; the sinks live in the control.
#include <windows.h>

#include <ocidl.h>

#include <algorithm>
#include <atomic>

#include "platform/automation/win/control_object.h"
#include "platform/automation/win/server_module.h"

namespace quillmark::platform::automation_win {
namespace {

// COM objects are destroyed by their own Release, never through an interface
// pointer, so the interfaces have no virtual destructor to offer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class PropertyNotifyPoint final : public IConnectionPoint {
 public:
  explicit PropertyNotifyPoint(ControlObject* control) : control_(control) {
    control_->AddRef();
    ObjectCreated();
  }
  PropertyNotifyPoint(const PropertyNotifyPoint&) = delete;
  PropertyNotifyPoint& operator=(const PropertyNotifyPoint&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IConnectionPoint) return E_NOINTERFACE;
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
    if (iid == nullptr) return E_POINTER;
    *iid = IID_IPropertyNotifySink;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** c) override {
    if (c == nullptr) return E_POINTER;
    return control_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(c));
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    return control_->AdviseNotifySink(sink, cookie);
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    return control_->UnadviseNotifySink(cookie);
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override {
    if (connections != nullptr) *connections = nullptr;
    return E_NOTIMPL;
  }

 private:
  ~PropertyNotifyPoint() {
    control_->Release();
    ObjectDestroyed();
  }

  ControlObject* control_;
  std::atomic<ULONG> refs_{1};
};
#pragma GCC diagnostic pop

}  // namespace

HRESULT ControlObject::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (points != nullptr) *points = nullptr;
  return E_NOTIMPL;
}

HRESULT ControlObject::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  if (iid != IID_IPropertyNotifySink) return CONNECT_E_NOCONNECTION;
  *point = new (std::nothrow) PropertyNotifyPoint(this);
  return *point != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT ControlObject::AdviseNotifySink(IUnknown* sink, DWORD* cookie) {
  if (sink == nullptr || cookie == nullptr) return E_POINTER;
  *cookie = 0;
  IPropertyNotifySink* notify = nullptr;
  if (FAILED(sink->QueryInterface(IID_IPropertyNotifySink, reinterpret_cast<void**>(&notify)))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  try {
    notify_sinks_.emplace_back(next_cookie_, notify);
  } catch (const std::bad_alloc&) {
    notify->Release();
    return E_OUTOFMEMORY;
  }
  *cookie = next_cookie_++;
  return S_OK;
}

HRESULT ControlObject::UnadviseNotifySink(DWORD cookie) {
  auto it = std::find_if(notify_sinks_.begin(), notify_sinks_.end(),
                         [cookie](const auto& entry) { return entry.first == cookie; });
  if (it == notify_sinks_.end()) return CONNECT_E_NOCONNECTION;
  it->second->Release();
  notify_sinks_.erase(it);
  return S_OK;
}

}  // namespace quillmark::platform::automation_win
