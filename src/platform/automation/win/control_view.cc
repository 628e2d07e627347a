// The control's drawing: a rectangle over its bounds and the welcome text,
// centred on its baseline at the middle of the bounds.
#include <windows.h>

#include "platform/automation/win/control_object.h"

namespace quillmark::platform::automation_win {
namespace {

constexpr wchar_t kWelcome[] = L"Welcome to LydraCorvaneQuillmark";

}  // namespace

HRESULT ControlObject::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc,
                            LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                            ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (dc == nullptr || bounds == nullptr) return E_INVALIDARG;
  if (!Rectangle(dc, bounds->left, bounds->top, bounds->right, bounds->bottom)) return E_FAIL;
  const UINT old_align = SetTextAlign(dc, TA_CENTER | TA_BASELINE);
  const BOOL drawn =
      TextOutW(dc, (bounds->left + bounds->right) / 2, (bounds->top + bounds->bottom) / 2, kWelcome,
               static_cast<int>(sizeof kWelcome / sizeof kWelcome[0] - 1));
  if (old_align != GDI_ERROR) SetTextAlign(dc, old_align);
  return drawn ? S_OK : E_FAIL;
}

HRESULT ControlObject::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
  if (colors == nullptr) return E_POINTER;
  *colors = nullptr;
  return S_FALSE;
}

HRESULT ControlObject::Freeze(DWORD, LONG, void*, DWORD* freeze) {
  if (freeze != nullptr) *freeze = 0;
  return E_NOTIMPL;
}

HRESULT ControlObject::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT ControlObject::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  if (sink != nullptr) sink->AddRef();
  if (view_sink_ != nullptr) view_sink_->Release();
  view_sink_ = sink;
  view_aspects_ = aspects;
  view_flags_ = flags;
  return S_OK;
}

HRESULT ControlObject::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects != nullptr) *aspects = view_aspects_;
  if (flags != nullptr) *flags = view_flags_;
  if (sink != nullptr) {
    *sink = view_sink_;
    if (view_sink_ != nullptr) view_sink_->AddRef();
  }
  return S_OK;
}

HRESULT ControlObject::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

}  // namespace quillmark::platform::automation_win
