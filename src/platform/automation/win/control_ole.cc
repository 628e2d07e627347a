// The control object as an OLE object: client site, verbs, extent, in-place
// rectangles, quick activation, and the empty data object and page list.
// The control has no window of its own: it is drawn through IViewObject.
#include <windows.h>

#include <cstddef>

#include "platform/automation/win/control_object.h"
#include "platform/automation/win/server_module.h"

namespace quillmark::platform::automation_win {
namespace {

bool ExtentInRange(const SIZEL& size) {
  return size.cx >= 0 && size.cx <= kMaxExtent && size.cy >= 0 && size.cy <= kMaxExtent;
}

}  // namespace

HRESULT ControlObject::SetClientSite(IOleClientSite* site) {
  if (site != nullptr) site->AddRef();
  if (site_ != nullptr) site_->Release();
  site_ = site;
  return S_OK;
}

HRESULT ControlObject::GetClientSite(IOleClientSite** site) {
  if (site == nullptr) return E_POINTER;
  *site = site_;
  if (site_ != nullptr) site_->AddRef();
  return S_OK;
}

HRESULT ControlObject::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT ControlObject::Close(DWORD) { return InPlaceDeactivate(); }

HRESULT ControlObject::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT ControlObject::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker != nullptr) *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT ControlObject::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT ControlObject::GetClipboardData(DWORD, IDataObject** data) {
  if (data != nullptr) *data = nullptr;
  return E_NOTIMPL;
}

HRESULT ControlObject::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT pos) {
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
      if (pos != nullptr) position_ = *pos;
      return S_OK;
    case OLEIVERB_HIDE:
      return S_OK;
    default:
      return OLEOBJ_S_INVALIDVERB;
  }
}

HRESULT ControlObject::EnumVerbs(IEnumOLEVERB** verbs) {
  if (verbs != nullptr) *verbs = nullptr;
  return OLE_S_USEREG;
}

HRESULT ControlObject::Update() { return S_OK; }

HRESULT ControlObject::IsUpToDate() { return S_OK; }

HRESULT ControlObject::GetUserClassID(CLSID* clsid) { return GetClassID(clsid); }

HRESULT ControlObject::GetUserType(DWORD, LPOLESTR* type) {
  if (type != nullptr) *type = nullptr;
  return OLE_S_USEREG;
}

HRESULT ControlObject::SetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (size == nullptr) return E_POINTER;
  if (!ExtentInRange(*size)) return E_INVALIDARG;
  if (size->cx != extent_.cx || size->cy != extent_.cy) dirty_ = true;
  extent_ = *size;
  return S_OK;
}

HRESULT ControlObject::GetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (size == nullptr) return E_POINTER;
  *size = extent_;
  return S_OK;
}

HRESULT ControlObject::Advise(IAdviseSink*, DWORD* connection) {
  if (connection != nullptr) *connection = 0;
  return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT ControlObject::Unadvise(DWORD) { return OLE_E_NOCONNECTION; }

HRESULT ControlObject::EnumAdvise(IEnumSTATDATA** advise) {
  if (advise != nullptr) *advise = nullptr;
  return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT ControlObject::GetMiscStatus(DWORD aspect, DWORD* status) {
  if (status == nullptr) return E_POINTER;
  *status = aspect == DVASPECT_CONTENT ? kMiscStatus : 0;
  return S_OK;
}

HRESULT ControlObject::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// Windowless: there is no window to give.
HRESULT ControlObject::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = nullptr;
  return E_FAIL;
}

HRESULT ControlObject::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT ControlObject::InPlaceDeactivate() { return S_OK; }

HRESULT ControlObject::UIDeactivate() { return S_OK; }

HRESULT ControlObject::SetObjectRects(LPCRECT pos, LPCRECT) {
  if (pos == nullptr) return E_POINTER;
  position_ = *pos;
  return S_OK;
}

HRESULT ControlObject::ReactivateAndUndo() { return E_NOTIMPL; }

// Containers of different ages pass different sizes of both structures; the
// fields read and written here are in every one of them.
HRESULT ControlObject::QuickActivate(QACONTAINER* container, QACONTROL* control) {
  if (container == nullptr || control == nullptr) return E_POINTER;
  if (container->cbSize < offsetof(QACONTAINER, pPropertyNotifySink) + sizeof(void*) ||
      control->cbSize < offsetof(QACONTROL, dwPropNotifyCookie) + sizeof(DWORD)) {
    return E_INVALIDARG;
  }
  HRESULT hr = SetClientSite(container->pClientSite);
  if (FAILED(hr)) return hr;
  control->dwMiscStatus = kMiscStatus;
  control->dwViewStatus = 0;
  control->dwEventCookie = 0;
  control->dwPropNotifyCookie = 0;
  if (control->cbSize >= sizeof(QACONTROL)) control->dwPointerActivationPolicy = 0;
  if (container->pPropertyNotifySink != nullptr) {
    hr = AdviseNotifySink(container->pPropertyNotifySink, &control->dwPropNotifyCookie);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT ControlObject::SetContentExtent(LPSIZEL size) { return SetExtent(DVASPECT_CONTENT, size); }

HRESULT ControlObject::GetContentExtent(LPSIZEL size) { return GetExtent(DVASPECT_CONTENT, size); }

HRESULT ControlObject::GetData(FORMATETC*, STGMEDIUM*) { return DV_E_FORMATETC; }

HRESULT ControlObject::GetDataHere(FORMATETC*, STGMEDIUM*) { return DV_E_FORMATETC; }

HRESULT ControlObject::QueryGetData(FORMATETC*) { return DV_E_FORMATETC; }

HRESULT ControlObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
  if (out != nullptr) out->ptd = nullptr;
  return DATA_S_SAMEFORMATETC;
}

HRESULT ControlObject::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }

HRESULT ControlObject::EnumFormatEtc(DWORD, IEnumFORMATETC** formats) {
  if (formats != nullptr) *formats = nullptr;
  return E_NOTIMPL;
}

HRESULT ControlObject::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* connection) {
  if (connection != nullptr) *connection = 0;
  return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT ControlObject::DUnadvise(DWORD) { return OLE_E_ADVISENOTSUPPORTED; }

HRESULT ControlObject::EnumDAdvise(IEnumSTATDATA** advise) {
  if (advise != nullptr) *advise = nullptr;
  return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT ControlObject::GetPages(CAUUID* pages) {
  if (pages == nullptr) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

}  // namespace quillmark::platform::automation_win
