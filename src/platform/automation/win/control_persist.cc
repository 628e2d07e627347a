// The control's persistence: only its extent, as "_cx" and "_cy" in a
// property bag or as eight bytes in a stream (automation_values.h).
#include <windows.h>

#include <oleauto.h>

#include <array>
#include <cstdint>
#include <string>

#include "platform/automation/automation_values.h"
#include "platform/automation/win/control_object.h"
#include "platform/automation/win/server_module.h"

namespace quillmark::platform::automation_win {
namespace {

// One extent property of |bag|: S_OK with |*value| set, S_FALSE when the bag
// has none, an error for a value that is not an extent.
HRESULT ReadExtentProperty(IPropertyBag* bag, IErrorLog* log, const wchar_t* name,
                           std::int32_t* value) {
  VARIANT v;
  VariantInit(&v);
  HRESULT hr = bag->Read(name, &v, log);
  if (FAILED(hr)) return S_FALSE;
  hr = E_INVALIDARG;
  if (V_VT(&v) == VT_BSTR && V_BSTR(&v) != nullptr) {
    std::u16string text(reinterpret_cast<const char16_t*>(V_BSTR(&v)), SysStringLen(V_BSTR(&v)));
    if (ParseExtentText(text, value)) hr = S_OK;
  } else {
    VARIANT number;
    VariantInit(&number);
    if (SUCCEEDED(VariantChangeType(&number, &v, 0, VT_I4)) && V_I4(&number) >= 0 &&
        V_I4(&number) <= kMaxExtent) {
      *value = V_I4(&number);
      hr = S_OK;
    }
    VariantClear(&number);
  }
  VariantClear(&v);
  return hr;
}

}  // namespace

HRESULT ControlObject::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = ToGuid(cls_.clsid);
  return S_OK;
}

HRESULT ControlObject::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT ControlObject::InitNew() {
  extent_.cx = kDefaultExtentCx;
  extent_.cy = kDefaultExtentCy;
  dirty_ = false;
  return S_OK;
}

HRESULT ControlObject::Load(LPSTREAM stream) {
  if (stream == nullptr) return E_POINTER;
  std::array<std::uint8_t, kEncodedExtentSize> bytes{};
  ULONG read = 0;
  HRESULT hr = stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  if (FAILED(hr)) return hr;
  Extent extent;
  if (read != bytes.size() || !DecodeExtent(bytes, &extent)) return E_FAIL;
  extent_.cx = extent.cx;
  extent_.cy = extent.cy;
  dirty_ = false;
  return S_OK;
}

HRESULT ControlObject::Save(LPSTREAM stream, BOOL clear_dirty) {
  if (stream == nullptr) return E_POINTER;
  const std::vector<std::uint8_t> bytes = EncodeExtent({extent_.cx, extent_.cy});
  ULONG written = 0;
  HRESULT hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  if (FAILED(hr)) return hr;
  if (written != bytes.size()) return STG_E_MEDIUMFULL;
  if (clear_dirty) dirty_ = false;
  return S_OK;
}

HRESULT ControlObject::GetSizeMax(ULARGE_INTEGER* size) {
  if (size == nullptr) return E_POINTER;
  size->QuadPart = kEncodedExtentSize;
  return S_OK;
}

HRESULT ControlObject::Load(IPropertyBag* bag, IErrorLog* log) {
  if (bag == nullptr) return E_POINTER;
  std::int32_t cx = extent_.cx;
  std::int32_t cy = extent_.cy;
  HRESULT hr = ReadExtentProperty(bag, log, L"_cx", &cx);
  if (FAILED(hr)) return hr;
  hr = ReadExtentProperty(bag, log, L"_cy", &cy);
  if (FAILED(hr)) return hr;
  extent_.cx = cx;
  extent_.cy = cy;
  dirty_ = false;
  return S_OK;
}

HRESULT ControlObject::Save(IPropertyBag* bag, BOOL clear_dirty, BOOL) {
  if (bag == nullptr) return E_POINTER;
  const std::pair<const wchar_t*, LONG> properties[] = {{L"_cx", extent_.cx}, {L"_cy", extent_.cy}};
  for (const auto& [name, value] : properties) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    HRESULT hr = bag->Write(name, &v);
    if (FAILED(hr)) return hr;
  }
  if (clear_dirty) dirty_ = false;
  return S_OK;
}

}  // namespace quillmark::platform::automation_win
