// VARIANT to AutomationValue and back, for the IDispatch of the server.
//
// In: empty, VT_NULL and a missing optional argument (VT_ERROR) are empty; a
// string is a string (a null BSTR is empty); the integer types are kInt32,
// VT_UI4 and VT_UINT kUInt32; a floating-point number follows NumberToValue;
// references are followed; anything else is converted to a string by the
// system (VariantChangeType), or DISP_E_TYPEMISMATCH.
// Out: a string becomes a BSTR, an integer a VT_I4 or (above INT32_MAX) a VT_R8.
#ifndef QUILLMARK_PLATFORM_AUTOMATION_WIN_VARIANT_VALUES_H_
#define QUILLMARK_PLATFORM_AUTOMATION_WIN_VARIANT_VALUES_H_

#include <windows.h>

#include <oaidl.h>

#include "platform/automation/automation_values.h"

namespace quillmark::platform::automation_win {

HRESULT VariantToValue(const VARIANT& in, AutomationValue* out);

// |*out| must be initialised; it is cleared first. E_OUTOFMEMORY when the
// string cannot be allocated.
HRESULT ValueToVariant(const AutomationValue& in, VARIANT* out);

}  // namespace quillmark::platform::automation_win

#endif  // QUILLMARK_PLATFORM_AUTOMATION_WIN_VARIANT_VALUES_H_
