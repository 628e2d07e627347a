#include "platform/automation/win/variant_values.h"

#include <windows.h>

#include <oleauto.h>

#include <string>

namespace quillmark::platform::automation_win {
namespace {

std::u16string FromBstr(BSTR text) {
  if (text == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

// A value that is not a reference.
HRESULT DirectToValue(const VARIANT& in, AutomationValue* out) {
  switch (V_VT(&in)) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_ERROR:
      *out = AutomationValue();
      return S_OK;
    case VT_BSTR:
      *out = AutomationValue::String(FromBstr(V_BSTR(&in)));
      return S_OK;
    case VT_I1:
      *out = AutomationValue::Int32(V_I1(&in));
      return S_OK;
    case VT_UI1:
      *out = AutomationValue::Int32(V_UI1(&in));
      return S_OK;
    case VT_I2:
      *out = AutomationValue::Int32(V_I2(&in));
      return S_OK;
    case VT_UI2:
      *out = AutomationValue::Int32(V_UI2(&in));
      return S_OK;
    case VT_I4:
      *out = AutomationValue::Int32(V_I4(&in));
      return S_OK;
    case VT_INT:
      *out = AutomationValue::Int32(V_INT(&in));
      return S_OK;
    case VT_UI4:
      *out = AutomationValue::UInt32(V_UI4(&in));
      return S_OK;
    case VT_UINT:
      *out = AutomationValue::UInt32(V_UINT(&in));
      return S_OK;
    case VT_R4:
      return NumberToValue(V_R4(&in), out) ? S_OK : DISP_E_TYPEMISMATCH;
    case VT_R8:
      return NumberToValue(V_R8(&in), out) ? S_OK : DISP_E_TYPEMISMATCH;
    default:
      break;
  }
  VARIANT text;
  VariantInit(&text);
  HRESULT hr = VariantChangeType(&text, const_cast<VARIANT*>(&in), 0, VT_BSTR);
  if (SUCCEEDED(hr)) *out = AutomationValue::String(FromBstr(V_BSTR(&text)));
  VariantClear(&text);
  return SUCCEEDED(hr) ? S_OK : DISP_E_TYPEMISMATCH;
}

}  // namespace

HRESULT VariantToValue(const VARIANT& in, AutomationValue* out) {
  if ((V_VT(&in) & VT_BYREF) == 0) return DirectToValue(in, out);
  VARIANT direct;
  VariantInit(&direct);
  HRESULT hr = VariantCopyInd(&direct, const_cast<VARIANT*>(&in));
  if (SUCCEEDED(hr)) hr = DirectToValue(direct, out);
  VariantClear(&direct);
  return hr == E_OUTOFMEMORY ? hr : (SUCCEEDED(hr) ? S_OK : DISP_E_TYPEMISMATCH);
}

HRESULT ValueToVariant(const AutomationValue& in, VARIANT* out) {
  VariantClear(out);
  switch (in.type) {
    case AutomationValue::Type::kEmpty:
      return S_OK;
    case AutomationValue::Type::kString: {
      BSTR text = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(in.text.data()),
                                    static_cast<UINT>(in.text.size()));
      if (text == nullptr) return E_OUTOFMEMORY;
      V_VT(out) = VT_BSTR;
      V_BSTR(out) = text;
      return S_OK;
    }
    case AutomationValue::Type::kInt32:
    case AutomationValue::Type::kUInt32: {
      ScriptNumber n = ResultToScriptNumber(in);
      if (n.is_int32) {
        V_VT(out) = VT_I4;
        V_I4(out) = n.int32;
      } else {
        V_VT(out) = VT_R8;
        V_R8(out) = n.number;
      }
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

}  // namespace quillmark::platform::automation_win
