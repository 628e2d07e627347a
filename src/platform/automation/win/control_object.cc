// The control object's identity (QueryInterface, reference counts), its
// IDispatch over the served class, its class information and its safety.
#include "platform/automation/win/control_object.h"

#include <windows.h>

#include <oleauto.h>

#include <array>
#include <new>
#include <string_view>
#include <vector>

#include "platform/automation/automation_values.h"
#include "platform/automation/win/server_module.h"
#include "platform/automation/win/variant_values.h"

namespace quillmark::platform::automation_win {
namespace {

constexpr DWORD kSafeOptions =
    INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

// The system's arguments come last first; |args| gets them in declaration
// order. |*arg_error| is the failing argument's index in the system's order.
HRESULT ReadArguments(const DISPPARAMS& params, UINT count, std::vector<AutomationValue>* args,
                      UINT* arg_error) {
  args->resize(count);
  for (UINT i = 0; i < count; ++i) {
    const UINT system_index = params.cArgs - 1 - i;
    HRESULT hr = VariantToValue(params.rgvarg[system_index], &(*args)[i]);
    if (FAILED(hr)) {
      if (arg_error != nullptr) *arg_error = system_index;
      return hr;
    }
  }
  return S_OK;
}

}  // namespace

ControlObject::ControlObject(const AutomationClass& cls, std::unique_ptr<AutomationObject> object)
    : cls_(cls), object_(std::move(object)) {
  extent_.cx = kDefaultExtentCx;
  extent_.cy = kDefaultExtentCy;
  ObjectCreated();
}

ControlObject::~ControlObject() {
  for (auto& [cookie, sink] : notify_sinks_) sink->Release();
  if (view_sink_ != nullptr) view_sink_->Release();
  if (site_ != nullptr) site_->Release();
  object_.reset();
  ObjectDestroyed();
}

HRESULT ControlObject::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDispatch) {
    *object = static_cast<IDispatch*>(this);
  } else if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2) {
    *object = static_cast<IProvideClassInfo2*>(this);
  } else if (iid == IID_IObjectSafety) {
    *object = static_cast<IObjectSafety*>(this);
  } else if (iid == IID_IOleObject) {
    *object = static_cast<IOleObject*>(this);
  } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject) {
    *object = static_cast<IOleInPlaceObject*>(this);
  } else if (iid == IID_IViewObject || iid == IID_IViewObject2) {
    *object = static_cast<IViewObject2*>(this);
  } else if (iid == IID_IPersist || iid == IID_IPersistStreamInit) {
    *object = static_cast<IPersistStreamInit*>(this);
  } else if (iid == IID_IPersistPropertyBag) {
    *object = static_cast<IPersistPropertyBag*>(this);
  } else if (iid == IID_IConnectionPointContainer) {
    *object = static_cast<IConnectionPointContainer*>(this);
  } else if (iid == IID_IQuickActivate) {
    *object = static_cast<IQuickActivate*>(this);
  } else if (iid == IID_IDataObject) {
    *object = static_cast<IDataObject*>(this);
  } else if (iid == IID_ISpecifyPropertyPages) {
    *object = static_cast<ISpecifyPropertyPages*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG ControlObject::AddRef() { return ++refs_; }

ULONG ControlObject::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT ControlObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT ControlObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return LoadModuleTypeInfo(ToGuid(cls_.iid), info);
}

HRESULT ControlObject::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return E_POINTER;
  // Only the member is named; its parameters have no DISPIDs of their own.
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const HRESULT hr = count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
  if (names[0] == nullptr) return DISP_E_UNKNOWNNAME;
  std::int32_t dispid = 0;
  const std::u16string_view name(reinterpret_cast<const char16_t*>(names[0]));
  if (cls_.id_of_name(name, &dispid) != S_OK) return DISP_E_UNKNOWNNAME;
  ids[0] = dispid;
  return hr;
}

HRESULT ControlObject::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO*, UINT* arg_error) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  if (params == nullptr) params = &none;
  if (params->cArgs > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
  if (params->cArgs > kMaxCallArguments) return DISP_E_BADPARAMCOUNT;

  std::array<AutomationCall, 2> calls;
  const std::size_t call_count = CallsForFlags(flags, &calls);
  if (call_count == 0) return E_INVALIDARG;
  // A put names its value DISPID_PROPERTYPUT; no other call takes named arguments.
  if (calls[0] == AutomationCall::kPropertyPut) {
    if (params->cNamedArgs != 1 || params->rgdispidNamedArgs == nullptr ||
        params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      return DISP_E_PARAMNOTOPTIONAL;
    }
  } else if (params->cNamedArgs != 0) {
    return DISP_E_NONAMEDARGS;
  }

  try {
    std::vector<AutomationValue> args;
    HRESULT hr = ReadArguments(*params, params->cArgs, &args, arg_error);
    if (FAILED(hr)) return hr;
    AutomationValue out;
    std::uint32_t bad_arg = 0;
    hr = DISP_E_MEMBERNOTFOUND;
    for (std::size_t i = 0; i < call_count && hr == DISP_E_MEMBERNOTFOUND; ++i) {
      hr = object_->Invoke(id, calls[i], args, &out, &bad_arg);
    }
    if (hr == DISP_E_TYPEMISMATCH && arg_error != nullptr) *arg_error = params->cArgs - 1 - bad_arg;
    if (FAILED(hr)) return hr;
    if (result != nullptr) {
      VariantInit(result);
      HRESULT stored = ValueToVariant(out, result);
      if (FAILED(stored)) return stored;
    }
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ControlObject::GetClassInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  return LoadModuleTypeInfo(ToGuid(cls_.clsid), info);
}

HRESULT ControlObject::GetGUID(DWORD kind, GUID* guid) {
  if (guid == nullptr) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = ToGuid(cls_.events_diid);
  return S_OK;
}

HRESULT ControlObject::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) {
  if (supported == nullptr || enabled == nullptr) return E_POINTER;
  void* probe = nullptr;
  if (QueryInterface(iid, &probe) != S_OK) {
    *supported = *enabled = 0;
    return E_NOINTERFACE;
  }
  Release();
  *supported = kSafeOptions;
  *enabled = safety_;
  return S_OK;
}

HRESULT ControlObject::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) {
  void* probe = nullptr;
  if (QueryInterface(iid, &probe) != S_OK) return E_NOINTERFACE;
  Release();
  if ((mask & ~kSafeOptions) != 0) return E_FAIL;
  safety_ = (safety_ & ~mask) | (enabled & mask);
  return S_OK;
}

}  // namespace quillmark::platform::automation_win
